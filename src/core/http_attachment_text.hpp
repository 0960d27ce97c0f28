// The text of an HTTP request or response as attached to a report step: the first line,
// the headers with secrets masked, and the body as text, cut at a size a report can show.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumox::core {

struct HttpMessageText {
    std::string first_line; // "POST http://host/api/login" or "HTTP/1.1 200 OK"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body; // the raw bytes
};

// Bodies longer than this are cut in report attachments.
inline constexpr std::size_t kAttachedBodyLimit = 64 * 1024;

// Headers whose values are credentials: Authorization, Proxy-Authorization, Cookie,
// Set-Cookie, and any name holding "token", "secret", "password" or "api-key" (any case).
bool is_secret_header(std::string_view name);

// "Bearer abc.def" -> "Bearer ***"; any other value -> "***".
std::string masked_header_value(std::string_view value);

// The attachment text: first line, "Name: value" lines, a blank line and the body. A body
// that is not UTF-8 is described by its size; a longer one than `body_limit` is cut at a
// character boundary with a note of how much was left out.
std::string http_message_text(const HttpMessageText &message,
                              std::size_t body_limit = kAttachedBodyLimit);

} // namespace lumox::core
