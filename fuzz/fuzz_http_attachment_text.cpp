// HTTP messages as attached to report steps. Input: the first line, "Name: value" header
// lines, a blank line and the body; the body limit is the first line's length, so that
// short inputs reach the cut.
#include "core/http_attachment_text.hpp"
#include "support.hpp"

#include <string>

using namespace lumox::core;
using lumox::fuzz::check;
using lumox::fuzz::is_strict_utf8;

namespace {

HttpMessageText message_of(std::string_view input) {
    HttpMessageText message;
    std::size_t newline = input.find('\n');
    message.first_line = input.substr(0, newline);
    input = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
    while (!input.empty()) {
        newline = input.find('\n');
        const std::string_view line = input.substr(0, newline);
        input = newline == std::string_view::npos ? std::string_view() : input.substr(newline + 1);
        if (line.empty()) {
            break;
        }
        const std::size_t colon = line.find(':');
        message.headers.emplace_back(line.substr(0, colon),
                                     colon == std::string_view::npos ? "" : line.substr(colon + 1));
    }
    message.body = input;
    return message;
}

void check_text(const HttpMessageText &message, std::size_t limit) {
    const std::string text = http_message_text(message, limit);

    std::string head = message.first_line + "\n";
    for (const auto &[name, value] : message.headers) {
        const std::string shown = is_secret_header(name) ? masked_header_value(value) : value;
        if (is_secret_header(name)) {
            // Only the scheme word survives masking.
            check(shown == "***" || (shown.ends_with(" ***") &&
                                     value.starts_with(shown.substr(0, shown.size() - 3))),
                  "a secret header value is shown");
        }
        head += name + ": " + shown + "\n";
    }
    head += "\n";
    check(text.starts_with(head), "the first line and headers are not shown as sent");

    const std::string_view rest = std::string_view(text).substr(head.size());
    const std::string &body = message.body;
    if (body.empty()) {
        check(rest == "(no body)\n", "an empty body is not described");
    } else if (rest.starts_with("(") && rest.ends_with(" bytes of binary data)\n")) {
        check(!is_strict_utf8(body), "a UTF-8 body is described as binary");
        check(rest == "(" + std::to_string(body.size()) + " bytes of binary data)\n",
              "the size of a binary body is wrong");
    } else if (body.size() <= limit) {
        check(rest == body, "a short body is not shown whole");
    } else {
        // A cut body: a prefix that ends on a character boundary, then the note.
        const std::size_t note = rest.rfind("\n... (");
        check(note != std::string_view::npos, "a long body is not cut");
        const std::string_view shown = rest.substr(0, note);
        check(shown.size() <= limit && limit - shown.size() < 4,
              "a body is cut far from the limit");
        check(body.starts_with(shown), "the shown part is not the start of the body");
        check(rest.substr(note) == "\n... (" + std::to_string(body.size() - shown.size()) +
                                       " more bytes not shown)\n",
              "the note miscounts what was left out");
    }

    // Report attachments go to Python as str: valid UTF-8 in, valid UTF-8 out.
    bool inputs_are_text = is_strict_utf8(message.first_line);
    for (const auto &[name, value] : message.headers) {
        inputs_are_text = inputs_are_text && is_strict_utf8(name) && is_strict_utf8(value);
    }
    if (inputs_are_text) {
        check(is_strict_utf8(text), "an attachment text that is not valid UTF-8");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const HttpMessageText message = message_of(lumox::fuzz::as_text(data, size));
    check_text(message, message.first_line.size());
    check_text(message, kAttachedBodyLimit);
    return 0;
}
