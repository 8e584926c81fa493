// The row decisions of a block plan, the normalisation header names are compared in, the digest
// set behind the duplicate rule, and the matching of header names with the result's columns.
#include "merge/block_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "merge/column_alignment.h"

namespace merge {
namespace {

TEST(BlockPlan, NormalizesHeaderNames) {
    const struct {
        const char* text;
        const char* normal;
    } cases[] = {
        {"单价", "单价"},
        {"  单价 ", "单价"},
        {"单价（元）", "单价(元)"},
        {"\xE3\x80\x80金额\xE3\x80\x80", "金额"},  // ideographic spaces around
        {"Unit  Price", "unit price"},
        {"unit\t\nprice", "unit price"},
        {"ＵＮＩＴ　Ｐｒｉｃｅ", "unit price"},  // full-width letters and space
        {"\xC2\xA0Qty\xC2\xA0", "qty"},          // no-break spaces
        {"ÄBC", "Äbc"},                          // only Latin ASCII letters change case
        {"", ""},
        {"   ", ""},
        {"１２３", "123"},
        {"a\xFF", "a\xFF"},  // a malformed byte stays as it is
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(normalizeHeader(row.text), row.normal);
    }
}

TEST(BlockPlan, TrimsBlanksOfEveryKind) {
    EXPECT_EQ(trimBlanks("  合计 "), "合计");
    EXPECT_EQ(trimBlanks("\xE3\x80\x80合计\xE3\x80\x80"), "合计");
    EXPECT_EQ(trimBlanks("\xC2\xA0 a b \t"), "a b");
    EXPECT_EQ(trimBlanks("   "), "");
    EXPECT_EQ(trimBlanks("合\xE3\x80\x80计"), "合\xE3\x80\x80计");
}

// A sheet for the row decisions: rows of (offset, text) cells.
using Rows = std::map<int, std::vector<RowCell>>;

RowWalk walkOver(const Rows& rows) {
    return [&rows](int first, int last, RowTexts, const RowVisit& visit) {
        for (auto row = rows.lower_bound(first); row != rows.end() && row->first <= last; ++row)
            if (!visit(row->first, row->second)) return;
    };
}

TEST(BlockPlan, ChoosesRowsInTheDocumentedOrder) {
    // Rows 2..12 of a block with two columns; row 5 and 9 are empty (no cells at all).
    const Rows sheet{
        {2, {{0, "名称"}, {1, "金额"}}},  // the header again
        {3, {{0, "甲"}, {1, "10"}}},
        {4, {{0, "甲"}, {1, "10"}}},        // a duplicate of row 3
        {6, {{0, "  "}}},                   // blanks only
        {7, {{0, " 名称 "}, {1, "金额"}}},  // the header after normalisation
        {8, {{1, "合计"}}},                 // first non-empty cell reads 合计
        {10, {{0, "注"}}},
        {11, {{0, "乙"}}},
        {12, {{0, "丙"}}},
    };
    const std::vector<std::string> keys{"名称", "金额"};
    struct Case {
        const char* name;
        BlockPlan plan;
        std::vector<int> kept;
        RowSelection counts;  // only the counts are compared
    };
    const Case cases[] = {
        {"nothing left out", {}, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}},
        {"blank rows, gaps included",
         {.skipBlankRows = true},
         {2, 3, 4, 7, 8, 10, 11, 12},
         {.blank = 3}},
        {"stop row and all below", {.stopAt = "合计"}, {2, 3, 4, 5, 6, 7}, {.stopped = 5}},
        {"stop text trimmed", {.stopAt = " 合计　"}, {2, 3, 4, 5, 6, 7}, {.stopped = 5}},
        {"stop text not found", {.stopAt = "总计"}, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}},
        {"last rows after the stop row",
         {.stopAt = "合计", .skipLast = 2},
         {2, 3, 4, 5},
         {.stopped = 5, .skippedLast = 2}},
        {"more last rows than rows", {.skipLast = 40}, {}, {.skippedLast = 11}},
        {"header repeats",
         {.headerKeys = keys},
         {3, 4, 5, 6, 8, 9, 10, 11, 12},
         {.headerRepeats = 2}},
        {"the first row is the header",
         {.headerKeys = keys, .firstRowIsHeader = true},
         {2, 3, 4, 5, 6, 8, 9, 10, 11, 12},
         {.headerRepeats = 1}},
        {"duplicates, blank rows are none",
         {.dedupe = true},
         {2, 3, 5, 6, 7, 8, 9, 10, 11, 12},
         {.duplicates = 1}},
        {"everything",
         {.skipBlankRows = true, .stopAt = "注", .skipLast = 1, .dedupe = true, .headerKeys = keys},
         {3, 8},
         {.stopped = 3, .skippedLast = 1, .blank = 2, .headerRepeats = 2, .duplicates = 1}},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        RowDigestSet seen;
        const RowSelection chosen = selectRows(row.plan, seen, 2, 12, walkOver(sheet));
        EXPECT_EQ(seen.size(), chosen.digests.size()) << "the kept data rows join the result's";
        EXPECT_EQ(chosen.rows, row.kept);
        EXPECT_EQ(chosen.stopped, row.counts.stopped);
        EXPECT_EQ(chosen.skippedLast, row.counts.skippedLast);
        EXPECT_EQ(chosen.blank, row.counts.blank);
        EXPECT_EQ(chosen.headerRepeats, row.counts.headerRepeats);
        EXPECT_EQ(chosen.duplicates, row.counts.duplicates);
        const int accounted = static_cast<int>(chosen.rows.size()) + chosen.stopped +
                              chosen.skippedLast + chosen.blank + chosen.headerRepeats +
                              chosen.duplicates;
        EXPECT_EQ(accounted, 11) << "every row is counted once";
        // Only data rows holding a value leave a digest.
        std::size_t dataRows = 0;
        for (int kept : chosen.rows) dataRows += kept != 5 && kept != 6 && kept != 9 ? 1 : 0;
        EXPECT_EQ(chosen.digests.size(), row.plan.dedupe ? dataRows : 0u);
    }
}

TEST(BlockPlan, DuplicatesAreFoundAcrossBlocksWhereTheValuesLand) {
    // Block one: columns (名称, 金额). Block two has them the other way round and maps them back.
    const Rows first{{1, {{0, "甲"}, {1, "10"}}}, {2, {{0, "乙"}, {1, "20"}}}};
    const Rows second{{1, {{0, "10"}, {1, "甲"}}},   // 甲 10 again
                      {2, {{0, "20"}, {1, "丙"}}},   // new
                      {3, {{0, "10"}}},              // only 金额 10: not 甲 10
                      {4, {{1, "甲"}, {0, "10"}}}};  // row 1 with its cells listed the other way
    RowDigestSet seen;
    const BlockPlan plain{.dedupe = true};
    selectRows(plain, seen, 1, 2, walkOver(first));
    BlockPlan swapped{.dedupe = true};
    swapped.columnMap = {1, 0};
    const RowSelection two = selectRows(swapped, seen, 1, 4, walkOver(second));
    EXPECT_EQ(two.rows, (std::vector<int>{2, 3}));
    EXPECT_EQ(two.duplicates, 2);
    // The same texts in the same columns without the swap are a different row.
    const RowSelection unswapped = selectRows(plain, seen, 1, 1, walkOver(second));
    EXPECT_EQ(unswapped.rows, (std::vector<int>{1}));
    // A block taken back takes its digests with it: its rows are new again.
    seen.erase(two.digests);
    EXPECT_EQ(selectRows(swapped, seen, 2, 2, walkOver(second)).rows, std::vector<int>{2});
    EXPECT_EQ(selectRows(plain, seen, 1, 1, walkOver(first)).duplicates, 1);
}

TEST(BlockPlan, DigestSetKeepsEveryDigestThroughGrowth) {
    RowDigestSet set;
    std::mt19937_64 random(7);
    std::vector<RowDigest> inserted;
    for (int k = 0; k < 20'000; ++k) {
        inserted.push_back({random(), random()});
        set.insert(inserted.back());
    }
    EXPECT_FALSE(set.insert(inserted.front())) << "no second entry";
    EXPECT_TRUE(set.insert(RowDigest{}));  // the value that marks free slots
    EXPECT_EQ(set.size(), 20'001u);
    for (const RowDigest& digest : inserted) ASSERT_TRUE(set.contains(digest));
    EXPECT_TRUE(set.contains(RowDigest{}));
    EXPECT_FALSE(set.contains({random(), random()}));
    const std::vector<RowDigest> taken(inserted.begin(), inserted.begin() + 10'000);
    set.erase(taken);
    EXPECT_EQ(set.size(), 10'001u);
    EXPECT_FALSE(set.contains(taken.back()));
    EXPECT_TRUE(set.contains(inserted.back()));
    EXPECT_TRUE(set.contains(RowDigest{}));
}

TEST(ColumnAlignment, MatchesHeaderNamesAcrossSources) {
    ColumnUnion columns;
    struct Step {
        const char* name;
        std::vector<std::string> header;
        int firstColumn;
        std::vector<int> map;
        std::vector<std::string> added;
    };
    const Step steps[] = {
        {"the first source gives the columns",
         {"日期", "金额", "金额", "", "Code"},
         1,
         {0, 1, 2, 3, 4},
         {"日期", "金额", "金额", "", "Code"}},
        {"reordered, spaced, full-width and cased names",
         {"ＣＯＤＥ", " 金额 ", "日期"},
         1,
         {4, 1, 0},
         {}},
        {"a second 金额 meets the second; a third is new",
         {"金额", "金额", "金额"},
         1,
         {1, 2, 5},
         {"金额"}},
        {"an empty header matches only in the same sheet column",
         {"日期", "", ""},
         2,
         {0, 6, 3},
         {""}},
        {"a new name after the others", {"备注", "日期"}, 1, {7, 0}, {"备注"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const ColumnMatch match = columns.match(step.header, step.firstColumn);
        EXPECT_EQ(match.map, step.map);
        std::vector<std::string> added;
        for (const ResultColumn& column : match.added) added.push_back(column.title);
        EXPECT_EQ(added, step.added);
        columns.commit(match);
    }
    ASSERT_EQ(columns.size(), 8);
    // Titles stay as first seen.
    EXPECT_EQ(columns.columns()[4].title, "Code");
    EXPECT_EQ(columns.columns()[6].sheetColumn, 3);
}

TEST(ColumnAlignment, MatchingChangesNothingUntilCommitted) {
    ColumnUnion columns;
    columns.commit(columns.match({"a", "b"}, 1));
    const ColumnMatch match = columns.match({"c"}, 1);
    EXPECT_EQ(match.map, std::vector<int>{2});
    EXPECT_EQ(columns.size(), 2);
    EXPECT_EQ(columns.match({"d"}, 1).map, std::vector<int>{2});
}

}  // namespace
}  // namespace merge
