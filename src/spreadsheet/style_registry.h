// The cell formats of the result workbook: interned by value, so equal formats share one id, and
// written out as the package's styles.xml; and the fonts of its rich text runs, interned the
// same way and written into the runs themselves.
//   StyleRegistry styles;
//   cell.style = styles.intern(bold);   // id 0 is defaultResultStyle()
//   run.font = styles.internRunFont(red);
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "spreadsheet/style.h"
#include "spreadsheet/workbook_data.h"

namespace spreadsheet {

// The font every result cell gets unless it carries its own (renders on Linux with
// fonts-noto-cjk and in zh-CN Excel).
CellStyle defaultResultStyle();

// Interns CellStyle values for the result workbook. Id 0 is defaultResultStyle().
class StyleRegistry {
public:
    StyleRegistry();
    ~StyleRegistry();
    StyleRegistry(StyleRegistry&&) noexcept;
    StyleRegistry& operator=(StyleRegistry&&) noexcept;

    // The id of an equal style, added when new. Past the format limit of the file format
    // (about 64,000 distinct formats) it returns the id of the default style.
    std::uint32_t intern(const CellStyle& style);
    const CellStyle& style(std::uint32_t id) const;
    std::size_t size() const;

    // The id of an equal run font, added when new. Run fonts live apart from the cell formats:
    // a run carries its font in its cell's text, so they count against no format limit. Past
    // MaxRunFonts distinct fonts it returns CellFont (the run shows in its cell's font).
    std::uint32_t internRunFont(const Font& font);
    const Font& runFont(std::uint32_t id) const;
    std::size_t runFontCount() const;
    // The run font as the <rPr> element a run of a string item starts with.
    const std::string& runPropertiesXml(std::uint32_t id) const;
    static constexpr std::size_t MaxRunFonts = 65'536;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The styles.xml part: cell format i of the part is the registry's style i. Fonts, fills and
// borders are shared by value; number formats Excel knows by number keep their number.
std::string stylesXml(const StyleRegistry& registry);

}  // namespace spreadsheet
