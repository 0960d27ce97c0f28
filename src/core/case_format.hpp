// Every key of a YAML case file, declared once: its name, whether it is required, what it
// means and the JSON Schema of its value. The loader's key checks, the step runner, the
// JSON Schema that editors and collection check cases against and the case format
// reference are all built from these tables, so a key added here is known everywhere.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace lumox::core {

struct CaseFormatKey {
    std::string_view name;
    bool required;
    std::string_view meaning;
    // The JSON Schema of the key's value. A schema that is only {"$ref": ...} hands the
    // meaning to the definition it names, where editors show it.
    std::string_view schema;
};

// One mapping of the case format and its keys.
struct CaseFormatSection {
    std::string_view name; // "case", "step", "request", "response"
    // Where the mapping's schema sits in the whole schema: the keys to walk from its root,
    // a number being an index in a list ("definitions", "request", "anyOf", "1").
    std::span<const std::string_view> schema_path;
    std::span<const CaseFormatKey> keys;
};

// The keys a step runs and the checks of a response, in the order of their tables: the step
// runner and the response validator switch over them, so a key declared without a handler
// does not build (-Wswitch, an error in the builds of make and CI).
enum class StepKey { Request, Response, Extract, Validate, Mock, Retry, Use, With };
enum class ResponseKey { StatusCode, Headers, Text, Json };

std::span<const CaseFormatSection> case_format_sections();
// The section called `name` ("step", ...); an unknown name is a programming error.
const CaseFormatSection &case_format_section(std::string_view name);
// The step key called `name`, or nothing for a key of another plug-in.
std::optional<StepKey> step_key(std::string_view name);
// The response check called `name`, or nothing.
std::optional<ResponseKey> response_key(std::string_view name);

// The rest of the JSON Schema of a case: its title and the definitions of the values keys
// share (templates, marks, text assertions, ...), with the sections' keys left empty, so
// that they keep their place in the whole.
std::string_view case_schema_frame();

} // namespace lumox::core
