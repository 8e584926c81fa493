// The cell formats of the result workbook: interned by value, so equal formats share one id, and
// written out as the package's styles.xml.
//   StyleRegistry styles;
//   cell.style = styles.intern(bold);   // id 0 is defaultResultStyle()
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "spreadsheet/style.h"

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

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The styles.xml part: cell format i of the part is the registry's style i. Fonts, fills and
// borders are shared by value; number formats Excel knows by number keep their number.
std::string stylesXml(const StyleRegistry& registry);

}  // namespace spreadsheet
