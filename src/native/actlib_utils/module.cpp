// lumox.actlib_utils: the keyword engine core -- the keyword base class with dispatch,
// keyword list, documentation and shared keywords; locator expressions and element
// finding; the validator behind `assert`; touch action chains and the request record.
#include "actlib_utils.hpp"

#include "native/common/module_init.hpp"

#include <pybind11/pybind11.h>

namespace lumox::actlib_utils {

const py_helpers::Logger &logger() { return py_helpers::get_logger("lumox.actlib_utils"); }

bool is_browser_session(py::handle driver) {
    return driver.attr("capabilities").contains("browserName");
}

py::object module_class(const char *name) {
    return py::module_::import("lumox.actlib_utils").attr(name);
}

} // namespace lumox::actlib_utils

namespace py = pybind11;

PYBIND11_MODULE(actlib_utils, m) {
    namespace core = lumox::actlib_utils;
    // Documentation texts of the methods are shown exactly as written (the keyword
    // documentation is printed for testers), without generated signature lines.
    py::options options;
    options.disable_function_signatures();

    m.doc() = "Keyword engine core: BaseKeyWord, LumoxLocator, Validator, MyActionChains, "
              "MockRequest.";
    lumox::py_helpers::init_module([&] {
        m.attr("logger") = core::logger().object();
        core::define_locator(m);
        core::define_validator(m);
        core::define_base_keyword(m);
        core::define_action_chains(m);
        core::define_mock_request(m);
    });
}
