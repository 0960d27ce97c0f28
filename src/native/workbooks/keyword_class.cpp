#include "keyword_class.hpp"

#include <string>

namespace lumox::workbooks {

py::str keyword_type_setting() {
    return py::str(py::module_::import("lumox.settings").attr("lumox").attr("keyword_type"));
}

py::object keyword_class() {
    const py::str setting = keyword_type_setting();
    const std::string text = setting.cast<std::string>();
    const auto colon = text.find(':');
    if (colon == std::string::npos) {
        return py::module_::import("lumox.actlib")
            .attr("get_class_by_type")(py::arg("kw_type") = setting);
    }
    py::object target =
        py::module_::import("importlib").attr("import_module")(py::str(text.substr(0, colon)));
    const std::string class_path = text.substr(colon + 1);
    std::string::size_type begin = 0;
    while (true) {
        const auto dot = class_path.find('.', begin);
        target = target.attr(py::str(class_path.substr(begin, dot - begin)));
        if (dot == std::string::npos) {
            break;
        }
        begin = dot + 1;
    }
    if (!PyType_Check(target.ptr())) {
        const std::string message = "[lumox] keyword_type = '" + text + "' names " +
                                    py::repr(target).cast<std::string>() + ", not a class";
        PyErr_SetString(PyExc_TypeError, message.c_str());
        throw py::error_already_set();
    }
    return target;
}

} // namespace lumox::workbooks
