"""lumox.sender against loopback robots and a real SMTP server, and the run summary of
whole pytest runs."""

import base64
import concurrent.futures
import datetime
import hashlib
import hmac
import logging
import re
import smtplib
import ssl
from urllib.parse import quote_plus

import httpx
import pytest
import trustme

from lumox import sender, settings
from notify_endpoints import (
    ACCOUNT,
    PASSWORD,
    Robots,
    TricklingMailServer,
    free_port,
    start_mail_server,
)

QYWX_TOKEN = "wecom-Token-5531"
DING_TOKEN = "ding-Token-8812"
DING_SECRET = "SEC-ding-Secret-42"
SECRETS = (QYWX_TOKEN, DING_TOKEN, DING_SECRET, PASSWORD)

NO_QYWX = "未配置qywx_url项，暂不发送企业微信通知"
NO_DING = "未配置dingding_url或dingding_secret项，暂不发送钉钉通知"
NO_EMAIL = "未配置email_*项，暂不发送Email"

COUNTERS = {"total": 7, "select": 6, "passed": 3, "failed": 1, "error": 1, "skipped": 1,
            "tims": "3.21s", "date": "2024-05-01 10:00:00"}
SUMMARY = ('【lumox自动化测试结果】\n\n用例总数: <font color="black">7</font>\n'
           '本次运行数： <font color="black">6</font>\n测试通过数： <font color="green">3</font>\n'
           '测试失败数： <font color="orange">1</font>\n测试出错数： <font color="red">1</font>\n'
           '跳过用例数： <font color="grey">1</font>\n测试耗时:    3.21s\n'
           '完成时间： 2024-05-01 10:00:00')
# What e-mail shows of it: the robots' <font> tags carried into the mail as text.
PLAIN_SUMMARY = re.sub(r'<font color="\w+">(\d+)</font>', r"\1", SUMMARY)
EMAIL_KEYS = ("email_server", "email_port", "email_account", "email_password", "email_to",
              "email_encryption")
# Without a password the server is used without login.
NEEDED_EMAIL_KEYS = [key for key in EMAIL_KEYS if key != "email_password"]
NO_EMAIL_AT_ALL = f"{NO_EMAIL} (empty: {', '.join(NEEDED_EMAIL_KEYS)})"
LOADED_POOL = sender.pool


@pytest.fixture
def configure(monkeypatch):
    """Sets [lumox] keys for this test; every channel starts unconfigured."""
    def set_keys(**values):
        for key, value in values.items():
            monkeypatch.setattr(settings.lumox, key, value)

    set_keys(qywx_url="", dingding_url="", dingding_secret="", email_ca_file="",
             **dict.fromkeys(EMAIL_KEYS, ""))
    return set_keys


@pytest.fixture
def robots():
    server = Robots()
    try:
        yield server
    finally:
        server.stop()


@pytest.fixture
def mail_servers():
    started = []

    def start(mode, certificate=None):
        started.append(start_mail_server(mode, certificate))
        return started[-1]

    try:
        yield start
    finally:
        for controller in started:
            controller.stop()


@pytest.fixture(scope="module")
def certificates(tmp_path_factory):
    """A server certificate for 127.0.0.1 and the file of the CA that issued it."""
    ca = trustme.CA()
    ca_file = tmp_path_factory.mktemp("ca") / "ca.pem"
    ca.cert_pem.write_to_path(str(ca_file))
    return ca.issue_cert("127.0.0.1"), str(ca_file)


@pytest.fixture
def submitted(monkeypatch):
    """(channel name, future) of each notice handed to the module's pool."""
    calls = []

    class Recording:
        def submit(self, channel, *args):
            calls.append((channel.__name__, LOADED_POOL.submit(channel, *args)))
            return calls[-1][1]

    monkeypatch.setattr(sender, "pool", Recording())
    yield calls
    concurrent.futures.wait([future for _, future in calls])  # none runs into the next test


def mail_keys(controller, encryption, to="a@example.test"):
    return {"email_server": "127.0.0.1", "email_port": controller.port, "email_account": ACCOUNT,
            "email_password": PASSWORD, "email_to": to, "email_encryption": encryption}


def sender_lines(caplog, level):
    return [r.getMessage() for r in caplog.records
            if r.name == "lumox.sender" and r.levelno == level]


def leaked(caplog):
    """Log lines of the system (not of the test's own SMTP server) holding a secret."""
    return [r.getMessage() for r in caplog.records
            if not r.name.startswith("mail.log") and any(s in r.getMessage() for s in SECRETS)]


def test_the_summary_reaches_every_channel_from_the_pool(configure, robots, mail_servers,
                                                         submitted, caplog):
    caplog.set_level(logging.INFO, logger="lumox.sender")
    mail = mail_servers("plain")
    to = "a@example.test, b@example.test ;c@example.test"
    configure(qywx_url=f"{robots.base}/ok/qywx?key={QYWX_TOKEN}",
              dingding_url=f"{robots.base}/ok/ding?access_token={DING_TOKEN}",
              dingding_secret=DING_SECRET, **mail_keys(mail, "plain", to))
    before = datetime.datetime.now().timestamp() * 1000
    assert sender.send_result(COUNTERS) is None
    assert [(name, future.result()) for name, future in submitted] == [
        ("to_qywx", True), ("to_dingding", True), ("to_email", None)]
    after = datetime.datetime.now().timestamp() * 1000

    posts = {r["path"]: r for r in robots.requests}
    assert len(robots.requests) == 2
    assert posts["/ok/qywx"]["raw_query"] == f"key={QYWX_TOKEN}"
    assert posts["/ok/qywx"]["json"] == {"msgtype": "markdown", "markdown": {"content": SUMMARY}}
    ding = posts["/ok/ding"]
    assert ding["json"] == {"msgtype": "markdown",
                            "markdown": {"title": "by_lumox",
                                         "text": SUMMARY.replace("\n", "\n\n")}}
    timestamp = ding["query"]["timestamp"][0]
    assert before - 1 <= int(timestamp) <= after + 1
    digest = hmac.new(DING_SECRET.encode(), f"{timestamp}\n{DING_SECRET}".encode(),
                      hashlib.sha256).digest()
    signature = base64.b64encode(digest).decode()
    assert ding["query"]["sign"] == [signature]
    assert ding["raw_query"] == (
        f"access_token={DING_TOKEN}&timestamp={timestamp}&sign={quote_plus(signature)}")

    [message] = mail.handler.messages
    assert message["to"] == ["a@example.test", "b@example.test", "c@example.test"]
    assert (message["from"], message["message"]["From"], message["message"]["To"]) == (
        ACCOUNT, ACCOUNT, to)
    assert (message["subject"], message["body"]) == ("测试框架有报告啦~", PLAIN_SUMMARY)
    assert '<b style="color: green">3</b>' in message["html"] and "<br>" in message["html"]
    assert message["authenticated"] and not message["tls"]

    sent = {r.getMessage(): r.threadName for r in caplog.records if r.name == "lumox.sender"}
    assert set(sent) == {"WeCom notice sent", "DingTalk notice sent",
                         "e-mail notice sent to 3 recipient(s)"}
    assert all(thread.startswith("lumox-sender") for thread in sent.values())
    assert LOADED_POOL.max_workers == 4 and LOADED_POOL.pending == 0


def test_report_notice_with_only_wecom_configured(configure, robots, submitted, caplog):
    configure(qywx_url=f"{robots.base}/ok/qywx?key={QYWX_TOKEN}")
    sender.send_report("http://reports.example.test/7/")
    concurrent.futures.wait([future for _, future in submitted])
    assert [r["json"] for r in robots.requests] == [{"msgtype": "markdown", "markdown": {
        "content": "【lumox自动化测试报告】\n\n        在线报告已生成，请"
                   "[点击这里](http://reports.example.test/7/)查看"}}]
    assert sorted(sender_lines(caplog, logging.WARNING)) == sorted([NO_DING, NO_EMAIL_AT_ALL])


def test_nothing_selected_and_misuse_submit_nothing(configure, robots, submitted, capsys):
    configure(qywx_url=f"{robots.base}/ok/qywx?key={QYWX_TOKEN}")
    sender.send_result({"select": 0})
    assert capsys.readouterr().out == "本次执行用例数为0，暂不发送通知\n"
    with pytest.raises(KeyError, match="tims"):
        sender.send_result({k: v for k, v in COUNTERS.items() if k != "tims"})
    with pytest.raises(TypeError,
                       match="send_result.. argument 'data' must be a mapping, not list"):
        sender.send_result([("select", 1)])
    for channel in (sender.to_qywx, sender.to_dingding, sender.to_email):
        with pytest.raises(TypeError, match=f"{channel.__name__}.. argument 'content' must be str, "
                                            "not bytes"):
            channel(b"text")
    assert submitted == [] and robots.requests == []


def test_each_channel_without_its_settings_warns_and_sends_nothing(configure, robots, caplog):
    configure(dingding_url=f"{robots.base}/ok/ding?access_token={DING_TOKEN}")
    assert [sender.to_qywx("x"), sender.to_dingding("x"), sender.to_email("x")] == [None] * 3
    configure(dingding_url="", dingding_secret=DING_SECRET)
    assert sender.to_dingding("x") is None
    complete = {"email_server": "127.0.0.1", "email_port": free_port(), "email_account": ACCOUNT,
                "email_password": PASSWORD, "email_to": "a@example.test",
                "email_encryption": "plain"}
    for key in NEEDED_EMAIL_KEYS:
        configure(**{**complete, key: 0 if key == "email_port" else ""})
        assert sender.to_email("x") is None
    configure(**{**complete, "email_server": "", "email_to": ""})
    sender.to_email("x")
    assert sender_lines(caplog, logging.WARNING) == [
        NO_QYWX, NO_DING, NO_EMAIL_AT_ALL, NO_DING] + [
        f"{NO_EMAIL} (empty: {key})" for key in NEEDED_EMAIL_KEYS] + [
        f"{NO_EMAIL} (empty: email_server, email_to)"]
    assert robots.requests == []


def test_robot_failures_are_logged_masked_and_mail_still_goes(configure, robots, mail_servers,
                                                               submitted, caplog, closed_port):
    caplog.set_level(logging.DEBUG)
    mail = mail_servers("plain")
    configure(qywx_url=f"{robots.base}/fail/qywx?key={QYWX_TOKEN}",
              dingding_url=f"{robots.base}/slow/ding?access_token={DING_TOKEN}",
              dingding_secret=DING_SECRET, **mail_keys(mail, "plain"))
    sender.send_result(COUNTERS)
    concurrent.futures.wait([future for _, future in submitted])
    assert submitted[0][1].result() is False
    with pytest.raises(httpx.ReadTimeout):
        submitted[1][1].result()
    assert [m["body"] for m in mail.handler.messages] == [PLAIN_SUMMARY]

    configure(qywx_url=f"{robots.base}/refuse/qywx?key={QYWX_TOKEN}")
    # HTTP 200, yet refused: it was logged as refused, then as sent, and came back True.
    assert sender.to_qywx("x") is False
    configure(qywx_url=f"http://127.0.0.1:{closed_port}/send?key={QYWX_TOKEN}")
    with pytest.raises(httpx.ConnectError):
        sender.to_qywx("x")

    errors = sender_lines(caplog, logging.ERROR)
    assert errors[:2] == [
        f"WeCom notice failed: the robot answered HTTP 500 ({robots.base}/fail/qywx?key=***)",
        "DingTalk notice failed: ReadTimeout: timed out "
        f"({robots.base}/slow/ding?access_token=***)"]
    assert errors[2] == ("WeCom robot refused the notice: errcode 93000 invalid webhook url "
                         f"({robots.base}/refuse/qywx?key=***)")
    assert errors[3].startswith("WeCom notice failed: ConnectError: ")
    assert errors[3].endswith(f"(http://127.0.0.1:{closed_port}/send?key=***)")
    assert len(errors) == 4
    assert any(r.name == "httpx" and "/fail/qywx?key=***" in r.getMessage() for r in caplog.records)

    # A reply that drips or does not end held the run at its exit, or filled its memory.
    configure(qywx_url=f"{robots.base}/drip/qywx?key={QYWX_TOKEN}")
    with pytest.raises(httpx.ReadTimeout, match="the robot's reply took longer than 5 s"):
        sender.to_qywx("x")
    configure(qywx_url=f"{robots.base}/huge/qywx?key={QYWX_TOKEN}")
    assert sender.to_qywx("x") is True
    assert sender_lines(caplog, logging.ERROR)[-1] == (
        f"WeCom robot's reply is longer than 64 KiB: the rest is not read "
        f"({robots.base}/huge/qywx?key=***)")

    # An address with a line break would add headers of its own: refused, nothing sent.
    for to in ["b@example.test\r\nBcc: evil@example.test", "b@example.test\nReply-To : e@x"]:
        configure(**mail_keys(mail, "plain", to=to))
        with pytest.raises(ValueError, match=r"email_to = .* holds a line break \(CR or LF\); "
                                             "nothing was sent"):
            sender.to_email("x")
    assert len(mail.handler.messages) == 1
    assert sender_lines(caplog, logging.INFO).count("WeCom notice sent") == 1  # the huge reply
    assert leaked(caplog) == []

    # A relay without login: no password, no AUTH; and a subject of the team's own.
    configure(**{**mail_keys(mail, "PLAIN"), "email_password": ""}, email_subject="夜间回归")
    assert sender.to_email("no login") is None
    relayed = mail.handler.messages[-1]
    assert relayed["body"].strip() == "no login" and not relayed["authenticated"]
    assert relayed["subject"] == "夜间回归"


@pytest.mark.parametrize("mode", ["tls", "ssl"])
def test_encrypted_mail_checks_the_certificate(mode, configure, mail_servers, certificates,
                                               caplog):
    caplog.set_level(logging.DEBUG)
    certificate, ca_file = certificates
    mail = mail_servers(mode, certificate)
    configure(**mail_keys(mail, mode, "a@example.test;b@example.test"))
    with pytest.raises(ssl.SSLCertVerificationError):
        sender.to_email("未信任的证书")
    configure(email_ca_file=ca_file)
    assert sender.to_email("信任的证书") is None
    configure(email_password="wrong-Password-1")
    with pytest.raises(smtplib.SMTPAuthenticationError):
        sender.to_email("登录被拒")

    [message] = mail.handler.messages  # nothing went out in plain text
    assert (message["body"], message["tls"]) == ("信任的证书", True)
    assert message["to"] == ["a@example.test", "b@example.test"]
    where = f"(SMTP 127.0.0.1:{mail.port}, {mode})"
    failed, refused = sender_lines(caplog, logging.ERROR)
    assert failed.startswith("e-mail notice failed: SSLCertVerificationError: "
                             "[SSL: CERTIFICATE_VERIFY_FAILED]") and failed.endswith(where)
    assert refused.startswith("e-mail notice failed: SMTPAuthenticationError: (535")
    assert refused.endswith(where)
    assert leaked(caplog) == [] and "wrong-Password-1" not in caplog.text


SUITE = """
import pytest

@pytest.fixture
def broken():
    raise RuntimeError("setup fails")

def test_passes():
    pass

def test_fails():
    assert False

def test_skips():
    pytest.skip("not today")

def test_errors(broken):
    pass

def test_deselected():
    pass
"""


def write_run(pytester, **lumox):
    keys = "".join(f"{key} = {value}\n" for key, value in lumox.items())
    (pytester.path / "pytest.ini").write_text(
        "[pytest]\naddopts = -p no:cacheprovider\nfilterwarnings = error\n[lumox]\n" + keys,
        encoding="utf-8")
    pytester.makepyfile(test_suite=SUITE)


@pytest.mark.parametrize("xdist", [[], ["-n", "2"]], ids=["one process", "xdist"])
def test_a_run_sends_one_summary_of_its_counters(xdist, pytester, robots, mail_servers):
    mail = mail_servers("plain")
    write_run(pytester, qywx_url=f"{robots.base}/ok/qywx?key={QYWX_TOKEN}",
              allure_url="http://reports.example.test/7/", **mail_keys(mail, "plain"))
    result = pytester.runpytest_subprocess("-k", "not deselected", *xdist)
    result.assert_outcomes(passed=1, failed=1, skipped=1, errors=1)
    [post] = robots.requests  # the process has ended: its pool is done
    content = post["json"]["markdown"]["content"]
    counters = dict(re.findall(r"\n(\w+)[:：] <font color=\"\w+\">(\d+)</font>", content))
    assert counters == {"用例总数": "5", "本次运行数": "4", "测试通过数": "1", "测试失败数": "1",
                        "测试出错数": "1", "跳过用例数": "1"}
    # Which cases failed, and where the report is, were in no notice.
    finished = re.search(r"\n测试耗时:    \d+\.\d\ds\n完成时间： (.+)\n\n失败用例：\n"
                         r"- test_suite.py::test_(?:fails|errors)\n"
                         r"- test_suite.py::test_(?:fails|errors)"
                         r"\n\n测试报告：\[点击这里\]\(http://reports.example.test/7/\)$",
                         content).group(1)
    age = datetime.datetime.now() - datetime.datetime.strptime(finished, "%Y-%m-%d %H:%M:%S")
    assert datetime.timedelta(0) <= age < datetime.timedelta(minutes=10)
    [body] = [m["body"] for m in mail.handler.messages]
    assert body == re.sub(r'<font color="\w+">(\d+)</font>', r"\1", content).replace(
        "[点击这里](http://reports.example.test/7/)", "点击这里: http://reports.example.test/7/")


def test_notices_that_trickle_cannot_hold_the_end_of_a_run(pytester, robots):
    # Each read came in time, so the per-read limits never fired: a robot sending its
    # headers and a mail server sending its greeting a byte at a time held the exit for
    # minutes.
    mail = TricklingMailServer()
    try:
        write_run(pytester, qywx_url=f"{robots.base}/trickle/qywx?key={QYWX_TOKEN}",
                  **mail_keys(mail, "plain"))
        result = pytester.runpytest_subprocess("-k", "passes", timeout=60)
    finally:
        mail.stop()
    result.assert_outcomes(passed=1)
    result.stderr.fnmatch_lines_random([
        "e-mail notice failed: TimeoutError: the mail server took longer than 10 s for the "
        "whole notice (SMTP 127.0.0.1:*, plain)",
        "1 notice(s) still being sent after 15 s are given up as the run exits"])
    assert QYWX_TOKEN not in result.stderr.str() + result.stdout.str()


def test_runs_without_channels_or_selected_tests_send_nothing(pytester, robots):
    write_run(pytester)
    quiet = pytester.runpytest_subprocess("-k", "not deselected", "--log-cli-level=DEBUG")
    output = quiet.stdout.str() + quiet.stderr.str()
    assert "lumox.sender" not in output and "未配置" not in output and "本次执行" not in output

    write_run(pytester, qywx_url=f"{robots.base}/ok/qywx?key={QYWX_TOKEN}")
    empty = pytester.runpytest_subprocess("-k", "nothing_matches")
    assert empty.ret == pytest.ExitCode.NO_TESTS_COLLECTED
    empty.stdout.fnmatch_lines(["本次执行用例数为0，暂不发送通知"])
    assert robots.requests == []
