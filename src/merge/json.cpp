// The strict JSON reader and the writer.
#include "merge/json.h"

#include <charconv>
#include <limits>

#include "merge/job_texts.h"
#include "spreadsheet/text_encoding.h"

namespace merge::json {

namespace {

// The length of the well-formed UTF-8 sequence at text[at], 0 when it is not one: overlong
// forms, surrogates and code points past U+10FFFF are refused.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    return length;
}

class Reader {
public:
    Reader(std::string_view text, const Limits& limits) : m_text(text), m_limits(limits) {}

    Parsed run() {
        Parsed parsed;
        // A byte-order mark, as editors on other systems put in front of UTF-8 text.
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF") m_at = 3;
        if (m_text.size() > m_limits.maxBytes) {
            fail(job_texts::TooLarge);
        } else if (validateUtf8()) {
            Value value;
            skipBlanks();
            if (readValue(value, 0)) {
                skipBlanks();
                if (m_at == m_text.size())
                    parsed.value = std::move(value);
                else
                    fail(job_texts::TrailingText);
            }
        }
        if (!parsed.value) parsed.error = m_error;
        return parsed;
    }

private:
    // The whole text is checked first, so that no later fault needs to think of bad bytes.
    bool validateUtf8() {
        for (std::size_t at = m_at; at < m_text.size();) {
            const std::size_t length = utf8Length(m_text, at);
            if (length == 0) {
                m_at = at;
                return fail(job_texts::NotUtf8);
            }
            at += length;
        }
        return true;
    }

    bool fail(const char* what, std::string detail = {}) {
        if (m_failed) return false;
        m_failed = true;
        m_error.offset = m_at;
        m_error.line = 1;
        m_error.column = 1;
        for (std::size_t k = 0; k < m_at && k < m_text.size(); ++k) {
            const auto c = static_cast<unsigned char>(m_text[k]);
            if (c == '\n') {
                ++m_error.line;
                m_error.column = 1;
            } else if ((c & 0xC0) != 0x80 && !(k < 3 && m_text.substr(0, 3) == "\xEF\xBB\xBF")) {
                ++m_error.column;
            }
        }
        m_error.what = std::string(what) + detail;
        return false;
    }

    bool atEnd() const { return m_at >= m_text.size(); }
    char peek() const { return m_text[m_at]; }

    void skipBlanks() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_at;
    }

    bool expectWord(std::string_view word) {
        if (m_text.substr(m_at, word.size()) != word)
            return fail(atEnd() ? job_texts::UnexpectedEnd : job_texts::UnexpectedCharacter);
        m_at += word.size();
        return true;
    }

    bool readValue(Value& value, int depth) {
        if (atEnd()) return fail(job_texts::UnexpectedEnd);
        switch (peek()) {
            case '{':
                return readObject(value, depth + 1);
            case '[':
                return readArray(value, depth + 1);
            case '"':
                value.kind = Kind::String;
                return readString(value.text);
            case 't':
                value.kind = Kind::Boolean;
                value.boolean = true;
                return expectWord("true");
            case 'f':
                value.kind = Kind::Boolean;
                value.boolean = false;
                return expectWord("false");
            case 'n':
                value.kind = Kind::Null;
                return expectWord("null");
            default:
                if (peek() == '-' || (peek() >= '0' && peek() <= '9')) return readNumber(value);
                return fail(job_texts::UnexpectedCharacter);
        }
    }

    bool readObject(Value& value, int depth) {
        if (depth > m_limits.maxDepth) return fail(job_texts::TooDeep);
        value.kind = Kind::Object;
        ++m_at;  // {
        skipBlanks();
        if (!atEnd() && peek() == '}') {
            ++m_at;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (atEnd()) return fail(job_texts::UnexpectedEnd);
            if (peek() != '"') return fail(job_texts::ExpectedName);
            const std::size_t nameAt = m_at;
            std::string name;
            if (!readString(name)) return false;
            if (value.member(name)) {
                m_at = nameAt;
                return fail(job_texts::DuplicateName, name);
            }
            skipBlanks();
            if (atEnd()) return fail(job_texts::UnexpectedEnd);
            if (peek() != ':') return fail(job_texts::ExpectedColon);
            ++m_at;
            skipBlanks();
            Value member;
            if (!readValue(member, depth)) return false;
            value.members.emplace_back(std::move(name), std::move(member));
            skipBlanks();
            if (atEnd()) return fail(job_texts::UnexpectedEnd);
            if (peek() == '}') {
                ++m_at;
                return true;
            }
            if (peek() != ',') return fail(job_texts::ExpectedCommaOrEnd);
            ++m_at;
        }
    }

    bool readArray(Value& value, int depth) {
        if (depth > m_limits.maxDepth) return fail(job_texts::TooDeep);
        value.kind = Kind::Array;
        ++m_at;  // [
        skipBlanks();
        if (!atEnd() && peek() == ']') {
            ++m_at;
            return true;
        }
        for (;;) {
            skipBlanks();
            Value item;
            if (!readValue(item, depth)) return false;
            value.items.push_back(std::move(item));
            skipBlanks();
            if (atEnd()) return fail(job_texts::UnexpectedEnd);
            if (peek() == ']') {
                ++m_at;
                return true;
            }
            if (peek() != ',') return fail(job_texts::ExpectedCommaOrEnd);
            ++m_at;
        }
    }

    // Four hex digits after "\u"; nullopt when they are not.
    std::optional<std::uint32_t> readHex4() {
        if (m_at + 4 > m_text.size()) return std::nullopt;
        std::uint32_t value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_at + static_cast<std::size_t>(k)];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        m_at += 4;
        return value;
    }

    bool readString(std::string& out) {
        ++m_at;  // "
        for (;;) {
            if (atEnd()) return fail(job_texts::UnterminatedString);
            const char c = peek();
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return fail(job_texts::ControlCharacter);
            if (c != '\\') {
                out += c;
                ++m_at;
                continue;
            }
            const std::size_t escapeAt = m_at;
            ++m_at;
            if (atEnd()) return fail(job_texts::UnterminatedString);
            const char kind = peek();
            ++m_at;
            switch (kind) {
                case '"':
                case '\\':
                case '/':
                    out += kind;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::optional<std::uint32_t> unit = readHex4();
                    if (!unit) {
                        m_at = escapeAt;
                        return fail(job_texts::BadEscape);
                    }
                    std::uint32_t codePoint = *unit;
                    if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                        // A high surrogate must be followed by an escaped low one.
                        std::optional<std::uint32_t> low;
                        if (m_text.substr(m_at, 2) == "\\u") {
                            m_at += 2;
                            low = readHex4();
                        }
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                            m_at = escapeAt;
                            return fail(job_texts::LoneSurrogate);
                        }
                        codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (*low - 0xDC00);
                    } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
                        m_at = escapeAt;
                        return fail(job_texts::LoneSurrogate);
                    }
                    if (codePoint == 0) {
                        m_at = escapeAt;
                        return fail(job_texts::NulCharacter);
                    }
                    spreadsheet::appendUtf8(out, codePoint);
                    break;
                }
                default:
                    m_at = escapeAt;
                    return fail(job_texts::BadEscape);
            }
        }
    }

    bool readNumber(Value& value) {
        const std::size_t start = m_at;
        auto digits = [&]() {
            const std::size_t from = m_at;
            while (!atEnd() && peek() >= '0' && peek() <= '9') ++m_at;
            return m_at - from;
        };
        if (peek() == '-') ++m_at;
        if (atEnd()) return fail(job_texts::BadNumber);
        if (peek() == '0') {
            ++m_at;  // no leading zeros: the digit after "0" is refused below
        } else if (digits() == 0) {
            return fail(job_texts::BadNumber);
        }
        bool whole = true;
        if (!atEnd() && peek() == '.') {
            ++m_at;
            whole = false;
            if (digits() == 0) return fail(job_texts::BadNumber);
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++m_at;
            whole = false;
            if (!atEnd() && (peek() == '+' || peek() == '-')) ++m_at;
            if (digits() == 0) return fail(job_texts::BadNumber);
        }
        if (!atEnd() && ((peek() >= '0' && peek() <= '9') || peek() == '.')) {
            m_at = start;
            return fail(job_texts::BadNumber);
        }
        value.kind = Kind::Number;
        value.text = std::string(m_text.substr(start, m_at - start));
        if (whole) {
            std::int64_t number = 0;
            const char* first = value.text.data();
            const char* last = first + value.text.size();
            const auto [end, error] = std::from_chars(first, last, number);
            if (error == std::errc() && end == last) value.integer = number;
        }
        return true;
    }

    std::string_view m_text;
    Limits m_limits;
    std::size_t m_at = 0;
    bool m_failed = false;
    ParseError m_error;
};

void writeString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    static constexpr char Hex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += Hex[(c >> 4) & 0x0F];
                    out += Hex[c & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void writeValue(std::string& out, const Value& value, int indent) {
    const auto newLine = [&out](int level) {
        out += '\n';
        out.append(static_cast<std::size_t>(level) * 2, ' ');
    };
    switch (value.kind) {
        case Kind::Null:
            out += "null";
            return;
        case Kind::Boolean:
            out += value.boolean ? "true" : "false";
            return;
        case Kind::Number:
            out += value.text;
            return;
        case Kind::String:
            writeString(out, value.text);
            return;
        case Kind::Array: {
            // Short lists of plain values stay on one line.
            bool plain = true;
            for (const Value& item : value.items)
                plain = plain && item.kind != Kind::Array && item.kind != Kind::Object;
            out += '[';
            for (std::size_t k = 0; k < value.items.size(); ++k) {
                if (k > 0) out += plain ? ", " : ",";
                if (!plain) newLine(indent + 1);
                writeValue(out, value.items[k], indent + 1);
            }
            if (!plain && !value.items.empty()) newLine(indent);
            out += ']';
            return;
        }
        case Kind::Object:
            out += '{';
            for (std::size_t k = 0; k < value.members.size(); ++k) {
                if (k > 0) out += ',';
                newLine(indent + 1);
                writeString(out, value.members[k].first);
                out += ": ";
                writeValue(out, value.members[k].second, indent + 1);
            }
            if (!value.members.empty()) newLine(indent);
            out += '}';
            return;
    }
}

}  // namespace

Value Value::ofBoolean(bool value) {
    Value result;
    result.kind = Kind::Boolean;
    result.boolean = value;
    return result;
}

Value Value::ofInteger(std::int64_t value) {
    Value result;
    result.kind = Kind::Number;
    result.integer = value;
    result.text = std::to_string(value);
    return result;
}

Value Value::ofString(std::string value) {
    Value result;
    result.kind = Kind::String;
    result.text = std::move(value);
    return result;
}

Value Value::ofArray(std::vector<Value> items) {
    Value result;
    result.kind = Kind::Array;
    result.items = std::move(items);
    return result;
}

Value Value::object() {
    Value result;
    result.kind = Kind::Object;
    return result;
}

Value& Value::add(std::string name, Value value) {
    members.emplace_back(std::move(name), std::move(value));
    return *this;
}

const Value* Value::member(std::string_view name) const {
    for (const auto& [memberName, memberValue] : members)
        if (memberName == name) return &memberValue;
    return nullptr;
}

std::string ParseError::message() const {
    return std::string(job_texts::AtLineHead) + std::to_string(line) + job_texts::AtLineMiddle +
           std::to_string(column) + job_texts::AtLineTail + what;
}

bool isUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8Length(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

Parsed parse(std::string_view text, const Limits& limits) {
    return Reader(text, limits).run();
}

std::string quoted(std::string_view text) {
    std::string out;
    writeString(out, text);
    return out;
}

std::string write(const Value& value) {
    std::string out;
    writeValue(out, value, 0);
    out += '\n';
    return out;
}

}  // namespace merge::json
