// Fully resolved cell formats, independent of any file's style tables: every reader turns
// its own xf/XF records into CellStyle values (theme and indexed colours already RGB, number
// formats as code strings), and the writer interns them again for the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace spreadsheet {

// 0xAARRGGBB; nullopt means "automatic" (the application's default colour).
using Color = std::optional<std::uint32_t>;

struct Font {
    std::string name = "Calibri";
    double size = 11.0;  // points
    bool bold = false;
    bool italic = false;
    bool strike = false;
    std::string underline;      // "" none, else OOXML ST_UnderlineValues: single, double,
                                // singleAccounting, doubleAccounting
    std::string verticalAlign;  // "" baseline, "superscript", "subscript"
    Color color;
    int family = 0;    // 0 = not given
    int charset = -1;  // -1 = not given
    friend bool operator==(const Font&, const Font&) = default;
};

struct Fill {
    std::string pattern = "none";  // OOXML ST_PatternType: none, solid, gray125, darkGray, ...
    Color foreground;              // solid fills use the foreground colour
    Color background;
    friend bool operator==(const Fill&, const Fill&) = default;
};

struct BorderEdge {
    std::string style;  // "" none, else OOXML ST_BorderStyle: thin, medium, dashed, dotted, thick,
                        // double, hair, ...
    Color color;
    friend bool operator==(const BorderEdge&, const BorderEdge&) = default;
};

struct Border {
    BorderEdge left, right, top, bottom, diagonal;
    bool diagonalUp = false;
    bool diagonalDown = false;
    friend bool operator==(const Border&, const Border&) = default;
};

struct Alignment {
    std::string horizontal;  // "" general, else left, center, right, fill, justify,
                             // centerContinuous, distributed
    std::string vertical;    // "" bottom (the default), else top, center, justify, distributed
    bool wrapText = false;
    int indent = 0;
    int textRotation = 0;  // 0-180, or 255 for vertical text
    bool shrinkToFit = false;
    friend bool operator==(const Alignment&, const Alignment&) = default;
};

struct Protection {
    bool locked = true;
    bool hidden = false;
    friend bool operator==(const Protection&, const Protection&) = default;
};

struct CellStyle {
    std::string numberFormat = "General";  // the format code, never a locale-dependent id
    Font font;
    Fill fill;
    Border border;
    Alignment alignment;
    Protection protection;
    friend bool operator==(const CellStyle&, const CellStyle&) = default;
};

std::size_t hashStyle(const CellStyle& style);
std::size_t hashFont(const Font& font);

// True when the code formats numbers as dates or times (d, m, y, h, s, AM/PM outside
// quotes, escapes and [..] blocks other than [h] [m] [s]).
bool isDateFormat(const std::string& numberFormat);

// The format code of an OOXML/BIFF built-in number format id, with the zh-CN meanings of
// the locale ids 27-36 and 50-58; "" for ids that have no built-in code.
std::string builtinNumberFormat(int id);

}  // namespace spreadsheet
