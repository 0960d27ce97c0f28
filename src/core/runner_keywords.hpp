// The keywords a workbook's runner carries out itself, since they work on rows and sheets
// rather than on a service, a browser or a device: their names, for the runner, and their
// documentation, for `lumox docs` and the keyword drop-down of new workbooks.
#pragma once

namespace lumox::core {

struct RunnerKeyword {
    const char *name;
    const char *summary; // one line, as a keyword's docstring summary
    const char *params;  // the parameters from D on, with their defaults
    const char *doc;     // one ":param" line per parameter
};

inline constexpr RunnerKeyword kRetryKeyword{
    "retry", "重复执行上面的行，直到全部通过且条件成立", "times=3, delay=1, rows=1, until",
    ":param times: 最多尝试次数\n"
    ":param delay: 两次尝试之间等待的秒数\n"
    ":param rows: 重复执行上面的几行\n"
    ":param until: 条件：变量名 == 文本、变量名 != 文本 或 变量名 contains 文本（可空）"};

inline constexpr RunnerKeyword kUseDataKeyword{
    "use_data", "用例按数据表的每一行执行一次，{列名} 读取该行的值", "sheet",
    ":param sheet: 数据表（同一工作簿中的表，第1行为列名）"};

inline constexpr RunnerKeyword kRunSheetKeyword{
    "run_sheet", "执行同一工作簿中另一个表的步骤，并传入变量", "sheet, name=value...",
    ":param sheet: 要执行的表\n"
    ":param name=value: 传给该表的变量，可写多个，每格一个"};

inline constexpr const RunnerKeyword *kRunnerKeywords[] = {&kRetryKeyword, &kUseDataKeyword,
                                                           &kRunSheetKeyword};

} // namespace lumox::core
