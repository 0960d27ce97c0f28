#include "core/xml_reader.hpp"

#include "core/utf8.hpp"

#include <algorithm>

namespace lumox::core {

namespace {

constexpr std::string_view blanks = " \t\r\n";

bool starts_with_at(std::string_view text, std::size_t pos, std::string_view prefix) {
    return text.substr(pos, prefix.size()) == prefix;
}

bool is_xml_char(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Strict UTF-8 of characters XML allows.
bool is_xml_text(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = decode_strict_utf8(text, i, cp);
        if (length == 0 || !is_xml_char(cp)) {
            return false;
        }
        i += length;
    }
    return true;
}

void append_utf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The character a reference such as "#65" or "#x41" stands for; 0 when it is not one.
char32_t character_reference(std::string_view body) {
    if (body.size() < 2 || body[0] != '#') {
        return 0;
    }
    const bool hex = body[1] == 'x';
    std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) {
        return 0;
    }
    char32_t cp = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return 0;
        }
        cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    }
    return is_xml_char(cp) ? cp : 0;
}

// Line ends as an XML parser reports them: CR LF and a lone CR become LF.
void append_line_normalised(std::string &out, std::string_view raw) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n') {
                ++i;
            }
        } else {
            out += raw[i];
        }
    }
}

} // namespace

XmlReader::XmlReader(std::string_view xml, std::string_view root, std::string_view ns)
    : xml_(xml), root_(root), ns_(ns) {
    if (starts_with_at(xml_, 0, "\xEF\xBB\xBF")) {
        pos_ = 3;
    }
    if (!is_xml_text(xml_.substr(pos_))) {
        fail("not UTF-8 text of XML characters");
    }
    read_declaration();
}

void XmlReader::fail(const char *why) const {
    throw XmlUnsupported(std::string(why) + " (at byte " + std::to_string(pos_) + ")");
}

void XmlReader::read_declaration() {
    if (!starts_with_at(xml_, pos_, "<?xml") || pos_ + 5 >= xml_.size() ||
        blanks.find(xml_[pos_ + 5]) == std::string_view::npos) {
        return;
    }
    const std::size_t end = xml_.find("?>", pos_);
    if (end == std::string_view::npos) {
        fail("an unterminated XML declaration");
    }
    const std::string_view declaration = xml_.substr(pos_, end - pos_);
    const std::size_t key = declaration.find("encoding");
    if (key != std::string_view::npos) {
        const std::size_t quote = declaration.find_first_of("\"'", key);
        if (quote == std::string_view::npos) {
            fail("a malformed XML declaration");
        }
        const std::size_t close = declaration.find(declaration[quote], quote + 1);
        std::string encoding(declaration.substr(quote + 1, close - quote - 1));
        std::transform(encoding.begin(), encoding.end(), encoding.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (close == std::string_view::npos || encoding != "utf-8") {
            fail("an encoding other than UTF-8");
        }
    }
    pos_ = end + 2;
}

XmlReader::Event XmlReader::next() {
    if (pending_end_) {
        pending_end_ = false;
        name_ = open_.back();
        open_.pop_back();
        root_closed_ = open_.empty();
        return Event::end;
    }
    text_.clear();
    while (pos_ < xml_.size()) {
        if (xml_[pos_] != '<') {
            std::size_t end = xml_.find('<', pos_);
            if (end == std::string_view::npos) {
                end = xml_.size();
            }
            const std::string_view raw = xml_.substr(pos_, end - pos_);
            if (open_.empty()) {
                if (raw.find_first_not_of(blanks) != std::string_view::npos) {
                    fail("text outside the document element");
                }
            } else {
                append_decoded(text_, raw, false);
            }
            pos_ = end;
            continue;
        }
        if (starts_with_at(xml_, pos_, "<!--")) {
            const std::size_t end = xml_.find("-->", pos_ + 4);
            if (end == std::string_view::npos) {
                fail("an unterminated comment");
            }
            pos_ = end + 3;
            continue;
        }
        if (starts_with_at(xml_, pos_, "<![CDATA[")) {
            const std::size_t end = xml_.find("]]>", pos_ + 9);
            if (end == std::string_view::npos || open_.empty()) {
                fail("a misplaced or unterminated CDATA section");
            }
            append_line_normalised(text_, xml_.substr(pos_ + 9, end - pos_ - 9));
            pos_ = end + 3;
            continue;
        }
        if (starts_with_at(xml_, pos_, "<?")) {
            const std::size_t end = xml_.find("?>", pos_ + 2);
            if (end == std::string_view::npos || starts_with_at(xml_, pos_, "<?xml ")) {
                fail("a misplaced or unterminated processing instruction");
            }
            pos_ = end + 2;
            continue;
        }
        if (starts_with_at(xml_, pos_, "<!")) {
            fail("a document type declaration");
        }
        if (!text_.empty()) {
            return Event::text;
        }
        return read_tag();
    }
    if (!root_closed_ || !open_.empty()) {
        fail("the document ends inside an element");
    }
    return Event::done;
}

XmlReader::Event XmlReader::read_tag() {
    if (starts_with_at(xml_, pos_, "</")) {
        pos_ += 2;
        const std::string_view name = read_name();
        skip_blanks();
        if (pos_ >= xml_.size() || xml_[pos_] != '>') {
            fail("a malformed end tag");
        }
        ++pos_;
        if (open_.empty() || open_.back() != name) {
            fail("an end tag that closes no open element");
        }
        open_.pop_back();
        root_closed_ = open_.empty();
        name_ = name;
        return Event::end;
    }
    ++pos_;
    const std::string_view name = read_name();
    if (root_closed_) {
        fail("a second document element");
    }
    name_ = name;
    read_attributes();
    bool self_closing = false;
    if (starts_with_at(xml_, pos_, "/>")) {
        self_closing = true;
        pos_ += 2;
    } else if (pos_ < xml_.size() && xml_[pos_] == '>') {
        ++pos_;
    } else {
        fail("a malformed start tag");
    }
    const std::string *default_ns = attribute("xmlns");
    if (!root_seen_) {
        if (name != root_ || default_ns == nullptr || *default_ns != ns_) {
            fail("an unexpected document element or namespace");
        }
        root_seen_ = true;
    } else if (default_ns != nullptr) {
        fail("the default namespace declared again");
    }
    for (const XmlAttribute &attr : attributes_) {
        if (attr.name.substr(0, 6) == "xmlns:" && attr.value == ns_) {
            fail("the part's namespace bound to a prefix");
        }
    }
    open_.push_back(name);
    pending_end_ = self_closing;
    return Event::start;
}

std::string_view XmlReader::read_name() {
    const std::size_t start = pos_;
    while (pos_ < xml_.size() &&
           std::string_view(" \t\r\n/>=\"'<&").find(xml_[pos_]) == std::string_view::npos) {
        ++pos_;
    }
    const std::string_view name = xml_.substr(start, pos_ - start);
    if (name.empty() || std::string_view("0123456789-.:").find(name[0]) != std::string_view::npos) {
        fail("a malformed name");
    }
    return name;
}

void XmlReader::read_attributes() {
    attributes_.clear();
    while (true) {
        const std::size_t before = pos_;
        skip_blanks();
        if (pos_ >= xml_.size()) {
            fail("the document ends inside a tag");
        }
        if (xml_[pos_] == '>' || xml_[pos_] == '/') {
            return;
        }
        if (pos_ == before) {
            fail("attributes not separated by blanks");
        }
        const std::string_view name = read_name();
        skip_blanks();
        if (pos_ >= xml_.size() || xml_[pos_] != '=') {
            fail("an attribute without a value");
        }
        ++pos_;
        skip_blanks();
        if (pos_ >= xml_.size() || (xml_[pos_] != '"' && xml_[pos_] != '\'')) {
            fail("an unquoted attribute value");
        }
        const std::size_t end = xml_.find(xml_[pos_], pos_ + 1);
        if (end == std::string_view::npos) {
            fail("an unterminated attribute value");
        }
        const std::string_view raw = xml_.substr(pos_ + 1, end - pos_ - 1);
        if (raw.find('<') != std::string_view::npos || attribute(name) != nullptr) {
            fail("a malformed or repeated attribute");
        }
        std::string value;
        append_decoded(value, raw, true);
        attributes_.push_back(XmlAttribute{name, std::move(value)});
        pos_ = end + 1;
    }
}

const std::string *XmlReader::attribute(std::string_view name) const {
    for (const XmlAttribute &attr : attributes_) {
        if (attr.name == name) {
            return &attr.value;
        }
    }
    return nullptr;
}

void XmlReader::append_decoded(std::string &out, std::string_view raw, bool attribute_value) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '&') {
            const std::size_t end = raw.find(';', i + 1);
            if (end == std::string_view::npos) {
                fail("an unterminated entity reference");
            }
            const std::string_view body = raw.substr(i + 1, end - i - 1);
            if (body == "lt") {
                out += '<';
            } else if (body == "gt") {
                out += '>';
            } else if (body == "amp") {
                out += '&';
            } else if (body == "quot") {
                out += '"';
            } else if (body == "apos") {
                out += '\'';
            } else if (const char32_t cp = character_reference(body); cp != 0) {
                append_utf8(out, cp);
            } else {
                fail("an unknown entity or character reference");
            }
            i = end;
        } else if (c == '\r' || c == '\n' || c == '\t') {
            if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
                ++i;
            }
            // Attribute values carry each blank character as a space.
            out += attribute_value ? ' ' : (c == '\t' ? '\t' : '\n');
        } else {
            out += c;
        }
    }
}

void XmlReader::skip_blanks() {
    while (pos_ < xml_.size() && blanks.find(xml_[pos_]) != std::string_view::npos) {
        ++pos_;
    }
}

void XmlReader::skip_element() {
    const std::size_t depth = open_.size();
    while (open_.size() >= depth) {
        if (next() == Event::done) {
            fail("the document ends inside an element");
        }
    }
}

std::string XmlReader::text_only_content() {
    std::string content;
    while (true) {
        switch (next()) {
        case Event::text:
            content += text_;
            break;
        case Event::end:
            return content;
        default:
            fail("an element inside a text element");
        }
    }
}

} // namespace lumox::core
