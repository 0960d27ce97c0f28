"""App keywords as workbook cases on a real Appium server (the fake driver with our
lumox-emulator plug-in, tests/appium_server.py). Gestures are checked from the W3C action
requests the server received, not from what the client meant to send."""

import json
import logging

import pytest

from appium_server import write_app
from lumox.actlib import AppKeyWord, KeyWord
from lumox.exchange import Exchange
from test_workbooks import HEADER, write_pytest_ini, write_workbook

NO_CHAIN = "ActionChains未创建，请使用 ac_new 关键字创建后再操作"
INI = """\
    [pytest]
    addopts = -p no:cacheprovider
    filterwarnings = error
    [lumox]
    keyword_type = app
    [lumox_ui]
    wait_max = 1
    wait_poll = 0.1
    """


def caps_text(app, package, **extra):
    """Capabilities as a tester writes them: bare Appium names, which lumox prefixes."""
    return json.dumps({"platformName": "Fake", "automationName": "Fake", "app": app,
                       "appPackage": package, **extra})


def session_of(server, package):
    (record,) = [s for s in server.sessions()
                 if s["capabilities"].get("appium:appPackage") == package]
    return record


def gesture(source):
    """A pointer source as (id, pointer kind, [(action, x, y, duration or origin), ...])."""
    steps = []
    for action in source["actions"]:
        where = "element" if "origin" in action and isinstance(action["origin"], dict) else None
        steps.append((action["type"], action.get("x"), action.get("y"),
                      where or action.get("duration")))
    return source["id"], source["parameters"]["pointerType"], steps


def test_every_app_keyword_runs_on_the_appium_server(pytester, appium_server):
    write_pytest_ini(pytester, INI)
    app = write_app(pytester.path / "app.xml")
    server = appium_server.url
    write_workbook(pytester.path / "test_app.xlsx", {
        "every keyword": [
            HEADER,
            [1, "", "new_driver", "android", server,
             caps_text(app, "io.lumox.every", lumoxShakeChangesAfter=3)],
            [2, "", "activity", ".Settings", "io.lumox.settings"],
            [3, "当前包", "activity", ".Main"],
            [4, "", "context", "WEBVIEW_1"],
            [5, "默认上下文", "context"],
            [6, "", "press", "login ;; ID", 0.5],
            [7, "", "swipe", 100, 1500, 100, 300, 0.2],
            [8, "", "ac_new"],
            [9, "", "ac_touch_down", 100, 200],
            [10, "", "ac_touch_move", 100, 600],
            [11, "", "ac_touch_up"],
            [12, "", "ac_perform"],
            [13, "两指", "ac_new"],
            [14, "", "ac_new_click", "login ;; ACCESSIBILITY_ID"],
            [15, "", "ac_new_swipe", 500, 1500, 500, 500],
            [16, "", "ac_perform"],
            [17, "", "ac_new"],
            [18, "", "ac_ele_down", "item1 ;; ID"],
            [19, "", "ac_ele_move", "item3 ;; ID"],
            [20, "", "ac_ele_up"],
            [21, "", "ac_perform"],
            [22, "变化前摇三次", "shake"],
        ],
        "shake never changes": [
            HEADER, [1, "", "new_driver", "android", server, caps_text(app, "io.lumox.still")],
            [2, "", "shake"]],
        # The app library alone taps, types and reads; a tap waits for its element to show.
        "late screen": [
            HEADER, [1, "", "new_driver", "android", server,
                     caps_text(app, "io.lumox.late", lumoxShowAfter={"hidden": 400})],
            [2, "", "should_not_be_visible", "hidden ;; ID"],
            [3, "", "click", "hidden ;; ID"],
            [4, "", "should_be_visible", "hidden ;; ID"],
            [5, "", "input", "user ;; ID", "alice"],
            [6, "", "save_text", "user ;; ID", "typed"],
            [7, "", "assert", "alice", "equal", "{typed}"],
            [8, "", "should_have_value", "user ;; ID", "alice"],
            [9, "", "should_not_exist", "nothing ;; ID"],
            [10, "", "wait_gone", "nothing ;; ID", 0.5]],
        "device actions": [
            HEADER, [1, "", "new_driver", "android", server,
                     caps_text(app, "io.lumox.device", lumoxKeyboardShown=True)],
            [2, "", "hide_keyboard"],
            [3, "", "press_keycode", 66],
            [4, "", "press_keycode", "4", "1"],
            [5, "", "back"],
            [6, "", "swipe_by_percent", 50, 80, "50", 20],
            [7, "", "scroll_to", "login ;; ID", None, 3],  # on screen: no swipe; skipped cell
            [8, "", "save_rect", "login ;; ID", "rect"],
            [9, "", "save_window_size", "size"],
            [10, "", "install_app", "/apps/other.apk"],
            [11, "", "activate_app", "io.lumox.other"],
            [12, "", "terminate_app", "io.lumox.other"],
            [13, "", "background_app", 0.5],
            [14, "", "orientation", "landscape"],
            [15, "", "push_file", "/sdcard/a.txt", "local.txt"],
            [16, "", "pull_file", "/sdcard/a.txt", "pulled/a.txt"],
            [17, "", "save_context", "context"],
            [18, "", "save_activity", "activity"],
            [19, "", "assert", "NATIVE_APP", "equal", "{context}"],
            [20, "", "assert", ".MainActivity", "equal", "{activity}"],
            [21, "", "save_count", "//MockListItem", "items"],
            [22, "", "save_source", "source"],
            [23, "", "assert", "item1", "in", "{source}"],
            [24, "", "screenshot", "", "shots/app.png"]],
    })
    (pytester.path / "local.txt").write_bytes(b"device file\n")
    result = pytester.runpytest_subprocess("-s", "-o", "log_cli=true", "--log-cli-level=INFO")
    result.assert_outcomes(passed=4)
    out = result.stdout.str()
    # Tag and rect are asked for only because INFO lines are kept here.
    assert "元素定位成功: 【MockText】{'x': 40, 'y': 880, 'width': 1000, 'height': 40}" in out

    every = session_of(appium_server, "io.lumox.every")
    assert every["ended"]  # quit with its case
    assert every["capabilities"]["appium:lumoxShakeChangesAfter"] == 3  # prefixed by lumox
    assert [(c["script"], c["args"]) for c in every["emulator"][:3]] == [
        ("mobile: startActivity", {"intent": "io.lumox.settings/.Settings"}),
        ("mobile: getCurrentPackage", {}),  # activity without a package: the app in front
        ("mobile: startActivity", {"intent": "io.lumox.settings/.Main"})]
    shakes = [c["args"]["command"] for c in every["emulator"][3:]]
    assert shakes == ["sensor set acceleration 10:20:30", "sensor set acceleration 0:0:0"] * 3

    press, swipe, drag, two_fingers, element_drag = every["actions"]  # one request per chain
    assert [gesture(s) for s in press] == [("mouse", "mouse", [
        ("pointerMove", 0, 0, "element"), ("pointerDown", None, None, 0),
        ("pause", None, None, 500), ("pointerUp", None, None, 0)])]
    assert [gesture(s) for s in swipe] == [("touch", "touch", [
        ("pointerMove", 100, 1500, 250), ("pointerDown", None, None, 0),
        ("pause", None, None, 200), ("pointerMove", 100, 300, 250),
        ("pointerUp", None, None, 0)])]
    assert [gesture(s)[1:] for s in drag] == [("mouse", [
        ("pointerMove", 100, 200, 250), ("pointerDown", None, None, 0),
        ("pointerMove", 100, 600, 250), ("pointerUp", None, None, 0)])]
    # Two fingers in one request: a tap on the element and a swipe by coordinates.
    assert [gesture(s) for s in two_fingers] == [
        ("p_2", "touch", [("pointerMove", 0, 0, "element"), ("pointerDown", None, None, 0),
                          ("pause", None, None, 100), ("pointerUp", None, None, 0)]),
        ("p3", "touch", [("pointerMove", 500, 1500, 1), ("pointerDown", None, None, 0),
                         ("pause", None, None, 100), ("pointerMove", 500, 500, 1),
                         ("pointerUp", None, None, 0)])]
    moves = [a["origin"] for a in element_drag[0]["actions"] if a["type"] == "pointerMove"]
    assert len(moves) == 2 and moves[0] != moves[1]  # item1, then item3

    device = session_of(appium_server, "io.lumox.device")
    assert device["keyboardShown"] is False and device["back"] == 1
    assert device["keys"] == [{"keycode": 66, "metastate": None}, {"keycode": 4, "metastate": 1}]
    assert device["installed"] == ["/apps/other.apk"] and device["backgrounded"] == [0.5]
    assert device["state"]["io.lumox.other"] == 1  # activated, then terminated
    assert device["orientations"] == ["LANDSCAPE"]
    assert device["pushed"] == [{"remotePath": "/sdcard/a.txt", "bytes": 12}]
    assert (pytester.path / "pulled" / "a.txt").read_bytes() == b"device file\n"
    assert (pytester.path / "shots" / "app.png").read_bytes().startswith(b"\x89PNG")
    (percent_swipe,) = device["actions"]  # scroll_to found the element without swiping
    assert [step[:3] for step in gesture(percent_swipe[0])[2] if step[0] == "pointerMove"] == [
        ("pointerMove", 540, 1536), ("pointerMove", 540, 384)]

    still = session_of(appium_server, "io.lumox.still")
    assert len(still["emulator"]) == 2000
    # Counters go to standard output: 0 to 2 for the first case, 0 to 999 for this one.
    assert [out.count(f"第{i}次摇晃\n") for i in (0, 2, 3, 999, 1000)] == [2, 2, 1, 1, 0]
    assert "滑动屏幕 start_x=100, start_y=1500 -> end_x=100,300" in out
    assert "长按元素 locator=login ;; ID, times=0.5" in out


@pytest.mark.usefixtures("wide_terminal")
def test_failing_app_rows_name_the_cause_and_the_next_case_runs(
        pytester, appium_server, closed_port):
    write_pytest_ini(pytester, INI)
    app = write_app(pytester.path / "app.xml")
    server = appium_server.url

    def case(package, *rows):
        return [HEADER, [1, "", "new_driver", "android", server, caps_text(app, package)],
                *[[n, "", *row] for n, row in enumerate(rows, start=2)]]

    refused = json.dumps({"platformName": "Fake", "automationName": "Nope", "app": app})
    write_workbook(pytester.path / "test_app.xlsx", {
        "no chain": case("io.lumox.nochain", ["ac_touch_down", 100, 200]),
        "second perform": case("io.lumox.twice", ["ac_new"], ["ac_touch_down", 100, 200],
                               ["ac_touch_move", 100, 600], ["ac_touch_up"], ["ac_perform"],
                               ["ac_perform"]),
        "unknown context": case("io.lumox.context", ["context", "WEBVIEW_9"]),
        "missing element": case("io.lumox.missing", ["press", "nothing ;; ID"]),
        "text coordinate": case("io.lumox.text", ["swipe", 1, 2, "x", 4]),
        "no hub": [HEADER, [1, "", "new_driver", "android"]],
        "server down": [HEADER, [1, "", "new_driver", "ios", f"http://127.0.0.1:{closed_port}"]],
        "refused": [HEADER, [1, "", "new_driver", "android", server, refused]],
        "never shown": case("io.lumox.hidden", ["click", "hidden ;; ID"]),
        "disabled": case("io.lumox.disabled", ["should_be_enabled", "disabled ;; ID"]),
        "not on screen": case("io.lumox.scroll", ["scroll_to", "hidden ;; ID", "up", 2]),
        "after the failures": case("io.lumox.after", ["press", "login ;; ID", 0.1]),
    })
    result = pytester.runpytest_subprocess("-rf", "--alluredir=allure")
    result.assert_outcomes(passed=1, failed=11)
    result.stdout.fnmatch_lines([
        f"*FAILED test_app.xlsx::no chain - row 3, ac_touch_down: ValueError: {NO_CHAIN}",
        f"*FAILED test_app.xlsx::second perform - row 8, ac_perform: ValueError: {NO_CHAIN}",
        "*FAILED test_app.xlsx::unknown context - row 3, context: *NoSuchContextException*",
        "*FAILED test_app.xlsx::missing element - row 3, press: *TimeoutException*",
        "*FAILED test_app.xlsx::text coordinate - row 3, swipe: TypeError: key_swipe() argument "
        "'end_x' must be int, not str",
        "*FAILED test_app.xlsx::no hub - row 2, new_driver: ValueError: 'android' sessions run "
        "on an Appium server: give its address as hub*",
        f"*FAILED test_app.xlsx::server down - row 2, new_driver: RuntimeError: Appium server "
        f"http://127.0.0.1:{closed_port} does not answer*",
        "*FAILED test_app.xlsx::refused - row 2, new_driver: *WebDriverException: Message: Could "
        "not find a driver for automationName 'Nope'*",
        "*FAILED test_app.xlsx::never shown - row 3, click: *InvalidElementStateException*",
        "*FAILED test_app.xlsx::disabled - row 3, should_be_enabled: AssertionError: element "
        "disabled ;; ID is disabled",
        "*FAILED test_app.xlsx::not on screen - row 3, scroll_to: AssertionError: scroll_to: "
        "element hidden ;; ID is not on screen after 2 swipe(s) up",
    ])
    assert len(session_of(appium_server, "io.lumox.scroll")["actions"]) == 2
    out = result.stdout.str()
    assert "tried again for 1 s (lumox_ui.wait_max): the element kept being replaced, or " \
           "refused the action (not on screen, not editable)" in out
    assert "context: no context 'WEBVIEW_9' in this session; its contexts are NATIVE_APP, " \
           "PROXY, WEBVIEW_1" in out
    assert f"the Appium server {server} did not start the session; capabilities sent: " \
           f'{{"platformName": "Fake", "appium:automationName": "Nope"' in out
    result.stdout.fnmatch_lines([
        "Workbook case 'missing element' failed at row 3 (test_app.xlsx, sheet 'missing element')",
        "    keyword:   press",
        "    context:   NATIVE_APP",
        "    (the report step of the row has the screenshot and the page source attached)"])
    # The chain that was sent arrived as one request; the second ac_perform sent nothing.
    assert len(session_of(appium_server, "io.lumox.twice")["actions"]) == 1
    assert all(session_of(appium_server, p)["ended"]
               for p in ("io.lumox.nochain", "io.lumox.twice", "io.lumox.missing"))

    results = [json.loads(path.read_text(encoding="utf-8"))
               for path in (pytester.path / "allure").glob("*-result.json")]
    (missing,) = [r for r in results if r["name"] == "missing element"]
    row = missing["steps"][-1]
    attachments = {a["name"]: pytester.path / "allure" / a["source"] for a in row["attachments"]}
    # The server's stack, cut from the failure line, is attached in full.
    assert set(attachments) == {"screenshot", "page source", "driver error"}
    assert attachments["screenshot"].read_bytes().startswith(b"\x89PNG\r\n")
    assert 'id="login"' in attachments["page source"].read_text(encoding="utf-8")


def test_gesture_rows_check_their_input_before_anything_is_sent(tmp_path, caplog):
    caplog.set_level(logging.INFO, logger="lumox.actlib")
    kw = AppKeyWord(Exchange(str(tmp_path / "vars.yaml")), {})
    with pytest.raises(ValueError, match=f"^{NO_CHAIN}"):
        kw._key_ac_touch_down(100, 200)
    with pytest.raises(TypeError, match=r"key_ac_new_swipe\(\) argument 'start_y' must be int, "
                                        r"not float"):
        kw._key_ac_new_swipe(1, 2.0, 3, 4)
    with pytest.raises(TypeError, match=r"key_swipe\(\) argument 'start_x' must be int, not bool"):
        kw._key_swipe(True, 2, 3, 4)
    lines = [(r.levelname, r.getMessage()) for r in caplog.records if r.name == "lumox.actlib"]
    keyword_lines = [line for line in lines if not line[1].startswith(("正在执行", "关键字执行"))]
    # The INFO line of the row, then the error; the swipes failed before logging.
    assert keyword_lines == [("INFO", "新的动作：线下指针x=100, y=200"), ("ERROR", NO_CHAIN)]
    assert kw._ac is None
    assert {"new_driver", "press", "ac_ele_up"} <= set(AppKeyWord.all_keyword())
    assert set(AppKeyWord.all_keyword()) <= set(KeyWord.all_keyword())
