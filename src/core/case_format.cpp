#include "case_format.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace lumox::core {

namespace {

// The keys of each section, in the order the schema and the reference list them. The step
// keys are in the order of StepKey.
// clang-format off
constexpr CaseFormatKey kCaseKeys[] = {
    {"test_name", true,
     "The case's name as pytest shows it; non-empty text, unique within the file.",
     R"json({"type": "string", "pattern": "\\S"})json"},
    {"marks", false,
     "pytest marks of the case: a mark name, or a mapping of one mark name to its arguments.",
     R"json({"type": ["array", "null"], "items": {"$ref": "#/definitions/mark"}})json"},
    {"steps", true,
     "The steps of the case, run one after the other; each step is a mapping of step keys.",
     R"json({"type": "array", "items": {"$ref": "#/definitions/step"}})json"},
    {"parameters", false,
     "Runs the case once per row of data, each row a test with an id from its `id` column or "
     "its values; the row's columns are variables of its templates.",
     R"json({"$ref": "#/definitions/parameters"})json"},
};

constexpr CaseFormatKey kStepKeys[] = {
    {"request", false,
     "An HTTP request sent through the run's client (arguments of httpx); its response becomes "
     "the case's last response.",
     R"json({"$ref": "#/definitions/request"})json"},
    {"response", false,
     "Checks of the last response; every failed check is reported at once.",
     R"json({"$ref": "#/definitions/response"})json"},
    {"extract", false,
     "Run variables taken from the last response: name: [attr, expr] or [attr, expr, index].",
     R"json({"$ref": "#/definitions/extract"})json"},
    {"validate", false,
     "Checks of run variables: variable name to text assertion on its value as text.",
     R"json({"$ref": "#/definitions/validate"})json"},
    {"mock", false,
     "Only logged (step: mock HTTP); nothing is sent.",
     R"json({})json"},
    {"retry", false,
     "Runs the step again until it passes (or its `until` check holds): the number of tries, or "
     "a mapping of them.",
     R"json({"$ref": "#/definitions/retry"})json"},
    {"use", false,
     "Runs the named flow of a flows.yaml file in the case's folder or above it; the step takes "
     "only `with` and `retry` besides.",
     R"json({"type": "string", "minLength": 1})json"},
    {"with", false,
     "The parameters of the flow that `use` names: name to value (templates see the calling "
     "case's variables).",
     R"json({"type": "object"})json"},
};

constexpr CaseFormatKey kRequestKeys[] = {
    {"method", true,
     "The HTTP method (any case).",
     R"json({"anyOf": [{"enum": ["GET", "POST", "PUT", "PATCH", "DELETE", "HEAD", "OPTIONS", "TRACE"]}, {"type": "string", "pattern": "^(get|post|put|patch|delete|head|options|trace)$"}, {"$ref": "#/definitions/template"}]})json"},
    {"url", true,
     "The address: a path joined to [lumox_api] base_url, or a full http(s) URL used as "
     "written.",
     R"json({"type": "string"})json"},
    {"params", false,
     "Query parameters: name to value (a list repeats the name), or a query string.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"$ref": "#/definitions/formValue"}}, {"type": "string"}]})json"},
    {"headers", false,
     "Request headers: name to text value (quote numbers: httpx takes only text).",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"type": "string"}}, {"$ref": "#/definitions/template"}]})json"},
    {"cookies", false,
     "Cookies sent with this request: name to value.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"type": ["string", "number"]}}, {"$ref": "#/definitions/template"}]})json"},
    {"json", false,
     "The body, sent as JSON (any value).",
     R"json({})json"},
    {"data", false,
     "Form fields: name to value (a list repeats the name); with files, a multipart form.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"$ref": "#/definitions/formValue"}}, {"$ref": "#/definitions/template"}]})json"},
    {"content", false,
     "The raw body, sent as written.",
     R"json({"type": "string"})json"},
    {"files", false,
     "Uploads: form field name to file path (relative to where pytest runs), sent as multipart.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"type": "string"}}, {"$ref": "#/definitions/template"}]})json"},
    {"timeout", false,
     "Seconds to wait for the service; null waits for ever.",
     R"json({"anyOf": [{"type": ["number", "null"], "minimum": 0}, {"$ref": "#/definitions/template"}]})json"},
    {"follow_redirects", false,
     "true follows redirects; by default they are not followed.",
     R"json({"anyOf": [{"type": "boolean"}, {"$ref": "#/definitions/template"}]})json"},
    {"auth", false,
     "An httpx auth from a template, e.g. \"{{ ('alice', 'secret') }}\" for basic auth (a YAML "
     "list is refused by httpx).",
     R"json({"anyOf": [{"type": "null"}, {"$ref": "#/definitions/template"}]})json"},
    {"extensions", false,
     "httpx request extensions, e.g. {timeout: {connect: 5}}.",
     R"json({"anyOf": [{"type": "object"}, {"$ref": "#/definitions/template"}]})json"},
};

constexpr CaseFormatKey kResponseKeys[] = {
    {"status_code", false,
     "The status code: 200, alternatives as text (\"200 | 204\", \"2??\") or a list of codes.",
     R"json({"anyOf": [{"$ref": "#/definitions/statusPattern"}, {"type": "array", "minItems": 1, "items": {"$ref": "#/definitions/statusPattern"}}]})json"},
    {"headers", false,
     "Header name (any case) to text assertion; a missing header fails.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"$ref": "#/definitions/textAssertion"}}, {"$ref": "#/definitions/template"}]})json"},
    {"text", false,
     "Text assertion on the whole body as text.",
     R"json({"allOf": [{"$ref": "#/definitions/textAssertion"}]})json"},
    {"json", false,
     "JSONPath expression to text assertion on the first value it selects in the JSON body.",
     R"json({"anyOf": [{"type": "object", "additionalProperties": {"$ref": "#/definitions/textAssertion"}}, {"$ref": "#/definitions/template"}]})json"},
};

// clang-format on

constexpr std::string_view kStepPath[] = {"definitions", "step"};
constexpr std::string_view kRequestPath[] = {"definitions", "request", "anyOf", "1"};
constexpr std::string_view kResponsePath[] = {"definitions", "response", "anyOf", "1"};

constexpr std::array kSections = {
    CaseFormatSection{"case", {}, kCaseKeys},
    CaseFormatSection{"step", kStepPath, kStepKeys},
    CaseFormatSection{"request", kRequestPath, kRequestKeys},
    CaseFormatSection{"response", kResponsePath, kResponseKeys},
};

// A table whose keys are `names`, in that order: the enum that indexes it.
template <std::size_t N>
constexpr bool keys_named(const CaseFormatKey (&keys)[N], const std::string_view (&names)[N]) {
    return std::equal(
        std::begin(keys), std::end(keys), std::begin(names),
        [](const CaseFormatKey &key, std::string_view name) { return key.name == name; });
}
constexpr std::string_view kStepKeyNames[] = {"request", "response", "extract", "validate",
                                              "mock",    "retry",    "use",     "with"};
static_assert(keys_named(kStepKeys, kStepKeyNames), "StepKey follows the step table");
constexpr std::string_view kResponseKeyNames[] = {"status_code", "headers", "text", "json"};
static_assert(keys_named(kResponseKeys, kResponseKeyNames), "ResponseKey follows its table");

// The index of the key called `name` in `keys`, as the enum `Key`.
template <typename Key, std::size_t N>
std::optional<Key> key_index(const CaseFormatKey (&keys)[N], std::string_view name) {
    for (std::size_t index = 0; index < N; ++index) {
        if (keys[index].name == name) {
            return static_cast<Key>(index);
        }
    }
    return std::nullopt;
}

constexpr std::string_view kFrame = R"json({
  "$schema": "http://json-schema.org/draft-07/schema#",
  "$id": "urn:lumox:case-file",
  "title": "lumox YAML case",
  "description": "One lumox test case: a YAML document of a test_*.yaml file (documents are separated by ---).",
  "type": [
    "object",
    "null"
  ],
  "required": [],
  "additionalProperties": false,
  "properties": {},
  "definitions": {
    "template": {
      "description": "A whole {{ ... }} template: rendered before the step runs, it keeps the type of its value.",
      "type": "string",
      "pattern": "^\\s*\\{\\{[\\s\\S]*\\}\\}\\s*$"
    },
    "scalar": {
      "type": [
        "string",
        "number",
        "boolean",
        "null"
      ]
    },
    "markName": {
      "description": "A pytest mark name: an identifier not starting with an underscore; register your own marks in pytest.ini.",
      "type": "string",
      "pattern": "^[^\\s!-/:-@\\[-`{-~0-9][^\\s!-/:-@\\[-^`{-~]*$",
      "examples": [
        "skip",
        "skipif",
        "xfail",
        "usefixtures",
        "filterwarnings"
      ]
    },
    "mark": {
      "anyOf": [
        {
          "allOf": [
            {
              "$ref": "#/definitions/markName"
            },
            {
              "not": {
                "const": "parametrize"
              }
            }
          ]
        },
        {
          "$ref": "#/definitions/markWithArguments"
        }
      ]
    },
    "markWithArguments": {
      "description": "One mark name and its arguments: a list (positional), a mapping (named) or one value (one argument).",
      "type": "object",
      "minProperties": 1,
      "maxProperties": 1,
      "propertyNames": {
        "$ref": "#/definitions/markName"
      },
      "properties": {
        "skip": {
          "description": "Skips the case: the reason as text, or {reason: ...}.",
          "anyOf": [
            {
              "type": [
                "string",
                "null"
              ]
            },
            {
              "type": "object",
              "additionalProperties": false,
              "properties": {
                "reason": {
                  "description": "Why the case is skipped.",
                  "type": "string"
                }
              }
            },
            {
              "type": "array",
              "maxItems": 1,
              "items": {
                "type": "string"
              }
            }
          ]
        },
        "skipif": {
          "description": "Skips the case when a condition holds: a Python expression as text, or {condition: ..., reason: ...}.",
          "anyOf": [
            {
              "type": "string"
            },
            {
              "$ref": "#/definitions/skipifArguments"
            },
            {
              "type": "array",
              "items": {
                "type": "string"
              }
            }
          ]
        },
        "xfail": {
          "description": "Expects the case to fail: no arguments, a condition as text, or {condition, reason, run, strict}.",
          "anyOf": [
            {
              "type": [
                "string",
                "null"
              ]
            },
            {
              "$ref": "#/definitions/xfailArguments"
            },
            {
              "type": "array",
              "items": {
                "type": "string"
              }
            }
          ]
        },
        "usefixtures": {
          "description": "Runs the named fixtures around the case (for example chrome): one name or a list of names.",
          "anyOf": [
            {
              "type": "string"
            },
            {
              "type": "array",
              "items": {
                "type": "string"
              }
            }
          ]
        },
        "filterwarnings": {
          "description": "Warning filters for the case, as in pytest.ini's filterwarnings: one filter or a list.",
          "anyOf": [
            {
              "type": "string"
            },
            {
              "type": "array",
              "items": {
                "type": "string"
              }
            }
          ]
        },
        "parametrize": {
          "description": "Has no effect on YAML cases: a case runs once, whatever parametrize says.",
          "not": {}
        }
      },
      "additionalProperties": true
    },
    "skipifArguments": {
      "type": "object",
      "properties": {
        "condition": {
          "$ref": "#/definitions/condition"
        },
        "reason": {
          "description": "The reason shown in the report; needed when condition is true/false.",
          "type": "string"
        }
      },
      "if": {
        "properties": {
          "condition": {
            "type": "boolean"
          }
        },
        "required": [
          "condition"
        ]
      },
      "then": {
        "required": [
          "reason"
        ]
      },
      "additionalProperties": false
    },
    "xfailArguments": {
      "type": "object",
      "properties": {
        "condition": {
          "$ref": "#/definitions/condition"
        },
        "reason": {
          "description": "The reason shown in the report; needed when condition is true/false.",
          "type": "string"
        },
        "run": {
          "description": "false: do not run the case at all, only report it as xfailed.",
          "type": "boolean"
        },
        "strict": {
          "description": "true: a case that passes anyway fails the run.",
          "type": "boolean"
        }
      },
      "if": {
        "properties": {
          "condition": {
            "type": "boolean"
          }
        },
        "required": [
          "condition"
        ]
      },
      "then": {
        "required": [
          "reason"
        ]
      },
      "additionalProperties": false
    },
    "condition": {
      "description": "A Python expression as text (os, sys, platform, config and the run's variables are names in it), or true/false.",
      "type": [
        "string",
        "boolean"
      ]
    },
    "step": {
      "description": "One step: its keys run in the order they are written; keys of other plug-ins show as unknown here.",
      "type": "object",
      "additionalProperties": false,
      "properties": {}
    },
    "parameters": {
      "anyOf": [
        {
          "type": "array",
          "minItems": 1,
          "items": {
            "type": "object",
            "description": "One row: column name to value."
          }
        },
        {
          "type": "string",
          "description": "A data file beside the case file: .csv (a header row, then a row per test), .json or .yaml (a list of mappings), or .xlsx (its first sheet)."
        },
        {
          "type": "object",
          "required": [
            "file"
          ],
          "additionalProperties": false,
          "properties": {
            "file": {
              "type": "string",
              "description": "The data file, as above."
            },
            "sheet": {
              "type": "string",
              "description": "The sheet of an .xlsx data file (default: its first)."
            }
          }
        }
      ]
    },
    "retry": {
      "anyOf": [
        {
          "type": "integer",
          "minimum": 1,
          "description": "Tries in all, 1 s apart."
        },
        {
          "type": "object",
          "additionalProperties": false,
          "properties": {
            "times": {
              "type": "integer",
              "minimum": 1,
              "description": "Tries in all (default 1)."
            },
            "delay": {
              "type": "number",
              "minimum": 0,
              "description": "Seconds before the second try (default 1)."
            },
            "backoff": {
              "type": "number",
              "minimum": 1,
              "description": "Each later delay is the one before times this (default 1: a fixed delay)."
            },
            "until": {
              "$ref": "#/definitions/response",
              "description": "A check of the response of its own, written as `response` is: the request is sent again until it holds, then the step's other keys run once."
            }
          }
        }
      ]
    },
    "request": {
      "anyOf": [
        {
          "$ref": "#/definitions/template"
        },
        {
          "type": "object",
          "required": [],
          "additionalProperties": false,
          "properties": {}
        }
      ]
    },
    "formValue": {
      "anyOf": [
        {
          "$ref": "#/definitions/scalar"
        },
        {
          "type": "array",
          "items": {
            "$ref": "#/definitions/scalar"
          }
        }
      ]
    },
    "response": {
      "anyOf": [
        {
          "$ref": "#/definitions/template"
        },
        {
          "type": "object",
          "additionalProperties": false,
          "properties": {}
        }
      ]
    },
    "statusPattern": {
      "anyOf": [
        {
          "type": "integer"
        },
        {
          "$ref": "#/definitions/template"
        },
        {
          "description": "Status code patterns as text, such as \"200 | 204\" or \"2??\" (digits and the wildcards * ? [ ] ! ^ -, separated by |).",
          "type": "string",
          "pattern": "^\\s*[0-9*?\\[\\]!^-]+\\s*(\\|\\s*[0-9*?\\[\\]!^-]+\\s*)*$"
        }
      ]
    },
    "textAssertion": {
      "description": "A wildcard pattern matched against the whole text, or {value, mode, msg}.",
      "anyOf": [
        {
          "$ref": "#/definitions/scalar"
        },
        {
          "type": "object",
          "required": [
            "value"
          ],
          "additionalProperties": false,
          "properties": {
            "value": {
              "description": "The expected value, compared by its text form."
            },
            "mode": {
              "description": "glob (default): wildcard pattern; same: exact text; re: regular expression found anywhere; contains: a part of the text.",
              "anyOf": [
                {
                  "enum": [
                    "glob",
                    "same",
                    "re",
                    "contains"
                  ]
                },
                {
                  "$ref": "#/definitions/template"
                }
              ]
            },
            "msg": {
              "description": "The failure message to show instead of the generated one.",
              "type": [
                "string",
                "number",
                "null"
              ]
            }
          }
        }
      ]
    },
    "extract": {
      "anyOf": [
        {
          "type": "object",
          "additionalProperties": {
            "$ref": "#/definitions/extraction"
          }
        },
        {
          "$ref": "#/definitions/template"
        }
      ]
    },
    "extraction": {
      "anyOf": [
        {
          "description": "[attr, expr] or [attr, expr, index]: what to read, how to find the value, which match.",
          "type": "array",
          "minItems": 2,
          "maxItems": 3,
          "additionalItems": false,
          "items": [
            {
              "description": "What to read: json, text, headers, cookies, status_code, or str (expr itself is the value).",
              "anyOf": [
                {
                  "enum": [
                    "json",
                    "text",
                    "headers",
                    "cookies",
                    "status_code",
                    "str"
                  ]
                },
                {
                  "$ref": "#/definitions/template"
                }
              ]
            },
            {
              "description": "$...: a JSONPath expression; /...: never matches; anything else: a regular expression (its group, if it has one).",
              "type": "string"
            },
            {
              "description": "Which match: 0 (default) the first, 1 the second, -1 the last.",
              "anyOf": [
                {
                  "type": "integer"
                },
                {
                  "$ref": "#/definitions/template"
                }
              ]
            }
          ]
        },
        {
          "$ref": "#/definitions/template"
        }
      ]
    },
    "validate": {
      "anyOf": [
        {
          "type": "object",
          "additionalProperties": {
            "$ref": "#/definitions/textAssertion"
          }
        },
        {
          "$ref": "#/definitions/template"
        }
      ]
    }
  }
})json";

} // namespace

std::span<const CaseFormatSection> case_format_sections() { return kSections; }

const CaseFormatSection &case_format_section(std::string_view name) {
    for (const CaseFormatSection &section : kSections) {
        if (section.name == name) {
            return section;
        }
    }
    throw std::invalid_argument("no case format section " + std::string(name));
}

std::optional<StepKey> step_key(std::string_view name) {
    return key_index<StepKey>(kStepKeys, name);
}

std::optional<ResponseKey> response_key(std::string_view name) {
    return key_index<ResponseKey>(kResponseKeys, name);
}

std::string_view case_schema_frame() { return kFrame; }

} // namespace lumox::core
