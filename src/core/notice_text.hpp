// Texts of the notices (run summary, report link), the DingTalk signing input, the
// recipients of an e-mail, and secrets kept out of log lines.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumox::core {

// A run's counters, each in its plain text form.
struct RunCounters {
    std::string total;
    std::string select;
    std::string passed;
    std::string failed;
    std::string error;
    std::string skipped;
    std::string tims;
    std::string date;
};

// The run summary in the robots' Markdown (font colours per counter).
std::string result_text(const RunCounters &counters);

// What the run summary adds below the counters: the first `shown` of the cases that failed
// or erred (with how many more there are) and a link to the report at `report_url`; each
// part only when there is something to say, so nothing for a clean run without a link.
std::string result_details(const std::vector<std::string> &failed_cases, std::size_t shown,
                           std::string_view report_url);

// The report notice: a Markdown link to `url`.
std::string report_text(std::string_view url);

// A notice in the robots' markup as e-mail shows it: plain text (<font> tags dropped, a
// link [text](url) as "text: url") and HTML (text escaped, colours kept, links as <a>,
// lines as <br>).
std::string plain_notice_text(std::string_view markup);
std::string html_notice_text(std::string_view markup);

// What DingTalk signs: the timestamp, a line break and the secret.
std::string dingtalk_string_to_sign(std::string_view timestamp, std::string_view secret);

// `url` with the `name=value` pairs appended to its query, ahead of any fragment. The
// values go in as given, so they must be URL-quoted already (DingTalk's `sign` is).
std::string
with_query_parameters(std::string_view url,
                      const std::vector<std::pair<std::string, std::string>> &parameters);

// A run's duration as pytest prints it in its summary line: "3.21s".
std::string duration_text(double seconds);

// The addresses in `email_to`, separated by commas or semicolons, blanks around them
// dropped, empty pieces skipped. A separator inside a double-quoted display name
// ("Doe, Jane" <jane@example.test>) does not split.
std::vector<std::string> split_recipients(std::string_view email_to);

// The parts of a webhook address that grant access: every query parameter value (the
// access token), percent-decoded too when that differs, and a password in the user info.
std::vector<std::string> url_secrets(std::string_view url);

// `text` with every occurrence of a non-empty secret replaced by "***"; where secrets
// overlap, the longest one starting first wins.
std::string mask_secrets(std::string_view text, const std::vector<std::string> &secrets);

} // namespace lumox::core
