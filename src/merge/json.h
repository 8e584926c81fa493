// A small, strict JSON reader and writer for the files the program keeps for people (saved
// merge jobs): UTF-8 only (a leading byte-order mark is allowed), no duplicate member names, no
// text after the value, bounded size and depth, and numbers kept as written with their value
// when they are whole. Errors say where, by line and column, in words users can read.
//   json::Parsed parsed = json::parse(bytes);
//   if (!parsed.value) show(parsed.error.message());
//   std::string text = json::write(value);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace merge::json {

enum class Kind { Null, Boolean, Number, String, Array, Object };

struct Value {
    Kind kind = Kind::Null;
    bool boolean = false;                 // Boolean
    std::optional<std::int64_t> integer;  // Number: its value when whole and within 64 bits
    std::string text;                     // String: the text (UTF-8); Number: as written
    std::vector<Value> items;             // Array
    std::vector<std::pair<std::string, Value>> members;  // Object: in file order, names unique

    static Value null() { return {}; }
    static Value ofBoolean(bool value);
    static Value ofInteger(std::int64_t value);
    static Value ofString(std::string value);
    static Value ofArray(std::vector<Value> items);
    static Value object();
    // Appends a member to an object; the name must not be there yet.
    Value& add(std::string name, Value value);
    // The member called `name`, or nullptr.
    const Value* member(std::string_view name) const;

    friend bool operator==(const Value&, const Value&) = default;
};

struct Limits {
    std::size_t maxBytes = 1 << 20;
    int maxDepth = 32;  // arrays and objects inside each other
};

// Where and why reading stopped.
struct ParseError {
    std::size_t offset = 0;  // byte offset of the fault
    int line = 1;            // 1-based
    int column = 1;          // 1-based, in characters
    std::string what;        // the fault in words ("字符串没有结束")
    // "第 3 行第 7 列：" + what
    std::string message() const;
};

struct Parsed {
    std::optional<Value> value;  // set when the whole text is one valid value
    ParseError error;            // otherwise: the first fault
};

// Reads one JSON value from `text`. The first fault stops the reading.
Parsed parse(std::string_view text, const Limits& limits = {});

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF), as parse() requires of a whole file.
bool isUtf8(std::string_view text);

// The value as JSON text, indented by two spaces a level, ending in a line break. Non-ASCII text
// is written as UTF-8, not escaped, so that people can read it; texts that are not UTF-8 go out
// as they are, so a caller checks the result with isUtf8 before keeping it.
std::string write(const Value& value);

// A text as a JSON string, with its quotes, escaped as write() escapes texts.
std::string quoted(std::string_view text);

}  // namespace merge::json
