#include "secrets.hpp"

#include "core/ascii_text.hpp"
#include "core/http_attachment_text.hpp"
#include "data_rows.hpp"
#include "pylog.hpp"

#include <string>
#include <vector>

namespace lumox::py_helpers {

namespace {

constexpr int kMaxDepth = 100;
constexpr const char *kMask = "***";

py::object masked_headers(py::handle headers, bool all_secret) {
    py::dict masked;
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(headers)) {
        const std::string text = to_str(value);
        masked[name] = (all_secret || core::is_secret_header(to_str(name)))
                           ? py::str(core::masked_header_value(text))
                           : py::reinterpret_borrow<py::object>(value);
    }
    return masked;
}

// `done` maps containers already copied to their copy: a container reached through many
// aliases is copied once, so the copy is no larger than the value as written.
py::object walk(py::handle value, int depth, py::set &active, py::dict &done) {
    if (depth > kMaxDepth || !(PyDict_Check(value.ptr()) || PyList_Check(value.ptr()))) {
        return py::reinterpret_borrow<py::object>(value);
    }
    py::int_ id(reinterpret_cast<std::uintptr_t>(value.ptr()));
    if (active.contains(id)) {
        return py::reinterpret_borrow<py::object>(value);
    }
    if (done.contains(id)) {
        return done[id];
    }
    active.add(id);
    py::object copy;
    if (PyList_Check(value.ptr())) {
        py::list items;
        for (py::handle item : value) {
            items.append(walk(item, depth + 1, active, done));
        }
        copy = items;
    } else {
        py::dict entries;
        for (auto [key, item] : py::reinterpret_borrow<py::dict>(value)) {
            const std::string name = PyUnicode_Check(key.ptr()) ? to_str(key) : "";
            if ((name == "headers" || name == "cookies") && PyDict_Check(item.ptr())) {
                entries[key] = masked_headers(item, name == "cookies");
            } else {
                entries[key] = walk(item, depth + 1, active, done);
            }
        }
        copy = entries;
    }
    active.attr("discard")(id);
    done[id] = copy;
    return copy;
}

// JSON text of an object of headers or cookies, masked; anything else unchanged.
py::object masked_json_text(py::handle text, bool all_secret) {
    if (!PyUnicode_Check(text.ptr())) {
        return py::reinterpret_borrow<py::object>(text);
    }
    py::module_ json = py::module_::import("json");
    try {
        py::object parsed = json.attr("loads")(text);
        if (!PyDict_Check(parsed.ptr())) {
            return py::reinterpret_borrow<py::object>(text);
        }
        return json.attr("dumps")(masked_headers(parsed, all_secret),
                                  py::arg("ensure_ascii") = false);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_ValueError)) {
            throw;
        }
        return py::reinterpret_borrow<py::object>(text);
    }
}

} // namespace

py::object masked_step(py::handle value) {
    py::set active;
    py::dict done;
    return walk(value, 0, active, done);
}

py::dict masked_keyword_params(py::handle keyword, py::dict params) {
    const std::string name = to_str(keyword);
    // A copy: the call itself goes on with the real values.
    PyObject *copy = PyDict_Copy(params.ptr());
    if (copy == nullptr) {
        throw py::error_already_set();
    }
    py::dict masked = py::reinterpret_steal<py::dict>(copy);
    if (masked.contains("value") && masked.contains("key")) {
        if (name == "add_cookie") {
            masked["value"] = kMask;
        } else if (name == "add_header" && core::is_secret_header(to_str(masked["key"]))) {
            masked["value"] = core::masked_header_value(to_str(masked["value"]));
        }
    }
    for (const char *field : {"headers", "cookies"}) {
        if (masked.contains(field)) {
            masked[field] = masked_json_text(masked[field], std::string(field) == "cookies");
        }
    }
    return masked;
}

py::object masked_keyword_args(py::handle keyword, py::handle args) {
    if (!PyTuple_Check(args.ptr())) {
        return py::reinterpret_borrow<py::object>(args);
    }
    // The API keywords that carry credentials, by the position of their parameters.
    const std::string name = to_str(keyword);
    if (name == "run_sheet") {
        // name=value cells: a secret's value is masked by its name.
        py::list out(py::reinterpret_borrow<py::object>(args));
        for (py::size_t i = 1; i < py::len(out); ++i) {
            if (!PyUnicode_Check(py::object(out[i]).ptr())) {
                continue;
            }
            const std::string cell = to_str(out[i]);
            const auto equals = cell.find('=');
            if (equals != std::string::npos && is_secret_name(cell.substr(0, equals))) {
                out[i] = py::str(cell.substr(0, equals + 1) + kMask);
            }
        }
        return py::tuple(out);
    }
    std::vector<const char *> names;
    if (name == "add_header" || name == "add_cookie") {
        names = {"key", "value"};
    } else if (name == "set_headers") {
        names = {"headers"};
    } else if (name == "set_cookies") {
        names = {"cookies"};
    } else {
        return py::reinterpret_borrow<py::object>(args);
    }
    py::tuple given = py::reinterpret_borrow<py::tuple>(args);
    py::dict params;
    for (size_t i = 0; i < names.size() && i < given.size(); ++i) {
        params[names[i]] = given[i];
    }
    py::dict masked = masked_keyword_params(keyword, params);
    py::list out(given);
    for (size_t i = 0; i < names.size() && i < given.size(); ++i) {
        out[i] = masked[names[i]];
    }
    return py::tuple(out);
}

std::vector<std::string> sent_secrets(py::handle headers) {
    std::vector<std::string> secrets;
    // Shorter values would mask ordinary words of a body.
    constexpr std::size_t kShortest = 4;
    const auto keep = [&](std::string value) {
        if (value.size() >= kShortest) {
            secrets.push_back(std::move(value));
        }
    };
    for (py::handle item : headers.attr("multi_items")()) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        const std::string name = to_str(pair[0]);
        if (!core::is_secret_header(name)) {
            continue;
        }
        const std::string value = to_str(pair[1]);
        keep(value);
        if (const std::size_t blank = value.find(' '); blank != std::string::npos) {
            keep(value.substr(blank + 1)); // the token after "Bearer "
        }
        if (core::lower_ascii(name) == "cookie") {
            for (std::size_t start = 0; start < value.size();) {
                std::size_t end = value.find(';', start);
                end = end == std::string::npos ? value.size() : end;
                const std::string cookie = value.substr(start, end - start);
                if (const std::size_t equals = cookie.find('='); equals != std::string::npos) {
                    keep(cookie.substr(equals + 1));
                }
                start = end + 1;
            }
        }
    }
    return secrets;
}

namespace {

constexpr std::size_t kRememberedSecrets = 1000;

// The attribute `name` of the lumox package, made by `make` on first use: state that all
// extension modules share, as each has its own copy of this code.
template <typename Make>
py::object package_attribute(const char *name, Make make) {
    py::module_ package = py::module_::import("lumox");
    if (!py::hasattr(package, name)) {
        package.attr(name) = make();
    }
    return package.attr(name);
}

py::set sent_secrets_of_run() {
    return package_attribute("_sent_secrets", [] { return py::set(); });
}

} // namespace

void remember_sent_secrets(py::handle headers) {
    py::set remembered = sent_secrets_of_run();
    for (const std::string &secret : sent_secrets(headers)) {
        if (py::len(remembered) < kRememberedSecrets) {
            remembered.add(py::str(secret));
        }
    }
}

std::vector<std::string> remembered_secrets() {
    std::vector<std::string> secrets;
    for (py::handle secret : sent_secrets_of_run()) {
        secrets.push_back(to_str(secret));
    }
    return secrets;
}

namespace {

// str with a masked repr: what pytest's -l and --fulltrace show of the locals holding it,
// while httpx sends its text as it is.
py::object secret_text_class() {
    return package_attribute("_SecretText", [] {
        py::module_ builtins = py::module_::import("builtins");
        py::object cls = builtins.attr("type")("SecretText", py::make_tuple(builtins.attr("str")),
                                               py::dict(py::arg("__slots__") = py::tuple()));
        cls.attr("__repr__") = py::cpp_function(
            [](py::handle self) {
                return py::repr(py::str(core::masked_header_value(to_str(self))));
            },
            py::is_method(cls));
        return cls;
    });
}

// A copy of the mapping with the values `is_secret(name)` picks wrapped as SecretText.
template <typename Pick>
py::object hidden_values(py::handle mapping, Pick is_secret) {
    if (!py::isinstance<py::dict>(mapping)) {
        return py::reinterpret_borrow<py::object>(mapping);
    }
    py::object secret = secret_text_class();
    py::dict copy;
    for (auto [name, value] : py::reinterpret_borrow<py::dict>(mapping)) {
        copy[name] = py::isinstance<py::str>(value) && is_secret(name)
                         ? secret(value)
                         : py::reinterpret_borrow<py::object>(value);
    }
    return copy;
}

} // namespace

void hide_secrets_in_repr(py::dict request) {
    if (request.contains("headers")) {
        request["headers"] = hidden_values(request["headers"], [](py::handle name) {
            return core::is_secret_header(to_str(name));
        });
    }
    if (request.contains("cookies")) {
        request["cookies"] = hidden_values(request["cookies"], [](py::handle) { return true; });
    }
}

py::str masked_headers_repr(py::handle headers) {
    py::list items;
    for (py::handle item : headers.attr("multi_items")()) {
        py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
        const std::string name = to_str(pair[0]);
        items.append(
            core::is_secret_header(name)
                ? py::make_tuple(pair[0], py::str(core::masked_header_value(to_str(pair[1]))))
                : pair);
    }
    py::dict as_dict(items);
    std::string encoding;
    if (to_str(headers.attr("encoding")) != "ascii") {
        encoding = ", encoding=" + to_str(py::repr(headers.attr("encoding")));
    }
    const bool no_duplicates = py::len(as_dict) == py::len(items);
    return py::str(to_str(py::type::handle_of(headers).attr("__name__")) + "(" +
                   to_str(py::repr(no_duplicates ? py::object(as_dict) : py::object(items))) +
                   encoding + ")");
}

} // namespace lumox::py_helpers
