#include "api_keywords.hpp"

#include "shared.hpp"
#include "core/jsonpath_check.hpp"
#include "core/notice_text.hpp"
#include "native/common/errors.hpp"

#include "core/http_log_text.hpp"
#include "native/common/http_attachments.hpp"
#include "native/common/keyword.hpp"
#include "native/common/pyclass.hpp"
#include "native/common/secrets.hpp"
#include "native/common/pylog.hpp"
#include "native/common/request_url.hpp"
#include "native/common/truthy.hpp"

#include <optional>
#include <string>

namespace lumox::actlib {

namespace {

using py_helpers::add_keyword;
using py_helpers::KeywordArgs;
using Kind = py_helpers::ParamKind;
using py_helpers::method;
using py_helpers::static_method;
using py_helpers::to_str;
using py_helpers::truthy;

constexpr const char *kNoResponse = "尚未发送请求，请使用send_http关键字发送请求后再读取响应";
constexpr const char *kBodyNotJson = "响应内容不是json格式，无法筛选";

py::module_ httpx() { return py::module_::import("httpx"); }

// JSON text in json.dumps' default form: ASCII only, ", " and ": " separators.
py::object dump_json(py::handle value) { return json().attr("dumps")(value); }

// ---- request and response ---------------------------------------------------------------

py::object current_request(py::object self) {
    if (self.attr("_current_request").is_none()) {
        self.attr("_current_request") =
            py::module_::import("lumox.actlib_utils").attr("MockRequest")();
        // A new request starts: the previous response is no longer the one to save from.
        self.attr("_current_response") = py::none();
    }
    return self.attr("_current_request");
}

py::object current_response(py::object self) {
    py::object response = self.attr("_current_response");
    if (!py::isinstance(response, httpx().attr("Response"))) {
        throw py::value_error(kNoResponse);
    }
    return response;
}

// The named arguments of build_request taken from the request record. Fields left empty
// are not passed, so they cannot change the request; in particular the record's empty
// `json` mapping would make httpx send "{}" as a JSON body, so `json` goes along only
// when set_json gave it for this very record (or someone filled it in directly).
py::dict build_arguments(py::handle self, py::handle record, py::dict fields) {
    const bool json_given = self.attr("_json_request").ptr() == record.ptr();
    py::dict arguments;
    for (auto [name, value] : fields) {
        const std::string field = to_str(name);
        const bool standard = field == "headers" || field == "cookies" || field == "params" ||
                              field == "data" || field == "files" || field == "json";
        if (field == "json" && json_given) {
            arguments[name] = value;
        } else if (!standard || truthy(value)) {
            arguments[name] = value;
        }
    }
    return arguments;
}

// The file objects of the record's uploads: (name, file) or (name, (filename, file, ...)).
void close_upload_files(py::handle fields) {
    py::dict record = py::reinterpret_borrow<py::dict>(fields);
    if (!record.contains("files")) {
        return;
    }
    py::object io_base = py::module_::import("io").attr("IOBase");
    for (py::handle entry : record["files"]) {
        if (!py::isinstance<py::tuple>(entry) || py::len(entry) < 2) {
            continue;
        }
        py::object upload = entry[py::int_(1)];
        if (py::isinstance<py::tuple>(upload) && py::len(upload) >= 2) {
            upload = upload[py::int_(1)];
        }
        if (py::isinstance(upload, io_base)) {
            upload.attr("close")();
        }
    }
}

// ---- traffic log hooks ------------------------------------------------------------------

void log_request(py::object request) {
    py_helpers::require_absolute_url(request, " (or in the case with the set_baseurl keyword)");
    const auto &logger = actlib_log();
    py_helpers::remember_sent_secrets(request.attr("headers"));
    if (!logger.info_enabled()) {
        request.attr("read")(); // as when logging: the body is complete afterwards
        return;
    }
    logger.info(core::centered("Rqeuest Start"));
    logger.info("Method: " + to_str(request.attr("method")));
    logger.info(to_str(py_helpers::masked_headers_repr(request.attr("headers"))));
    // Multipart and streamed bodies exist only once read.
    request.attr("read")();
    logger.info("Body: " + core::bytes_literal(request.attr("content").cast<std::string>()));
    logger.info(core::centered("Rqeuest End"));
}

void log_response(py::object response) {
    const auto &logger = actlib_log();
    if (!logger.info_enabled()) {
        response.attr("read")();
        return;
    }
    logger.info(core::centered("Response Start"));
    logger.info("Status Code: " + to_str(response.attr("status_code")));
    logger.info(to_str(py_helpers::masked_headers_repr(response.attr("headers"))));
    response.attr("read")();
    // An echoing server returns the request's credentials in its body.
    logger.info(core::mask_secrets(
        "Body: " + core::bytes_literal(response.attr("content").cast<std::string>()),
        py_helpers::remembered_secrets()));
    logger.info(core::centered("Response End"));
}

// The SSL context of httpx's default verification. httpx builds one, reading the whole CA
// bundle, for every client (about 30 ms), and every workbook case's keyword object opens a
// client: they share one instead, built by httpx itself and built again when the variables
// that choose the CA bundle (SSL_CERT_FILE, SSL_CERT_DIR) change.
py::object default_ssl_context() {
    struct Cached {
        py::object context;
        py::object environment;
    };
    static Cached *cached = new Cached(); // process lifetime: never torn down at exit
    py::object environ = py::module_::import("os").attr("environ");
    py::object environment =
        py::make_tuple(environ.attr("get")("SSL_CERT_FILE"), environ.attr("get")("SSL_CERT_DIR"));
    if (!cached->context || !environment.equal(cached->environment)) {
        cached->context = httpx().attr("create_ssl_context")();
        cached->environment = environment;
    }
    return cached->context;
}

// ---- keyword bodies ---------------------------------------------------------------------

constexpr double kDefaultClientTimeout = 5.0; // seconds

void new_client(const KeywordArgs &call) {
    py::object settings = py::module_::import("lumox.settings");
    py::list on_request;
    on_request.append(call.self.attr("log_request"));
    py::list on_response;
    on_response.append(call.self.attr("log_response"));
    py::dict hooks;
    hooks["request"] = on_request;
    hooks["response"] = on_response;
    py::dict pending;
    pending["base_url"] = settings.attr("lumox_api").attr("base_url");
    pending["timeout"] = call["timeout"];
    pending["event_hooks"] = hooks;
    pending["follow_redirects"] = false;

    // The keyword object owns its client: the one replaced is closed, not left to hold
    // its connections until garbage collection.
    py::object previous = call.self.attr("_client");
    call.self.attr("_client") = py::none();
    call.self.attr("_pending_client") = pending;
    if (!previous.is_none() && py::isinstance(previous, httpx().attr("Client"))) {
        previous.attr("close")();
    }
}

// key_new_client settles the client's settings (base address, time-out, hooks); the client
// itself is built when a keyword first uses it. Most workbook cases never send a request,
// and importing httpx and opening a client cost more than a whole case of assert rows.
py::object client(py::object self) {
    py::object pending = self.attr("_pending_client");
    if (!pending.is_none()) {
        py::dict arguments = py::dict(pending);
        arguments["verify"] = default_ssl_context();
        self.attr("_client") = httpx().attr("Client")(**arguments);
        self.attr("_pending_client") = py::none();
    }
    return self.attr("_client");
}

void set_client(py::object self, py::object value) {
    self.attr("_pending_client") = py::none();
    self.attr("_client") = value;
}

void send_http(const KeywordArgs &call) {
    py::object self = call.self;
    py::object record = self.attr("current_request");
    py::dict fields = record.attr("to_dict")();
    py::dict arguments = build_arguments(self, record, fields);
    py::object request =
        self.attr("client").attr("build_request")(call["method"], call["url"], **arguments);

    // From here on the record is spent: the next keyword starts a new request.
    self.attr("_current_request") = py::none();
    self.attr("_json_request") = py::none();
    py::object response;
    try {
        response = self.attr("client").attr("send")(request);
    } catch (py::error_already_set &) {
        close_upload_files(fields);
        throw;
    }
    close_upload_files(fields);
    self.attr("_current_response") = response;
    py_helpers::attach_http_exchange(response);

    self.attr("key_save_code")("resp_code");
    self.attr("key_save_body")("resp_body");
}

// The `index` of save_jsonpath: nothing when left empty; a whole number as typed into a cell
// (a number, or its text).
std::optional<long long> match_index(py::handle given) {
    if (given.is_none() || (py::isinstance<py::str>(given) && py_helpers::to_str(given).empty())) {
        return std::nullopt;
    }
    py::object number = py::reinterpret_borrow<py::object>(given);
    try {
        if (py::isinstance<py::str>(given)) {
            number = py::int_(py::str(given).attr("strip")());
        } else if (PyFloat_Check(given.ptr()) && number.attr("is_integer")().cast<bool>()) {
            number = py::int_(number);
        }
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
    }
    if (!PyLong_Check(number.ptr()) || PyBool_Check(number.ptr())) {
        py_helpers::raise_error(
            PyExc_ValueError, "save_jsonpath: index must be a whole number such as 0 or -1, not " +
                                  py_helpers::to_repr(given));
    }
    return number.cast<long long>();
}

void save_jsonpath(const KeywordArgs &call) {
    py::object response = call.self.attr("current_response");
    py::object document;
    try {
        document = response.attr("json")();
    } catch (py::error_already_set &error) {
        // A body in no Unicode encoding fails before the JSON parser sees it: not JSON either.
        if (!error.matches(json().attr("JSONDecodeError")) &&
            !error.matches(PyExc_UnicodeDecodeError)) {
            throw;
        }
        py::raise_from(error, PyExc_ValueError, kBodyNotJson);
        throw py::error_already_set();
    }
    const std::string problem = core::jsonpath_problem(py_helpers::to_str(call["value"]));
    if (!problem.empty()) {
        // The library would answer false, as for a path that matches nothing.
        py_helpers::raise_error(PyExc_ValueError,
                                "save_jsonpath: " + py_helpers::to_repr(call["value"]) +
                                    " is not a valid JSONPath: " + problem);
    }
    py::object matches = py::module_::import("jsonpath").attr("jsonpath")(document, call["value"]);
    const std::optional<long long> index = match_index(call["index"]);
    if (!index) {
        call.self.attr("set_vars")(call["var_name"], dump_json(matches));
        return;
    }
    // One match as it is: a token saved so is sent as the text itself, not as ["tok"].
    const long long count = py::isinstance<py::list>(matches) ? py::len(matches) : 0;
    if (*index >= count || *index < -count) {
        py_helpers::raise_error(PyExc_IndexError, "save_jsonpath: index " + std::to_string(*index) +
                                                      " is past the " + std::to_string(count) +
                                                      " match(es) of " +
                                                      py_helpers::to_repr(call["value"]) +
                                                      " (indexes start at 0, -1 is the last)");
    }
    call.self.attr("set_vars")(call["var_name"], matches[py::int_(*index)]);
}

// Sets one entry of a mapping field of the request record. Headers and cookies carry
// text only: a number typed into a workbook cell is sent as its text form.
void set_record_entry(const KeywordArgs &call, const char *field, bool as_text = false) {
    py::object record = call.self.attr("current_request");
    py::object value = call["value"];
    if (as_text && !value.is_none() && !py::isinstance<py::str>(value)) {
        value = py::str(value);
    }
    record.attr(field)[call["key"]] = value;
}

void add_keywords(py::module_ &module, py::dict ns) {
    add_keyword(module, ns,
                {.name = "new_client",
                 .title = "启动接口客户端",
                 .summary = "启动接口客户端",
                 .params = {{"timeout", Kind::seconds, "请求默认超时时间", kDefaultClientTimeout}},
                 .body = new_client});
    add_keyword(module, ns,
                {.name = "set_baseurl",
                 .title = "设置baseurl",
                 .summary = "设置base url",
                 .params = {{"url", Kind::text, "本次会话base url地址"}},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("client").attr("base_url") = call["url"];
                 }});
    add_keyword(module, ns,
                {.name = "set_follow_redirects",
                 .title = "设置是否允许重定向",
                 .summary = "设置是否允许重定向",
                 // Python's truth value, as stored suites expect: any non-empty text,
                 // "false" included, allows them.
                 .params = {{"follow", Kind::any, "是否允许重定向，默认为False", false}},
                 .body = [](const KeywordArgs &call) {
                     call.self.attr("client").attr("follow_redirects") = py::bool_(call["follow"]);
                 }});
    add_keyword(module, ns,
                {.name = "set_headers",
                 .title = "设置通用请求头",
                 .summary = "设置通用请求头，所有请求共享",
                 .params = {{"headers", Kind::json_value, "json格式的请求头"}},
                 .body = [](const KeywordArgs &call) {
                     py::object headers = httpx().attr("Headers")(call["headers"]);
                     call.self.attr("client").attr("headers") = headers;
                 }});
    add_keyword(module, ns,
                {.name = "set_cookies",
                 .title = "设置通用请求cookies",
                 .summary = "设置通用请求cookies，所有请求共享",
                 .params = {{"cookies", Kind::json_value, "json格式的cookies"}},
                 .body = [](const KeywordArgs &call) {
                     py::object cookies = httpx().attr("Cookies")(call["cookies"]);
                     call.self.attr("client").attr("cookies") = cookies;
                 }});
    add_keyword(
        module, ns,
        {.name = "set_params",
         .title = "设置通用查询参数",
         .summary = "设置通用查询参数，所有请求共享",
         .params = {{"params", Kind::json_value, "json格式的查询参数（位于URL中的GET参数）"}},
         .body = [](const KeywordArgs &call) {
             py::object params = httpx().attr("QueryParams")(call["params"]);
             call.self.attr("client").attr("params") = params;
         }});
    add_keyword(module, ns,
                {.name = "set_json",
                 .title = "设置json参数",
                 .summary = "添加一个json参数，只对本次请求有效，不可与add_form同时使用",
                 .params = {{"_json", Kind::json_value, "json字符串"}},
                 .body = [](const KeywordArgs &call) {
                     py::object value = call["_json"];
                     py::object record = call.self.attr("current_request");
                     record.attr("json") = value;
                     call.self.attr("_json_request") = record;
                 }});
    add_keyword(module, ns,
                {.name = "set_form",
                 .title = "设置表单参数",
                 .summary = "设置表单参数，只对本次请求有效，替换add_form已添加的字段",
                 .params = {{"from_dict", Kind::json_value, "json格式的表单参数"}},
                 .body = [](const KeywordArgs &call) {
                     py::object value = call["from_dict"];
                     call.self.attr("current_request").attr("data") = value;
                 }});
    add_keyword(module, ns,
                {.name = "add_header",
                 .title = "添加请求头",
                 .summary = "添加一个请求头，只对本次请求有效",
                 .params = {{"key", Kind::text, "请求头key"}, {"value", Kind::any, "请求头value"}},
                 .body = [](const KeywordArgs &call) { set_record_entry(call, "headers", true); }});
    add_keyword(module, ns,
                {.name = "add_cookie",
                 .title = "添加Cookie",
                 .summary = "添加一个Cookie，只对本次请求有效",
                 .params = {{"key", Kind::text, "Cookie名"}, {"value", Kind::any, "Cookie值"}},
                 .body = [](const KeywordArgs &call) { set_record_entry(call, "cookies", true); }});
    add_keyword(
        module, ns,
        {.name = "add_query",
         .title = "添加通用查询参数",
         .summary = "添加一个查询参数，只对本次请求有效",
         .params = {{"key", Kind::text, "查询参数key"}, {"value", Kind::any, "查询参数value"}},
         .body = [](const KeywordArgs &call) { set_record_entry(call, "params"); }});
    add_keyword(
        module, ns,
        {.name = "add_form",
         .title = "添加表单参数",
         .summary = "添加一个表单参数，只对本次请求有效，不可与set_json同时使用",
         .params = {{"key", Kind::text, "表单参字段名"}, {"value", Kind::any, "表单参数值"}},
         .body = [](const KeywordArgs &call) { set_record_entry(call, "data"); }});
    add_keyword(module, ns,
                {.name = "add_file",
                 .title = "添加文件上传参数",
                 .summary = "添加一个文件上传参数，只对本次请求有效，文件在请求发送后关闭",
                 .params = {{"key", Kind::text, "文件上传字段名"},
                            {"value", Kind::file_path, "文件的绝对路径"}},
                 .body = [](const KeywordArgs &call) {
                     // Opened first: a path that cannot be opened fails here and changes
                     // nothing.
                     py::object upload =
                         py::module_::import("builtins").attr("open")(call["value"], "rb");
                     py::object record = call.self.attr("current_request");
                     record.attr("files").attr("append")(py::make_tuple(call["key"], upload));
                 }});
    add_keyword(module, ns,
                {.name = "send_http",
                 .title = "发送接口请求",
                 .summary = "发送接口请求，自动使用set_*参数及add_*参数",
                 .params = {{"method", Kind::text, "请求方法"}, {"url", Kind::text, "接口地址"}},
                 .body = send_http});
    add_keyword(module, ns,
                {.name = "save_code",
                 .title = "保存[状态码]",
                 .summary = "保存响应状态码",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"}},
                 .body = [](const KeywordArgs &call) {
                     py::object response = call.self.attr("current_response");
                     call.self.attr("set_vars")(call["var_name"], response.attr("status_code"));
                 }});
    add_keyword(module, ns,
                {.name = "save_headers",
                 .title = "保存[响应头]",
                 .summary = "保存响应头",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"}},
                 .body = [](const KeywordArgs &call) {
                     py::object response = call.self.attr("current_response");
                     // items() joins the values of a repeated header with ", ".
                     py::dict headers(response.attr("headers").attr("items")());
                     call.self.attr("set_vars")(call["var_name"], dump_json(headers));
                 }});
    add_keyword(module, ns,
                {.name = "save_body",
                 .title = "保存[响应正文]",
                 .summary = "保存响应正文（按文本解码）",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"}},
                 .body = [](const KeywordArgs &call) {
                     py::object response = call.self.attr("current_response");
                     call.self.attr("set_vars")(call["var_name"], response.attr("text"));
                 }});
    add_keyword(module, ns,
                {.name = "save_jsonpath",
                 .title = "保存[响应值]",
                 .summary = "根据JsonPath，从响应正文中筛选数据进行保存",
                 .params = {{"var_name", Kind::var_name, "要保存的变量名"},
                            {"value", Kind::text,
                             "JsonPath表达式，如 $.data.token；"
                             "保存全部匹配结果的json列表，没有匹配时保存false"},
                            // whole numbers, also 1.0 and "-1": read by match_index
                            {"index", Kind::any,
                             "可选，第几个匹配结果（从 0 开始，-1 为最后一个）；"
                             "给出时只保存这一个值本身，如 token 文本",
                             py::none()}},
                 .body = save_jsonpath});
}

void init_api_keyword(py::object self, py::args args, py::kwargs kwargs) {
    py::object cls = py::module_::import("lumox.actlib").attr("ApiKeyWord");
    py::module_::import("builtins").attr("super")(cls, self).attr("__init__")(*args, **kwargs);
    // Opening the client is plumbing, not a step of the case: no report step on every
    // case. A class of the tester's own that redefines key_new_client still has it called.
    if (!py::type::of(self).attr("key_new_client").is(cls.attr("key_new_client"))) {
        self.attr("key_new_client")();
        return;
    }
    py::dict defaults;
    defaults["timeout"] = kDefaultClientTimeout;
    new_client(KeywordArgs{self, defaults});
}

} // namespace

py::object define_api_keyword(py::module_ &module, py::object base_keyword) {
    py::dict ns;
    ns["_current_request"] = py::none();
    ns["_current_response"] = py::none();
    // The request record that set_json filled, so send_http knows the JSON body was given.
    ns["_json_request"] = py::none();
    ns["_client"] = py::none();
    // The settings of a client not built yet (see client()); None once it is.
    ns["_pending_client"] = py::none();

    // pybind11 must not see the name "__init__" (it special-cases it); stored under it.
    ns["__init__"] = method(&init_api_keyword, "init", py::arg("self"),
                            "Arguments are those of BaseKeyWord (exchanger, usefixtures); then "
                            "opens the HTTP client with key_new_client().");
    py::object property = py::module_::import("builtins").attr("property");
    ns["current_request"] =
        property(py::cpp_function(&current_request, py::name("current_request"), py::arg("self")),
                 py::none(), py::none(),
                 "The request under construction; a new empty MockRequest (which forgets the last "
                 "response) when none is being built.");
    ns["client"] = property(
        py::cpp_function(&client, py::name("client"), py::arg("self")),
        py::cpp_function(&set_client, py::name("client"), py::arg("self"), py::arg("value")),
        py::none(), "The HTTP client of key_new_client, built when first used.");
    ns["current_response"] =
        property(py::cpp_function(&current_response, py::name("current_response"), py::arg("self")),
                 py::none(), py::none(),
                 "The response of the last send_http; ValueError while there is none.");
    ns["log_request"] =
        static_method(&log_request, "log_request", py::arg("request"),
                      "Event hook: logs method, headers and body of an outgoing request.");
    ns["log_response"] =
        static_method(&log_response, "log_response", py::arg("response"),
                      "Event hook: logs status code, headers and body of a response (reads it).");
    add_keywords(module, ns);

    return py_helpers::make_class(module, "ApiKeyWord", py::make_tuple(base_keyword), ns,
                                  "Keyword library for HTTP API tests.");
}

} // namespace lumox::actlib
