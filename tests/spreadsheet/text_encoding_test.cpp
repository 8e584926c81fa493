#include "spreadsheet/text_encoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace spreadsheet {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(TextEncoding, DetectsByteOrderMarks) {
    struct Case {
        const char* name;
        std::string bytes;
        TextEncoding encoding;
        std::size_t length;
    };
    const Case cases[] = {
        {"utf-8 mark",
         "\xEF\xBB\xBF"
         "a",
         TextEncoding::Utf8, 3},
        {"utf-16le mark",
         "\xFF\xFE"
         "a",
         TextEncoding::Utf16LittleEndian, 2},
        {"utf-16be mark",
         "\xFE\xFF"
         "a",
         TextEncoding::Utf16BigEndian, 2},
        {"no mark", "abc", TextEncoding::Utf8, 0},
        {"cut utf-8 mark", "\xEF\xBB", TextEncoding::Utf8, 0},
        {"empty", "", TextEncoding::Utf8, 0},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const auto bytes = bytesOf(row.bytes);
        const ByteOrderMark mark = detectByteOrderMark(bytes);
        EXPECT_EQ(mark.length, row.length);
        if (row.length > 0) {
            EXPECT_EQ(mark.encoding, row.encoding);
        }
    }
}

TEST(TextEncoding, ValidatesUtf8Strictly) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "plain, text\n", true},
        {"cjk", "\xE4\xB8\xAD\xE6\x96\x87", true},
        {"four-byte", "\xF0\x9D\x84\x9E", true},
        {"largest scalar", "\xF4\x8F\xBF\xBF", true},
        {"overlong two-byte", "\xC0\x80", false},
        {"overlong three-byte", "\xE0\x80\x80", false},
        {"overlong four-byte", "\xF0\x80\x80\x80", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut sequence", "\xE4\xB8", false},
        {"lone continuation", "a\x80", false},
        {"gbk zhong wen", "\xD6\xD0\xCE\xC4", false},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(isValidUtf8(row.bytes), row.valid);
    }
}

// The one UTF-8 decoder: its code point and length, and the difference between a sequence the
// end of the buffer cuts (-1: the XML scanner waits for the next chunk) and a broken one (0).
TEST(TextEncoding, DecodesOneUtf8SequenceTellingACutOneFromABrokenOne) {
    struct Case {
        const char* name;
        std::string bytes;
        int length;
        char32_t codePoint;
    };
    const Case cases[] = {
        {"ascii", "A", 1, U'A'},
        {"two bytes", "\xC3\xA9", 2, 0xE9},
        {"three bytes", "\xE4\xB8\xAD", 3, 0x4E2D},
        {"four bytes", "\xF0\x9D\x84\x9E", 4, 0x1D11E},
        {"largest scalar", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"cut after the lead", "\xE4", -1, 0},
        {"cut after two of four", "\xF0\x9D", -1, 0},
        {"overlong, seen at the second byte", "\xE0\x80", 0, 0},
        {"surrogate", "\xED\xA0\x80", 0, 0},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        {"broken third byte", "\xE4\xB8\x41", 0, 0},
        {"lone continuation", "\x80", 0, 0},
        {"lead byte never used", "\xF8\x88\x80\x80\x80", 0, 0},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const auto* begin = reinterpret_cast<const unsigned char*>(row.bytes.data());
        char32_t codePoint = 0;
        EXPECT_EQ(decodeUtf8(begin, begin + row.bytes.size(), codePoint), row.length);
        if (row.length > 0) {
            EXPECT_EQ(codePoint, row.codePoint);
        }
    }
}

TEST(TextEncoding, DetectsValidUtf8BeforeGb18030) {
    EXPECT_EQ(detectTextEncoding(bytesOf("id,\xE4\xB8\xAD")), "UTF-8");
    EXPECT_EQ(detectTextEncoding(bytesOf("id,\xD6\xD0\xCE\xC4")), "GB18030");
    EXPECT_EQ(detectTextEncoding(bytesOf("\xFF\xFE"
                                         "a\0")),
              "UTF-16LE");
    EXPECT_EQ(detectTextEncoding(bytesOf("")), "UTF-8");
}

// UTF-8 files with a few broken bytes stay UTF-8, the broken bytes read as Windows-1252; text
// in a legacy code page, whose high bytes only by chance form UTF-8, is not taken for it.
TEST(TextEncoding, ReadsNearlyValidUtf8AsUtf8) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* encoding;
        const char* text;  // nullptr: not checked
    };
    const Case cases[] = {
        {"cut inside the last character", "姓名,城市\n张三,北京\n李四,上海\n赵六,\xE6\xB7", "UTF-8",
         "姓名,城市\n张三,北京\n李四,上海\n赵六,\xC3\xA6\xC2\xB7"},
        {"a pasted Latin-1 line", "名,城\n张,北\nJos\xE9,M\xE1laga\n", "UTF-8",
         "名,城\n张,北\nJosé,Málaga\n"},
        {"Latin-1 alone", "Jos\xE9,M\xE1laga\n", "WINDOWS-1252", "José,Málaga\n"},
        {"GBK with chance UTF-8 pairs", "\xC4\xA3\xC4\xAA,\xD6\xD0\xCE\xC4,\xBA\xC3", "GB18030",
         nullptr},
        {"one good sequence per broken byte",
         "a\xC3\xA9\xE9\xC3\xA9\xE9"
         "b",
         "WINDOWS-1252",
         "a\xC3\x83\xC2\xA9\xC3\xA9\xC3\x83\xC2\xA9\xC3\xA9"
         "b"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(detectTextEncoding(bytesOf(row.bytes)), row.encoding);
        const DecodedText decoded = decodeAnyText(bytesOf(row.bytes));
        EXPECT_EQ(decoded.encoding, row.encoding);
        EXPECT_TRUE(isValidUtf8(decoded.text));
        if (row.text != nullptr) {
            EXPECT_EQ(decoded.text, row.text);
        }
    }
}

TEST(TextEncoding, ConvertsUtf16WithSurrogatePairs) {
    // "a中𝄞" = U+0061 U+4E2D U+1D11E (D834 DD1E).
    const std::string little("a\0\x2D\x4E\x34\xD8\x1E\xDD", 8);
    const std::string big("\0a\x4E\x2D\xD8\x34\xDD\x1E", 8);
    const std::string expected = "a\xE4\xB8\xAD\xF0\x9D\x84\x9E";
    EXPECT_EQ(utf16ToUtf8(bytesOf(little), TextEncoding::Utf16LittleEndian), expected);
    EXPECT_EQ(utf16ToUtf8(bytesOf(big), TextEncoding::Utf16BigEndian), expected);
}

TEST(TextEncoding, ReplacesLoneSurrogatesAndAnOddLastByteInsteadOfFailing) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(utf16ToUtf8(bytesOf(std::string("\x34\xD8"
                                              "b\0",
                                              4)),
                          TextEncoding::Utf16LittleEndian),
              replacement + "b");
    EXPECT_EQ(utf16ToUtf8(bytesOf(std::string("\x1E\xDD", 2)), TextEncoding::Utf16LittleEndian),
              replacement);
    EXPECT_EQ(utf16ToUtf8(bytesOf(std::string("a\0b", 3)), TextEncoding::Utf16LittleEndian),
              "a" + replacement);
}

TEST(TextEncoding, ConvertsGb18030IncludingFourByteSequences) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        {"zhong wen", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"a grave (gb2312 pinyin)", "citt\xA8\xA4", "citt\xC3\xA0"},
        {"U+0080 four bytes", "\x81\x30\x81\x30", "\xC2\x80"},
        {"euro", "\xA2\xE3", "\xE2\x82\xAC"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        Result<std::string> text = convertToUtf8(bytesOf(row.bytes), "GB18030");
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, row.utf8);
    }
}

TEST(TextEncoding, ReportsTheOffsetOfBytesNoEncodingAccepts) {
    Result<std::string> text = convertToUtf8(bytesOf("ab\xD6\xD0\xFF"), "GB18030");
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().code, ErrorCode::TextEncoding);
    EXPECT_NE(text.error().detail.find("第 4 字节"), std::string::npos) << text.error().detail;
    Result<std::string> cut = convertToUtf8(bytesOf("ab\xD6"), "GB18030");
    ASSERT_FALSE(cut);
    EXPECT_EQ(cut.error().code, ErrorCode::TextEncoding);
}

TEST(TextEncoding, DecodeStripsTheMarkAndTrustsIt) {
    Result<std::string> utf8 =
        decodeText(bytesOf("\xEF\xBB\xBF"
                           "a,b"));
    ASSERT_TRUE(utf8);
    EXPECT_EQ(*utf8, "a,b");
    Result<std::string> utf16 = decodeText(bytesOf(std::string("\xFE\xFF\0a", 4)));
    ASSERT_TRUE(utf16);
    EXPECT_EQ(*utf16, "a");
    Result<std::string> gbk = decodeText(bytesOf("\xD6\xD0"));
    ASSERT_TRUE(gbk);
    EXPECT_EQ(*gbk, "\xE4\xB8\xAD");
    // Bytes after a UTF-8 mark that are not UTF-8 are damage, not a reason to guess GB18030.
    Result<std::string> broken = decodeText(bytesOf("\xEF\xBB\xBF\xD6\xD0"));
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error().code, ErrorCode::TextEncoding);
}

}  // namespace
}  // namespace spreadsheet
