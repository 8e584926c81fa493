#include "spreadsheet/detail/xml_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace spreadsheet::detail {
namespace {

// Records elements as "local(attribute=value)" and the text of <t> elements.
class Recorder : public XmlHandler {
public:
    std::vector<std::string> events;
    std::string text;
    void startElement(std::string_view name, const XmlAttributes& attributes) override {
        std::string event(name);
        if (auto id = attributes.getNamespaced("relationships", "id"))
            event += "(r:id=" + std::string(*id) + ")";
        if (auto value = attributes.get("val")) event += "(val=" + std::string(*value) + ")";
        events.push_back(event);
        setCollectingText(name == "t");
    }
    void endElement(std::string_view) override { setCollectingText(false); }
    void characters(std::string_view chunk) override { text += chunk; }
};

TEST(XmlReader, GivesLocalNamesWhateverThePrefixAndCollectsTextOnlyWhenAsked) {
    const std::string xml =
        "<x:a xmlns:x='http://purl.oclc.org/ooxml/spreadsheetml/main' "
        "xmlns:q='http://purl.oclc.org/ooxml/officeDocument/relationships'>"
        "<x:b q:id='rId7' val='1'>skipped</x:b><t>kept &amp; <![CDATA[raw]]></t></x:a>";
    Recorder recorder;
    Result<void> parsed = parseXml(recorder, "part", xml);
    ASSERT_TRUE(parsed) << parsed.error().detail;
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"a", "b(r:id=rId7)(val=1)", "t"}));
    EXPECT_EQ(recorder.text, "kept & raw");
}

TEST(XmlReader, FeedsPartsInChunksFromASource) {
    std::string xml = "<a>";
    for (int i = 0; i < 20000; ++i) xml += "<t>x</t>";
    xml += "</a>";
    std::size_t position = 0;
    XmlSource source = [&](char* out, std::size_t capacity) -> Result<std::size_t> {
        const std::size_t length = std::min<std::size_t>({capacity, 1000, xml.size() - position});
        std::copy_n(xml.data() + position, length, out);
        position += length;
        return length;
    };
    Recorder recorder;
    ASSERT_TRUE(parseXml(recorder, "part", source));
    EXPECT_EQ(recorder.text, std::string(20000, 'x'));
    EXPECT_EQ(recorder.events.size(), 20001u);
}

TEST(XmlReader, RefusesDoctypeDepthAndOverlongTextWithTheirCodes) {
    XmlLimits limits;
    limits.maxDepth = 4;
    limits.maxTextBytes = 10;
    struct Case {
        std::string xml;
        ErrorCode code;
    };
    const Case cases[] = {
        {"<!DOCTYPE a><a/>", ErrorCode::XmlForbidden},
        {"<!DOCTYPE a [<!ENTITY b 'c'>]><a>&b;</a>", ErrorCode::XmlForbidden},
        {"<a><a><a><a><a/></a></a></a></a>", ErrorCode::XmlLimit},
        {"<a><t>01234567890</t></a>", ErrorCode::XmlLimit},
        {"<a v='01234567890'/>", ErrorCode::XmlLimit},
        {"<a><b></a>", ErrorCode::XmlMalformed},
        {"<a>&undefined;</a>", ErrorCode::XmlMalformed},
        {"", ErrorCode::XmlMalformed},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.xml);
        Recorder recorder;
        Result<void> parsed = parseXml(recorder, "xl/part.xml", row.xml, limits);
        ASSERT_FALSE(parsed);
        EXPECT_EQ(parsed.error().code, row.code);
        EXPECT_NE(parsed.error().detail.find("xl/part.xml"), std::string::npos);
    }
    Recorder recorder;
    EXPECT_TRUE(parseXml(recorder, "part", "<a><a><a><t>0123456789</t></a></a></a>", limits));
    // The limits count decoded text: ten "&amp;" are ten bytes.
    EXPECT_TRUE(parseXml(recorder, "part",
                         "<a v='&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;&amp;'/>", limits));
}

class Failing : public XmlHandler {
public:
    int starts = 0;
    void startElement(std::string_view, const XmlAttributes&) override {
        if (++starts == 2) fail(Error(ErrorCode::SheetLimit, "stop here"));
    }
    void endElement(std::string_view) override {}
};

TEST(XmlReader, StopsAtTheHandlersFirstError) {
    Failing handler;
    Result<void> parsed = parseXml(handler, "part", "<a><b/><c/><d/></a>");
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().code, ErrorCode::SheetLimit);
    EXPECT_EQ(parsed.error().detail, "stop here");
    EXPECT_EQ(handler.starts, 2);
}

}  // namespace
}  // namespace spreadsheet::detail
