// The pool notices are sent on: at most kWorkers daemon threads, started as notices come.
// Python's own ThreadPoolExecutor is joined at interpreter exit without a limit, so one robot
// or mail server that drips its answer held the end of a run for minutes. Here the exit
// waits at most kExitWait seconds for the notices still under way, then names those it
// leaves behind.
#include "sender.hpp"

#include <string>

namespace lumox::sender {
namespace {

constexpr int kWorkers = 4;
constexpr double kExitWait = 15.0;

struct NoticePool {
    py::object queue = import("queue").attr("SimpleQueue")();
    py::set pending; // futures of notices not yet finished
    int workers = 0;
};

void run_notices(NoticePool &pool) {
    while (true) {
        py::tuple item = pool.queue.attr("get")();
        py::object future = item[0];
        if (!future.attr("set_running_or_notify_cancel")().cast<bool>()) {
            continue;
        }
        try {
            future.attr("set_result")(item[1](*item[2]));
        } catch (py::error_already_set &error) {
            future.attr("set_exception")(error.value());
        }
        pool.pending.attr("discard")(future);
    }
}

py::object submit(NoticePool &pool, py::object function, py::args args) {
    py::object future = import("concurrent.futures").attr("Future")();
    pool.pending.add(future);
    pool.queue.attr("put")(py::make_tuple(future, function, args));
    if (pool.workers < kWorkers) {
        ++pool.workers;
        py::object worker = py::cpp_function([&pool] { run_notices(pool); });
        import("threading")
            .attr("Thread")(py::arg("target") = worker, py::arg("daemon") = true,
                            py::arg("name") = "lumox-sender-" + std::to_string(pool.workers))
            .attr("start")();
    }
    return future;
}

void wait_at_exit(NoticePool &pool) {
    if (py::len(pool.pending) == 0) {
        return;
    }
    py::object left = import("concurrent.futures")
                          .attr("wait")(pool.pending, py::arg("timeout") = kExitWait)
                          .attr("not_done");
    if (py::len(left) != 0) {
        logger().warning(std::to_string(py::len(left)) + " notice(s) still being sent after " +
                         std::to_string(static_cast<int>(kExitWait)) +
                         " s are given up as the run exits");
    }
}

} // namespace

void define_notice_pool(py::module_ &m) {
    py::class_<NoticePool>(m, "NoticePool",
                           "Sends notices on up to 4 worker threads; at exit it waits for them "
                           "at most 15 s.")
        .def("submit", &submit, py::arg("fn"),
             "Runs fn(*args) on a worker; returns its concurrent.futures.Future.")
        .def_property_readonly(
            "max_workers", [](NoticePool &) { return kWorkers; }, "Worker threads at most.")
        .def_property_readonly(
            "pending", [](NoticePool &pool) { return py::len(pool.pending); },
            "Notices submitted and not yet finished.");
    // Lives until the process ends: its workers refer to it.
    auto *pool = new NoticePool();
    m.attr("pool") = py::cast(pool, py::return_value_policy::reference);
    import("atexit").attr("register")(py::cpp_function([pool] { wait_at_exit(*pool); }));
}

} // namespace lumox::sender
