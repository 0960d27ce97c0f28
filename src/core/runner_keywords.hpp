// The keywords a workbook's runner carries out itself, since they work on rows and sheets
// rather than on a service, a browser or a device: declared once, with their parameters,
// for the runner, `lumox docs`, the keyword drop-down of new workbooks and the reference.
#pragma once

#include <span>
#include <string>

namespace lumox::core {

struct RunnerParam {
    const char *name;
    const char *kind;     // as a keyword parameter's kind is named ("whole number", ...)
    const char *fallback; // the default; nullptr when the cell may not be left out
    const char *doc;
    bool repeats = false; // one such cell after another, to the end of the row
};

struct RunnerKeyword {
    const char *name;
    const char *summary; // one line, as a keyword's docstring summary
    std::span<const RunnerParam> params;
};

inline constexpr RunnerParam kRetryParams[] = {
    {"times", "whole number", "3", "最多尝试次数"},
    {"delay", "seconds", "1", "两次尝试之间等待的秒数"},
    {"rows", "whole number", "1", "重复执行上面的几行"},
    {"until", "text", "", "条件：变量名 == 文本、变量名 != 文本 或 变量名 contains 文本（可空）"},
};
inline constexpr RunnerParam kUseDataParams[] = {
    {"sheet", "text", nullptr, "数据表（同一工作簿中的表，第1行为列名）"},
};
inline constexpr RunnerParam kRunSheetParams[] = {
    {"sheet", "text", nullptr, "要执行的表"},
    {"name=value", "text", "", "传给该表的变量，可写多个，每格一个", true},
};

inline constexpr RunnerKeyword kRetryKeyword{"retry", "重复执行上面的行，直到全部通过且条件成立",
                                             kRetryParams};
inline constexpr RunnerKeyword kUseDataKeyword{
    "use_data", "用例按数据表的每一行执行一次，{列名} 读取该行的值", kUseDataParams};
inline constexpr RunnerKeyword kRunSheetKeyword{
    "run_sheet", "执行同一工作簿中另一个表的步骤，并传入变量", kRunSheetParams};

inline constexpr const RunnerKeyword *kRunnerKeywords[] = {&kRetryKeyword, &kUseDataKeyword,
                                                           &kRunSheetKeyword};

// "times=3, delay=1, rows=1, until": the cells from D on, with the defaults that are not
// empty, as the keyword drop-down shows them.
std::string runner_arguments(const RunnerKeyword &keyword);
// The keyword's documentation as `lumox docs` prints a keyword's: the label and name, the
// summary and one ":param" line per parameter.
std::string runner_doc(const RunnerKeyword &keyword);

} // namespace lumox::core
