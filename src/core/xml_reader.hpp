// A pull reader for the XML parts of a spreadsheet package: elements, attributes and
// text, decoded the way a conforming XML parser hands them over (entities and character
// references replaced, line ends normalised, comments dropped, CDATA kept as text).
//
// It reads the documents such packages hold, not every XML document: whatever it cannot
// be sure to read exactly as a full parser would (a DOCTYPE, an encoding other than
// UTF-8, a malformed document, the part's namespace bound to a prefix) throws
// XmlUnsupported, so that the caller can hand the file to a full parser instead.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumox::core {

class XmlUnsupported : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct XmlAttribute {
    std::string_view name; // as written, with its prefix if it has one
    std::string value;     // decoded
};

class XmlReader {
public:
    enum class Event { start, end, text, done };

    // `root` is the local name the document element must have, unprefixed, in the default
    // namespace `ns`. Within the document no other element may take that namespace over:
    // unprefixed names are the part's own, prefixed ones belong to extensions.
    XmlReader(std::string_view xml, std::string_view root, std::string_view ns);

    Event next();

    // Of the last start or end event: the element's name as written.
    std::string_view name() const { return name_; }
    // Of the last start event.
    const std::vector<XmlAttribute> &attributes() const { return attributes_; }
    const std::string *attribute(std::string_view name) const;
    // Of the last text event: all the character data up to the next tag.
    const std::string &text() const { return text_; }
    // Open elements, the one just started included.
    std::size_t depth() const { return open_.size(); }

    // After a start event: reads on to the matching end event.
    void skip_element();
    // After a start event: the element's text, which must hold no child element.
    std::string text_only_content();

private:
    void read_declaration();
    Event read_tag();
    void read_attributes();
    std::string_view read_name();
    void append_decoded(std::string &out, std::string_view raw, bool attribute_value);
    void skip_blanks();
    [[noreturn]] void fail(const char *why) const;

    std::string_view xml_;
    std::string_view root_;
    std::string_view ns_;
    std::size_t pos_ = 0;
    std::vector<std::string_view> open_;
    std::string_view name_;
    std::vector<XmlAttribute> attributes_;
    std::string text_;
    bool pending_end_ = false; // a self-closing element's end is still to be reported
    bool root_seen_ = false;
    bool root_closed_ = false;
};

} // namespace lumox::core
