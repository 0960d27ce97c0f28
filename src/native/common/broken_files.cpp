#include "broken_files.hpp"

namespace lumox::py_helpers {

namespace {

// Kept on the session: the number of broken case files not yet excused.
constexpr const char *broken_files_attr = "_lumox_broken_case_files";

int counted(py::handle session) {
    return py::getattr(session, broken_files_attr, py::int_(0)).cast<int>();
}

} // namespace

py::object check_problems() {
    return py::getattr(py::module_::import("lumox"), kCheckProblemsAttr, py::none());
}

void raise_collect_error(py::handle file_node, const std::string &message) {
    if (py::object problems = check_problems(); !problems.is_none()) {
        problems.attr("append")(py::str(message));
    }
    py::object error = file_node.attr("CollectError")(message);
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

void count_broken_case_file(py::handle session) {
    session.attr(broken_files_attr) = counted(session) + 1;
}

int excuse_broken_case_files(py::handle session) {
    const int broken = counted(session);
    session.attr("testsfailed") = session.attr("testsfailed").cast<int>() - broken;
    session.attr(broken_files_attr) = 0;
    return broken;
}

} // namespace lumox::py_helpers
