"""Writes the demo's keyword workbooks test_04_keywords.xlsx, test_05_web.xlsx and
test_06_app.xlsx (run from any directory: ``python3 examples/make_workbook.py``).

Each sheet is one case and each row one keyword step: number, description, keyword, then
the keyword's arguments. test_04 logs in to the demo service with API keywords, uses the
saved variables as {name} in later requests, uploads a file and checks every kind of
saved value; the client's base address comes from pytest.ini ([lumox_api] base_url).
test_05 logs in on the service's /web/login page in a browser and checks what the page
shows, once with the right password and once with a wrong one; its page address is
relative to base_url as well. test_06 drives an app on the Appium server that demo.sh
starts (Appium's fake driver): activities, contexts, a long press, a swipe, a two-finger
gesture, a drag and a shake. test_08 ties sheets together: a login sheet run by another
with run_sheet once per row of a data sheet (use_data), and a job polled with retry.
"""

from pathlib import Path

from openpyxl import Workbook
from openpyxl.styles import Font

HERE = Path(__file__).resolve().parent
HEADER = ["编号", "描述", "关键字", "参数1", "参数2", "参数3"]

API_CASES = {
    "登录并保存令牌": [
        ("登录参数", "set_json", '{"username": "alice", "password": "secret"}'),
        ("登录", "send_http", "POST", "/api/login"),
        ("保存状态码", "save_code", "login_code"),
        ("状态码是 200", "assert", 200, "equal", "{login_code}"),
        ("保存令牌（JSON 列表）", "save_jsonpath", "login_token", "$.token"),
        ("令牌正确", "assert", '["tok-alice"]', "equal", "{login_token}"),
        # With an index, the one match itself: the text to send in a header.
        ("保存令牌本身", "save_jsonpath", "token", "$.token", 0),
        ("保存响应头", "save_headers", "login_headers"),
        ("响应头带会话 cookie", "assert", "{login_headers}", "contains", "session=s-1"),
    ],
    "带令牌的请求": [
        ("令牌放进请求头", "add_header", "Authorization", "Bearer {token}"),
        ("查询参数", "add_query", "page", 2),
        ("令牌放进 JSON 正文", "set_json", '{"tokens": {login_token}, "note": "你好"}'),
        ("回显请求", "send_http", "POST", "/api/echo"),
        ("保存响应正文", "save_body", "echoed"),
        ("服务收到了令牌", "assert", "{echoed}", "contains", "tok-alice"),
        ("读取回显的请求头", "save_jsonpath", "echoed_auth", "$.headers.authorization", 0),
        ("请求头原样到达", "assert", "Bearer tok-alice", "equal", "{echoed_auth}"),
        ("读取回显的 JSON", "save_jsonpath", "echoed_tokens", "$.json.tokens[0]"),
        ("JSON 正文原样到达", "assert", '["tok-alice"]', "equal", "{echoed_tokens}"),
        ("读取回显的查询参数", "save_jsonpath", "echoed_page", "$.query.page"),
        ("查询参数原样到达", "assert", '["2"]', "equal", "{echoed_page}"),
    ],
    "上传文件": [
        ("表单字段", "add_form", "title", "周报"),
        ("文件（相对于 examples 目录）", "add_file", "attachment", "data/report.txt"),
        ("上传", "send_http", "POST", "/api/upload"),
        ("状态码是 2xx", "assert", r"^2\d\d$", "re", "{resp_code}"),
        ("保存文件名", "save_jsonpath", "uploaded_name", "$.files.attachment.filename"),
        ("文件名正确", "assert", '["report.txt"]', "equal", "{uploaded_name}"),
        # save_jsonpath writes JSON text with non-ASCII letters escaped; the body is as sent.
        ("保存响应正文", "save_body", "upload_reply"),
        ("表单字段正确", "assert", "{upload_reply}", "contains", '"title": "周报"'),
    ],
}

LOGIN_URL = "/web/login"  # relative to [lumox_api] base_url
WEB_CASES = {
    "网页登录": [
        ("打开浏览器", "new_driver"),
        ("打开登录页", "goto", LOGIN_URL),
        ("输入用户名", "input", "username ;; ID", "alice"),
        ("输入密码", "input", "password ;; ID", "secret"),
        ("点击登录", "click", "login ;; ID"),
        # FALSE: the reply comes asynchronously, so wait until the text is there.
        ("等待欢迎语", "save_text", "message ;; ID", "welcome", False),
        ("欢迎语正确", "assert", "欢迎，alice", "equal", "{welcome}"),
        ("保存令牌属性", "save_attr", "message ;; ID", "web_token", "data-token"),
        ("令牌正确", "assert", "tok-alice", "equal", "{web_token}"),
        ("保存标题", "save_title", "page_title"),
        ("标题已变为首页", "assert", "lumox 首页", "equal", "{page_title}"),
        ("保存网址", "save_url", "page_url"),
        ("仍在登录页", "assert", "/web/login", "in", "{page_url}"),
    ],
    "密码错误": [
        ("打开浏览器", "new_driver"),
        ("打开登录页", "goto", LOGIN_URL),
        ("输入用户名", "input", "username ;; ID", "alice"),
        ("输入错误密码", "input", "password ;; ID", "wrong"),
        ("点击登录", "click", "login ;; ID"),
        ("等待提示", "save_text", "message ;; ID", "error", False),
        ("提示密码错误", "assert", "用户名或密码错误", "equal", "{error}"),
    ],
}

# The Appium server demo.sh starts (the fake driver; the app is the screen described in
# data/demo_app.xml, a path relative to the server's working directory, this folder).
APPIUM = "http://127.0.0.1:4723"
APP_CAPABILITIES = ('{"platformName": "Fake", "automationName": "Fake", '
                    '"app": "data/demo_app.xml", "appPackage": "io.lumox.demo", '
                    '"lumoxShakeChangesAfter": 3}')
APP_CASES = {
    "App 手势": [
        ("连接 Appium 上的设备", "new_driver", "android", APPIUM, APP_CAPABILITIES),
        ("打开设置页", "activity", ".Settings", "io.lumox.demo"),
        ("回到主页（当前包）", "activity", ".Main"),
        ("进入网页视图", "context", "WEBVIEW_1"),
        ("保存网页标题", "save_title", "web_title"),
        ("标题正确", "assert", "Lumox web", "equal", "{web_title}"),
        ("回到原生界面", "context"),
        ("长按登录按钮", "press", "login ;; ACCESSIBILITY_ID", 0.8),
        ("向上滑动列表", "swipe", 540, 1500, 540, 1000, 0.3),
        ("两指手势", "ac_new"),
        ("一指点击第一项", "ac_new_click", "item1 ;; ID"),
        ("另一指滑动", "ac_new_swipe", 540, 1500, 540, 1200),
        ("两指同时发出", "ac_perform"),
        ("拖动", "ac_new"),
        ("按下第一项", "ac_ele_down", "item1 ;; ID"),
        ("移到第三项", "ac_ele_move", "item3 ;; ID"),
        ("松开", "ac_ele_up"),
        ("发出拖动", "ac_perform"),
        ("摇一摇，直到界面变化", "shake"),
    ],
}

# A data sheet's row 1 holds its column names: it is written as it stands.
DATA_SHEETS = {
    "用户": [("user", "password", "code"), ("alice", "secret", 200), ("张三", "密码", 200),
             ("alice", "wrong", 401)],
}
LINKED_CASES = {
    "按数据登录": [
        ("每行数据一个用例", "use_data", "用户"),
        ("执行登录表", "run_sheet", "登录", "name={user}", "pw={password}"),
        ("状态码符合数据", "assert", "{code}", "equal", "{login_code}"),
    ],
    "登录": [
        ("登录参数", "set_json", '{"username": "{name}", "password": "{pw}"}'),
        ("登录", "send_http", "POST", "/api/login"),
        ("保存状态码", "save_code", "login_code"),
    ],
    # The job answers "pending" twice: rows 1 and 2 run again until it is done.
    "等待任务完成": [
        ("查询任务", "send_http", "GET", "/api/job?id=demo-sheet&pending=2"),
        ("任务状态", "save_jsonpath", "job_state", "$.status", 0),
        ("直到完成", "retry", 5, 0.2, 2, "job_state == done"),
    ],
}

WORKBOOKS = {
    "test_04_keywords.xlsx": API_CASES,
    "test_05_web.xlsx": WEB_CASES,
    "test_06_app.xlsx": APP_CASES,
    "test_08_linked_sheets.xlsx": {**LINKED_CASES, **DATA_SHEETS},
}
WIDTHS = {"A": 8, "B": 30, "C": 16, "D": 48, "E": 14, "F": 20}


def build(cases: dict) -> Workbook:
    workbook = Workbook()
    workbook.remove(workbook.active)
    for title, rows in cases.items():
        sheet = workbook.create_sheet(title)
        if title in DATA_SHEETS:
            for row in rows:
                sheet.append(row)
            continue
        sheet.append(HEADER)
        for cell in sheet[1]:
            cell.font = Font(bold=True)
        for number, (description, keyword, *arguments) in enumerate(rows, start=1):
            sheet.append([number, description, keyword, *arguments])
        for column, width in WIDTHS.items():
            sheet.column_dimensions[column].width = width
        sheet.freeze_panes = "A2"
    return workbook


def main() -> None:
    for name, cases in WORKBOOKS.items():
        path = HERE / name
        build(cases).save(path)
        print(f"wrote {path}")


if __name__ == "__main__":
    main()
