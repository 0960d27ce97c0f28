#include "case_loader.hpp"

#include "case_schema.hpp"
#include "fast_yaml.hpp"
#include "flows.hpp"

#include "core/case_format.hpp"
#include "core/suggestions.hpp"
#include "core/utf8.hpp"
#include "core/yaml_hints.hpp"
#include "native/common/broken_files.hpp"
#include "native/common/pylog.hpp"
#include "native/common/truthy.hpp"

#include <algorithm>
#include <map>
#include <utility>

namespace lumox::yaml_cases {

namespace {

using lumox::py_helpers::raise_collect_error;

constexpr std::size_t described_text_limit = 60;

std::string text_of(py::handle value) { return lumox::py_helpers::to_str(value); }

std::string repr_of(py::handle value) { return py::repr(value).cast<std::string>(); }

std::string indented(const std::string &text, const std::string &indent) {
    std::string out = indent;
    for (char c : text) {
        out += c;
        if (c == '\n') {
            out += indent;
        }
    }
    return out;
}

// The file's text; unreadable or non-UTF-8 files are collection errors.
py::str read_text(py::handle file_node, const std::string &where) {
    try {
        return file_node.attr("path").attr("read_text")(py::arg("encoding") = "utf-8");
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_UnicodeDecodeError)) {
            raise_collect_error(file_node, where + ": not UTF-8 text: " + text_of(error.value()));
        }
        if (error.matches(PyExc_OSError)) {
            raise_collect_error(file_node, where + ": cannot be read: " + text_of(error.value()));
        }
        throw;
    }
}

// The documents of `text` read by `loader_class`; YAMLError propagates.
std::vector<Document> read_documents(py::handle loader_class, py::str text,
                                     const std::string &where) {
    py::object loader = loader_class(text);
    // Marks in YAML errors carry this name instead of "<unicode string>" (the pure-Python
    // loader's; libyaml's keep theirs).
    py::setattr(loader, "name", py::str(where));
    std::vector<Document> documents;
    try {
        while (loader.attr("check_node")().cast<bool>()) {
            py::object node = loader.attr("get_node")();
            py::ssize_t line0 = node.attr("start_mark").attr("line").cast<py::ssize_t>();
            documents.push_back({loader.attr("construct_document")(node), line0});
        }
    } catch (py::error_already_set &) {
        loader.attr("dispose")();
        throw;
    }
    loader.attr("dispose")();
    return documents;
}

// A hint below PyYAML's message for the common mistakes, when one fits.
std::string hint_for(py::handle yaml_error, py::handle text) {
    py::object problem = py::getattr(yaml_error, "problem", py::none());
    py::object mark = py::getattr(yaml_error, "problem_mark", py::none());
    if (problem.is_none() || mark.is_none()) {
        return "";
    }
    const std::string hint = lumox::core::yaml_mistake_hint(text_of(problem), text_of(text),
                                                            mark.attr("line").cast<std::size_t>());
    return hint.empty() ? "" : "\n" + hint;
}

std::vector<Document> parse_documents(py::handle file_node, py::str text,
                                      const std::string &where) {
    py::module_ yaml = py::module_::import("yaml");
    if (auto documents = load_with_libyaml(text)) {
        return std::move(*documents);
    }
    py::object python_loader = yaml.attr("SafeLoader");
    // libyaml's loader when PyYAML has it (ten times faster), with the same values and
    // document lines. What it refuses goes to the pure-Python loader, which has the last
    // word: it also takes escapes libyaml rejects, and its errors name the file.
    py::object fast_loader = py::getattr(yaml, "CSafeLoader", python_loader);
    if (!fast_loader.is(python_loader)) {
        try {
            return read_documents(fast_loader, text, where);
        } catch (py::error_already_set &error) {
            if (!error.matches(yaml.attr("YAMLError").ptr())) {
                throw;
            }
        }
    }
    try {
        return read_documents(python_loader, text, where);
    } catch (py::error_already_set &error) {
        if (error.matches(yaml.attr("YAMLError").ptr())) {
            raise_collect_error(file_node, where + ": not valid YAML:\n" +
                                               indented(text_of(error.value()), "    ") +
                                               hint_for(error.value(), text));
        }
        throw;
    }
}

bool is_blank(const std::string &text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool is_mark_name(py::handle name) {
    if (!PyUnicode_Check(name.ptr())) {
        return false;
    }
    std::string text = text_of(name);
    return !text.empty() && text[0] != '_' && py::str(name).attr("isidentifier")().cast<bool>();
}

// One entry of `marks`: `skip`, `{skip: {reason: ...}}`, `{usefixtures: [chrome]}`,
// `{skipif: "condition"}`. Appends a problem and returns None when the entry is malformed.
py::object build_mark(py::handle entry, std::vector<std::string> &problems,
                      const std::string &where) {
    py::object name;
    py::object arguments = py::none();
    if (PyUnicode_Check(entry.ptr())) {
        name = py::reinterpret_borrow<py::object>(entry);
    } else if (PyDict_Check(entry.ptr()) && py::len(entry) == 1) {
        auto only = *py::reinterpret_borrow<py::dict>(entry).begin();
        name = py::reinterpret_borrow<py::object>(only.first);
        arguments = py::reinterpret_borrow<py::object>(only.second);
    } else {
        problems.push_back(where +
                           " must be a mark name or a mapping of one mark name to its "
                           "arguments, got " +
                           describe_value(entry));
        return py::none();
    }
    if (!is_mark_name(name)) {
        problems.push_back(where + ": " + describe_value(name) + " is not a mark name");
        return py::none();
    }
    // Through pytest.mark, so that --strict-markers and the markers registry apply.
    py::object decorator = py::module_::import("pytest").attr("mark").attr(name);
    if (arguments.is_none()) {
        return decorator.attr("mark");
    }
    if (PyList_Check(arguments.ptr())) {
        return decorator(*arguments).attr("mark");
    }
    if (PyDict_Check(arguments.ptr())) {
        for (py::handle key : arguments) {
            if (!PyUnicode_Check(key.ptr())) {
                problems.push_back(where + ": argument name " + describe_value(key) +
                                   " is not text");
                return py::none();
            }
        }
        return decorator(**arguments).attr("mark");
    }
    return decorator(arguments).attr("mark");
}

py::list build_marks(py::handle marks, std::vector<std::string> &problems,
                     const std::string &where) {
    py::list built;
    if (marks.is_none()) {
        return built;
    }
    if (!PyList_Check(marks.ptr())) {
        problems.push_back(where + ": marks must be a list, got " + describe_value(marks));
        return built;
    }
    std::size_t number = 0;
    for (py::handle entry : marks) {
        ++number;
        py::object mark =
            build_mark(entry, problems, where + ": marks entry " + std::to_string(number));
        if (!mark.is_none()) {
            built.append(mark);
        }
    }
    return built;
}

bool strict_keys() {
    return lumox::py_helpers::truthy(
        py::module_::import("lumox.settings").attr("lumox").attr("strict_steps"));
}

// Keys one typo away from lumox's own are mistakes (a `reponse:` would skip its check and
// pass); other keys belong to other plug-ins unless [lumox] strict_steps is on.
void check_keys(py::handle mapping, const std::vector<std::string> &known, const char *what,
                bool strict, std::vector<std::string> &problems, const std::string &where) {
    for (auto [key, value] : py::reinterpret_borrow<py::dict>(mapping)) {
        const std::string name = text_of(key);
        if (std::find(known.begin(), known.end(), name) != known.end()) {
            continue;
        }
        const std::string hint = lumox::core::did_you_mean(lumox::core::closest_names(name, known));
        if (!hint.empty()) {
            problems.push_back(where + ": unknown " + what + " key " + repr_of(key) + ", " + hint);
        } else if (strict) {
            std::string names;
            for (const std::string &known_name : known) {
                names += (names.empty() ? "" : ", ") + known_name;
            }
            problems.push_back(where + ": unknown " + what + " key " + repr_of(key) + " (" + what +
                               " keys: " + names +
                               "; [lumox] strict_steps = true allows no others)");
        }
    }
}

// The keys of a case, a step, a request and a response as the case format declares them,
// and the standard methods as the request's method schema lists them.
struct SectionKeys {
    std::vector<std::string> cases;
    std::vector<std::string> steps;
    std::vector<std::string> request;
    std::vector<std::string> response;
    std::vector<std::string> methods;
};

std::vector<std::string> declared_keys(std::string_view section) {
    std::vector<std::string> names;
    for (const lumox::core::CaseFormatKey &key : lumox::core::case_format_section(section).keys) {
        names.emplace_back(key.name);
    }
    return names;
}

const SectionKeys &section_keys() {
    static const SectionKeys *keys = [] {
        std::vector<std::string> methods;
        py::object request = case_schema()["definitions"]["request"]["anyOf"][py::int_(1)];
        for (py::handle name : request["properties"]["method"]["anyOf"][py::int_(0)]["enum"]) {
            methods.push_back(text_of(name));
        }
        return new SectionKeys{declared_keys("case"), declared_keys("step"),
                               declared_keys("request"), declared_keys("response"),
                               std::move(methods)};
    }();
    return *keys;
}

// A method one typo away from a standard one (PSOT) would be sent as written; other
// methods (WebDAV's PROPFIND, ...) and templates are the tester's own.
void check_method(py::handle request, std::vector<std::string> &problems,
                  const std::string &where) {
    if (!py::reinterpret_borrow<py::dict>(request).contains("method")) {
        return;
    }
    py::object method = py::reinterpret_borrow<py::dict>(request)["method"];
    if (!PyUnicode_Check(method.ptr()) || text_of(method).find("{{") != std::string::npos) {
        return;
    }
    const std::string upper = text_of(method.attr("upper")());
    const std::vector<std::string> &methods = section_keys().methods;
    if (std::find(methods.begin(), methods.end(), upper) != methods.end()) {
        return;
    }
    const std::string hint = lumox::core::did_you_mean(lumox::core::closest_names(upper, methods));
    if (!hint.empty()) {
        problems.push_back(where + ": method " + repr_of(method) + " is not an HTTP method, " +
                           hint);
    }
}

// A text that is one {{ ... }} template: its value is known once the step is rendered.
bool is_whole_template(py::handle value) {
    if (!PyUnicode_Check(value.ptr())) {
        return false;
    }
    const std::string text = text_of(py::str(value).attr("strip")());
    return text.size() >= 4 && text.rfind("{{", 0) == 0 &&
           text.compare(text.size() - 2, 2, "}}") == 0;
}

// Each extract entry is [attr, expr] or [attr, expr, index].
void check_extract_shapes(py::handle extract, std::vector<std::string> &problems,
                          const std::string &where) {
    for (auto [var_name, entry] : py::reinterpret_borrow<py::dict>(extract)) {
        if (is_whole_template(entry)) {
            continue; // a list once the step is rendered
        }
        const bool listed = PyList_Check(entry.ptr()) != 0;
        if (!listed || (py::len(entry) != 2 && py::len(entry) != 3)) {
            problems.push_back(where + ": extract " + repr_of(var_name) +
                               " must be a list [attr, expr] or [attr, expr, index], such as "
                               "[json, '$.token'], not " +
                               (listed ? "a list of " + std::to_string(py::len(entry)) + " items"
                                       : describe_value(entry)));
        }
    }
}

// Sections written as mappings are checked as written; a section given as one template
// text is only known once rendered.
void check_sections(py::handle step, const StepChecks &checks, std::vector<std::string> &problems,
                    const std::string &where) {
    const bool strict = checks.strict_keys;
    py::dict sections = py::reinterpret_borrow<py::dict>(step);
    if (sections.contains("response") && PyDict_Check(py::object(sections["response"]).ptr())) {
        check_keys(sections["response"], section_keys().response, "response", strict, problems,
                   where);
    }
    if (sections.contains("request") && PyDict_Check(py::object(sections["request"]).ptr())) {
        py::dict request = sections["request"];
        // `jsno` reached httpx as "unexpected keyword argument"; `PSOT` was sent.
        check_keys(request, section_keys().request, "request", strict, problems, where);
        check_method(request, problems, where);
        if (request.contains("json")) {
            for (const char *other : {"data", "content", "files"}) {
                if (request.contains(other) && !py::object(request[other]).is_none()) {
                    problems.push_back(where + ": the request has both 'json' and '" + other +
                                       "', and would send only one of them as its body; keep "
                                       "one (files and data go together, json alone)");
                }
            }
        }
    }
    const std::size_t problems_before_extract = problems.size();
    if (sections.contains("extract") && PyDict_Check(py::object(sections["extract"]).ptr())) {
        check_extract_shapes(sections["extract"], problems, where);
    }
    const bool extract_shapes_wrong = problems.size() != problems_before_extract;
    // Value types: a timeout of 'abc' or a header of 5 failed only once sent.
    if (!checks.value_types) {
        return;
    }
    for (auto [key, value] : sections) {
        const std::string name = text_of(key);
        py::object schema = step_key_schema(name);
        if (schema.is_none() || (name == "extract" && extract_shapes_wrong)) {
            continue;
        }
        std::vector<std::string> found;
        check_value(schema, value, name, found);
        for (const std::string &problem : found) {
            problems.push_back(where + ": " + problem);
        }
    }
}

// Checks one document; appends its problems and returns false when it is not a case.
bool check_case(py::handle file_node, const Document &document, const StepChecks &checks,
                std::vector<std::string> &problems, const std::string &where, CaseSpec &found) {
    if (!PyDict_Check(document.value.ptr())) {
        problems.push_back(where + ": a case must be a mapping with test_name and steps, got " +
                           describe_value(document.value));
        return false;
    }
    py::dict case_map = py::reinterpret_borrow<py::dict>(document.value);
    if (!case_map.contains("test_name")) {
        std::string message = where + ": test_name is missing";
        for (auto [key, value] : case_map) {
            if (lumox::core::is_near_miss(text_of(key), "test_name")) {
                message += "; the case has " + repr_of(key) + ", did you mean 'test_name'?";
            }
        }
        problems.push_back(message);
        return false;
    }
    py::object name = case_map["test_name"];
    if (!PyUnicode_Check(name.ptr()) || is_blank(text_of(name))) {
        problems.push_back(where + ": test_name must be non-empty text, got " +
                           describe_value(name));
        return false;
    }
    if (!lumox::py_helpers::is_utf8_encodable(name)) {
        problems.push_back(where + ": test_name " + repr_of(name) +
                           " holds a lone surrogate (an escape like \\ud800 that stands for no "
                           "character): write the character itself");
        return false;
    }
    std::string case_where = where + ", case " + repr_of(name);
    std::size_t problems_before = problems.size();
    check_keys(case_map, section_keys().cases, "case", checks.strict_keys, problems, case_where);
    py::list steps;
    if (!case_map.contains("steps")) {
        problems.push_back(case_where + ": steps is missing");
    } else {
        steps = check_steps(case_map["steps"], checks, problems, case_where);
        std::vector<std::string> calling;
        check_uses(steps, file_node.attr("path"), rootdir_of(file_node), checks, calling, problems,
                   case_where);
    }
    std::vector<DataRow> rows;
    if (case_map.contains("parameters")) {
        rows = read_data_rows(case_map["parameters"], file_node.attr("path"), problems, case_where);
    }
    py::object marks = case_map.contains("marks") ? py::object(case_map["marks"]) : py::none();
    py::list built_marks = build_marks(marks, problems, case_where);
    if (problems.size() != problems_before) {
        return false;
    }
    found =
        CaseSpec{py::str(name), case_map, steps, built_marks, document.line0, 0, std::move(rows)};
    return true;
}

} // namespace

py::list check_steps(py::handle steps, const StepChecks &checks, std::vector<std::string> &problems,
                     const std::string &where) {
    if (!PyList_Check(steps.ptr())) {
        problems.push_back(where + ": steps must be a list of mappings, got " +
                           describe_value(steps));
        return py::list();
    }
    std::size_t number = 0;
    for (py::handle step : steps) {
        ++number;
        if (!PyDict_Check(step.ptr())) {
            problems.push_back(where + ": step " + std::to_string(number) +
                               " must be a mapping of step keys, got " + describe_value(step));
            continue;
        }
        const std::string step_where = where + ", step " + std::to_string(number);
        check_keys(step, section_keys().steps, "step", checks.strict_keys, problems, step_where);
        check_sections(step, checks, problems, step_where);
    }
    return py::reinterpret_borrow<py::list>(steps);
}

py::object rootdir_of(py::handle file_node) { return file_node.attr("config").attr("rootpath"); }

StepChecks step_checks(py::handle file_node) {
    // With lumox's step runner left out (-p no:lumox) the steps are another runner's.
    return StepChecks{
        strict_keys(),
        py::bool_(file_node.attr("config").attr("pluginmanager").attr("has_plugin")("lumox"))};
}

std::string describe_value(py::handle value) {
    if (value.is_none()) {
        return "nothing (null)";
    }
    std::string kind = PyDict_Check(value.ptr())   ? "a mapping"
                       : PyList_Check(value.ptr()) ? "a list"
                       : PyUnicode_Check(value.ptr())
                           ? "text"
                           : py::str(py::type::of(value).attr("__name__")).cast<std::string>();
    std::string text;
    try {
        text = repr_of(value);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_RecursionError)) {
            throw;
        }
        text = "(nested too deep to show)";
    }
    return kind + " " + lumox::core::cut_utf8(text, described_text_limit);
}

LoadedFile load_cases(py::handle file_node) {
    std::string where = text_of(file_node.attr("nodeid"));
    py::str text = read_text(file_node, where);
    std::vector<Document> documents = parse_documents(file_node, text, where);

    const StepChecks checks = step_checks(file_node);
    LoadedFile loaded{text, {}, {}};
    std::map<std::string, std::string> first_use_of_name;
    std::vector<std::pair<std::size_t, std::vector<std::string>>> broken_documents;
    std::size_t number = 0;
    for (const Document &document : documents) {
        ++number;
        if (document.value.is_none()) {
            continue; // an empty document, e.g. a trailing '---'
        }
        std::string document_where = where + ", document " + std::to_string(number) + " (line " +
                                     std::to_string(document.line0 + 1) + ")";
        std::vector<std::string> problems;
        CaseSpec found;
        if (!check_case(file_node, document, checks, problems, document_where, found)) {
            broken_documents.emplace_back(number, std::move(problems));
            continue;
        }
        found.document_index = number - 1;
        // Two cases of one name would share a node id: selection, reruns and reports
        // could not tell them apart.
        std::string name = text_of(found.name);
        auto [previous, inserted] = first_use_of_name.emplace(name, document_where);
        if (!inserted) {
            broken_documents.emplace_back(
                number, std::vector<std::string>{document_where + ": test_name " +
                                                 repr_of(found.name) + " is already used by " +
                                                 previous->second.substr(where.size() + 2)});
            continue;
        }
        loaded.cases.push_back(std::move(found));
    }
    // Named after the sound cases, so that a broken case never takes a sound one's name.
    for (auto &[document_number, problems] : broken_documents) {
        std::string name;
        py::object value = documents[document_number - 1].value;
        if (PyDict_Check(value.ptr()) && value.contains("test_name")) {
            py::object written = value["test_name"];
            if (PyUnicode_Check(written.ptr()) && !is_blank(text_of(written)) &&
                lumox::py_helpers::is_utf8_encodable(written)) {
                name = text_of(written);
            }
        }
        if (name.empty() || !first_use_of_name.emplace(name, "").second) {
            name = "document " + std::to_string(document_number);
        }
        std::string message;
        for (const std::string &problem : problems) {
            message += (message.empty() ? "" : "\n") + problem;
        }
        loaded.broken.push_back(
            {py::str(name), std::move(message), documents[document_number - 1].line0});
    }
    return loaded;
}

py::list read_documents_again(py::handle file_node, py::str text) {
    py::list values;
    for (const Document &document :
         parse_documents(file_node, text, text_of(file_node.attr("nodeid")))) {
        values.append(document.value);
    }
    return values;
}

} // namespace lumox::yaml_cases
