#include "core/http_attachment_text.hpp"

#include "core/ascii_text.hpp"
#include "core/utf8.hpp"

namespace lumox::core {

namespace {

// Strict, as Python decodes: the text goes to Python as str, which refuses overlong
// forms, surrogates and code points past U+10FFFF that decode_utf8 lets through.
bool is_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t length = decode_utf8(text, i, cp);
        if (length == 1 && static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
        const char32_t shortest_min = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (length > 1 && (cp < shortest_min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            return false;
        }
        i += length;
    }
    return true;
}

// The longest prefix of at most `limit` bytes that does not split a UTF-8 character.
std::size_t cut_point(std::string_view text, std::size_t limit) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t next = i + decode_utf8(text, i, cp);
        if (next > limit) {
            break;
        }
        end = i = next;
    }
    return end;
}

} // namespace

bool is_secret_header(std::string_view name) {
    const std::string lower = lower_ascii(name);
    if (lower == "authorization" || lower == "proxy-authorization" || lower == "cookie" ||
        lower == "set-cookie") {
        return true;
    }
    for (std::string_view part : {"token", "secret", "password", "api-key", "apikey"}) {
        if (lower.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string masked_header_value(std::string_view value) {
    // The scheme of an Authorization value tells the tester which kind was sent.
    const std::size_t blank = value.find(' ');
    if (blank != std::string_view::npos && blank > 0 && blank < 20) {
        return std::string(value.substr(0, blank)) + " ***";
    }
    return "***";
}

std::string http_message_text(const HttpMessageText &message, std::size_t body_limit) {
    std::string text = message.first_line + "\n";
    for (const auto &[name, value] : message.headers) {
        text += name + ": " + (is_secret_header(name) ? masked_header_value(value) : value) + "\n";
    }
    text += "\n";
    const std::string &body = message.body;
    if (body.empty()) {
        return text + "(no body)\n";
    }
    if (!is_utf8(body)) {
        return text + "(" + std::to_string(body.size()) + " bytes of binary data)\n";
    }
    if (body.size() <= body_limit) {
        return text + body;
    }
    const std::size_t end = cut_point(body, body_limit);
    return text + body.substr(0, end) + "\n... (" + std::to_string(body.size() - end) +
           " more bytes not shown)\n";
}

} // namespace lumox::core
