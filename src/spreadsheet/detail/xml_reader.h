// A streaming XML layer for package parts: elements and attributes by local name (any prefix,
// transitional or strict namespace), any DOCTYPE refused, depth and text limits. UTF-8 parts go
// through our own scanner; parts declared in another encoding go through expat.
//   MyHandler handler;   // derives from XmlHandler
//   Result<void> done = parseXml(handler, "xl/workbook.xml", text);
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/error.h"
#include "spreadsheet/reader_limits.h"

namespace spreadsheet::detail {

struct XmlLimits {
    int maxDepth = MaxXmlDepth;
    std::size_t maxTextBytes = MaxXmlTextBytes;  // text of one element, one attribute value
};

// Equality of names without a library call: most names in a part are one to three letters.
inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k] != b[k]) return false;
    }
    return true;
}

// One attribute of a start tag; `namespaceUri` is empty for an attribute without a prefix.
// Namespace declarations (xmlns, xmlns:p) are not attributes here.
struct XmlAttribute {
    std::string_view namespaceUri;
    std::string_view localName;
    std::string_view value;
};

// The attributes of one start tag, looked up by local name (the prefix is ignored). The views
// live until the handler returns.
class XmlAttributes {
public:
    XmlAttributes(const XmlAttribute* items, std::size_t count) : m_items(items), m_count(count) {}
    std::optional<std::string_view> get(std::string_view localName) const {
        for (std::size_t index = 0; index < m_count; ++index) {
            if (sameName(m_items[index].localName, localName)) return m_items[index].value;
        }
        return std::nullopt;
    }
    // Like get(), but only an attribute in a namespace whose URI ends in `namespaceSuffix`.
    std::optional<std::string_view> getNamespaced(std::string_view namespaceSuffix,
                                                  std::string_view localName) const;
    std::size_t size() const { return m_count; }
    const XmlAttribute& operator[](std::size_t index) const { return m_items[index]; }

private:
    const XmlAttribute* m_items;
    std::size_t m_count;
};

// Receives the events of one part. `characters` is called only while collectingText() is
// true, so handlers switch it on inside the few elements whose text they need. A handler
// stops the parse by calling fail().
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void startElement(std::string_view localName, const XmlAttributes& attributes) = 0;
    virtual void endElement(std::string_view localName) = 0;
    virtual void characters(std::string_view text) { (void)text; }

    bool collectingText() const { return m_collectText; }
    void setCollectingText(bool collect) { m_collectText = collect; }
    void fail(Error error) {
        if (!m_error) m_error = std::move(error);
    }
    const std::optional<Error>& failure() const { return m_error; }

private:
    bool m_collectText = false;
    std::optional<Error> m_error;
};

// Fills `out` with up to `capacity` bytes of the part; 0 means the end.
using XmlSource = std::function<Result<std::size_t>(char* out, std::size_t capacity)>;

// Parses a part pulled from `source` in chunks. Fails with XmlMalformed (with line and
// column), XmlForbidden (a DOCTYPE), XmlLimit, the handler's own error, or the source's.
Result<void> parseXml(XmlHandler& handler, std::string_view partName, const XmlSource& source,
                      XmlLimits limits = {});

// The same over a part already in memory.
Result<void> parseXml(XmlHandler& handler, std::string_view partName, std::string_view text,
                      XmlLimits limits = {});

// The same through expat alone, whatever the encoding: the reference the scanner is checked
// against, and the parser for parts declared in UTF-16 or a legacy encoding. `alreadyRead` is
// the start of the part, taken from the source before the call.
Result<void> parseXmlWithExpat(XmlHandler& handler, std::string_view partName,
                               const XmlSource& source, XmlLimits limits = {},
                               std::string_view alreadyRead = {});

// Our own scanner alone. It returns nullopt without calling the handler when the part must go
// to expat instead (a byte order mark or declaration of another encoding than UTF-8); the
// bytes it took from the source are then in `alreadyRead`.
std::optional<Result<void>> scanXml(XmlHandler& handler, std::string_view partName,
                                    const XmlSource& source, XmlLimits limits,
                                    std::string& alreadyRead);

// Separates a namespace URI from the local name in the names expat reports.
constexpr char XmlNamespaceSeparator = '\x01';

}  // namespace spreadsheet::detail
