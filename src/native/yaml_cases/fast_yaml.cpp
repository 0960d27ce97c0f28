#include "fast_yaml.hpp"

#ifdef LUMOX_HAVE_LIBYAML

#include <yaml.h>

#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lumox::yaml_cases {

namespace {

// Thrown to give the text to PyYAML.
struct NeedsPyYaml {};

class Parser {
public:
    Parser() {
        if (yaml_parser_initialize(&parser_) == 0) {
            throw NeedsPyYaml{};
        }
    }
    ~Parser() { yaml_parser_delete(&parser_); }
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;
    yaml_parser_t *get() { return &parser_; }

private:
    yaml_parser_t parser_{};
};

class Event {
public:
    explicit Event(yaml_parser_t *parser) {
        if (yaml_parser_parse(parser, &event_) == 0) {
            throw NeedsPyYaml{};
        }
    }
    ~Event() { yaml_event_delete(&event_); }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    const yaml_event_t &operator*() const { return event_; }
    const yaml_event_t *operator->() const { return &event_; }

private:
    yaml_event_t event_{};
};

bool is_decimal_int(std::string_view v) {
    std::size_t i = (!v.empty() && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
    if (i == v.size()) {
        return false;
    }
    if (v[i] == '0') {
        return i + 1 == v.size();
    }
    for (; i < v.size(); ++i) {
        if (v[i] < '0' || v[i] > '9') {
            return false;
        }
    }
    return true;
}

// 1.5, -2., +0.25, .5: the fractions SafeLoader reads as float without help.
bool is_plain_fraction(std::string_view v) {
    std::size_t i = (!v.empty() && (v[0] == '-' || v[0] == '+')) ? 1 : 0;
    const std::size_t digits_from = i;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
        ++i;
    }
    const bool leading = i > digits_from;
    if (i == v.size() || v[i] != '.') {
        return false;
    }
    if (!leading && digits_from != 0) {
        return false; // "-.5" is no float to SafeLoader
    }
    ++i;
    const std::size_t fraction_from = i;
    while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
        ++i;
    }
    return i == v.size() && (leading || i > fraction_from);
}

// Every non-text reading SafeLoader gives a plain scalar starting with one of these
// characters (YAML 1.1 ints, floats, timestamps, merge keys and `=`).
const std::regex &special_scalar() {
    static const std::regex pattern(
        "(?:[-+]?[0-9][0-9_]*\\.[0-9_]*(?:[eE][-+][0-9]+)?|\\.[0-9][0-9_]*(?:[eE][-+][0-9]+)?"
        "|[-+]?[0-9][0-9_]*(?::[0-5]?[0-9])+\\.[0-9_]*|[-+]?\\.(?:inf|Inf|INF)|\\.(?:nan|NaN|NAN)"
        "|[-+]?0b[0-1_]+|[-+]?0[0-7_]+|[-+]?(?:0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+"
        "|[-+]?[1-9][0-9_]*(?::[0-5]?[0-9])+"
        "|[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]"
        "|[0-9][0-9][0-9][0-9]-[0-9][0-9]?-[0-9][0-9]?(?:[Tt]|[ \\t]+)[0-9][0-9]?:[0-9][0-9]:"
        "[0-9][0-9](?:\\.[0-9]*)?(?:[ \\t]*(?:Z|[-+][0-9][0-9]?(?::[0-9][0-9])?))?"
        "|<<|=)",
        std::regex::ECMAScript | std::regex::optimize);
    return pattern;
}

// The texts of one file, one str object each: the cases of a file repeat the same keys
// and most of the same values, and items keep their cases for the whole session.
class Texts {
public:
    py::object get(std::string_view v) {
        if (v.size() > kLongest) {
            return decode(v);
        }
        auto found = seen_.find(v);
        if (found != seen_.end()) {
            return found->second;
        }
        py::object text = decode(v);
        seen_.emplace(std::string(v), text);
        return text;
    }

private:
    static constexpr std::size_t kLongest = 200;

    static py::object decode(std::string_view v) {
        PyObject *text =
            PyUnicode_DecodeUTF8(v.data(), static_cast<Py_ssize_t>(v.size()), "strict");
        if (text == nullptr) {
            PyErr_Clear();
            throw NeedsPyYaml{};
        }
        return py::reinterpret_steal<py::object>(text);
    }

    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view v) const {
            return std::hash<std::string_view>{}(v);
        }
    };
    std::unordered_map<std::string, py::object, Hash, std::equal_to<>> seen_;
};

// A plain scalar as SafeLoader reads it.
py::object plain_value(std::string_view v, Texts &texts) {
    if (v.empty() || v == "~" || v == "null" || v == "Null" || v == "NULL") {
        return py::none();
    }
    for (const char *word : {"yes", "Yes", "YES", "true", "True", "TRUE", "on", "On", "ON"}) {
        if (v == word) {
            return py::bool_(true);
        }
    }
    for (const char *word : {"no", "No", "NO", "false", "False", "FALSE", "off", "Off", "OFF"}) {
        if (v == word) {
            return py::bool_(false);
        }
    }
    if (std::strchr("0123456789+-.<=", v[0]) == nullptr) {
        return texts.get(v);
    }
    const std::string number(v);
    if (is_decimal_int(v)) {
        PyObject *value = PyLong_FromString(number.c_str(), nullptr, 10);
        if (value == nullptr) {
            PyErr_Clear();
            throw NeedsPyYaml{};
        }
        return py::reinterpret_steal<py::object>(value);
    }
    if (is_plain_fraction(v)) {
        return py::float_(std::stod(number));
    }
    if (std::regex_match(number, special_scalar())) {
        throw NeedsPyYaml{};
    }
    return texts.get(v);
}

// Case data lives as long as the session, and every full pass of the cyclic collector walks
// whatever is tracked: ten thousand cases kept sixty thousand lists and dicts for it, walked
// again at every pass. A finished container that holds only untracked values (text,
// numbers, containers of those) cannot be part of a cycle, so the collector is told to
// leave it alone; a container holding an alias of one still being read stays tracked.
// Python does the same for dicts, and tracks one again when a container is stored in it;
// a list stays untracked, so a cycle someone later builds through it is kept, not freed.
void untrack_if_atomic(PyObject *container) {
    if (PyList_Check(container)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(container); ++i) {
            if (PyObject_GC_IsTracked(PyList_GET_ITEM(container, i))) {
                return;
            }
        }
    } else {
        PyObject *key = nullptr;
        PyObject *value = nullptr;
        Py_ssize_t position = 0;
        while (PyDict_Next(container, &position, &key, &value)) {
            if (PyObject_GC_IsTracked(value)) {
                return;
            }
        }
    }
    PyObject_GC_UnTrack(container); // leaves an untracked one as it is
}

struct Frame {
    py::object container;
    bool mapping;
    py::object key; // the key waiting for its value (mappings)
};

class Builder {
public:
    explicit Builder(std::vector<Document> &documents) : documents_(documents) {}

    void handle(const yaml_event_t &event) {
        switch (event.type) {
        case YAML_DOCUMENT_START_EVENT:
            anchors_.clear();
            root_ = py::object();
            break;
        case YAML_DOCUMENT_END_EVENT:
            documents_.push_back({root_ ? root_ : py::none(), line0_});
            break;
        case YAML_SCALAR_EVENT: {
            const auto &scalar = event.data.scalar;
            const std::string_view value(reinterpret_cast<const char *>(scalar.value),
                                         scalar.length);
            if (scalar.tag != nullptr &&
                std::strcmp(reinterpret_cast<const char *>(scalar.tag), "!") != 0) {
                throw NeedsPyYaml{};
            }
            const bool plain = scalar.style == YAML_PLAIN_SCALAR_STYLE && scalar.tag == nullptr;
            py::object made = plain ? plain_value(value, texts_) : texts_.get(value);
            remember(scalar.anchor, made);
            add(made, event, true);
            break;
        }
        case YAML_SEQUENCE_START_EVENT:
            start(py::list(), false, event.data.sequence_start.anchor,
                  event.data.sequence_start.tag, event);
            break;
        case YAML_MAPPING_START_EVENT:
            start(py::dict(), true, event.data.mapping_start.anchor, event.data.mapping_start.tag,
                  event);
            break;
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            untrack_if_atomic(stack_.back().container.ptr());
            stack_.pop_back();
            break;
        case YAML_ALIAS_EVENT: {
            auto found = anchors_.find(reinterpret_cast<const char *>(event.data.alias.anchor));
            if (found == anchors_.end()) {
                throw NeedsPyYaml{};
            }
            add(found->second, event,
                PyUnicode_Check(found->second.ptr()) || PyLong_Check(found->second.ptr()) ||
                    PyFloat_Check(found->second.ptr()) || found->second.is_none());
            break;
        }
        default:
            break;
        }
    }

private:
    void remember(const yaml_char_t *anchor, const py::object &made) {
        if (anchor != nullptr) {
            anchors_[reinterpret_cast<const char *>(anchor)] = made;
        }
    }

    void start(py::object container, bool mapping, const yaml_char_t *anchor,
               const yaml_char_t *tag, const yaml_event_t &event) {
        if (tag != nullptr) {
            throw NeedsPyYaml{}; // !!set, !!omap, custom tags
        }
        remember(anchor, container);
        add(container, event, false);
        stack_.push_back({container, mapping, py::object()});
    }

    // Adds a value to the container being read, or makes it the document's root.
    void add(const py::object &value, const yaml_event_t &event, bool can_be_key) {
        if (stack_.empty()) {
            root_ = value;
            line0_ = static_cast<py::ssize_t>(event.start_mark.line);
            return;
        }
        Frame &top = stack_.back();
        if (!top.mapping) {
            if (PyList_Append(top.container.ptr(), value.ptr()) != 0) {
                throw py::error_already_set();
            }
            return;
        }
        if (!top.key) {
            // Mapping and list keys, and merge keys, are PyYAML's to judge.
            if (!can_be_key) {
                throw NeedsPyYaml{};
            }
            top.key = value;
            return;
        }
        if (PyDict_SetItem(top.container.ptr(), top.key.ptr(), value.ptr()) != 0) {
            PyErr_Clear();
            throw NeedsPyYaml{};
        }
        top.key = py::object();
    }

    std::vector<Document> &documents_;
    std::vector<Frame> stack_;
    std::map<std::string, py::object> anchors_;
    Texts texts_;
    py::object root_;
    py::ssize_t line0_ = 0;
};

} // namespace

std::optional<std::vector<Document>> load_with_libyaml(py::handle text) {
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    std::vector<Document> documents;
    try {
        Parser parser;
        yaml_parser_set_input_string(parser.get(), reinterpret_cast<const unsigned char *>(data),
                                     static_cast<size_t>(size));
        yaml_parser_set_encoding(parser.get(), YAML_UTF8_ENCODING);
        Builder builder(documents);
        while (true) {
            Event event(parser.get());
            if (event->type == YAML_STREAM_END_EVENT) {
                break;
            }
            builder.handle(*event);
        }
    } catch (const NeedsPyYaml &) {
        return std::nullopt;
    }
    return documents;
}

} // namespace lumox::yaml_cases

#else

namespace lumox::yaml_cases {

std::optional<std::vector<Document>> load_with_libyaml(py::handle) { return std::nullopt; }

} // namespace lumox::yaml_cases

#endif
