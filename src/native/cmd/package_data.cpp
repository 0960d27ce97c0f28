#include "package_data.hpp"

namespace lumox::cmd {

py::object data_file(const char *name) {
    py::object file_path = py::module_::import("lumox.cmd").attr("file_path");
    return py::module_::import("pathlib").attr("Path")(file_path).attr("parent").attr("joinpath")(
        "file", name);
}

} // namespace lumox::cmd
