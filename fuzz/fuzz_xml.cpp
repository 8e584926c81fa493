// Differential fuzzing of our XML scanner against expat: on any input both must accept or both
// refuse, and when both accept they must report the same elements, attributes and text. A
// difference aborts, so the fuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "spreadsheet/detail/xml_reader.h"

namespace {

using namespace spreadsheet;
using namespace spreadsheet::detail;

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

bool validUtf8(std::string_view text) {
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        if (length == 0 || k + length > text.size()) return false;
        for (std::size_t j = 1; j < length; ++j) {
            if ((static_cast<unsigned char>(text[k + j]) & 0xC0) != 0x80) return false;
        }
        k += length;
    }
    return true;
}

XmlSource chunks(std::string_view text, std::size_t size, std::size_t& position) {
    return [text, size, &position](char* out, std::size_t capacity) -> Result<std::size_t> {
        const std::size_t length = std::min({capacity, size, text.size() - position});
        std::copy_n(text.data() + position, length, out);
        position += length;
        return length;
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte picks the scanner's chunk size, so that cuts fall everywhere.
    const std::size_t chunk = 1 + data[0] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    Recorder ours;
    std::string alreadyRead;
    std::size_t position = 0;
    std::optional<Result<void>> scanned =
        scanXml(ours, "part", chunks(text, chunk, position), {}, alreadyRead);
    if (!scanned) return 0;  // another encoding: expat alone reads it
    Recorder reference;
    std::size_t referencePosition = 0;
    Result<void> parsed =
        parseXmlWithExpat(reference, "part", chunks(text, 1 << 16, referencePosition));
    // The scanner is more lenient than expat about which letters beyond ASCII make a name; the
    // long runs set SHEETMERGE_FUZZ_STRICT to see those too, the smoke run only a part the
    // scanner refuses though expat reads it, and text that is not UTF-8.
    static const bool strict = std::getenv("SHEETMERGE_FUZZ_STRICT") != nullptr;
    if (*scanned) {
        for (const std::string& event : ours.events) {
            if (!validUtf8(event)) {
                std::fprintf(stderr, "the scanner reports text that is not UTF-8\n");
                std::abort();
            }
        }
    }
    if (bool(*scanned) != bool(parsed) && (strict || !*scanned)) {
        std::fprintf(stderr, "scanner %s, expat %s\n",
                     *scanned ? "accepts" : scanned->error().detail.c_str(),
                     parsed ? "accepts" : parsed.error().detail.c_str());
        std::abort();
    }
    if (parsed && ours.events != reference.events) {
        std::fprintf(stderr, "the scanner and expat report different events\n");
        std::abort();
    }
    return 0;
}
