#include "case_schema.hpp"

#include "case_loader.hpp"

#include "core/case_format.hpp"
#include "core/suggestions.hpp"
#include "native/common/pylog.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <stdexcept>

namespace lumox::yaml_cases {

namespace {

constexpr const char *kTemplateRef = "#/definitions/template";
constexpr const char *kDefinitionsPrefix = "#/definitions/";

using lumox::py_helpers::to_str;

py::dict definitions() { return case_schema()["definitions"]; }

// The schema's nodes the checker treats apart, found once (the schema lives for the run).
struct SpecialNodes {
    const PyObject *request;   // the mapping form of a request
    const PyObject *response;  // the mapping form of a response
    const PyObject *attribute; // what an extract reads: [attr, expr, index][0]
};

const SpecialNodes &special_nodes() {
    static const SpecialNodes nodes = [] {
        py::dict found = definitions();
        return SpecialNodes{
            py::object(found["request"]["anyOf"][py::int_(1)]).ptr(),
            py::object(found["response"]["anyOf"][py::int_(1)]).ptr(),
            py::object(found["extraction"]["anyOf"][py::int_(0)]["items"][py::int_(0)]).ptr()};
    }();
    return nodes;
}

// The request and response mappings: their unknown keys are worded by the loader.
bool unknown_keys_checked_elsewhere(py::handle node) {
    return node.ptr() == special_nodes().request || node.ptr() == special_nodes().response;
}

// The request's method: lumox sends any method (WebDAV's PROPFIND, ...); the loader flags
// only near misses of the standard ones.
bool method_of_request(py::handle node, py::handle key) {
    return node.ptr() == special_nodes().request && to_str(key) == "method";
}

bool is_text(py::handle value) { return PyUnicode_Check(value.ptr()) != 0; }

// The attribute an extract reads: any attribute of the response works (content, url,
// reason_phrase, ...), so only a near miss of the usual ones is a mistake.
py::object open_enum_of(py::handle node) {
    if (node.ptr() != special_nodes().attribute) {
        return py::none();
    }
    return py::reinterpret_borrow<py::dict>(node)["anyOf"][py::int_(0)]["enum"];
}

std::string comma_joined(const std::vector<std::string> &names) {
    std::string out;
    for (const std::string &name : names) {
        out += (out.empty() ? "" : ", ") + name;
    }
    return out;
}

std::vector<std::string> texts_of(py::handle list) {
    std::vector<std::string> out;
    for (py::handle item : list) {
        out.push_back(to_str(item));
    }
    return out;
}

bool has(py::handle schema, const char *key) {
    return PyDict_Check(schema.ptr()) && py::reinterpret_borrow<py::dict>(schema).contains(key);
}

py::object get(py::handle schema, const char *key) {
    return py::reinterpret_borrow<py::dict>(schema)[key];
}

// Follows $ref to the definition it names.
py::object resolved(py::handle schema) {
    py::object node = py::reinterpret_borrow<py::object>(schema);
    while (has(node, "$ref")) {
        const std::string ref = to_str(get(node, "$ref"));
        node = definitions()[py::str(ref.substr(std::string(kDefinitionsPrefix).size()))];
    }
    return node;
}

bool is_template_ref(py::handle schema) {
    return has(schema, "$ref") && to_str(get(schema, "$ref")) == kTemplateRef;
}

std::string json_kind(py::handle value) {
    if (value.is_none()) {
        return "null";
    }
    if (PyBool_Check(value.ptr())) {
        return "boolean";
    }
    if (PyLong_Check(value.ptr())) {
        return "integer";
    }
    if (PyFloat_Check(value.ptr())) {
        return "number";
    }
    if (PyUnicode_Check(value.ptr())) {
        return "string";
    }
    // YAML reads an unquoted 2024-01-01 as a date; it is used by its text, as the schema's
    // editors read it.
    static const py::object *date_type =
        new py::object(py::module_::import("datetime").attr("date"));
    if (py::isinstance(value, *date_type)) {
        return "string";
    }
    if (PyDict_Check(value.ptr())) {
        return "object";
    }
    if (PyList_Check(value.ptr())) {
        return "array";
    }
    return "other"; // dates and other YAML tags: no JSON kind
}

bool kind_matches(const std::string &type, py::handle value) {
    const std::string kind = json_kind(value);
    if (type == "number") {
        return kind == "number" || kind == "integer";
    }
    if (type == "integer" && kind == "number") {
        const double number = value.cast<double>();
        return std::isfinite(number) && number == std::floor(number);
    }
    return type == kind;
}

bool type_matches(py::handle type, py::handle value) {
    if (PyUnicode_Check(type.ptr())) {
        return kind_matches(to_str(type), value);
    }
    for (py::handle one : type) {
        if (kind_matches(to_str(one), value)) {
            return true;
        }
    }
    return false;
}

std::string joined_alternatives(std::vector<std::string> pieces) {
    std::vector<std::string> unique;
    for (std::string &piece : pieces) {
        if (!piece.empty() && std::find(unique.begin(), unique.end(), piece) == unique.end()) {
            unique.push_back(std::move(piece));
        }
    }
    std::string out;
    for (std::size_t i = 0; i < unique.size(); ++i) {
        out += (i == 0 ? "" : i + 1 == unique.size() ? " or " : ", ") + unique[i];
    }
    return out.empty() ? "something else" : out;
}

std::string kind_words(const std::string &type) {
    static const std::map<std::string, std::string> words = {
        {"string", "text"},        {"number", "a number"},  {"integer", "a whole number"},
        {"boolean", "true/false"}, {"object", "a mapping"}, {"array", "a list"}};
    const auto found = words.find(type);
    return found == words.end() ? type : found->second; // null
}

// A description sentence as a phrase inside a message.
std::string phrase_of(std::string description) {
    while (!description.empty() && (description.back() == '.' || description.back() == ' ')) {
        description.pop_back();
    }
    if (!description.empty()) {
        description[0] =
            static_cast<char>(std::tolower(static_cast<unsigned char>(description[0])));
    }
    return description;
}

std::vector<std::string> expected_pieces(py::handle schema);

std::string expected(py::handle schema) { return joined_alternatives(expected_pieces(schema)); }

// What `schema` allows, in words, one piece per alternative: "a number (0 or more)",
// "null", "a whole {{ }} template".
std::vector<std::string> expected_pieces(py::handle schema) {
    if (is_template_ref(schema)) {
        return {"a whole {{ ... }} template"};
    }
    py::object node = resolved(schema);
    std::vector<std::string> pieces;
    if (has(node, "anyOf")) {
        for (py::handle branch : get(node, "anyOf")) {
            for (std::string &piece : expected_pieces(branch)) {
                if (!pieces.empty() && piece == "a list of " + joined_alternatives(pieces)) {
                    piece = "a list of them";
                }
                pieces.push_back(std::move(piece));
            }
        }
        return pieces;
    }
    if (has(node, "allOf")) {
        return expected_pieces(get(node, "allOf")[py::int_(0)]);
    }
    if (has(node, "enum")) {
        return {"one of " + comma_joined(texts_of(get(node, "enum")))};
    }
    if (has(node, "const")) {
        return {py::repr(get(node, "const")).cast<std::string>()};
    }
    if (has(node, "pattern")) {
        return {has(node, "description") ? phrase_of(to_str(get(node, "description")))
                                         : "text matching " + to_str(get(node, "pattern"))};
    }
    if (!has(node, "type")) {
        return {"anything"};
    }
    py::object type = get(node, "type");
    std::vector<std::string> kinds;
    if (PyUnicode_Check(type.ptr())) {
        kinds.push_back(to_str(type));
    } else {
        for (py::handle one : type) {
            kinds.push_back(to_str(one));
        }
    }
    for (const std::string &kind : kinds) {
        std::string words = kind_words(kind);
        if (kind == "number" && has(node, "minimum")) {
            words += " (" + to_str(get(node, "minimum")) + " or more)";
        }
        if (kind == "array" && has(node, "items") && PyDict_Check(get(node, "items").ptr())) {
            words += " of " + expected(get(node, "items"));
        }
        pieces.push_back(words);
    }
    return pieces;
}

// Whether a branch is meant for values of this kind at all: a mapping written for the
// mapping form of a request is checked inside, not against the template form.
bool admits_kind(py::handle schema, py::handle value) {
    py::object node = resolved(schema);
    if (has(node, "anyOf")) {
        for (py::handle branch : get(node, "anyOf")) {
            if (admits_kind(branch, value)) {
                return true;
            }
        }
        return false;
    }
    if (has(node, "allOf")) {
        return admits_kind(get(node, "allOf")[py::int_(0)], value);
    }
    if (has(node, "type")) {
        return type_matches(get(node, "type"), value) ||
               (json_kind(value) == "number" && type_matches(get(node, "type"), py::int_(0)));
    }
    if (has(node, "enum")) {
        for (py::handle one : get(node, "enum")) {
            if (json_kind(one) == json_kind(value)) {
                return true;
            }
        }
        return false;
    }
    return true;
}

std::string member_path(const std::string &path, py::handle key) {
    const std::string name = to_str(key);
    const bool plain =
        !name.empty() && (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_') &&
        std::all_of(name.begin(), name.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
        });
    if (path.empty()) {
        return plain ? name : "[" + py::repr(key).cast<std::string>() + "]";
    }
    return plain ? path + "." + name : path + "[" + py::repr(key).cast<std::string>() + "]";
}

bool pattern_found(py::handle pattern, py::handle value) {
    // Left alive at exit: it would be released after the interpreter is gone.
    static const py::object *search = new py::object(py::module_::import("re").attr("search"));
    return !(*search)(pattern, value).is_none();
}

void check(py::handle schema, py::handle value, const std::string &path,
           std::vector<std::string> &problems);

// Inside is_valid only whether there is a mistake counts: no message is worded (the repr
// of a value nested thousands deep would not even fit the stack).
int quiet_depth = 0;

bool is_valid(py::handle schema, py::handle value) {
    std::vector<std::string> found;
    ++quiet_depth;
    try {
        check(schema, value, "", found);
    } catch (...) {
        --quiet_depth;
        throw;
    }
    --quiet_depth;
    return found.empty();
}

void mismatch(py::handle schema, py::handle value, const std::string &path,
              std::vector<std::string> &problems) {
    if (quiet_depth > 0) {
        problems.emplace_back();
        return;
    }
    problems.push_back(path + " must be " + expected(schema) + ", got " + describe_value(value));
}

void check_object(py::handle node, py::dict mapping, const std::string &path,
                  std::vector<std::string> &problems) {
    if (has(node, "required")) {
        for (py::handle key : get(node, "required")) {
            if (!mapping.contains(key)) {
                problems.push_back(member_path(path, key) + " is missing");
            }
        }
    }
    py::dict properties = has(node, "properties") ? py::dict(get(node, "properties")) : py::dict();
    py::object additional = has(node, "additionalProperties") ? get(node, "additionalProperties")
                                                              : py::object(py::bool_(true));
    const std::vector<std::string> names = texts_of(properties);
    for (auto [key, member] : mapping) {
        if (method_of_request(node, key) && is_text(member)) {
            continue; // its text is the loader's to check
        }
        if (properties.contains(key)) {
            check(properties[key], member, member_path(path, key), problems);
        } else if (PyDict_Check(additional.ptr())) {
            check(additional, member, member_path(path, key), problems);
        } else if (additional.is(py::bool_(false)) && !unknown_keys_checked_elsewhere(node)) {
            std::string message =
                "unknown key " + py::repr(key).cast<std::string>() + " in " + path;
            const std::string hint =
                lumox::core::did_you_mean(lumox::core::closest_names(to_str(key), names));
            problems.push_back(message + (hint.empty() ? "" : ", " + hint) +
                               " (keys: " + comma_joined(names) + ")");
        }
    }
}

void check_array(py::handle node, py::list items, const std::string &path,
                 std::vector<std::string> &problems) {
    const auto count = static_cast<py::ssize_t>(py::len(items));
    if ((has(node, "minItems") && count < get(node, "minItems").cast<py::ssize_t>()) ||
        (has(node, "maxItems") && count > get(node, "maxItems").cast<py::ssize_t>())) {
        problems.push_back(
            path + " must have " + (has(node, "minItems") ? to_str(get(node, "minItems")) : "0") +
            (has(node, "maxItems") ? " to " + to_str(get(node, "maxItems")) : " or more") +
            " items, got " + std::to_string(count));
        return;
    }
    if (!has(node, "items")) {
        return;
    }
    py::object schema_of_items = get(node, "items");
    for (py::ssize_t i = 0; i < count; ++i) {
        const std::string item_path = path + "[" + std::to_string(i) + "]";
        if (PyList_Check(schema_of_items.ptr())) {
            if (i < static_cast<py::ssize_t>(py::len(schema_of_items))) {
                check(schema_of_items[py::int_(i)], items[i], item_path, problems);
            }
        } else {
            check(schema_of_items, items[i], item_path, problems);
        }
    }
}

void check(py::handle schema, py::handle value, const std::string &path,
           std::vector<std::string> &problems) {
    py::object node = resolved(schema);
    if (!PyDict_Check(node.ptr())) {
        return; // true: anything goes
    }
    if (py::object names = open_enum_of(node); !names.is_none() && PyUnicode_Check(value.ptr())) {
        const std::vector<std::string> known = texts_of(names);
        const std::string word = to_str(value);
        if (std::find(known.begin(), known.end(), word) == known.end()) {
            const std::string hint =
                lumox::core::did_you_mean(lumox::core::closest_names(word, known));
            if (!hint.empty()) {
                problems.push_back(path + " " + py::repr(value).cast<std::string>() +
                                   " is not one of " + comma_joined(known) + ", " + hint);
            }
        }
        return;
    }
    if (has(node, "allOf")) {
        for (py::handle part : get(node, "allOf")) {
            check(part, value, path, problems);
        }
    }
    if (has(node, "anyOf")) {
        bool any_valid = false;
        std::vector<py::handle> candidates;
        for (py::handle branch : get(node, "anyOf")) {
            if (is_valid(branch, value)) {
                any_valid = true;
                break;
            }
            if (admits_kind(branch, value)) {
                candidates.push_back(branch);
            }
        }
        if (!any_valid) {
            const bool container = PyDict_Check(value.ptr()) || PyList_Check(value.ptr());
            if (container && candidates.size() == 1) {
                check(candidates.front(), value, path, problems);
            } else {
                mismatch(node, value, path, problems);
            }
            return;
        }
    }
    if (has(node, "not") && is_valid(get(node, "not"), value)) {
        problems.push_back(path + " is not allowed here");
        return;
    }
    if ((has(node, "type") && !type_matches(get(node, "type"), value)) ||
        (has(node, "const") && !get(node, "const").equal(value))) {
        mismatch(node, value, path, problems);
        return;
    }
    if (has(node, "enum")) {
        bool listed = false;
        for (py::handle one : get(node, "enum")) {
            listed = listed || (json_kind(one) == json_kind(value) && one.equal(value));
        }
        if (!listed) {
            mismatch(node, value, path, problems);
            return;
        }
    }
    if (has(node, "pattern") && PyUnicode_Check(value.ptr()) &&
        !pattern_found(get(node, "pattern"), value)) {
        mismatch(node, value, path, problems);
        return;
    }
    const bool numeric = json_kind(value) == "integer" || json_kind(value) == "number";
    double number = numeric ? PyFloat_AsDouble(value.ptr()) : 0.0;
    if (numeric && PyErr_Occurred() != nullptr) {
        PyErr_Clear(); // a whole number beyond a double: far from any minimum here
        number = 0.0;
    }
    if (numeric && has(node, "minimum") && number < get(node, "minimum").cast<double>()) {
        problems.push_back(path + " must be " + to_str(get(node, "minimum")) + " or more, got " +
                           describe_value(value));
        return;
    }
    if (PyDict_Check(value.ptr())) {
        check_object(node, py::reinterpret_borrow<py::dict>(value), path, problems);
    } else if (PyList_Check(value.ptr())) {
        check_array(node, py::reinterpret_borrow<py::list>(value), path, problems);
    }
}

py::object json_value(std::string_view text) {
    return py::module_::import("json").attr("loads")(py::cast(text));
}

// The schema of one declared key, its meaning as the description editors show; a key that
// only names a definition gives the definition its meaning.
py::object key_schema(const core::CaseFormatKey &key, py::dict shared) {
    const auto described = [&](py::handle schema) {
        py::dict out;
        out["description"] = py::cast(key.meaning);
        out.attr("update")(schema);
        return out;
    };
    py::dict value = json_value(key.schema);
    if (py::len(value) == 1 && value.contains("$ref")) {
        py::str name(to_str(value["$ref"]).substr(std::string(kDefinitionsPrefix).size()));
        if (py::dict(shared[name]).contains("description")) {
            throw std::logic_error("the case format key " + std::string(key.name) +
                                   " and the definition it names both have a description");
        }
        shared[name] = described(shared[name]);
        return value;
    }
    return described(value);
}

} // namespace

py::dict case_schema() {
    static const py::dict *schema = [] {
        py::dict whole = json_value(core::case_schema_frame());
        py::dict definitions = whole["definitions"];
        for (const core::CaseFormatSection &section : core::case_format_sections()) {
            py::object mapping = whole;
            for (std::string_view step : section.schema_path) {
                mapping = std::isdigit(static_cast<unsigned char>(step.front())) != 0
                              ? py::object(mapping[py::int_(std::stoi(std::string(step)))])
                              : py::object(mapping[py::cast(step)]);
            }
            py::dict properties;
            py::list required;
            for (const core::CaseFormatKey &key : section.keys) {
                properties[py::cast(key.name)] = key_schema(key, definitions);
                if (key.required) {
                    required.append(py::cast(key.name));
                }
            }
            if (py::len(required) != 0) {
                mapping["required"] = required;
            }
            mapping["properties"] = properties;
        }
        return new py::dict(whole);
    }();
    return *schema;
}

py::list case_format() {
    py::list sections;
    for (const core::CaseFormatSection &section : core::case_format_sections()) {
        py::list keys;
        for (const core::CaseFormatKey &key : section.keys) {
            keys.append(py::dict(py::arg("name") = key.name, py::arg("required") = key.required,
                                 py::arg("meaning") = key.meaning,
                                 py::arg("schema") = json_value(key.schema)));
        }
        sections.append(py::dict(py::arg("name") = section.name, py::arg("keys") = keys));
    }
    return sections;
}

py::object step_key_schema(const std::string &key) {
    py::dict properties = definitions()["step"]["properties"];
    return properties.contains(key) ? py::object(properties[py::str(key)]) : py::object(py::none());
}

void check_value(py::handle schema, py::handle value, const std::string &path,
                 std::vector<std::string> &problems) {
    check(schema, value, path, problems);
}

} // namespace lumox::yaml_cases
