#include "runner_keywords.hpp"

namespace lumox::core {

std::string runner_arguments(const RunnerKeyword &keyword) {
    std::string text;
    for (const RunnerParam &param : keyword.params) {
        text += (text.empty() ? "" : ", ") + std::string(param.name);
        if (param.fallback != nullptr && *param.fallback != '\0') {
            text += std::string("=") + param.fallback;
        }
        if (param.repeats) {
            text += "...";
        }
    }
    return text;
}

std::string runner_doc(const RunnerKeyword &keyword) {
    std::string doc = std::string("关键字：") + keyword.name + "\n" + keyword.summary;
    for (const RunnerParam &param : keyword.params) {
        doc += std::string("\n:param ") + param.name + ": " + param.doc;
    }
    return doc;
}

} // namespace lumox::core
