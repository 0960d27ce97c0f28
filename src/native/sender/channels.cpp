// The three channels and the two notices that go to all of them.
#include "sender.hpp"

#include "core/ascii_text.hpp"
#include "core/notice_text.hpp"
#include "native/common/errors.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace lumox::sender {

namespace {

using py_helpers::raise_argument_type;

constexpr const char *kNothingSelected = "本次执行用例数为0，暂不发送通知";
constexpr const char *kNoQywx = "未配置qywx_url项，暂不发送企业微信通知";
constexpr const char *kNoDingding = "未配置dingding_url或dingding_secret项，暂不发送钉钉通知";
constexpr const char *kNoEmail = "未配置email_*项，暂不发送Email";
// When email_subject is left empty.
constexpr const char *kEmailSubject = "测试框架有报告啦~";

constexpr std::size_t kFailedCasesShown = 10;
constexpr double kRobotTimeout = 2.0;
// A robot answers with a few bytes of JSON, at once.
constexpr std::size_t kRobotReplyLimit = 64 * 1024;
constexpr double kRobotReplyDeadline = 5.0;
// A mail server that accepts the connection and then stalls must not hold a pool
// worker for good; 5 seconds is ample for a greeting or a reply on a working server.
constexpr double kSmtpTimeout = 5.0;
// Connecting, TLS, login, sending and quitting together.
constexpr double kSmtpDeadline = 10.0;

constexpr const char *kQywx = "WeCom";
constexpr const char *kDingding = "DingTalk";
constexpr const char *kEmail = "e-mail";

// Everything in the current settings that must not reach a log line: the signing
// secret, the mail password and the access tokens of the webhook addresses.
std::vector<std::string> current_secrets() {
    py::object settings = lumox_settings();
    std::vector<std::string> secrets{to_str(settings.attr("dingding_secret")),
                                     to_str(settings.attr("email_password"))};
    for (const char *key : {"qywx_url", "dingding_url"}) {
        for (auto &token : core::url_secrets(to_str(settings.attr(key)))) {
            secrets.push_back(std::move(token));
        }
    }
    return secrets;
}

std::string masked(const std::string &text) { return core::mask_secrets(text, current_secrets()); }

// httpx logs each request with its full address, access token included; the records
// of its logger are masked before any handler sees them.
bool mask_httpx_record(py::object record) {
    try {
        const std::string message = to_str(record.attr("getMessage")());
        const std::string hidden = masked(message);
        if (hidden != message) {
            record.attr("msg") = py::str(hidden);
            record.attr("args") = py::tuple();
        }
    } catch (py::error_already_set &error) {
        // A record whose arguments do not fit its format is left to logging to report.
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
    }
    return true;
}

void check_content(const char *where, py::handle content) {
    if (!py::isinstance<py::str>(content)) {
        raise_argument_type(where, "content", "str", content);
    }
}

void log_failure(const char *channel, const std::string &where, py::error_already_set &error) {
    std::string reason = to_str(error.type().attr("__name__"));
    const std::string detail = to_str(error.value());
    if (!detail.empty()) {
        reason += ": " + detail;
    }
    logger().error(masked(std::string(channel) + " notice failed: " + reason + " (" + where + ")"));
    // An error raised here in C++ has no traceback.
    py::object trace =
        error.trace() ? py::reinterpret_borrow<py::object>(error.trace()) : py::none();
    py::object lines =
        import("traceback").attr("format_exception")(error.type(), error.value(), trace);
    logger().debug(masked(to_str(py::str("").attr("join")(lines))));
}

// Runs one channel's delivery. Its failure is logged on this channel's behalf, secrets
// masked, and then raised as before: called on the pool, the error stays in the future
// nobody reads, so the log line is where a tester learns of it.
template <typename F>
py::object guarded(const char *channel, const std::string &where, F &&send) {
    try {
        return send();
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_Exception)) {
            log_failure(channel, where, error);
        }
        throw;
    }
}

// Real robots answer 200 also when they refuse a message (wrong key, bad signature) and
// say why in errcode/errmsg; the status alone would hide that. Whether it refused (and
// that is logged).
bool refused(const char *channel, const py::bytes &reply, const std::string &where) {
    py::object answer;
    try {
        answer = import("json").attr("loads")(reply);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) { // not JSON, or in no known encoding
            throw;
        }
        return false;
    }
    if (!py::isinstance<py::dict>(answer) || !answer.contains("errcode")) {
        return false;
    }
    py::object code = answer["errcode"];
    if (code.equal(py::int_(0))) {
        return false;
    }
    py::object text = answer.attr("get")("errmsg", "");
    logger().error(masked(std::string(channel) + " robot refused the notice: errcode " +
                          to_str(code) + " " + to_str(text) + " (" + where + ")"));
    return true;
}

// The robot's reply, read in pieces against one deadline for the whole reply and up to
// kRobotReplyLimit bytes: a reply that drips or never ends cannot hold the run, nor fill its
// memory. None when the reply was longer than that.
std::optional<py::bytes> read_reply(const char *channel, py::handle response,
                                    const std::string &where) {
    py::object monotonic = import("time").attr("monotonic");
    const double deadline = monotonic().cast<double>() + kRobotReplyDeadline;
    std::string reply;
    for (py::handle chunk : response.attr("iter_bytes")()) {
        reply += py::reinterpret_borrow<py::bytes>(chunk).cast<std::string>();
        if (reply.size() > kRobotReplyLimit) {
            logger().error(masked(std::string(channel) + " robot's reply is longer than " +
                                  std::to_string(kRobotReplyLimit / 1024) +
                                  " KiB: the rest is not read (" + where + ")"));
            return std::nullopt;
        }
        if (monotonic().cast<double>() > deadline) {
            py_helpers::raise_error(import("httpx").attr("ReadTimeout"),
                                    "the robot's reply took longer than " +
                                        std::to_string(static_cast<int>(kRobotReplyDeadline)) +
                                        " s");
        }
    }
    return py::bytes(reply);
}

// Posts a robot message; true when the robot answered HTTP 200.
py::object post_to_robot(const char *channel, py::handle url, py::dict body,
                         const std::string &where) {
    py::object stream = import("httpx").attr("stream")("POST", url, py::arg("json") = body,
                                                       py::arg("timeout") = kRobotTimeout);
    py::object response = stream.attr("__enter__")();
    const int status = response.attr("status_code").cast<int>();
    std::optional<py::bytes> reply;
    try {
        if (status == 200) {
            reply = read_reply(channel, response, where);
        }
    } catch (py::error_already_set &) {
        stream.attr("__exit__")(py::none(), py::none(), py::none());
        throw;
    }
    stream.attr("__exit__")(py::none(), py::none(), py::none());
    if (status != 200) {
        logger().error(masked(std::string(channel) + " notice failed: the robot answered HTTP " +
                              std::to_string(status) + " (" + where + ")"));
        return py::bool_(false);
    }
    // A refused notice is not sent, whatever the status said.
    if (reply && refused(channel, *reply, where)) {
        return py::bool_(false);
    }
    logger().info(std::string(channel) + " notice sent");
    return py::bool_(true);
}

py::dict markdown_message(py::dict markdown) {
    py::dict body;
    body["msgtype"] = "markdown";
    body["markdown"] = markdown;
    return body;
}

py::object to_qywx(py::object content) {
    check_content("to_qywx()", content);
    py::object url = lumox_settings().attr("qywx_url");
    if (!truthy(url)) {
        logger().warning(kNoQywx);
        return py::none();
    }
    const std::string where = to_str(url);
    return guarded(kQywx, where, [&] {
        py::dict markdown;
        markdown["content"] = content;
        return post_to_robot(kQywx, url, markdown_message(markdown), where);
    });
}

py::bytes encoded(py::handle text) { return text.attr("encode")("utf-8"); }

py::object to_dingding(py::object content) {
    check_content("to_dingding()", content);
    py::object settings = lumox_settings();
    py::object url = settings.attr("dingding_url");
    py::object secret = settings.attr("dingding_secret");
    if (!truthy(url) || !truthy(secret)) {
        logger().warning(kNoDingding);
        return py::none();
    }
    const std::string where = to_str(url);
    return guarded(kDingding, where, [&] {
        py::object now_ms = import("time").attr("time")() * py::int_(1000);
        const std::string timestamp = to_str(import("builtins").attr("round")(now_ms));
        const std::string secret_bytes = encoded(secret);
        const std::string to_sign = core::dingtalk_string_to_sign(timestamp, secret_bytes);
        py::object digest = import("hmac")
                                .attr("new")(py::bytes(secret_bytes), py::bytes(to_sign),
                                             import("hashlib").attr("sha256"))
                                .attr("digest")();
        py::object sign =
            import("urllib.parse").attr("quote_plus")(import("base64").attr("b64encode")(digest));
        // Appended to the address as DingTalk documents it: httpx's `params` would drop the
        // address's own query (the access token) and quote the quoted sign a second time.
        const std::string signed_url = core::with_query_parameters(
            to_str(url), {{"timestamp", timestamp}, {"sign", to_str(sign)}});
        py::dict markdown;
        markdown["title"] = "by_lumox";
        markdown["text"] = content.attr("replace")("\n", "\n\n");
        return post_to_robot(kDingding, py::str(signed_url), markdown_message(markdown), where);
    });
}

// The TLS context for the mail server: the system's certificates, plus email_ca_file
// when set. The server's certificate and host name are always checked.
py::object mail_tls_context(py::handle ca_file) {
    py::object cafile = truthy(ca_file) ? py::reinterpret_borrow<py::object>(ca_file) : py::none();
    return import("ssl").attr("create_default_context")(py::arg("cafile") = cafile);
}

void send_email(py::object content, py::object settings) {
    // A line break in an address would open a header of its own (Bcc:, Reply-To:) in the
    // message: such a setting is refused before the server is reached and the password sent.
    for (const char *key : {"email_account", "email_to"}) {
        py::object value = settings.attr(key);
        if (to_str(value).find_first_of("\r\n") != std::string::npos) {
            throw py::value_error("[lumox] " + std::string(key) + " = " +
                                  py_helpers::to_repr(value) +
                                  " holds a line break (CR or LF); nothing was sent");
        }
    }
    py::object server = settings.attr("email_server");
    py::object port = settings.attr("email_port");
    py::object account = settings.attr("email_account");
    py::object to = settings.attr("email_to");
    const std::string encryption = core::lower_ascii(to_str(settings.attr("email_encryption")));

    // The robots' markup read as text, with an HTML alternative that keeps its colours.
    py::object mime_text = import("email.mime.text").attr("MIMEText");
    py::object message = import("email.mime.multipart").attr("MIMEMultipart")("alternative");
    const std::string markup = to_str(content);
    message.attr("attach")(mime_text(core::plain_notice_text(markup), "plain", "utf-8"));
    message.attr("attach")(mime_text(core::html_notice_text(markup), "html", "utf-8"));
    py::object subject = settings.attr("email_subject");
    message["Subject"] = truthy(subject) ? subject : py::str(kEmailSubject);
    message["From"] = account;
    message["To"] = to; // as written; the envelope gets the single addresses
    py::list recipients;
    for (const auto &address : core::split_recipients(to_str(to))) {
        recipients.append(py::str(address));
    }

    py::module_ smtplib = import("smtplib");
    py::object connection = encryption == "ssl"
                                ? smtplib.attr("SMTP_SSL")(py::arg("timeout") = kSmtpTimeout,
                                                           py::arg("context") = mail_tls_context(
                                                               settings.attr("email_ca_file")))
                                : smtplib.attr("SMTP")(py::arg("timeout") = kSmtpTimeout);
    // smtplib's time-out holds for each read only, so a server that drips its lines a byte
    // at a time is cut off by a timer that shuts the socket down.
    py::object cut_off = import("threading").attr("Event")();
    py::object watchdog =
        import("threading").attr("Timer")(kSmtpDeadline, py::cpp_function([connection, cut_off] {
                                              py::object sock =
                                                  py::getattr(connection, "sock", py::none());
                                              if (sock.is_none()) {
                                                  return;
                                              }
                                              cut_off.attr("set")();
                                              try {
                                                  sock.attr("shutdown")(
                                                      import("socket").attr("SHUT_RDWR"));
                                              } catch (
                                                  py::error_already_set &) { // closed meanwhile
                                              }
                                          }));
    watchdog.attr("daemon") = true;
    watchdog.attr("start")();
    py::object refused;
    try {
        // What SMTP(host, port) does, with the watchdog already running: smtplib checks the
        // certificate against _host, which only its constructor sets.
        connection.attr("_host") = server;
        py::tuple greeting = connection.attr("connect")(server, port);
        if (py::int_(greeting[0]).cast<long>() != 220) {
            PyErr_SetObject(smtplib.attr("SMTPConnectError").ptr(), greeting.ptr());
            throw py::error_already_set();
        }
        if (encryption == "tls") {
            connection.attr("starttls")(py::arg("context") =
                                            mail_tls_context(settings.attr("email_ca_file")));
        }
        // A relay that takes mail without login is used without a password.
        if (truthy(settings.attr("email_password"))) {
            connection.attr("login")(account, settings.attr("email_password"));
        }
        refused = connection.attr("sendmail")(account, recipients, message.attr("as_string")());
        connection.attr("quit")();
    } catch (py::error_already_set &error) {
        watchdog.attr("cancel")();
        connection.attr("close")();
        if (cut_off.attr("is_set")().cast<bool>()) {
            py_helpers::raise_from(error, PyExc_TimeoutError,
                                   "the mail server took longer than " +
                                       std::to_string(static_cast<int>(kSmtpDeadline)) +
                                       " s for the whole notice");
        }
        throw;
    }
    watchdog.attr("cancel")();
    // The server took the message for some recipients and refused the others.
    for (auto [address, answer] : py::reinterpret_borrow<py::dict>(refused)) {
        logger().error(
            masked("e-mail notice refused for " + to_str(address) + ": " + to_str(answer)));
    }
    logger().info("e-mail notice sent to " +
                  std::to_string(py::len(recipients) - py::len(refused)) + " recipient(s)");
}

// The e-mail settings left empty of those a notice needs (the password is not one: without
// it the server is used without login), joined for the warning.
std::string missing_email_keys(py::handle settings) {
    std::string missing;
    for (const char *key :
         {"email_server", "email_port", "email_account", "email_to", "email_encryption"}) {
        if (!truthy(settings.attr(key))) {
            missing += (missing.empty() ? "" : ", ") + std::string(key);
        }
    }
    return missing;
}

py::object to_email(py::object content) {
    check_content("to_email()", content);
    py::object settings = lumox_settings();
    if (const std::string missing = missing_email_keys(settings); !missing.empty()) {
        logger().warning(std::string(kNoEmail) + " (empty: " + missing + ")");
        return py::none();
    }
    const std::string where = "SMTP " + to_str(settings.attr("email_server")) + ":" +
                              to_str(settings.attr("email_port")) + ", " +
                              to_str(settings.attr("email_encryption"));
    return guarded(kEmail, where, [&] {
        send_email(content, settings);
        return py::none();
    });
}

// Hands the text to the three channels on the pool, in this order, without waiting.
void submit_to_channels(const std::string &text) {
    py::module_ self = import("lumox.sender");
    py::object pool = self.attr("pool");
    py::str content(text);
    for (const char *channel : {"to_qywx", "to_dingding", "to_email"}) {
        pool.attr("submit")(self.attr(channel), content);
    }
}

void send_result(py::object data) {
    if (!py::isinstance(data, import("collections.abc").attr("Mapping"))) {
        raise_argument_type("send_result()", "data", "a mapping", data);
    }
    py::object select = data[py::str("select")];
    const int below_one = PyObject_RichCompareBool(select.ptr(), py::int_(1).ptr(), Py_LT);
    if (below_one < 0) {
        throw py::error_already_set();
    }
    if (below_one == 1) {
        py::print(kNothingSelected);
        return;
    }
    // Every counter is read before anything is submitted: a missing one fails here.
    const auto counter = [&](const char *key) { return to_str(data[py::str(key)]); };
    const core::RunCounters counters{counter("total"),  counter("select"), counter("passed"),
                                     counter("failed"), counter("error"),  counter("skipped"),
                                     counter("tims"),   counter("date")};
    // Optional: the ids of the failed cases (send_run_summary gives them).
    std::vector<std::string> failed_cases;
    if (py::object names = data.attr("get")("failed_cases", py::none()); !names.is_none()) {
        for (py::handle name : names) {
            failed_cases.push_back(to_str(name));
        }
    }
    submit_to_channels(core::result_text(counters) +
                       core::result_details(failed_cases, kFailedCasesShown,
                                            to_str(lumox_settings().attr("allure_url"))));
}

void send_report(py::object url) { submit_to_channels(core::report_text(to_str(url))); }

} // namespace

const py_helpers::Logger &logger() { return py_helpers::get_logger("lumox.sender"); }

py::object lumox_settings() { return import("lumox.settings").attr("lumox"); }

bool any_channel_configured() {
    py::object settings = lumox_settings();
    if (truthy(settings.attr("qywx_url"))) {
        return true;
    }
    if (truthy(settings.attr("dingding_url")) && truthy(settings.attr("dingding_secret"))) {
        return true;
    }
    return missing_email_keys(settings).empty();
}

void define_channels(py::module_ &m) {
    import("logging").attr("getLogger")("httpx").attr("addFilter")(
        py::cpp_function(&mask_httpx_record, py::arg("record")));

    m.def("send_result", &send_result, py::arg("data"),
          "send_result(data) -> None\n\n"
          "Sends the run summary built from the mapping `data` (total, select, passed, failed, "
          "error, skipped, tims, date) to every channel in the background. With select below "
          "1 it prints \"本次执行用例数为0，暂不发送通知\" and sends nothing.");
    m.def("send_report", &send_report, py::arg("url"),
          "send_report(url) -> None\n\n"
          "Sends a link to the HTML report at `url` to every channel in the background.");
    m.def("to_qywx", &to_qywx, py::arg("content"),
          "to_qywx(content: str) -> bool | None\n\n"
          "Posts `content` as Markdown to the WeCom robot qywx_url (2 s time-out). True when "
          "the robot answered HTTP 200, False otherwise; None (with a warning) when qywx_url "
          "is empty. Failures are logged on lumox.sender, secrets masked.");
    m.def("to_dingding", &to_dingding, py::arg("content"),
          "to_dingding(content: str) -> bool | None\n\n"
          "Posts `content` (line breaks doubled) as Markdown to the DingTalk robot "
          "dingding_url, signed with dingding_secret (2 s time-out). True when the robot "
          "answered HTTP 200, False otherwise; None (with a warning) when not configured.");
    m.def("to_email", &to_email, py::arg("content"),
          "to_email(content: str) -> None\n\n"
          "Mails `content` to each address of email_to (separated by commas or semicolons) "
          "through email_server:email_port, over TLS for email_encryption ssl, STARTTLS for "
          "tls, else plain; the server's certificate is checked (email_ca_file adds a CA). "
          "Does nothing but warn when an email_* key is empty.");
}

} // namespace lumox::sender
