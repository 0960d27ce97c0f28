// lumox.responses: the response validator and the text assertions of YAML steps.
#include "text_assertion.hpp"
#include "validator.hpp"

PYBIND11_MODULE(responses, m) {
    m.doc() = "Response validation (validator) and text assertions (TextField.form_asserts).";
    lumox::responses::add_text_assertion_classes(m);
    m.def("validator", &lumox::responses::validator, pybind11::arg("resp"),
          "validator(resp, **sections) -> dict\n\n"
          "Checks the response against the sections status_code, headers, text and json. "
          "Returns a mapping part -> reason for each failed check; empty when valid.");
}
