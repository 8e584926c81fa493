// Our own XML scanner for UTF-8 package parts. Worksheet parts are millions of small tags, and a
// general parser spends most of a merge's reading time on them; this one reports the same
// events as the expat layer (local names, resolved attribute namespaces, text only when the
// handler collects it) with views into its buffer instead of copied, NUL-terminated strings.
// It checks what makes a part well-formed: matching tags, one root, attribute syntax, entities
// and character references, UTF-8 and the characters XML allows, bound prefixes.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/text_encoding.h"

namespace spreadsheet::detail {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;
constexpr std::string_view XmlNamespaceUri = "http://www.w3.org/XML/1998/namespace";

// Byte classes in text and attribute values.
enum ByteClass : unsigned char {
    Plain,
    Open,
    Ampersand,
    Return,
    Quote,
    Apostrophe,
    Space,
    Forbidden,
    Multibyte
};

constexpr std::array<unsigned char, 256> makeClasses() {
    std::array<unsigned char, 256> classes{};
    for (int byte = 0; byte < 0x20; ++byte) classes[byte] = Forbidden;
    classes['\t'] = Space;
    classes['\n'] = Space;
    classes['\r'] = Return;
    classes['<'] = Open;
    classes['&'] = Ampersand;
    classes['"'] = Quote;
    classes['\''] = Apostrophe;
    for (int byte = 0x80; byte < 0x100; ++byte) classes[byte] = Multibyte;
    return classes;
}
constexpr std::array<unsigned char, 256> Classes = makeClasses();

// "xmlns" or "xmlns:prefix": a namespace declaration, not an attribute.
bool isDeclaration(std::string_view name) {
    return name.size() >= 5 && name[0] == 'x' && name.substr(0, 5) == "xmlns" &&
           (name.size() == 5 || name[5] == ':');
}

// Where the prefix of a qualified name ends; names are too short for memchr to pay.
std::size_t colonIn(std::string_view name) {
    for (std::size_t k = 0; k < name.size(); ++k) {
        if (name[k] == ':') return k;
    }
    return std::string_view::npos;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isXmlCharacter(std::uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// The length of the UTF-8 sequence at `p` holding an XML character; 0 when it is not one,
// -1 when the buffer ends inside it.
int utf8Length(const unsigned char* p, const unsigned char* end) {
    char32_t code = 0;
    const int length = decodeUtf8(p, end, code);
    if (length > 0 && !isXmlCharacter(code)) return 0;
    return length;
}

// Reads the pseudo-attributes of an XML declaration: `body` is what stands between "<?xml" and
// "?>". False when it is not well-formed: version first, then encoding and standalone, each
// after white space, in matching quotes.
bool readDeclaration(std::string_view body, std::string& encoding) {
    static constexpr std::string_view Names[] = {"version", "encoding", "standalone"};
    std::size_t p = 0;
    int next = 0;  // the first of Names still allowed
    bool sawVersion = false;
    for (;;) {
        const std::size_t spaceStart = p;
        while (p < body.size() && isSpace(body[p])) ++p;
        if (p >= body.size()) return sawVersion;
        if (p == spaceStart) return false;
        std::size_t nameEnd = p;
        while (nameEnd < body.size() && body[nameEnd] >= 'a' && body[nameEnd] <= 'z') ++nameEnd;
        const std::string_view name = body.substr(p, nameEnd - p);
        int which = next;
        while (which < 3 && Names[which] != name) ++which;
        if (which >= 3 || (which > 0 && !sawVersion)) return false;
        next = which + 1;
        p = nameEnd;
        while (p < body.size() && isSpace(body[p])) ++p;
        if (p >= body.size() || body[p] != '=') return false;
        ++p;
        while (p < body.size() && isSpace(body[p])) ++p;
        if (p >= body.size() || (body[p] != '"' && body[p] != '\'')) return false;
        const std::size_t close = body.find(body[p], p + 1);
        if (close == std::string_view::npos) return false;
        const std::string_view value = body.substr(p + 1, close - p - 1);
        p = close + 1;
        if (value.empty()) return false;
        if (which == 0) {
            sawVersion = true;
            for (char c : value) {
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' &&
                    c != ':' && c != '-')
                    return false;
            }
        } else if (which == 1) {
            if (!std::isalpha(static_cast<unsigned char>(value[0]))) return false;
            for (char c : value) {
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' &&
                    c != '-')
                    return false;
            }
            encoding = std::string(value);
        } else if (value != "yes" && value != "no") {
            return false;
        }
    }
}

enum class Step { Done, NeedMore, Failed };

struct Binding {
    std::string prefix;
    std::string uri;
    int depth = 0;
};

class Scanner {
public:
    Scanner(XmlHandler& handler, std::string_view partName, const XmlSource& source,
            XmlLimits limits)
        : m_handler(handler), m_partName(partName), m_source(source), m_limits(limits) {}

    // nullopt: the part is for expat; its first bytes are left in `alreadyRead`.
    std::optional<Result<void>> run(std::string& alreadyRead) {
        if (!fill()) return *m_error;
        // Enough of the start to see a byte order mark and the declaration's encoding.
        while (!m_last && m_buffer.size() < 256) {
            if (!fill()) return *m_error;
        }
        if (!startsAsUtf8()) {
            alreadyRead = std::move(m_buffer);
            return std::nullopt;
        }
        for (;;) {
            const Step step = scanAvailable();
            if (step == Step::Failed) return *m_error;
            if (step == Step::NeedMore && m_last) return malformed(m_position, "unclosed token");
            if (m_last && m_position >= m_buffer.size()) return finish();
            compact();
            if (m_buffer.size() > MaxXmlMarkupBytes)
                return fail(ErrorCode::XmlLimit, m_position,
                            "a tag longer than " + std::to_string(MaxXmlMarkupBytes) +
                                " bytes (XML text length limit)");
            if (!fill()) return *m_error;
        }
    }

private:
    XmlHandler& m_handler;
    std::string_view m_partName;
    const XmlSource& m_source;
    XmlLimits m_limits;
    std::optional<Error> m_error;

    std::string m_buffer;
    std::size_t m_position = 0;  // next unread byte of m_buffer
    bool m_last = false;         // the source has no more bytes
    bool m_atStart = true;       // nothing but a byte order mark read yet
    // Where the buffer starts in the part, for error positions.
    long long m_linesBefore = 1;
    long long m_columnBefore = 0;  // bytes since the last line break before the buffer

    enum class Mode { Content, Comment, Cdata } m_mode = Mode::Content;
    int m_depth = 0;
    bool m_rootSeen = false;
    bool m_rootClosed = false;
    std::size_t m_textBytes = 0;
    std::string m_names;                    // qualified names of the open elements, joined
    std::vector<std::size_t> m_nameStarts;  // where each open element's name starts in m_names
    std::vector<Binding> m_bindings;
    std::string m_text;  // decoded text when it differs from the bytes
    // The attributes of the start tag being read: qualified name, value as in the buffer, and
    // where the decoded value lies in m_values when it differs.
    struct RawAttribute {
        std::string_view name;
        std::string_view raw;
        std::size_t decodedOffset = std::string::npos;
        std::size_t decodedLength = 0;
    };
    std::vector<RawAttribute> m_raw;
    std::string m_values;
    std::vector<XmlAttribute> m_attributes;

    // Reading.

    // Reads the next bytes of the part. A construct that is still incomplete is scanned again
    // from its start, so the read grows with it: scanning stays linear in the construct's size.
    bool fill() {
        const std::size_t start = m_buffer.size();
        const std::size_t wanted = std::max(ChunkSize, start);
        std::size_t used = start;
        m_buffer.resize(start + wanted);
        while (used < start + wanted) {
            Result<std::size_t> got = m_source(m_buffer.data() + used, start + wanted - used);
            if (!got) {
                m_buffer.resize(used);
                m_error = got.error();
                return false;
            }
            if (*got == 0) {
                m_last = true;
                break;
            }
            used += *got;
        }
        m_buffer.resize(used);
        return true;
    }

    void compact() {
        const char* begin = m_buffer.data();
        const char* end = begin + m_position;
        for (const char* p = begin; p < end;) {
            const char* newline =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!newline) {
                m_columnBefore += end - p;
                break;
            }
            ++m_linesBefore;
            m_columnBefore = 0;
            p = newline + 1;
        }
        m_buffer.erase(0, m_position);
        m_position = 0;
    }

    bool startsAsUtf8() {
        std::string_view start(m_buffer);
        if (start.substr(0, 3) == "\xEF\xBB\xBF") {
            m_position = 3;
            start.remove_prefix(3);
        } else if (start.size() >= 2 && (start[0] == '\0' || start[1] == '\0' ||
                                         static_cast<unsigned char>(start[0]) >= 0xFE)) {
            return false;  // UTF-16 or UTF-32, with or without a byte order mark
        }
        if (start.substr(0, 5) != "<?xml" || start.size() < 6 || !isSpace(start[5])) return true;
        const std::size_t close = start.find("?>");
        if (close == std::string_view::npos) return true;  // found malformed later
        std::string name;
        if (!readDeclaration(start.substr(5, close - 5), name) || name.empty()) return true;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return name == "utf-8" || name == "utf8";
    }

    // Errors.

    std::string where(std::size_t offset) const {
        long long line = m_linesBefore;
        long long column = m_columnBefore;
        for (std::size_t k = 0; k < offset && k < m_buffer.size(); ++k) {
            if (m_buffer[k] == '\n')
                ++line, column = 0;
            else
                ++column;
        }
        return std::string(m_partName) + " line " + std::to_string(line) + " column " +
               std::to_string(column);
    }
    Result<void> fail(ErrorCode code, std::size_t offset, const std::string& what) {
        m_error = Error(code, where(offset) + ": " + what);
        return *m_error;
    }
    Result<void> malformed(std::size_t offset, const std::string& what) {
        return fail(ErrorCode::XmlMalformed, offset, what);
    }
    Step failStep(ErrorCode code, std::size_t offset, const std::string& what) {
        (void)fail(code, offset, what);
        return Step::Failed;
    }
    Step malformedStep(std::size_t offset, const std::string& what) {
        return failStep(ErrorCode::XmlMalformed, offset, what);
    }
    bool handlerFailed() {
        if (!m_handler.failure()) return false;
        m_error = *m_handler.failure();
        return true;
    }

    Result<void> finish() {
        if (m_mode != Mode::Content) return malformed(m_position, "unclosed token");
        if (!m_rootSeen) return malformed(m_position, "no element found");
        if (m_depth > 0) return malformed(m_position, "unclosed token");
        return {};
    }

    // Scanning.

    Step scanAvailable() {
        while (m_position < m_buffer.size()) {
            Step step;
            if (m_mode == Mode::Comment)
                step = comment();
            else if (m_mode == Mode::Cdata)
                step = cdata();
            else if (m_buffer[m_position] == '<')
                step = markup();
            else
                step = text();
            if (step != Step::Done) return step;
        }
        return Step::Done;
    }

    // Character data up to the next '<', delivered when the handler collects it. Stops before
    // an entity or line end the buffer cuts, so that the next chunk completes it.
    Step text() {
        const auto* const begin = reinterpret_cast<const unsigned char*>(m_buffer.data());
        const auto* const end = begin + m_buffer.size();
        const auto* p = begin + m_position;
        const auto* runStart = p;
        const bool deliver = m_depth > 0 && m_handler.collectingText();
        bool decoded = false;  // m_text holds the run so far
        m_text.clear();
        bool onlySpace = true;
        // Moves the bytes before `upTo` into m_text, where the decoded text is built.
        auto flush = [&](const unsigned char* upTo) {
            m_text.append(reinterpret_cast<const char*>(runStart),
                          static_cast<std::size_t>(upTo - runStart));
            runStart = upTo;
            decoded = true;
        };
        Step outcome = Step::Done;
        while (p < end) {
            const unsigned char c = *p;
            const unsigned char kind = Classes[c];
            if (kind == Plain || kind == Quote || kind == Apostrophe) {
                if (c != ' ') onlySpace = false;
                // "]]>" may not stand in text.
                if (c == '>' && p >= begin + 2 && p[-1] == ']' && p[-2] == ']')
                    return malformedStep(static_cast<std::size_t>(p - begin),
                                         "not well-formed (invalid token)");
                ++p;
                continue;
            }
            if (kind == Space) {
                ++p;
                continue;
            }
            if (kind == Open) break;
            if (kind != Return) onlySpace = false;
            if (kind == Multibyte) {
                const int length = utf8Length(p, end);
                if (length == 0)
                    return malformedStep(static_cast<std::size_t>(p - begin),
                                         "not well-formed (invalid token)");
                if (length < 0) {
                    if (m_last)
                        return malformedStep(static_cast<std::size_t>(p - begin),
                                             "not well-formed (invalid token)");
                    outcome = Step::NeedMore;
                    break;
                }
                p += length;
                continue;
            }
            if (kind == Forbidden)
                return malformedStep(static_cast<std::size_t>(p - begin),
                                     "not well-formed (invalid token)");
            if (kind == Return) {
                // A line end is "\n" whatever the file used.
                if (p + 1 >= end && !m_last) {
                    outcome = Step::NeedMore;
                    break;
                }
                flush(p);
                m_text += '\n';
                p += (p + 1 < end && p[1] == '\n') ? 2 : 1;
                runStart = p;
                continue;
            }
            // An entity or character reference.
            if (m_depth == 0)
                return malformedStep(static_cast<std::size_t>(p - begin),
                                     "reference outside the document element");
            flush(p);
            const std::size_t at = static_cast<std::size_t>(p - begin);
            const Step reference = decodeReference(at, m_text);
            if (reference == Step::Failed) return reference;
            if (reference == Step::NeedMore) {
                outcome = Step::NeedMore;
                break;
            }
            p = begin + m_position;  // decodeReference moved past the ';'
            runStart = p;
        }
        if (m_depth == 0 && !onlySpace)
            return malformedStep(m_position, "text outside the document element");
        if (p > begin + m_position) m_atStart = false;
        if (deliver) {
            std::string_view chunk;
            if (decoded) {
                flush(p);
                chunk = m_text;
            } else {
                chunk = std::string_view(reinterpret_cast<const char*>(runStart),
                                         static_cast<std::size_t>(p - runStart));
            }
            if (!deliverText(chunk)) return Step::Failed;
        }
        m_position = static_cast<std::size_t>(p - begin);
        return outcome;
    }

    bool deliverText(std::string_view chunk) {
        if (chunk.empty()) return true;
        m_textBytes += chunk.size();
        if (m_textBytes > m_limits.maxTextBytes) {
            (void)fail(ErrorCode::XmlLimit, m_position,
                       "text longer than " + std::to_string(m_limits.maxTextBytes) +
                           " bytes (XML text length limit)");
            return false;
        }
        m_handler.characters(chunk);
        return !handlerFailed();
    }

    // The reference at `at` ('&') appended to `out`; m_position then follows its ';'.
    Step decodeReference(std::size_t at, std::string& out) {
        const std::size_t limit = std::min(m_buffer.size(), at + 16);
        std::size_t semicolon = at + 1;
        while (semicolon < limit && m_buffer[semicolon] != ';') ++semicolon;
        if (semicolon >= limit) {
            if (limit == m_buffer.size() && !m_last) return Step::NeedMore;
            return malformedStep(at, "not well-formed (invalid token)");
        }
        const std::string_view name(m_buffer.data() + at + 1, semicolon - at - 1);
        m_position = semicolon + 1;
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty()) return malformedStep(at, "not well-formed (invalid token)");
            std::uint32_t code = 0;
            for (char c : digits) {
                int digit;
                if (c >= '0' && c <= '9')
                    digit = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    digit = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    digit = c - 'A' + 10;
                else
                    return malformedStep(at, "not well-formed (invalid token)");
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
                if (code > 0x10FFFF)
                    return malformedStep(at, "reference to invalid character number");
            }
            if (!isXmlCharacter(code))
                return malformedStep(at, "reference to invalid character number");
            appendUtf8(out, code);
        } else {
            return malformedStep(at, "undefined entity");
        }
        return Step::Done;
    }

    Step markup() {
        const std::size_t at = m_position;
        const std::size_t available = m_buffer.size() - at;
        if (available < 2) return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
        const char second = m_buffer[at + 1];
        if (second == '/') return endTag();
        if (second == '?') return processingInstruction();
        if (second == '!') {
            const std::string_view rest(m_buffer.data() + at, std::min<std::size_t>(available, 9));
            if (rest.substr(0, 4) == "<!--") {
                m_position = at + 4;
                m_mode = Mode::Comment;
                m_atStart = false;
                return Step::Done;
            }
            if (rest == "<![CDATA[") {
                if (m_depth == 0)
                    return malformedStep(at, "CDATA section outside the document element");
                m_position = at + 9;
                m_mode = Mode::Cdata;
                return Step::Done;
            }
            // Package parts never carry a document type; one is how entity-expansion bombs arrive.
            if (rest == "<!DOCTYPE")
                return failStep(ErrorCode::XmlForbidden, at,
                                "a DOCTYPE declaration is not allowed in a package part");
            auto cutShort = [&rest](std::string_view full) {
                return rest.size() < full.size() && full.substr(0, rest.size()) == rest;
            };
            if (!m_last && (cutShort("<!--") || cutShort("<![CDATA[") || cutShort("<!DOCTYPE")))
                return Step::NeedMore;
            return malformedStep(at, "not well-formed (invalid token)");
        }
        return startTag();
    }

    // Inside "<!-- ... -->": skipped, with "--" allowed only before the closing '>'.
    Step comment() {
        const char* begin = m_buffer.data();
        std::size_t p = m_position;
        while (p < m_buffer.size()) {
            const void* dash = std::memchr(begin + p, '-', m_buffer.size() - p);
            if (!dash) {
                p = m_buffer.size();
                break;
            }
            p = static_cast<std::size_t>(static_cast<const char*>(dash) - begin);
            if (p + 2 >= m_buffer.size()) break;  // the next chunk decides what the dashes are
            if (begin[p + 1] != '-') {
                ++p;
                continue;
            }
            if (begin[p + 2] != '>') return malformedStep(p, "not well-formed (invalid token)");
            if (Step checked = checkCharacters(m_position, p); checked != Step::Done)
                return checked;
            m_position = p + 3;
            m_mode = Mode::Content;
            return Step::Done;
        }
        p = characterBoundary(m_position, p);
        if (Step checked = checkCharacters(m_position, p); checked != Step::Done) return checked;
        m_position = p;
        return Step::NeedMore;
    }

    // `to`, or the start of a character the buffer cuts at `to`.
    std::size_t characterBoundary(std::size_t from, std::size_t to) const {
        std::size_t boundary = to;
        while (boundary > from && boundary < m_buffer.size() &&
               (static_cast<unsigned char>(m_buffer[boundary]) & 0xC0) == 0x80)
            --boundary;
        return boundary;
    }

    // Inside "<![CDATA[ ... ]]>": the bytes as they are, line ends made "\n".
    Step cdata() {
        std::size_t p = m_position;
        bool closed = false;
        std::size_t stop = m_buffer.size();
        const std::size_t close = m_buffer.find("]]>", p);
        if (close != std::string::npos) {
            stop = close;
            closed = true;
        } else {
            // Keep back what may be the start of "]]>", a line end or a character the chunk cuts.
            stop = std::max(p, m_buffer.size() >= 2 ? m_buffer.size() - 2 : 0);
            stop = characterBoundary(p, stop);
            if (stop > p && m_buffer[stop - 1] == '\r') --stop;
        }
        if (Step checked = checkCharacters(p, stop); checked != Step::Done) return checked;
        if (m_handler.collectingText() && stop > p) {
            std::string_view chunk(m_buffer.data() + p, stop - p);
            if (chunk.find('\r') != std::string_view::npos) {
                m_text.clear();
                for (std::size_t k = 0; k < chunk.size(); ++k) {
                    if (chunk[k] != '\r')
                        m_text += chunk[k];
                    else if (k + 1 >= chunk.size() || chunk[k + 1] != '\n')
                        m_text += '\n';
                }
                chunk = m_text;
            }
            if (!deliverText(chunk)) return Step::Failed;
        }
        if (closed) {
            m_position = stop + 3;
            m_mode = Mode::Content;
            return Step::Done;
        }
        m_position = stop;
        return Step::NeedMore;
    }

    // Valid UTF-8 and allowed characters only, in bytes [from, to) that are not decoded.
    Step checkCharacters(std::size_t from, std::size_t to) {
        const auto* begin = reinterpret_cast<const unsigned char*>(m_buffer.data());
        for (std::size_t k = from; k < to;) {
            const unsigned char kind = Classes[begin[k]];
            if (kind == Forbidden) return malformedStep(k, "not well-formed (invalid token)");
            if (kind == Multibyte) {
                const int length = utf8Length(begin + k, begin + to);
                if (length <= 0) return malformedStep(k, "not well-formed (invalid token)");
                k += static_cast<std::size_t>(length);
            } else {
                ++k;
            }
        }
        return Step::Done;
    }

    Step processingInstruction() {
        const std::size_t at = m_position;
        const std::size_t close = m_buffer.find("?>", at + 2);
        if (close == std::string::npos)
            return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
        bool more = false;
        const std::size_t nameEnd = scanName(at + 2, more);
        if (nameEnd == at + 2 || (nameEnd != close && !isSpace(m_buffer[nameEnd])))
            return malformedStep(at, "not well-formed (invalid token)");
        std::string target = m_buffer.substr(at + 2, nameEnd - at - 2);
        std::transform(target.begin(), target.end(), target.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (target == "xml") {
            // The declaration, only as the very first thing of the part.
            if (!m_atStart)
                return malformedStep(at, "XML or text declaration not at start of entity");
            std::string encoding;
            if (!readDeclaration(std::string_view(m_buffer.data() + nameEnd, close - nameEnd),
                                 encoding))
                return malformedStep(at, "XML declaration not well-formed");
        }
        if (Step checked = checkCharacters(nameEnd, close); checked != Step::Done) return checked;
        m_atStart = false;
        m_position = close + 2;
        return Step::Done;
    }

    // Scans a name at `p`; returns its end, or `p` when there is none. `more` is set when the
    // buffer ends inside it.
    std::size_t scanName(std::size_t p, bool& more) const {
        more = false;
        const auto* begin = reinterpret_cast<const unsigned char*>(m_buffer.data());
        const std::size_t size = m_buffer.size();
        if (p >= size) {
            more = true;
            return p;
        }
        if (!isNameStart(begin[p])) return p;
        std::size_t end = p;
        while (end < size && isNameChar(begin[end])) {
            if (begin[end] < 0x80) {
                ++end;
                continue;
            }
            // Letters beyond ASCII: whole characters of the basic plane only.
            const int length = utf8Length(begin + end, begin + size);
            if (length < 0) {
                more = true;
                return end;
            }
            if (length == 0 || length == 4) return end;
            end += static_cast<std::size_t>(length);
        }
        if (end >= size) more = true;
        return end;
    }

    std::size_t skipSpace(std::size_t p) const {
        while (p < m_buffer.size() && isSpace(m_buffer[p])) ++p;
        return p;
    }

    Step endTag() {
        const std::size_t at = m_position;
        bool more = false;
        const std::size_t nameEnd = scanName(at + 2, more);
        if (more) return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
        if (nameEnd == at + 2) return malformedStep(at, "not well-formed (invalid token)");
        const std::size_t close = skipSpace(nameEnd);
        if (close >= m_buffer.size())
            return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
        if (m_buffer[close] != '>') return malformedStep(close, "not well-formed (invalid token)");
        const std::string_view name(m_buffer.data() + at + 2, nameEnd - at - 2);
        if (m_depth == 0 || !sameName(std::string_view(m_names).substr(m_nameStarts.back()), name))
            return malformedStep(at, "mismatched tag");
        m_position = close + 1;
        const std::size_t colon = colonIn(name);
        return closeElement(colon == std::string_view::npos ? name : name.substr(colon + 1));
    }

    // Ends the innermost open element and reports it. The name's view stays valid: the buffer
    // does not move during the call.
    Step closeElement(std::string_view localName) {
        m_names.resize(m_nameStarts.back());
        m_nameStarts.pop_back();
        --m_depth;
        while (!m_bindings.empty() && m_bindings.back().depth > m_depth) m_bindings.pop_back();
        if (m_depth == 0) m_rootClosed = true;
        m_textBytes = 0;
        m_handler.endElement(localName);
        return handlerFailed() ? Step::Failed : Step::Done;
    }

    // The value of `attribute` from the quote at `p`; its end (after the closing quote) in `next`.
    Step attributeValue(RawAttribute& attribute, std::size_t p, std::size_t& next) {
        const auto* begin = reinterpret_cast<const unsigned char*>(m_buffer.data());
        const std::size_t size = m_buffer.size();
        const unsigned char quote = begin[p];
        const std::size_t start = p + 1;
        std::size_t k = start;
        bool decoded = false;
        const std::size_t decodedStart = m_values.size();
        std::size_t runStart = start;
        for (;;) {
            if (k >= size) return m_last ? malformedStep(p, "unclosed token") : Step::NeedMore;
            const unsigned char c = begin[k];
            if (c == quote) break;
            // The limit is on the decoded value, and no reference is more than five times
            // longer than what it stands for ("&amp;"): past that the value is over it.
            if (k - start > 5 * m_limits.maxTextBytes)
                return failStep(ErrorCode::XmlLimit, p,
                                "attribute longer than " + std::to_string(m_limits.maxTextBytes) +
                                    " bytes (XML text length limit)");
            const unsigned char kind = Classes[c];
            if (kind == Plain || kind == Quote || kind == Apostrophe) {
                ++k;
                continue;
            }
            if (kind == Open) return malformedStep(k, "not well-formed (invalid token)");
            if (kind == Forbidden) return malformedStep(k, "not well-formed (invalid token)");
            if (kind == Multibyte) {
                const int length = utf8Length(begin + k, begin + size);
                if (length == 0) return malformedStep(k, "not well-formed (invalid token)");
                if (length < 0)
                    return m_last ? malformedStep(k, "not well-formed (invalid token)")
                                  : Step::NeedMore;
                k += static_cast<std::size_t>(length);
                continue;
            }
            // Line ends and tabs read as spaces in attribute values; references are decoded.
            if (!decoded) decoded = true;
            m_values.append(m_buffer, runStart, k - runStart);
            if (kind == Space || kind == Return) {
                if (kind == Return && k + 1 >= size && !m_last) return Step::NeedMore;
                m_values += ' ';
                k += (kind == Return && k + 1 < size && begin[k + 1] == '\n') ? 2 : 1;
            } else {
                const std::size_t saved = m_position;
                const Step reference = decodeReference(k, m_values);
                const std::size_t after = m_position;
                m_position = saved;
                if (reference != Step::Done) return reference;
                k = after;
            }
            runStart = k;
        }
        if (decoded) {
            m_values.append(m_buffer, runStart, k - runStart);
            attribute.decodedOffset = decodedStart;
            attribute.decodedLength = m_values.size() - decodedStart;
        }
        attribute.raw = std::string_view(m_buffer.data() + start, k - start);
        next = k + 1;
        return Step::Done;
    }

    const std::string* namespaceFor(std::string_view prefix) const {
        for (auto binding = m_bindings.rbegin(); binding != m_bindings.rend(); ++binding) {
            if (binding->prefix == prefix) return &binding->uri;
        }
        return nullptr;
    }

    // A start tag: read whole (or NeedMore), then checked and reported.
    Step startTag() {
        const std::size_t at = m_position;
        bool more = false;
        const std::size_t nameEnd = scanName(at + 1, more);
        if (more) return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
        if (nameEnd == at + 1) return malformedStep(at, "not well-formed (invalid token)");
        if (m_rootClosed) return malformedStep(at, "junk after document element");
        std::size_t end = nameEnd;
        bool empty = false;
        if (Step read = readAttributes(at, end, empty); read != Step::Done) return read;

        // The whole tag is in the buffer: check it and report it.
        if (++m_depth > m_limits.maxDepth)
            return failStep(ErrorCode::XmlLimit, at,
                            "elements nested deeper than " + std::to_string(m_limits.maxDepth) +
                                " levels (XML depth limit)");
        const std::string_view name(m_buffer.data() + at + 1, nameEnd - at - 1);
        bool declares = false;
        for (std::size_t k = 0; k < m_raw.size(); ++k) {
            for (std::size_t j = 0; j < k; ++j) {
                if (sameName(m_raw[j].name, m_raw[k].name))
                    return malformedStep(at, "duplicate attribute");
            }
            if (isDeclaration(m_raw[k].name)) declares = true;
        }
        // Namespace declarations first: they apply to the tag that makes them.
        if (declares) {
            if (Step bound = bindNamespaces(at); bound != Step::Done) return bound;
        }
        if (Step resolved = resolveAttributes(at, declares); resolved != Step::Done)
            return resolved;
        std::string_view localName = name;
        if (const std::size_t colon = colonIn(name); colon != std::string_view::npos) {
            const std::string_view prefix = name.substr(0, colon);
            if (prefix != "xml" && !namespaceFor(prefix))
                return malformedStep(at, "unbound prefix");
            localName = name.substr(colon + 1);
        }

        m_rootSeen = true;
        m_atStart = false;
        m_textBytes = 0;
        m_nameStarts.push_back(m_names.size());
        m_names.append(name);
        m_handler.startElement(localName, XmlAttributes(m_attributes.data(), m_attributes.size()));
        if (handlerFailed()) return Step::Failed;
        m_position = end;
        return empty ? closeElement(localName) : Step::Done;
    }

    // The attributes of the start tag at `at` into m_raw, from `p` (after the name) up to the
    // tag's end, where `p` is left; `empty` tells "/>" from ">".
    Step readAttributes(std::size_t at, std::size_t& p, bool& empty) {
        m_values.clear();
        m_raw.clear();
        bool more = false;
        for (;;) {
            const std::size_t afterSpace = skipSpace(p);
            if (afterSpace >= m_buffer.size())
                return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
            const char c = m_buffer[afterSpace];
            if (c == '>') {
                p = afterSpace + 1;
                return Step::Done;
            }
            if (c == '/') {
                if (afterSpace + 1 >= m_buffer.size())
                    return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
                if (m_buffer[afterSpace + 1] != '>')
                    return malformedStep(afterSpace, "not well-formed (invalid token)");
                p = afterSpace + 2;
                empty = true;
                return Step::Done;
            }
            if (afterSpace == p)
                return malformedStep(p, "not well-formed (invalid token)");  // no space before it
            const std::size_t attributeEnd = scanName(afterSpace, more);
            if (more) return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
            if (attributeEnd == afterSpace)
                return malformedStep(afterSpace, "not well-formed (invalid token)");
            std::size_t q = skipSpace(attributeEnd);
            if (q >= m_buffer.size())
                return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
            if (m_buffer[q] != '=') return malformedStep(q, "not well-formed (invalid token)");
            q = skipSpace(q + 1);
            if (q >= m_buffer.size())
                return m_last ? malformedStep(at, "unclosed token") : Step::NeedMore;
            if (m_buffer[q] != '"' && m_buffer[q] != '\'')
                return malformedStep(q, "not well-formed (invalid token)");
            RawAttribute& attribute = m_raw.emplace_back();
            attribute.name =
                std::string_view(m_buffer.data() + afterSpace, attributeEnd - afterSpace);
            std::size_t next = 0;
            if (Step value = attributeValue(attribute, q, next); value != Step::Done) return value;
            p = next;
        }
    }

    std::string_view valueOf(const RawAttribute& attribute) const {
        return attribute.decodedOffset == std::string::npos
                   ? attribute.raw
                   : std::string_view(m_values).substr(attribute.decodedOffset,
                                                       attribute.decodedLength);
    }

    // The xmlns and xmlns:prefix attributes of the tag at `at` as bindings of its depth.
    Step bindNamespaces(std::size_t at) {
        for (const RawAttribute& raw : m_raw) {
            const std::string_view attribute = raw.name;
            if (attribute.size() == 5 && isDeclaration(attribute)) {
                m_bindings.push_back({"", std::string(valueOf(raw)), m_depth});
            } else if (isDeclaration(attribute)) {
                if (valueOf(raw).empty()) return malformedStep(at, "must not undeclare prefix");
                m_bindings.push_back(
                    {std::string(attribute.substr(6)), std::string(valueOf(raw)), m_depth});
            }
        }
        return Step::Done;
    }

    // The attributes the handler sees: local names with their namespace URIs, declarations
    // left out.
    Step resolveAttributes(std::size_t at, bool declares) {
        m_attributes.clear();
        for (const RawAttribute& raw : m_raw) {
            const std::string_view attribute = raw.name;
            if (declares && isDeclaration(attribute)) continue;
            const std::string_view value = valueOf(raw);
            if (value.size() > m_limits.maxTextBytes)
                return failStep(ErrorCode::XmlLimit, at,
                                "attribute longer than " + std::to_string(m_limits.maxTextBytes) +
                                    " bytes (XML text length limit)");
            XmlAttribute item;
            item.value = value;
            const std::size_t colon = colonIn(attribute);
            if (colon == std::string_view::npos) {
                item.localName = attribute;
            } else {
                const std::string_view prefix = attribute.substr(0, colon);
                if (prefix == "xml") {
                    item.namespaceUri = XmlNamespaceUri;
                } else {
                    const std::string* uri = namespaceFor(prefix);
                    if (!uri || uri->empty()) return malformedStep(at, "unbound prefix");
                    item.namespaceUri = *uri;
                }
                item.localName = attribute.substr(colon + 1);
            }
            m_attributes.push_back(item);
        }
        return Step::Done;
    }
};

}  // namespace

std::optional<Result<void>> scanXml(XmlHandler& handler, std::string_view partName,
                                    const XmlSource& source, XmlLimits limits,
                                    std::string& alreadyRead) {
    Scanner scanner(handler, partName, source, limits);
    return scanner.run(alreadyRead);
}

}  // namespace spreadsheet::detail
