// lumox.sender: run summaries and report links to the WeCom and DingTalk group robots
// and by e-mail, sent on a small pool of worker threads so that the caller never waits
// for the network.
#include "sender.hpp"

#include "native/common/module_init.hpp"

#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(sender, m) {
    m.doc() = "Notifications: send_result (a run's counters) and send_report (the report's "
              "address) go to WeCom (to_qywx), DingTalk (to_dingding) and e-mail (to_email) "
              "on the worker pool `pool`; channels without settings are skipped with a "
              "warning. send_run_summary sends the counters of a finished pytest run.";
    m.attr("logger") = lumox::sender::logger().object();
    lumox::py_helpers::init_module([&] {
        lumox::sender::define_notice_pool(m);
        lumox::sender::define_channels(m);
        lumox::sender::define_run_summary(m);
    });
}
