#include "spreadsheet/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace spreadsheet {
namespace {

TEST(ValueText, WritesNumbersInShortestRoundTripForm) {
    struct Case {
        double number;
        const char* text;
    };
    const Case cases[] = {
        {15.0, "15"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {0.30000000000000004, "0.30000000000000004"},
        {1234567.891, "1234567.891"},
        {123456789012345.0, "123456789012345"},
        {1e20, "1e+20"},
        {1e-7, "1e-07"},
        {-0.0, "0"},
        {std::numeric_limits<double>::quiet_NaN(), "#NUM!"},
        {std::numeric_limits<double>::infinity(), "#NUM!"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(numberText(row.number), row.text);
    }
}

TEST(ValueText, ShowsDateSerialsAsIso8601) {
    struct Case {
        double serial;
        const char* text;
    };
    const Case cases[] = {
        {42170, "2015-06-15"},
        {42170 + 34212.0 / 86400, "2015-06-15T09:30:12"},
        {34212.0 / 86400, "09:30:12"},
        {0.5, "12:00:00"},
        {25569, "1970-01-01"},
        {36526.75, "2000-01-01T18:00:00"},
        {43831.999999, "2020-01-02"},  // 23:59:59.9 rounds into the next day
        {1, "1900-01-01"},
        {1.5, "1900-01-01T12:00:00"},
        {59, "1900-02-28"},
        {61, "1900-03-01"},
        {2958465, "9999-12-31"},
        {2958466, "2958466"},
        {-1, "-1"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(dateTimeText(row.serial), row.text);
    }
}

TEST(ValueText, ShowsSerial60AsTheSpreadsheetsFake1900February29) {
    EXPECT_EQ(dateTimeText(60), "1900-02-29");
    EXPECT_EQ(dateTimeText(60.25), "1900-02-29T06:00:00");
}

TEST(ValueText, ChoosesTheFormByCellTypeAndNumberFormat) {
    WorkbookData book;
    CellStyle date;
    date.numberFormat = "yyyy-mm-dd";
    CellStyle percent;
    percent.numberFormat = "0.00%";
    CellStyle chineseDate;
    chineseDate.numberFormat = "yyyy\"年\"m\"月\"d\"日\"";
    book.styles = {CellStyle{}, date, percent, chineseDate};

    struct Case {
        const char* name;
        CellType type;
        double number;
        const char* text;
        std::uint32_t style;
        const char* expected;
    };
    const Case cases[] = {
        {"general number", CellType::Number, 42170, "", 0, "42170"},
        {"date format", CellType::Number, 42170, "", 1, "2015-06-15"},
        {"chinese date format", CellType::Number, 42170, "", 3, "2015-06-15"},
        {"percent is no date", CellType::Number, 0.125, "", 2, "0.125"},
        {"style past the table", CellType::Number, 42170, "", 99, "42170"},
        {"text", CellType::Text, 0, "甲,乙", 1, "甲,乙"},
        {"error", CellType::Error, 0, "#DIV/0!", 0, "#DIV/0!"},
        {"true", CellType::Boolean, 1, "", 0, "TRUE"},
        {"false", CellType::Boolean, 0, "", 0, "FALSE"},
        {"empty", CellType::Empty, 0, "", 1, ""},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Cell cell;
        cell.type = row.type;
        cell.number = row.number;
        cell.text = row.text;
        cell.style = row.style;
        EXPECT_EQ(valueText(cell, book), row.expected);
    }
}

}  // namespace
}  // namespace spreadsheet
