// Our XML scanner against expat: the same events (names, attributes with their namespaces, text)
// for every XML part of the corpus and of our fixtures, the same error codes for broken parts,
// and the same events whatever sizes the chunks come in.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "spreadsheet/detail/xml_reader.h"
#include "spreadsheet/zip_reader.h"

namespace spreadsheet::detail {
namespace {

// Records every event; adjacent text pieces are joined, since either parser may split text.
class Recorder : public XmlHandler {
public:
    std::vector<std::string> events;
    Recorder() { setCollectingText(true); }
    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        std::string event = "<" + std::string(name);
        for (std::size_t k = 0; k < attributes.size(); ++k) {
            event += " {" + std::string(attributes[k].namespaceUri) + "}" +
                     std::string(attributes[k].localName) + "=[" +
                     std::string(attributes[k].value) + "]";
        }
        events.push_back(event + ">");
    }
    void endElement(std::string_view name) override {
        events.push_back("</" + std::string(name) + ">");
    }
    void characters(std::string_view text) override {
        if (!events.empty() && events.back().rfind("T:", 0) == 0)
            events.back() += text;
        else
            events.push_back("T:" + std::string(text));
    }
};

XmlSource chunked(std::string_view text, std::size_t chunk) {
    auto position = std::make_shared<std::size_t>(0);
    return [text, chunk, position](char* out, std::size_t capacity) -> Result<std::size_t> {
        const std::size_t length = std::min({capacity, chunk, text.size() - *position});
        std::copy_n(text.data() + *position, length, out);
        *position += length;
        return length;
    };
}

struct Outcome {
    bool ok = false;
    ErrorCode code = ErrorCode::OperationFailed;
    std::vector<std::string> events;
};

Outcome withExpat(std::string_view text) {
    Recorder recorder;
    Result<void> parsed = parseXmlWithExpat(recorder, "part", chunked(text, 1 << 16));
    return {bool(parsed), parsed ? ErrorCode::OperationFailed : parsed.error().code,
            recorder.events};
}

// nullopt when the scanner hands the part to expat.
std::optional<Outcome> withScanner(std::string_view text, std::size_t chunk = 1 << 16) {
    Recorder recorder;
    std::string alreadyRead;
    std::optional<Result<void>> parsed =
        scanXml(recorder, "part", chunked(text, chunk), {}, alreadyRead);
    if (!parsed) return std::nullopt;
    return Outcome{bool(*parsed), *parsed ? ErrorCode::OperationFailed : parsed->error().code,
                   recorder.events};
}

void expectSameAsExpat(std::string_view text) {
    const Outcome reference = withExpat(text);
    std::optional<Outcome> ours = withScanner(text);
    ASSERT_TRUE(ours) << "handed to expat";
    ASSERT_EQ(ours->ok, reference.ok);
    if (reference.ok)
        EXPECT_EQ(ours->events, reference.events);
    else
        EXPECT_EQ(ours->code, reference.code);
}

TEST(XmlScanner, ReportsWhatExpatReportsForEachConstruct) {
    const std::string cases[] = {
        "<a/>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<a>x</a>",
        "\xEF\xBB\xBF<?xml version='1.0'?><a>bom</a>",
        "<a b='1' c=\"two words\" d = '3'/>",
        "<a v='x&amp;y&lt;&gt;&quot;&apos;&#65;&#x4E2D;'>&#x1F600;&#9;&#13;&amp;&lt;</a>",
        "<a v='line\r\nbreak\ttab\nnew\rcr'>line\r\nbreak\rcr\n</a>",
        "<a><![CDATA[<not a tag> & \r\n ]] ]]></a>",
        "<!-- before --><a><!-- inside - with dash --><b/></a><!-- after -->",
        "<?pi some data?><a><?target data?></a>",
        "<x:a xmlns:x='urn:main' xmlns:r='urn:other/relationships' r:id='rId1' x:val='2' plain='3'>"
        "<x:b xmlns:r='urn:inner/relationships' r:id='rId2'/><c r:id='rId3'/></x:a>",
        "<a xmlns='urn:default' xml:space='preserve'><b attr='1'/></a>",
        "<a>中文 text ünïcödé 😀</a>",
        "<a>\n  <b>  </b>\n</a>\n\n",
        "<a>]]></a>",
        // Broken parts.
        "",
        "   ",
        "<a>",
        "<a></b>",
        "<a><b></a></b>",
        "<a/><b/>",
        "<a/>text",
        "text<a/>",
        "<a>&nbsp;</a>",
        "<a>&#0;</a>",
        "<a>&#xD800;</a>",
        "<a>&#1114112;</a>",
        "<a>&amp</a>",
        "<a b='1' b='2'/>",
        "<a b='1'c='2'/>",
        "<a b=1/>",
        "<a b='<'/>",
        "<a b='1/>",
        "<p:a/>",
        "<a p:b='1'/>",
        "<a>\x01</a>",
        "<a>\xC3</a>",
        "<a>\xC0\x80</a>",
        "<a>\xED\xA0\x80</a>",
        "<a>\xEF\xBF\xBE</a>",
        "<a><!-- a -- b --></a>",
        "<a><!--></a>",
        "<![CDATA[x]]><a/>",
        "<a><![CDATA[x</a>",
        "<a/><?xml version='1.0'?>",
        " <?xml version='1.0'?><a/>",
        "<?xml version=\"1.0\" encoding=\"utf-8\"junk=\"x\" ?><a/>",
        "<?xml encoding='UTF-8' version='1.0'?><a/>",
        "<?xml version='1.0' standalone='maybe'?><a/>",
        "<!DOCTYPE a><a/>",
        "<a><!ELEMENT a ANY></a>",
        "<1a/>",
        "<a></a >",
        "<a></ a>",
        "< a/>",
        "<a/ >",
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        expectSameAsExpat(text);
    }
}

TEST(XmlScanner, GivesTheSameEventsWhateverTheChunkSize) {
    const std::string text =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<x:ws xmlns:x='urn:main' xmlns:r='urn:rel'><!-- a comment - with a dash -->"
        "<row r='1' spans='1:3'><c r='A1' t='s' s='1'><v>12</v></c>"
        "<c r='B1' t='inlineStr'><is><t xml:space='preserve'>中文&amp;\r\n😀&#x4E2D;</t></is></c>"
        "<c r='C1' r:id='rId5' "
        "v='a&#9;b\r\nc'><f>SUM(A1:B1)&lt;3</f><v><![CDATA[x]]y\r\n]]></v></c></row>"
        "<?pi data?></x:ws>\n";
    const std::optional<Outcome> whole = withScanner(text);
    ASSERT_TRUE(whole && whole->ok);
    EXPECT_EQ(whole->events, withExpat(text).events);
    for (std::size_t chunk = 1; chunk <= 40; ++chunk) {
        SCOPED_TRACE(chunk);
        const std::optional<Outcome> pieces = withScanner(text, chunk);
        ASSERT_TRUE(pieces && pieces->ok);
        EXPECT_EQ(pieces->events, whole->events);
    }
    // A broken part fails at any chunk size.
    const std::string broken = "<a><b>\xE4\xB8</b></a>";
    for (std::size_t chunk = 1; chunk <= 8; ++chunk) {
        SCOPED_TRACE(chunk);
        std::optional<Outcome> pieces = withScanner(broken, chunk);
        ASSERT_TRUE(pieces);
        EXPECT_FALSE(pieces->ok);
        EXPECT_EQ(pieces->code, ErrorCode::XmlMalformed);
    }
}

TEST(XmlScanner, HandsOtherEncodingsToExpatThroughParseXml) {
    struct Case {
        std::string text;
        std::string expected;
    };
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<a>x\xE9</a>")) {
        utf16 += c == '\xE9' ? '\xE9' : c;
        utf16 += '\0';
    }
    const Case cases[] = {
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>x\xE9</a>", "x\xC3\xA9"},
        {"<?xml version='1.0' encoding='US-ASCII'?><a>x</a>", "x"},
        {utf16, "x\xC3\xA9"},
    };
    for (const Case& row : cases) {
        Recorder probe;
        std::string alreadyRead;
        EXPECT_FALSE(scanXml(probe, "part", chunked(row.text, 3), {}, alreadyRead));
        EXPECT_TRUE(probe.events.empty());
        Recorder recorder;
        Result<void> parsed = parseXml(recorder, "part", chunked(row.text, 3));
        ASSERT_TRUE(parsed) << parsed.error().detail;
        EXPECT_EQ(recorder.events, (std::vector<std::string>{"<a>", "T:" + row.expected, "</a>"}));
    }
}

TEST(XmlScanner, NamesThePartLineAndColumnOfAnError) {
    Recorder recorder;
    std::string alreadyRead;
    const std::string text = "<a>\n<b>\n  <c></b>\n</a>";
    std::optional<Result<void>> parsed =
        scanXml(recorder, "xl/worksheets/sheet1.xml", chunked(text, 4), {}, alreadyRead);
    ASSERT_TRUE(parsed);
    ASSERT_FALSE(*parsed);
    EXPECT_NE(parsed->error().detail.find("xl/worksheets/sheet1.xml line 3 column 5"),
              std::string::npos)
        << parsed->error().detail;
}

std::vector<std::filesystem::path> packages() {
    std::vector<std::filesystem::path> files;
    for (const std::string& folder :
         {std::string(SHEETMERGE_CORPUS), std::string(SHEETMERGE_TEST_DATA) + "/xlsx"}) {
        if (!std::filesystem::exists(folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".xlsx" || extension == ".xlsm") files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(XmlScanner, ReadsEveryXmlPartOfTheCorpusAsExpatDoes) {
    const std::vector<std::filesystem::path> files = packages();
    if (files.empty()) GTEST_SKIP() << "no packages found";
    int compared = 0;
    for (const std::filesystem::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        Result<ZipReader> zip = ZipReader::open(bytes);
        if (!zip) continue;  // the broken packages of the corpus
        for (const ZipEntry& entry : zip->entries()) {
            const std::string& name = entry.name;
            if (name.size() < 4 ||
                (name.substr(name.size() - 4) != ".xml" && name.substr(name.size() - 5) != ".rels"))
                continue;
            Result<std::string> text = zip->readWhole(entry, 64u << 20);
            if (!text) continue;
            SCOPED_TRACE(file.filename().string() + ":" + name);
            const Outcome reference = withExpat(*text);
            // Small chunks on the small parts, where the cuts fall in every construct.
            for (std::size_t chunk :
                 {std::size_t(1) << 16,
                  text->size() < (1u << 20) ? std::size_t(997) : std::size_t(0)}) {
                if (chunk == 0) continue;
                std::optional<Outcome> ours = withScanner(*text, chunk);
                if (!ours) continue;  // another encoding: expat reads it
                ASSERT_EQ(ours->ok, reference.ok);
                if (reference.ok)
                    ASSERT_EQ(ours->events, reference.events);
                else
                    EXPECT_EQ(ours->code, reference.code);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace spreadsheet::detail

namespace spreadsheet::detail {
namespace {

// A tag far longer than a read is scanned again from its start after each read, so the reads
// must grow with it: with 64 KiB reads an 8 MiB tag would be scanned 128 times.
TEST(XmlScanner, AsksForMoreAtOnceWhileATagGrows) {
    std::string text = "<a";
    for (int k = 0; text.size() < (8u << 20); ++k)
        text += " v" + std::to_string(k) + "='" + std::string(1000, 'x') + "'";
    text += "/>";
    std::size_t largestRequest = 0;
    std::size_t position = 0;
    XmlSource source = [&](char* out, std::size_t capacity) -> Result<std::size_t> {
        largestRequest = std::max(largestRequest, capacity);
        const std::size_t length =
            std::min({capacity, std::size_t(1) << 16, text.size() - position});
        std::copy_n(text.data() + position, length, out);
        position += length;
        return length;
    };
    Recorder recorder;
    std::string alreadyRead;
    std::optional<Result<void>> parsed = scanXml(recorder, "part", source, {}, alreadyRead);
    ASSERT_TRUE(parsed && *parsed);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_GE(largestRequest, std::size_t(2) << 20);
    EXPECT_EQ(position, text.size());
}

TEST(XmlScanner, RefusesAnOverlongAttributeBeforeReadingTheRestOfItsTag) {
    XmlLimits limits;
    limits.maxTextBytes = 1000;
    const std::string text = "<a v='" + std::string(1u << 20, 'x') + "'/>";
    std::size_t position = 0;
    XmlSource source = [&](char* out, std::size_t capacity) -> Result<std::size_t> {
        const std::size_t length = std::min({capacity, std::size_t(4096), text.size() - position});
        std::copy_n(text.data() + position, length, out);
        position += length;
        return length;
    };
    Recorder recorder;
    std::string alreadyRead;
    std::optional<Result<void>> parsed = scanXml(recorder, "part", source, limits, alreadyRead);
    ASSERT_TRUE(parsed);
    ASSERT_FALSE(*parsed);
    EXPECT_EQ(parsed->error().code, ErrorCode::XmlLimit);
    EXPECT_LT(position, std::size_t(1) << 18);
}

}  // namespace
}  // namespace spreadsheet::detail
