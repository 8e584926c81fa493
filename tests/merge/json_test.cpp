// The strict JSON reader behind job files: what it takes, what it refuses and where it says the
// fault is, its limits, and the writer's text reading back to the same value.
#include "merge/json.h"

#include <gtest/gtest.h>

#include <string>

namespace merge::json {
namespace {

TEST(Json, ReadsValuesAsWritten) {
    const Parsed parsed = parse(
        "\xEF\xBB\xBF{ \"a\": [1, -0, 2.5e3, 9223372036854775807, 9223372036854775808],\n"
        "  \"b\": {\"c\": null, \"d\": true, \"e\": false},\n"
        "  \"f\": \"销售\\n\\\"q\\\" \\u00e4 \\ud83d\\ude00 \\/\" }");
    ASSERT_TRUE(parsed.value) << parsed.error.message();
    const Value& root = *parsed.value;
    ASSERT_EQ(root.kind, Kind::Object);
    const Value* numbers = root.member("a");
    ASSERT_TRUE(numbers && numbers->items.size() == 5);
    EXPECT_EQ(numbers->items[0].integer, 1);
    EXPECT_EQ(numbers->items[1].integer, 0);
    EXPECT_FALSE(numbers->items[2].integer);  // not whole as written
    EXPECT_EQ(numbers->items[2].text, "2.5e3");
    EXPECT_EQ(numbers->items[3].integer, 9223372036854775807);
    EXPECT_FALSE(numbers->items[4].integer);  // past 64 bits: kept as text only
    const Value* inner = root.member("b");
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->member("c")->kind, Kind::Null);
    EXPECT_TRUE(inner->member("d")->boolean);
    EXPECT_FALSE(inner->member("e")->boolean);
    EXPECT_EQ(root.member("f")->text, "销售\n\"q\" ä 😀 /");
    EXPECT_EQ(root.member("g"), nullptr);
}

TEST(Json, RefusesMalformedTextSayingWhere) {
    struct Case {
        std::string text;
        int line;
        int column;
        const char* what;
    };
    const Case cases[] = {
        {"", 1, 1, "内容不完整"},
        {"{\"a\": 1,}", 1, 9, "应为用双引号括起的项名"},
        {"{\"a\" 1}", 1, 6, "冒号"},
        {"{\"a\": 1 \"b\": 2}", 1, 9, "逗号或结束括号"},
        {"[1, 2", 1, 6, "内容不完整"},
        {"{\"a\": 1, \"a\": 2}", 1, 10, "项名重复：a"},
        {"{'a': 1}", 1, 2, "项名"},
        {"{\"a\": tru}", 1, 7, "此处不应出现"},
        {"{\"a\": 01}", 1, 7, "数字写法有误"},
        {"{\"a\": 1.}", 1, 9, "数字写法有误"},
        {"{\"a\": -}", 1, 8, "数字写法有误"},
        {"{\"a\": +1}", 1, 7, "此处不应出现"},
        {"{\"a\": \"x}", 1, 10, "字符串没有结束"},
        {"{\"a\": \"x\ty\"}", 1, 9, "控制字符"},
        {"{\"a\": \"\\x\"}", 1, 8, "转义写法有误"},
        {"{\"a\": \"\\u12\"}", 1, 8, "转义写法有误"},
        {"{\"a\": \"\\ud83d\"}", 1, 8, "代理项"},
        {"{\"a\": \"\\ude00\"}", 1, 8, "代理项"},
        {"{\"a\": \"\\u0000\"}", 1, 8, "U+0000"},
        {"{}\n{}", 2, 1, "多余的内容"},
        {"{\n  \"名称\": 1,\n  \"b\": x\n}", 3, 8, "此处不应出现"},
        {"{\"a\": \"\xC3\x28\"}", 1, 8, "UTF-8"},          // a lead byte without its follower
        {"{\"a\": \"\xC0\xAF\"}", 1, 8, "UTF-8"},          // an overlong "/"
        {"{\"a\": \"\xED\xA0\x80\"}", 1, 8, "UTF-8"},      // a surrogate written out
        {"{\"a\": \"\xF4\x90\x80\x80\"}", 1, 8, "UTF-8"},  // past U+10FFFF
        {"\xEF\xBB\xBF[1 2]", 1, 4, "逗号或结束括号"},     // the byte-order mark is no column
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.text);
        const Parsed parsed = parse(row.text);
        ASSERT_FALSE(parsed.value);
        EXPECT_EQ(parsed.error.line, row.line);
        EXPECT_EQ(parsed.error.column, row.column);
        EXPECT_NE(parsed.error.what.find(row.what), std::string::npos) << parsed.error.what;
        EXPECT_EQ(parsed.error.message().rfind("第 " + std::to_string(row.line) + " 行第 " +
                                                   std::to_string(row.column) + " 列：",
                                               0),
                  0u);
    }
}

TEST(Json, KeepsToItsLimits) {
    Limits limits;
    limits.maxDepth = 4;
    EXPECT_TRUE(parse("[[[[1]]]]", limits).value);
    const Parsed deep = parse("[[[[[1]]]]]", limits);
    ASSERT_FALSE(deep.value);
    EXPECT_NE(deep.error.what.find("嵌套层数过多"), std::string::npos);
    // Nesting far past the limit stops at the limit rather than exhausting the stack.
    EXPECT_FALSE(parse(std::string(100'000, '['), {}).value);

    limits.maxBytes = 16;
    EXPECT_TRUE(parse("\"0123456789abc\"", limits).value);
    const Parsed large = parse("\"0123456789abcd\" ", limits);
    ASSERT_FALSE(large.value);
    EXPECT_NE(large.error.what.find("文件过大"), std::string::npos);
}

TEST(Json, WrittenTextReadsBackToTheSameValue) {
    Value inner = Value::object();
    inner.add("空", Value::null()).add("列表", Value::ofArray({}));
    Value root = Value::object();
    root.add("version", Value::ofInteger(1))
        .add("texts", Value::ofArray({Value::ofString("a\"b\\c"), Value::ofString("行\n\t尾\x01"),
                                      Value::ofString("😀 ä")}))
        .add("numbers",
             Value::ofArray({Value::ofInteger(-9223372036854775807 - 1), Value::ofInteger(0)}))
        .add("flags", Value::ofArray({Value::ofBoolean(true), Value::ofBoolean(false)}))
        .add("nested", Value::ofArray({inner, Value::object()}));
    const std::string text = write(root);
    EXPECT_TRUE(isUtf8(text));
    // Non-ASCII text stays readable in the file.
    EXPECT_NE(text.find("\"行\\n\\t尾\\u0001\""), std::string::npos) << text;
    const Parsed parsed = parse(text);
    ASSERT_TRUE(parsed.value) << parsed.error.message() << "\n" << text;
    EXPECT_EQ(*parsed.value, root);
    EXPECT_FALSE(isUtf8("a\xFF"));
}

}  // namespace
}  // namespace merge::json
