// detectLegacyEncoding(): which code page a text without a byte-order mark that is not UTF-8
// was saved in. uchardet names a candidate from the statistics of the bytes; the candidate is
// checked against the bytes themselves (they must decode in it), double-byte text is measured by
// how much of it falls on the common characters of each CJK encoding, and single-byte code pages
// that uchardet confuses with a close relative are settled by which reading gives letters.

#include <uchardet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

#include "spreadsheet/detail/text_decoding.h"
#include "spreadsheet/text_encoding.h"

namespace spreadsheet {
namespace {

// The detector judges the lines that carry non-ASCII bytes, up to this much: ASCII says
// nothing about a code page, and the lines of a large file repeat the same few characters.
constexpr std::size_t SampleBytes = 256 * 1024;

// Fewer double-byte characters than this leave a CJK guess of the detector unsure.
constexpr std::size_t SureDoubleByteCount = 8;

enum class Script { None, Cjk, SingleByte };

struct Candidate {
    const char* name;  // for iconv
    Script script;
};

// The encodings of the detector's names, as the engine decodes them: the Windows code pages of
// Windows-made files, which extend the standard sets they are named after (CP932 for Shift_JIS,
// CP949 for EUC-KR, CP950 for Big5), and one Windows code page for each Mac or DOS relative.
Candidate candidateOf(std::string_view detected) {
    struct Entry {
        std::string_view detected;
        Candidate candidate;
    };
    static constexpr Entry Table[] = {
        {"GB18030", {"GB18030", Script::Cjk}},
        {"HZ-GB-2312", {"GB18030", Script::Cjk}},
        {"ISO-2022-CN", {"GB18030", Script::Cjk}},
        {"BIG5", {"CP950", Script::Cjk}},
        {"EUC-TW", {"CP950", Script::Cjk}},
        {"SHIFT_JIS", {"CP932", Script::Cjk}},
        {"EUC-JP", {"EUC-JP", Script::Cjk}},
        {"EUC-KR", {"CP949", Script::Cjk}},
        {"UHC", {"CP949", Script::Cjk}},
        {"WINDOWS-1252", {"WINDOWS-1252", Script::SingleByte}},
        {"ISO-8859-1", {"WINDOWS-1252", Script::SingleByte}},
        {"ISO-8859-15", {"ISO-8859-15", Script::SingleByte}},
        {"WINDOWS-1250", {"CP1250", Script::SingleByte}},
        {"ISO-8859-2", {"ISO-8859-2", Script::SingleByte}},
        {"IBM852", {"WINDOWS-1252", Script::SingleByte}},
        {"MAC-CENTRALEUROPE", {"WINDOWS-1252", Script::SingleByte}},
        {"ISO-8859-16", {"WINDOWS-1252", Script::SingleByte}},
        {"WINDOWS-1251", {"CP1251", Script::SingleByte}},
        {"MAC-CYRILLIC", {"CP1251", Script::SingleByte}},
        {"IBM855", {"CP1251", Script::SingleByte}},
        {"IBM866", {"CP1251", Script::SingleByte}},
        {"KOI8-R", {"KOI8-R", Script::SingleByte}},
        {"ISO-8859-5", {"ISO-8859-5", Script::SingleByte}},
        {"WINDOWS-1253", {"CP1253", Script::SingleByte}},
        {"ISO-8859-7", {"ISO-8859-7", Script::SingleByte}},
        {"WINDOWS-1254", {"CP1254", Script::SingleByte}},
        {"ISO-8859-9", {"ISO-8859-9", Script::SingleByte}},
        {"ISO-8859-3", {"WINDOWS-1252", Script::SingleByte}},
        {"WINDOWS-1255", {"CP1255", Script::SingleByte}},
        {"ISO-8859-8", {"ISO-8859-8", Script::SingleByte}},
        {"WINDOWS-1256", {"CP1256", Script::SingleByte}},
        {"ISO-8859-6", {"ISO-8859-6", Script::SingleByte}},
        {"WINDOWS-1257", {"CP1257", Script::SingleByte}},
        {"ISO-8859-13", {"ISO-8859-13", Script::SingleByte}},
        {"ISO-8859-4", {"WINDOWS-1252", Script::SingleByte}},
        {"ISO-8859-10", {"WINDOWS-1252", Script::SingleByte}},
        {"WINDOWS-1258", {"CP1258", Script::SingleByte}},
        {"VISCII", {"CP1258", Script::SingleByte}},
        {"TIS-620", {"CP874", Script::SingleByte}},
        {"ISO-8859-11", {"CP874", Script::SingleByte}},
    };
    for (const Entry& entry : Table)
        if (entry.detected == detected) return entry.candidate;
    return {nullptr, Script::None};
}

// The close relatives of the single-byte code page the detector named (by its own name): the
// same letters at mostly the same bytes, which it takes for one another on little text. Its
// guesses of rare Latin code pages (Mac, DOS, ISO-8859-3, -4, -10, -16) are mostly wrong about
// the language: for them every common Latin code page is a relative.
std::span<const char* const> relativesOf(std::string_view detected) {
    static constexpr const char* Western[] = {"WINDOWS-1252", "ISO-8859-15"};
    static constexpr const char* AnyLatin[] = {"WINDOWS-1252", "ISO-8859-15", "CP1250",
                                               "ISO-8859-2",   "CP1254",      "ISO-8859-9",
                                               "CP1257",       "ISO-8859-13"};
    static constexpr const char* Central[] = {"CP1250", "ISO-8859-2"};
    static constexpr const char* Koi8[] = {"KOI8-R", "KOI8-U"};
    static constexpr const char* Greek[] = {"CP1253", "ISO-8859-7"};
    static constexpr const char* Turkish[] = {"CP1254", "ISO-8859-9"};
    static constexpr const char* Hebrew[] = {"CP1255", "ISO-8859-8"};
    static constexpr const char* Arabic[] = {"CP1256", "ISO-8859-6"};
    static constexpr const char* Baltic[] = {"CP1257", "ISO-8859-13"};
    if (detected == "WINDOWS-1252" || detected == "ISO-8859-1" || detected == "ISO-8859-15")
        return Western;
    if (detected == "IBM852" || detected == "MAC-CENTRALEUROPE" || detected == "ISO-8859-3" ||
        detected == "ISO-8859-4" || detected == "ISO-8859-10" || detected == "ISO-8859-16")
        return AnyLatin;
    if (detected == "WINDOWS-1250" || detected == "ISO-8859-2") return Central;
    if (detected == "KOI8-R") return Koi8;
    if (detected == "WINDOWS-1253" || detected == "ISO-8859-7") return Greek;
    if (detected == "WINDOWS-1254" || detected == "ISO-8859-9") return Turkish;
    if (detected == "WINDOWS-1255" || detected == "ISO-8859-8") return Hebrew;
    if (detected == "WINDOWS-1256" || detected == "ISO-8859-6") return Arabic;
    if (detected == "WINDOWS-1257" || detected == "ISO-8859-13") return Baltic;
    return {};
}

// The lines that hold a byte of 0x80 or more, joined, up to SampleBytes (whole lines, unless
// the first such line alone is longer).
std::string sampleOf(std::span<const std::uint8_t> bytes) {
    std::string sample;
    const auto* const begin = bytes.data();
    const auto* const end = begin + bytes.size();
    const auto* lineStart = begin;
    while (lineStart < end && sample.size() < SampleBytes) {
        const auto* lineEnd =
            static_cast<const std::uint8_t*>(std::memchr(lineStart, '\n', end - lineStart));
        lineEnd = lineEnd == nullptr ? end : lineEnd + 1;
        if (std::any_of(lineStart, lineEnd, [](std::uint8_t byte) { return byte >= 0x80; })) {
            const std::size_t room = SampleBytes - sample.size();
            const std::size_t length = static_cast<std::size_t>(lineEnd - lineStart);
            if (length > room && !sample.empty()) break;
            sample.append(reinterpret_cast<const char*>(lineStart), std::min(length, room));
        }
        lineStart = lineEnd;
    }
    return sample;
}

std::string detectorGuess(const std::string& sample) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, decltype(&uchardet_delete)> detector(
        uchardet_new(), &uchardet_delete);
    if (!detector) return {};
    if (uchardet_handle_data(detector.get(), sample.data(), sample.size()) != 0) return {};
    uchardet_data_end(detector.get());
    const char* name = uchardet_get_charset(detector.get());
    return name == nullptr ? std::string() : std::string(name);
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// How much of double-byte text falls on the characters a text in that encoding mostly uses:
// symbols and punctuation, kana and the first level of Hanzi, Kanji or Hangul. Text saved in
// another encoding lands all over the code space instead.
struct DoubleByteShare {
    std::size_t common = 0;
    std::size_t total = 0;
    bool mostlyCommon(double share) const {
        return total > 0 && static_cast<double>(common) >= share * static_cast<double>(total);
    }
};

DoubleByteShare measureDoubleBytes(std::span<const std::uint8_t> bytes, std::string_view name) {
    DoubleByteShare share;
    const std::size_t size = bytes.size();
    std::size_t index = 0;
    while (index < size) {
        const std::uint8_t lead = bytes[index];
        if (lead < 0x80) {
            ++index;
            continue;
        }
        ++share.total;
        const std::uint8_t trail = index + 1 < size ? bytes[index + 1] : 0;
        if (name == "GB18030") {
            if (trail >= 0x30 && trail <= 0x39) {  // a four-byte sequence
                index += 4;
                continue;
            }
            if (trail >= 0xA1 && ((lead >= 0xA1 && lead <= 0xA3) || (lead >= 0xB0 && lead <= 0xD7)))
                ++share.common;
        } else if (name == "CP950") {
            if (lead >= 0xA1 && lead <= 0xC6) ++share.common;
        } else if (name == "CP932") {
            if (lead >= 0xA1 && lead <= 0xDF) {  // a half-width katakana byte: rare in text
                ++index;
                continue;
            }
            if ((lead >= 0x81 && lead <= 0x84) || (lead >= 0x88 && lead <= 0x9F)) ++share.common;
        } else if (name == "EUC-JP") {
            if (lead == 0x8F) {  // JIS X 0212, three bytes
                index += 3;
                continue;
            }
            if ((lead >= 0xA1 && lead <= 0xA5) || (lead >= 0xB0 && lead <= 0xCF)) ++share.common;
        } else if (name == "CP949") {
            if (trail >= 0xA1 && ((lead >= 0xA1 && lead <= 0xA3) || (lead >= 0xB0 && lead <= 0xC8)))
                ++share.common;
        }
        index += 2;
    }
    return share;
}

// Whether the sample decodes in `name`: double-byte text may hold a stray broken character in
// a hundred, single-byte text none.
bool fits(std::span<const std::uint8_t> sample, const char* name, Script script) {
    const std::optional<std::size_t> broken = detail::convertLeniently(sample, name, nullptr);
    if (!broken) return false;
    if (script != Script::Cjk || *broken == 0) return *broken == 0;
    return *broken * 100 <= measureDoubleBytes(sample, name).total;
}

// Letters (and the marks that join them) outside ASCII: the Latin, Greek, Cyrillic, Hebrew,
// Arabic and Thai letters single-byte code pages hold. Letters that hardly any text uses (the
// Slovak Ľ and ľ, the Sami ŧ, the Greenlandic ĸ, the Catalan ŀ) do not count: they are what
// another language's letters turn into when the code page is taken for its relative.
bool isLetter(char32_t code) {
    if (code == 0x138 || code == 0x13D || code == 0x13E || code == 0x13F || code == 0x140 ||
        code == 0x149 || code == 0x166 || code == 0x167)
        return false;
    if (code >= 0xC0 && code <= 0x24F) return code != 0xD7 && code != 0xF7;
    return (code >= 0x300 && code <= 0x36F) || code == 0x386 || (code >= 0x388 && code <= 0x3FF) ||
           (code >= 0x400 && code <= 0x52F && code != 0x482) || (code >= 0x5B0 && code <= 0x5C2) ||
           (code >= 0x5D0 && code <= 0x5F2) || (code >= 0x610 && code <= 0x61A) ||
           (code >= 0x620 && code <= 0x65F) || (code >= 0x66E && code <= 0x6D3) ||
           (code >= 0xE01 && code <= 0xE3A) || (code >= 0xE40 && code <= 0xE4E) ||
           (code >= 0x1E00 && code <= 0x1EFF);
}

// How well a reading of single-byte text looks like words: a point per letter, three off per
// control character or byte the code page does not have.
long letterScore(std::span<const std::uint8_t> sample, const char* name) {
    std::string text;
    const std::optional<std::size_t> broken = detail::convertLeniently(sample, name, &text);
    if (!broken) return std::numeric_limits<long>::min();
    long score = -3 * static_cast<long>(*broken);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = bytes + text.size();
    while (bytes < end) {
        if (*bytes < 0x80) {
            ++bytes;
            continue;
        }
        char32_t code = 0;
        const int length = decodeUtf8(bytes, end, code);
        if (length <= 0) {
            ++bytes;
            continue;
        }
        bytes += length;
        if (code == 0xFFFD) continue;  // counted as broken already
        if (isLetter(code))
            ++score;
        else if (code >= 0x80 && code <= 0x9F)
            score -= 3;
    }
    return score;
}

// The CJK encodings in the order they are preferred when the bytes fit several equally well.
constexpr Candidate CjkOrder[] = {{"GB18030", Script::Cjk},
                                  {"CP950", Script::Cjk},
                                  {"CP932", Script::Cjk},
                                  {"CP949", Script::Cjk},
                                  {"EUC-JP", Script::Cjk}};

// A CJK encoding the double-byte text clearly is although the detector did not say so: the
// bytes decode in it and almost all land on its common characters. GB18030 needs one such
// character; the others need SureDoubleByteCount, since European letters next to ASCII make
// short valid Big5 or Shift_JIS.
const char* clearCjkEncoding(std::span<const std::uint8_t> sample, double share) {
    for (const Candidate& candidate : CjkOrder) {
        const DoubleByteShare measured = measureDoubleBytes(sample, candidate.name);
        const std::size_t needed =
            std::string_view(candidate.name) == "GB18030" ? 1 : SureDoubleByteCount;
        if (measured.total >= needed && measured.mostlyCommon(share) &&
            fits(sample, candidate.name, Script::Cjk))
            return candidate.name;
    }
    return nullptr;
}

// Whether `name` reads the sample to the same text as Windows-1252, as short Western text does in
// most Latin code pages ("José" is the same in ISO-8859-2): the common code page is then the
// better name for it.
bool sameAsWestern(std::span<const std::uint8_t> sample, const char* name) {
    if (std::string_view(name) == encoding_names::Windows1252) return false;
    std::string text;
    if (!detail::convertLeniently(sample, name, &text)) return false;
    std::string western;
    detail::appendWindows1252(sample, western);
    return text == western;
}

}  // namespace

std::string detectLegacyEncoding(std::span<const std::uint8_t> bytes) {
    const std::string sampleText = sampleOf(bytes);
    const std::span<const std::uint8_t> sample = bytesOf(sampleText);
    if (sample.empty()) return encoding_names::Windows1252;
    const std::string detected = detectorGuess(sampleText);
    const Candidate guess = candidateOf(detected);
    const bool gbFits = fits(sample, encoding_names::Gb18030, Script::Cjk);

    if (guess.script == Script::Cjk && fits(sample, guess.name, Script::Cjk)) {
        if (std::string_view(guess.name) == encoding_names::Gb18030) return guess.name;
        // Little text in another CJK encoding is as likely GB18030 with an unlucky sample.
        const DoubleByteShare other = measureDoubleBytes(sample, guess.name);
        const DoubleByteShare gb = measureDoubleBytes(sample, encoding_names::Gb18030);
        if (gbFits && other.total < SureDoubleByteCount &&
            gb.common * other.total >= other.common * gb.total)
            return encoding_names::Gb18030;
        return guess.name;
    }
    if (guess.script == Script::Cjk && gbFits) return encoding_names::Gb18030;

    // The detector saw single-byte text or nothing it knows: double-byte text it missed first.
    if (const char* cjk = clearCjkEncoding(sample, 0.9)) return cjk;
    if (guess.script == Script::SingleByte) {
        const char* best = nullptr;
        long bestScore = 0;
        if (fits(sample, guess.name, Script::SingleByte)) {
            best = guess.name;
            bestScore = letterScore(sample, guess.name);
        }
        for (const char* relative : relativesOf(detected)) {
            if (!fits(sample, relative, Script::SingleByte)) continue;
            const long score = letterScore(sample, relative);
            if (best == nullptr || score > bestScore) {
                best = relative;
                bestScore = score;
            }
        }
        if (best != nullptr)
            return sameAsWestern(sample, best) ? encoding_names::Windows1252 : best;
    }
    if (const char* cjk = clearCjkEncoding(sample, 0.8)) return cjk;
    return encoding_names::Windows1252;
}

}  // namespace spreadsheet
