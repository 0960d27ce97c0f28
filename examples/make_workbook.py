"""Writes test_04_keywords.xlsx, the demo's keyword cases (run from any directory:
``python3 examples/make_workbook.py``).

Each sheet is one case and each row one keyword step: number, description, keyword, then
the keyword's arguments. The demo logs in to the demo service with API keywords, uses the
saved variables as {name} in later requests, uploads a file and checks every kind of
saved value. The client's base address comes from pytest.ini ([lumox_api] base_url).
"""

from pathlib import Path

from openpyxl import Workbook
from openpyxl.styles import Font

WORKBOOK = Path(__file__).resolve().parent / "test_04_keywords.xlsx"
HEADER = ["编号", "描述", "关键字", "参数1", "参数2", "参数3"]

CASES = {
    "登录并保存令牌": [
        ("登录参数", "set_json", '{"username": "alice", "password": "secret"}'),
        ("登录", "send_http", "POST", "/api/login"),
        ("保存状态码", "save_code", "login_code"),
        ("状态码是 200", "assert", 200, "equal", "{login_code}"),
        ("保存令牌（JSON 列表）", "save_jsonpath", "login_token", "$.token"),
        ("令牌正确", "assert", '["tok-alice"]', "equal", "{login_token}"),
        ("保存响应头", "save_headers", "login_headers"),
        ("响应头带会话 cookie", "assert", "{login_headers}", "contains", "session=s-1"),
    ],
    "带令牌的请求": [
        ("令牌放进请求头", "add_header", "Authorization", "Bearer {login_token}"),
        ("查询参数", "add_query", "page", 2),
        ("令牌放进 JSON 正文", "set_json", '{"tokens": {login_token}, "note": "你好"}'),
        ("回显请求", "send_http", "POST", "/api/echo"),
        ("保存响应正文", "save_body", "echoed"),
        ("服务收到了令牌", "assert", "{echoed}", "contains", "tok-alice"),
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
WIDTHS = {"A": 8, "B": 30, "C": 16, "D": 48, "E": 14, "F": 20}


def build() -> Workbook:
    workbook = Workbook()
    workbook.remove(workbook.active)
    for title, rows in CASES.items():
        sheet = workbook.create_sheet(title)
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
    build().save(WORKBOOK)
    print(f"wrote {WORKBOOK}")


if __name__ == "__main__":
    main()
