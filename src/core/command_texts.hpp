// The one-line descriptions of the command operations: the docstrings of lumox.cmd and the
// help lines of the `lumox` command.
#pragma once

namespace lumox::core {

inline constexpr const char *kStartDescription = "创建测试用例demo文件. 并命名为 test_{name}.xlsx";
inline constexpr const char *kRunDescription = "启动框架 执行用例，可传递pytest参数拉控制执行";
inline constexpr const char *kReportDescription = "调用allure，生成HTML报告";
inline constexpr const char *kDocsDescription = "打印关键字文档";
inline constexpr const char *kSwitchTestDirDescription = "临时切换测试环境（目录），";

} // namespace lumox::core
