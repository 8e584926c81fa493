// A thin streaming layer over expat for package parts: elements and attributes by local name
// (any prefix, transitional or strict namespace), any DOCTYPE refused, depth and text limits.
//   MyHandler handler;   // derives from XmlHandler
//   Result<void> done = parseXml(handler, "xl/workbook.xml", text);
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/error.h"

namespace spreadsheet::detail {

struct XmlLimits {
    int maxDepth = 64;
    std::size_t maxTextBytes = 1 << 20;  // character data of one element, and one attribute value
};

// The attributes of one start tag, looked up by local name (the prefix is ignored).
class XmlAttributes {
public:
    explicit XmlAttributes(const char** pairs) : m_pairs(pairs) {}
    std::optional<std::string_view> get(std::string_view localName) const;
    // Like get(), but only an attribute in a namespace whose URI ends in `namespaceSuffix`.
    std::optional<std::string_view> getNamespaced(std::string_view namespaceSuffix,
                                                  std::string_view localName) const;

private:
    const char** m_pairs;
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

// Decodes the `_xHHHH_` escapes that stand for characters XML cannot carry (surrogate pairs
// joined, lone surrogates as U+FFFD); `_x005F_` is an escaped underscore, so "_x005F_x000D_"
// reads as the literal text "_x000D_".
std::string decodeXlsxEscapes(std::string_view text);

// ISO 8601 "2015-06-15", "2015-06-15T09:30:12(.5)(Z|+08:00)" or "09:30:12" as a serial number
// of the 1900 date system (with its fictitious 1900-02-29); nullopt for anything else. Time
// zones are ignored: the clock time as written is what the cell shows.
std::optional<double> isoToSerial(std::string_view text);

// Separates a namespace URI from the local name in the names expat reports.
constexpr char XmlNamespaceSeparator = '\x01';

}  // namespace spreadsheet::detail
