// lumox.cli: the `lumox` command. It maps the words typed after `lumox` to the operations
// of lumox.cmd and their results to the exit status:
//
//   lumox start NAME [--type TYPE]      -> cmd.start      0, or 1 with a one-line message
//   lumox run [PYTEST ARGS...]          -> cmd.run        pytest's exit status
//   lumox report [-s] [PYTEST ARGS...]  -> cmd.report     0 when the report was built, else 1
//   lumox docs [--type TYPE]            -> cmd.docs       0
//   lumox merge DIR... --into INTO      -> lumox.runs.merge_results   0, or 1 with a message
//   lumox notify DIR...                 -> lumox.runs.notify_results  0, or 1 with a message
//   lumox schema                        -> the JSON Schema of YAML case files, 0
//
// `run` and `report` hand every word they do not know themselves to pytest unchanged, and
// everything after "--" as well (so `lumox run -- --help` shows pytest's help). Unknown
// commands and options end with a one-line error and the usage, exit status 2.
#include "core/command_texts.hpp"
#include "native/common/case_report.hpp"

#include <pybind11/pybind11.h>

#include <string>

namespace py = pybind11;

namespace {

constexpr const char *kTypes[] = {"all", "api", "web", "app"};

py::object type_choices() {
    py::list choices;
    for (const char *type : kTypes) {
        choices.append(type);
    }
    return choices;
}

void add_type_option(py::object parser, const char *what) {
    parser.attr("add_argument")("--type", py::arg("dest") = "kw_type", py::arg("default") = "all",
                                py::arg("choices") = type_choices(),
                                py::arg("help") = std::string("keyword library ") + what +
                                                  ": all (default), api, web or app");
}

struct Parsers {
    py::object top;
    py::dict commands; // name -> sub-parser
};

Parsers build_parsers() {
    py::module_ argparse = py::module_::import("argparse");
    py::object raw = argparse.attr("RawDescriptionHelpFormatter");
    const std::string version =
        "lumox " + py::str(py::module_::import("lumox").attr("__version__")).cast<std::string>();
    Parsers parsers;
    parsers.top = argparse.attr("ArgumentParser")(
        py::arg("prog") = "lumox", py::arg("allow_abbrev") = false,
        py::arg("formatter_class") = raw,
        py::arg("description") = "Keyword-driven test automation for pytest: YAML HTTP cases and "
                                 "keyword cases in workbooks.",
        py::arg("epilog") = "examples:\n"
                            "  lumox start login          test_login.xlsx with the keyword list\n"
                            "  lumox run -x -k smoke      pytest -x -k smoke\n"
                            "  lumox report -s            build, announce and open the report\n"
                            "  lumox docs --type web      the Web keywords\n\n"
                            "'lumox COMMAND --help' explains a command.");
    parsers.top.attr("add_argument")("--version", py::arg("action") = "version",
                                     py::arg("version") = version);
    py::object commands = parsers.top.attr("add_subparsers")(
        py::arg("dest") = "command", py::arg("metavar") = "COMMAND", py::arg("required") = true);

    auto add = [&](const char *name, const char *help, const std::string &description,
                   const char *usage) {
        py::object parser = commands.attr("add_parser")(
            name, py::arg("help") = help, py::arg("description") = description,
            py::arg("allow_abbrev") = false, py::arg("formatter_class") = raw,
            py::arg("usage") = usage ? py::object(py::str(usage)) : py::object(py::none()));
        parsers.commands[name] = parser;
        return parser;
    };

    py::object start =
        add("start", lumox::core::kStartDescription,
            std::string(lumox::core::kStartDescription) +
                "\n\nWrites test_NAME.xlsx in the current directory: a case sheet titled NAME "
                "whose keyword column (C)\noffers the keywords of the library in a drop-down, "
                "and the sheet _key_word listing them with\nwhat each does and takes. An "
                "existing file is never replaced.",
            nullptr);
    start.attr("add_argument")("name", py::arg("metavar") = "NAME",
                               py::arg("help") = "name of the case (sheet title and file name)");
    add_type_option(start, "of the drop-down");

    add("run", lumox::core::kRunDescription,
        std::string(lumox::core::kRunDescription) +
            "\n\nRuns pytest in the current directory with PYTEST ARGS, creating pytest.ini "
            "from the packaged\ntemplate first when there is none. The exit status is "
            "pytest's. Put pytest's own --help after --.\n\nexamples:\n  lumox run\n  lumox "
            "run -x -k smoke tests/\n  lumox run -- --help",
        "lumox run [-h] [PYTEST ARGS...]");

    py::object report =
        add("report", lumox::core::kReportDescription,
            std::string(lumox::core::kReportDescription) +
                "\n\nBuilds the HTML report ([lumox] allure_report) from the Allure results of "
                "the last run (pytest's\n--alluredir, set in pytest.ini) with the Allure "
                "command line ([lumox] allure_path). With -s,\nor [lumox] allure_show = true, "
                "the report notice is sent and the report is served on\n[lumox] "
                "allure_local_port until Ctrl-C. Other PYTEST ARGS (e.g. --alluredir=DIR) "
                "choose the results.",
            "lumox report [-h] [-s] [PYTEST ARGS...]");
    report.attr("add_argument")("-s", "--show", py::arg("action") = "store_true",
                                py::arg("help") = "send the report notice and open the report");

    py::object docs = add("docs", lumox::core::kDocsDescription,
                          std::string(lumox::core::kDocsDescription) +
                              "\n\nPrints the documentation of every keyword of the library.",
                          nullptr);
    add_type_option(docs, "to document");

    py::object check =
        add("check", "检查用例文件，不发送请求",
            "检查用例文件，不发送请求\n\nCollects the YAML and workbook cases of PATHS (default: "
            "the current directory) as a run\nwould, sends nothing, and prints one line per "
            "mistake: unknown keys, typos of methods,\nYAML syntax, workbook layout, formulas "
            "without values, unknown keywords. Exit status 1\nwhen there is any.",
            nullptr);
    check.attr("add_argument")("paths", py::arg("metavar") = "PATH", py::arg("nargs") = "*",
                               py::arg("help") = "case files or folders");

    py::object merge = add(
        "merge", "合并多个分片的allure结果",
        "合并多个分片的allure结果\n\nCopies the Allure results folders of the shards of one run "
        "(their --alluredir) into one,\nwith the summed counts in its lumox-summary.json: "
        "then `lumox report --alluredir=INTO`\nbuilds one report, and `lumox notify INTO` "
        "sends one summary.\n\nexample:\n  lumox merge shard-1 shard-2 shard-3 --into "
        "allure-results",
        nullptr);
    merge.attr("add_argument")("sources", py::arg("metavar") = "DIR", py::arg("nargs") = "+",
                               py::arg("help") = "the results folders of the shards");
    merge.attr("add_argument")("--into", py::arg("required") = true, py::arg("metavar") = "INTO",
                               py::arg("help") = "the folder of the merged results");
    py::object notify = add(
        "notify", "发送多个分片的汇总通知",
        "发送多个分片的汇总通知\n\nSends one run summary for the results folders of the shards "
        "of a run (or a merged one):\nthe counts summed from their lumox-summary.json, the time "
        "from the first start to the last\nend. Run the shards with --no-notify.",
        nullptr);
    notify.attr("add_argument")("sources", py::arg("metavar") = "DIR", py::arg("nargs") = "+",
                                py::arg("help") = "results folders");

    add("schema", "打印YAML用例的JSON Schema",
        "打印YAML用例的JSON Schema\n\nPrints the JSON Schema of YAML case files, for editors "
        "with a YAML language server:\n  lumox schema > lumox-case.schema.json\nthen put "
        "'# yaml-language-server: $schema=lumox-case.schema.json' at the top of a case file.",
        nullptr);
    return parsers;
}

// The words of `run`/`report` before and after the first "--".
std::pair<py::list, py::list> split_at_separator(const py::list &words) {
    py::list before;
    py::list after;
    bool separated = false;
    for (py::handle word : words) {
        if (!separated && py::str(word).cast<std::string>() == "--") {
            separated = true;
        } else {
            (separated ? after : before).append(word);
        }
    }
    return {before, after};
}

int fail(const std::string &command, py::error_already_set &error) {
    // Errors a tester causes read best as their message; others keep their type.
    const bool plain = error.matches(PyExc_ValueError) || error.matches(PyExc_OSError) ||
                       error.matches(PyExc_TypeError);
    std::string message = plain ? py::str(error.value()).cast<std::string>()
                                : lumox::py_helpers::error_line(error.value());
    // A broken setting stops lumox's modules from loading; what is wrong comes first.
    for (const std::string prefix : {"ImportError: SettingsError: ", "SettingsError: "}) {
        if (message.rfind(prefix, 0) == 0) {
            message.erase(0, prefix.size());
            break;
        }
    }
    py::print("lumox " + command + ": " + message,
              py::arg("file") = py::module_::import("sys").attr("stderr"));
    return 1;
}

// Needs no settings: works where a pytest.ini is broken or missing.
int print_schema() {
    py::object schema = py::module_::import("lumox.yaml_cases").attr("case_schema")();
    py::module_::import("sys").attr("stdout").attr("write")(
        py::module_::import("json").attr("dumps")(schema, py::arg("indent") = 2,
                                                  py::arg("ensure_ascii") = false) +
        py::str("\n"));
    return 0;
}

// `lumox merge` and `lumox notify`: one line of what was done.
int merge_or_notify(const std::string &command, py::object options) {
    py::module_ runs = py::module_::import("lumox.runs");
    py::list sources(options.attr("sources"));
    py::dict counts = command == "merge"
                          ? py::dict(runs.attr("merge_results")(sources, options.attr("into")))
                          : py::dict(runs.attr("notify_results")(sources));
    std::string line = "lumox " + command + ": " + std::to_string(py::len(sources)) +
                       " folder(s), " + py::str(counts["select"]).cast<std::string>() +
                       " case(s) run: " + py::str(counts["passed"]).cast<std::string>() +
                       " passed, " + py::str(counts["failed"]).cast<std::string>() + " failed, " +
                       py::str(counts["error"]).cast<std::string>() + " error(s), " +
                       py::str(counts["skipped"]).cast<std::string>() + " skipped in " +
                       py::str(counts["tims"]).cast<std::string>();
    if (command == "merge") {
        line += "; " + py::str(counts["copied"]).cast<std::string>() + " file(s) in " +
                py::str(options.attr("into")).cast<std::string>();
    } else {
        // The notice goes out on the pool's threads; the process waits for it at exit.
        line += "; summary handed to the channels that are configured";
    }
    py::print(line);
    return 0;
}

int run_command(const std::string &command, py::object options, py::list pytest_args) {
    if (command == "schema") {
        return print_schema();
    }
    py::object cmd;
    try {
        cmd = py::module_::import("lumox.cmd");
    } catch (py::error_already_set &error) {
        // A broken pytest.ini stops lumox from loading: say which setting, not a traceback.
        if (!error.matches(PyExc_Exception)) {
            throw;
        }
        return fail(command, error);
    }
    try {
        if (command == "start") {
            cmd.attr("start")(options.attr("name"), py::arg("kw_type") = options.attr("kw_type"));
            return 0;
        }
        if (command == "check") {
            return py::int_(cmd.attr("check")(options.attr("paths")));
        }
        if (command == "merge" || command == "notify") {
            return merge_or_notify(command, options);
        }
        if (command == "docs") {
            cmd.attr("docs")(py::arg("kw_type") = options.attr("kw_type"));
            return 0;
        }
        if (command == "run") {
            return py::int_(cmd.attr("run")(pytest_args));
        }
        py::object built = cmd.attr("report")(options.attr("show"), pytest_args);
        return py::bool_(built) ? 0 : 1;
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_KeyboardInterrupt)) {
            return 130; // Ctrl-C, e.g. to stop serving the report
        }
        if (!error.matches(PyExc_Exception) || error.matches(PyExc_BrokenPipeError)) {
            throw;
        }
        return fail(command, error);
    }
}

// `lumox docs | head`: the reader has gone, which is no error of ours. Later writes (and
// Python's flush at exit) go to /dev/null, and the status is that of a process ended by
// SIGPIPE, as cat or grep end.
int reader_gone() {
    py::module_ os = py::module_::import("os");
    py::object devnull = os.attr("open")(os.attr("devnull"), os.attr("O_WRONLY"));
    os.attr("dup2")(devnull, py::module_::import("sys").attr("stdout").attr("fileno")());
    return 128 + 13;
}

int dispatch(py::object argv) {
    py::list words;
    if (argv.is_none()) {
        py::list process_words(py::module_::import("sys").attr("argv"));
        words = process_words[py::slice(1, py::len(process_words), 1)];
    } else {
        words = py::list(argv);
    }
    Parsers parsers = build_parsers();
    std::string command = py::len(words) > 0 ? py::str(words[0]).cast<std::string>() : "";
    if (command == "run" || command == "report") {
        auto [before, after] = split_at_separator(words[py::slice(1, py::len(words), 1)]);
        py::tuple known = parsers.commands[command.c_str()].attr("parse_known_args")(before);
        py::list pytest_args = py::list(known[1]);
        for (py::handle word : after) {
            pytest_args.append(word);
        }
        return run_command(command, known[0], pytest_args);
    }
    py::object options = parsers.top.attr("parse_args")(words);
    return run_command(py::str(options.attr("command")).cast<std::string>(), options, py::list());
}

int main(py::object argv) {
    try {
        return dispatch(argv);
    } catch (py::error_already_set &error) {
        if (!error.matches(PyExc_BrokenPipeError)) {
            throw;
        }
        return reader_gone();
    }
}

} // namespace

PYBIND11_MODULE(cli, m) {
    m.doc() = "The lumox command: `lumox start|run|report|docs`, see `lumox --help`.";
    m.def("main", &main, py::arg("argv") = py::none(),
          "Runs the lumox command with `argv` (default: the process's arguments) and returns "
          "its exit status.");
}
