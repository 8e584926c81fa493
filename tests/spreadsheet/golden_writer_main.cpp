// Writes the workbook that tests/golden/check_golden.py compares with
// tests/data/golden/writer_basic.json through an independent reader.
//   golden_writer OUTPUT.xlsx
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "spreadsheet/xlsx_writer.h"

using namespace spreadsheet;

namespace {

Cell number(int column, double value, std::uint32_t style = 0) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Number;
    cell.number = value;
    cell.style = style;
    return cell;
}

Cell text(int column, std::string value, std::uint32_t style = 0) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Text;
    cell.text = std::move(value);
    cell.style = style;
    return cell;
}

Cell boolean(int column, bool value) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Boolean;
    cell.number = value ? 1.0 : 0.0;
    return cell;
}

Cell error(int column, std::string value) {
    Cell cell;
    cell.column = column;
    cell.type = CellType::Error;
    cell.text = std::move(value);
    return cell;
}

Cell styledEmpty(int column, std::uint32_t style) {
    Cell cell;
    cell.column = column;
    cell.style = style;
    return cell;
}

Row row(int number, std::vector<Cell> cells) {
    Row result;
    result.number = number;
    result.cells = std::move(cells);
    return result;
}

BorderEdge edge(const char* style, Color color = std::nullopt) {
    BorderEdge result;
    result.style = style;
    result.color = color;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: golden_writer OUTPUT.xlsx\n");
        return 2;
    }
    const std::filesystem::path target = argv[1];
    StyleRegistry styles;

    CellStyle title = defaultResultStyle();
    title.font.name = "微软雅黑";
    title.font.size = 14.0;
    title.font.bold = true;
    title.font.color = 0xFFFF0000u;
    title.alignment.horizontal = "center";
    title.alignment.vertical = "center";
    const std::uint32_t titleId = styles.intern(title);

    CellStyle header = defaultResultStyle();
    header.font.bold = true;
    header.fill.pattern = "solid";
    header.fill.foreground = 0xFFFFFF00u;
    header.border.left = edge("thin", 0xFF000000u);
    header.border.right = edge("thin", 0xFF000000u);
    header.border.top = edge("medium", 0xFF0000FFu);
    header.border.bottom = edge("double");
    header.alignment.horizontal = "center";
    const std::uint32_t headerId = styles.intern(header);

    CellStyle date = defaultResultStyle();
    date.numberFormat = "yyyy-mm-dd";
    const std::uint32_t dateId = styles.intern(date);

    CellStyle dateTime = defaultResultStyle();
    dateTime.numberFormat = "yyyy/m/d h:mm";
    const std::uint32_t dateTimeId = styles.intern(dateTime);

    CellStyle chineseDate = defaultResultStyle();
    chineseDate.numberFormat = "yyyy\"年\"m\"月\"d\"日\"";
    const std::uint32_t chineseDateId = styles.intern(chineseDate);

    CellStyle money = defaultResultStyle();
    money.numberFormat = "#,##0.00 \"元\"";
    money.font.italic = true;
    money.font.underline = "single";
    money.font.color = 0xFF008000u;
    const std::uint32_t moneyId = styles.intern(money);

    CellStyle percent = defaultResultStyle();
    percent.numberFormat = "0.00%";
    const std::uint32_t percentId = styles.intern(percent);

    CellStyle wrapped = defaultResultStyle();
    wrapped.alignment.wrapText = true;
    wrapped.alignment.vertical = "top";
    wrapped.alignment.indent = 2;
    wrapped.alignment.horizontal = "left";
    wrapped.fill.pattern = "darkGrid";
    wrapped.fill.foreground = 0xFF00B0F0u;
    wrapped.fill.background = 0xFFFFFFFFu;
    const std::uint32_t wrappedId = styles.intern(wrapped);

    CellStyle dashed = defaultResultStyle();
    dashed.border.bottom = edge("dashed", 0xFFFF0000u);
    dashed.font.name = "Arial";
    dashed.font.size = 9.5;
    const std::uint32_t dashedId = styles.intern(dashed);

    CellStyle textFormat = defaultResultStyle();
    textFormat.numberFormat = "@";
    const std::uint32_t textId = styles.intern(textFormat);

    // Sheet 1: values of every type and formats, held in memory.
    std::vector<Row> summary;
    summary.push_back(row(1, {text(1, "销售汇总", titleId), styledEmpty(2, titleId),
                              styledEmpty(3, titleId), styledEmpty(4, titleId)}));
    summary.back().height = 24.0;
    summary.back().customHeight = true;
    summary.push_back(row(2, {text(1, "名称", headerId), text(2, "数量", headerId),
                              text(3, "日期", headerId), text(4, "金额", headerId)}));
    summary.push_back(row(
        3, {text(1, "苹果"), number(2, 3), number(3, 45000, dateId), number(4, 1234.5, moneyId)}));
    summary.push_back(row(4, {text(1, "Tom & Jerry <tag> \"q\" 'a'"), boolean(2, true),
                              number(3, 45000.5, dateTimeId), error(4, "#DIV/0!")}));
    summary.push_back(row(5, {text(1, std::string("a\x01"
                                                  "b\rc\nd\te ") +
                                          "_x0041_ 字面"),
                              number(2, -0.1), number(3, 45001, chineseDateId),
                              number(4, std::numeric_limits<double>::quiet_NaN())}));
    summary.push_back(row(6, {text(1, std::string(40'000, 'L')), boolean(2, false),
                              number(3, 0.125, percentId), error(4, "#N/A")}));
    summary.push_back(row(7, {text(1, "  前后空格  ", wrappedId), number(2, 1e-7),
                              number(3, 123456789012345.0), text(4, "00123", textId)}));
    summary.push_back(row(8, {text(1, "😀 emoji", dashedId), number(2, 1.0 / 3.0)}));
    Row hiddenRow = row(9, {text(1, "隐藏行")});
    hiddenRow.hidden = true;
    summary.push_back(hiddenRow);

    SheetToWrite first;
    first.name = "汇总 Summary";
    first.rows = &summary;
    first.merges = {RangeRef{{1, 1}, {1, 4}}, RangeRef{{8, 2}, {9, 3}}};
    first.columns = {ColumnInfo{1, 1, 20.0, true}, ColumnInfo{2, 3, 12.5, true},
                     ColumnInfo{4, 4, 15.75, true}};
    first.frozenPane = FrozenPane{2, 0};
    first.activeCell = CellRef{3, 2};

    // Sheet 2: rows spooled to disk, then a few held in memory; rows and columns frozen.
    Result<RowSpool> spool =
        RowSpool::create(target.has_parent_path() ? target.parent_path() : ".");
    if (!spool) {
        std::fprintf(stderr, "golden_writer: %s\n", spool.error().detail.c_str());
        return 1;
    }
    if (!spool->append(row(
            1, {text(1, "序号", headerId), text(2, "值", headerId), text(3, "备注", headerId)})))
        return 1;
    for (int r = 2; r <= 1001; ++r) {
        if (!spool->append(row(r, {number(1, r - 1), number(2, (r - 1) * 0.25, percentId),
                                   text(3, "明细" + std::to_string(r - 1))})))
            return 1;
    }
    std::vector<Row> detailTail{row(1002, {text(1, "合计"), number(2, 125'125.0 / 1000.0)})};
    SheetToWrite second;
    second.name = "明细 2";
    second.spooledRows = &*spool;
    second.rows = &detailTail;
    second.merges = {RangeRef{{1002, 2}, {1002, 3}}};
    second.columns = {ColumnInfo{3, 3, 30.0, true}};
    second.frozenPane = FrozenPane{1, 1};
    second.activeCell = CellRef{5, 2};

    // Sheet 3: hidden.
    std::vector<Row> hiddenRows{row(1, {text(1, "hidden")})};
    SheetToWrite third;
    third.name = "Hidden";
    third.visibility = Visibility::Hidden;
    third.rows = &hiddenRows;

    std::vector<SheetToWrite> sheets{first, second, third};
    std::filesystem::remove(target);
    Result<void> written = writeXlsx(target, sheets, 1, styles, ExistingFile::Refuse);
    if (!written) {
        std::fprintf(stderr, "golden_writer: %s\n", written.error().detail.c_str());
        return 1;
    }
    return 0;
}
