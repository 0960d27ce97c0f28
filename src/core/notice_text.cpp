#include "core/notice_text.hpp"

#include "core/ascii_text.hpp"

#include <algorithm>
#include <cstdio>

namespace lumox::core {

namespace {

constexpr std::string_view kMask = "***";

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = lower_ascii(c);
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

// Form decoding as servers apply it to a query: %XX escapes and '+' for a blank. Broken
// escapes stay as written.
std::string percent_decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 &&
                   hex_digit(text[i + 2]) >= 0) {
            out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void add_secret(std::vector<std::string> &secrets, std::string_view value) {
    if (!value.empty()) {
        secrets.emplace_back(value);
        const std::string decoded = percent_decoded(value);
        if (decoded != value && !decoded.empty()) {
            secrets.push_back(decoded);
        }
    }
}

} // namespace

std::string result_text(const RunCounters &c) {
    return "【lumox自动化测试结果】\n\n用例总数: <font color=\"black\">" + c.total +
           "</font>\n本次运行数： <font color=\"black\">" + c.select +
           "</font>\n测试通过数： <font color=\"green\">" + c.passed +
           "</font>\n测试失败数： <font color=\"orange\">" + c.failed +
           "</font>\n测试出错数： <font color=\"red\">" + c.error +
           "</font>\n跳过用例数： <font color=\"grey\">" + c.skipped +
           "</font>\n测试耗时:    " + c.tims + "\n完成时间： " + c.date;
}

std::string result_details(const std::vector<std::string> &failed_cases, std::size_t shown,
                           std::string_view report_url) {
    std::string text;
    if (!failed_cases.empty()) {
        text += "\n\n失败用例：";
        for (std::size_t i = 0; i < failed_cases.size() && i < shown; ++i) {
            text += "\n- " + failed_cases[i];
        }
        if (failed_cases.size() > shown) {
            text += "\n- 另有 " + std::to_string(failed_cases.size() - shown) + " 个";
        }
    }
    if (!report_url.empty()) {
        text += "\n\n测试报告：[点击这里](" + std::string(report_url) + ")";
    }
    return text;
}

std::string report_text(std::string_view url) {
    return "【lumox自动化测试报告】\n\n        在线报告已生成，请[点击这里](" + std::string(url) +
           ")查看";
}

namespace {

// The robots' markup is what result_text and report_text write: <font color="c">…</font>
// around numbers and [text](url) links; anything else is text.
struct MarkupPiece {
    enum class Kind { text, coloured, link } kind;
    std::string text;
    std::string extra; // the colour, or the link's address
};

std::vector<MarkupPiece> markup_pieces(std::string_view markup) {
    std::vector<MarkupPiece> pieces;
    std::string plain;
    const auto flush = [&] {
        if (!plain.empty()) {
            pieces.push_back({MarkupPiece::Kind::text, std::move(plain), {}});
            plain.clear();
        }
    };
    for (std::size_t i = 0; i < markup.size();) {
        constexpr std::string_view open = "<font color=\"";
        if (markup.substr(i, open.size()) == open) {
            const std::size_t colour_end = markup.find("\">", i + open.size());
            const std::size_t close = colour_end == std::string_view::npos
                                          ? colour_end
                                          : markup.find("</font>", colour_end);
            if (close != std::string_view::npos) {
                flush();
                pieces.push_back(
                    {MarkupPiece::Kind::coloured,
                     std::string(markup.substr(colour_end + 2, close - colour_end - 2)),
                     std::string(markup.substr(i + open.size(), colour_end - i - open.size()))});
                i = close + 7;
                continue;
            }
        }
        if (markup[i] == '[') {
            const std::size_t middle = markup.find("](", i);
            const std::size_t end =
                middle == std::string_view::npos ? middle : markup.find(')', middle);
            if (end != std::string_view::npos &&
                markup.substr(i, middle - i).find('\n') == std::string_view::npos) {
                flush();
                pieces.push_back({MarkupPiece::Kind::link,
                                  std::string(markup.substr(i + 1, middle - i - 1)),
                                  std::string(markup.substr(middle + 2, end - middle - 2))});
                i = end + 1;
                continue;
            }
        }
        plain += markup[i++];
    }
    flush();
    return pieces;
}

std::string html_escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\n':
            out += "<br>\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

std::string plain_notice_text(std::string_view markup) {
    std::string text;
    for (const MarkupPiece &piece : markup_pieces(markup)) {
        text += piece.text;
        if (piece.kind == MarkupPiece::Kind::link) {
            text += ": " + piece.extra;
        }
    }
    return text;
}

std::string html_notice_text(std::string_view markup) {
    std::string html = "<html><body><p>";
    for (const MarkupPiece &piece : markup_pieces(markup)) {
        switch (piece.kind) {
        case MarkupPiece::Kind::text:
            html += html_escaped(piece.text);
            break;
        case MarkupPiece::Kind::coloured:
            html += "<b style=\"color: " + html_escaped(piece.extra) + "\">" +
                    html_escaped(piece.text) + "</b>";
            break;
        case MarkupPiece::Kind::link:
            html += "<a href=\"" + html_escaped(piece.extra) + "\">" + html_escaped(piece.text) +
                    "</a>";
            break;
        }
    }
    return html + "</p></body></html>\n";
}

std::string dingtalk_string_to_sign(std::string_view timestamp, std::string_view secret) {
    return std::string(timestamp) + "\n" + std::string(secret);
}

std::string
with_query_parameters(std::string_view url,
                      const std::vector<std::pair<std::string, std::string>> &parameters) {
    const auto hash = url.find('#');
    std::string out(url.substr(0, hash));
    for (const auto &[name, value] : parameters) {
        if (out.find('?') == std::string::npos) {
            out += '?';
        } else if (out.back() != '?' && out.back() != '&') {
            out += '&';
        }
        out += name + "=" + value;
    }
    if (hash != std::string_view::npos) {
        out += url.substr(hash);
    }
    return out;
}

std::string duration_text(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2fs", seconds);
    return text;
}

std::vector<std::string> split_recipients(std::string_view email_to) {
    std::vector<std::string> recipients;
    const auto keep = [&](std::string_view piece) {
        piece = strip_blanks(piece);
        if (!piece.empty()) {
            recipients.emplace_back(piece);
        }
    };
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < email_to.size(); ++i) {
        const char c = email_to[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && quoted) {
            ++i; // an escaped character inside the quotes, possibly a quote
        } else if ((c == ',' || c == ';') && !quoted) {
            keep(email_to.substr(start, i - start));
            start = i + 1;
        }
    }
    if (start < email_to.size()) {
        keep(email_to.substr(start));
    }
    return recipients;
}

std::vector<std::string> url_secrets(std::string_view url) {
    std::vector<std::string> secrets;
    std::string_view rest = url.substr(0, url.find('#'));
    const auto scheme_end = rest.find("://");
    if (scheme_end != std::string_view::npos) {
        const std::string_view after = rest.substr(scheme_end + 3);
        const std::string_view authority = after.substr(0, after.find_first_of("/?"));
        const auto at = authority.rfind('@');
        if (at != std::string_view::npos) {
            const std::string_view userinfo = authority.substr(0, at);
            const auto colon = userinfo.find(':');
            if (colon != std::string_view::npos) {
                add_secret(secrets, userinfo.substr(colon + 1));
            }
        }
    }
    const auto question = rest.find('?');
    if (question == std::string_view::npos) {
        return secrets;
    }
    std::string_view query = rest.substr(question + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos) {
            add_secret(secrets, pair.substr(equals + 1));
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return secrets;
}

std::string mask_secrets(std::string_view text, const std::vector<std::string> &secrets) {
    std::vector<std::string_view> sorted;
    for (const auto &secret : secrets) {
        if (!secret.empty()) {
            sorted.emplace_back(secret);
        }
    }
    if (sorted.empty()) {
        return std::string(text);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::string_view here = text.substr(i);
        const auto match = std::find_if(sorted.begin(), sorted.end(),
                                        [&](std::string_view s) { return here.starts_with(s); });
        if (match != sorted.end()) {
            out += kMask;
            i += match->size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace lumox::core
