// The row decisions of a block plan, the digest set behind the duplicate rule, and the
// normalisation that header names are compared in.
#include "merge/block_plan.h"

#include <algorithm>
#include <cstring>

namespace merge {

namespace {

// Folds `word` into `hash`: a multiply and xor-shift round as in MurmurHash's finaliser.
std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
    hash ^= word;
    hash *= 0x9E3779B97F4A7C15ULL;
    hash ^= hash >> 32;
    hash *= 0xD6E8FEB86659FD93ULL;
    return hash ^ (hash >> 29);
}

// Two 64-bit hashes of `text`, under `seeds.high` and `seeds.low`, eight bytes at a time; the
// two rounds run side by side over each word.
RowDigest hashText(std::string_view text, RowDigest seeds) {
    const char* bytes = text.data();
    const std::size_t size = text.size();
    std::uint64_t high = mix(seeds.high, size ^ 0xE7037ED1A0B428DBULL);
    std::uint64_t low = mix(seeds.low, size ^ 0xE7037ED1A0B428DBULL);
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + at, 8);
        high = mix(high, word);
        low = mix(low, word);
    }
    std::uint64_t tail = 0;
    if (at < size) std::memcpy(&tail, bytes + at, size - at);
    return RowDigest{mix(high, tail ^ 0x589965CC75374CC3ULL),
                     mix(low, tail ^ 0x589965CC75374CC3ULL)};
}

// One cell's share of a row digest: its result column and its displayed text. A row's digest
// is the sum of its cells' shares, so the order the source holds its columns in does not
// matter, only where each value lands.
RowDigest cellDigest(int column, std::string_view text) {
    const auto place = static_cast<std::uint64_t>(column) * 0x9E3779B97F4A7C15ULL;
    return hashText(text, RowDigest{place ^ 0x2D358DCCAA6C78A5ULL, place ^ 0x4F1BBCDCBFA53E0BULL});
}

bool isBlankRow(std::span<const RowCell> cells) {
    return std::all_of(cells.begin(), cells.end(),
                       [](const RowCell& cell) { return trimBlanks(cell.text).empty(); });
}

// The UTF-8 character at `at`: its code point and length; a malformed byte reads as itself.
char32_t decode(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    const auto continuation = [&](std::size_t count) {
        if (at + count >= text.size()) return false;
        for (std::size_t k = 1; k <= count; ++k)
            if ((byte(k) & 0xC0) != 0x80) return false;
        return true;
    };
    if (lead >= 0xF0 && lead < 0xF8 && continuation(3)) {
        length = 4;
        return (char32_t(lead & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) |
               (char32_t(byte(2) & 0x3F) << 6) | char32_t(byte(3) & 0x3F);
    }
    if (lead >= 0xE0 && lead < 0xF0 && continuation(2)) {
        length = 3;
        return (char32_t(lead & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) |
               char32_t(byte(2) & 0x3F);
    }
    if (lead >= 0xC0 && lead < 0xE0 && continuation(1)) {
        length = 2;
        return (char32_t(lead & 0x1F) << 6) | char32_t(byte(1) & 0x3F);
    }
    length = 1;
    return lead;
}

void encode(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool isBlankCode(char32_t code) {
    return code == ' ' || code == '\t' || code == '\n' || code == '\r' || code == '\v' ||
           code == '\f' || code == 0x3000 || code == 0x00A0;
}

// Whether a row's cells read, after normalisation, exactly as the header keys.
bool isHeaderRepeat(std::span<const RowCell> cells, const std::vector<std::string>& keys,
                    int nonEmptyKeys) {
    int matched = 0;
    for (const RowCell& cell : cells) {
        const std::string normal = normalizeHeader(cell.text);
        if (normal.empty()) continue;
        if (cell.offset >= static_cast<int>(keys.size()) ||
            keys[static_cast<std::size_t>(cell.offset)] != normal)
            return false;
        ++matched;
    }
    return matched == nonEmptyKeys;
}

}  // namespace

std::size_t RowDigestSet::slotOf(const RowDigest& digest) const {
    const std::size_t mask = m_slots.size() - 1;
    std::size_t slot = static_cast<std::size_t>(digest.low ^ (digest.high >> 7)) & mask;
    while (!(m_slots[slot] == RowDigest{}) && !(m_slots[slot] == digest)) slot = (slot + 1) & mask;
    return slot;
}

bool RowDigestSet::contains(const RowDigest& digest) const {
    if (digest == RowDigest{}) return m_hasZero;
    if (m_slots.empty()) return false;
    return m_slots[slotOf(digest)] == digest;
}

bool RowDigestSet::insert(const RowDigest& digest) {
    if (digest == RowDigest{}) {
        if (m_hasZero) return false;
        ++m_count;
        m_hasZero = true;
        return true;
    }
    // At most half full, so probes stay short.
    if ((m_count + 1) * 2 > m_slots.size()) grow();
    RowDigest& slot = m_slots[slotOf(digest)];
    if (slot == digest) return false;
    slot = digest;
    ++m_count;
    return true;
}

void RowDigestSet::erase(const std::vector<RowDigest>& digests) {
    if (digests.empty()) return;
    RowDigestSet gone;
    for (const RowDigest& digest : digests) gone.insert(digest);
    std::vector<RowDigest> old = std::move(m_slots);
    const bool hadZero = m_hasZero;
    m_slots.clear();
    m_count = 0;
    m_hasZero = false;
    if (hadZero && !gone.contains(RowDigest{})) insert(RowDigest{});
    for (const RowDigest& digest : old)
        if (!(digest == RowDigest{}) && !gone.contains(digest)) insert(digest);
}

void RowDigestSet::grow() {
    std::vector<RowDigest> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 1024 : old.size() * 2, RowDigest{});
    for (const RowDigest& digest : old)
        if (!(digest == RowDigest{})) m_slots[slotOf(digest)] = digest;
}

std::string_view trimBlanks(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last) {
        std::size_t length = 1;
        if (!isBlankCode(decode(text, first, length))) break;
        first += length;
    }
    while (last > first) {
        // Step back to the start of the last character.
        std::size_t start = last - 1;
        while (start > first && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        std::size_t length = 1;
        const char32_t code = decode(text, start, length);
        if (start + length != last || !isBlankCode(code)) break;
        last = start;
    }
    return text.substr(first, last - first);
}

std::string normalizeHeader(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 1;
        char32_t code = decode(text, at, length);
        if (length == 1 && code >= 0x80) {
            // Not UTF-8: the byte stays as it is.
            if (pendingBlank) out += ' ';
            pendingBlank = false;
            out += text[at++];
            continue;
        }
        at += length;
        // Full-width forms U+FF01..U+FF5E are the half-width U+0021..U+007E.
        if (code >= 0xFF01 && code <= 0xFF5E) code -= 0xFEE0;
        if (isBlankCode(code)) {
            pendingBlank = !out.empty();
            continue;
        }
        if (pendingBlank) out += ' ';
        pendingBlank = false;
        if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
        encode(code, out);
    }
    return out;
}

RowSelection selectRows(const BlockPlan& plan, RowDigestSet& seen, int first, int last,
                        const RowWalk& walk) {
    RowSelection selection;
    if (last < first) return selection;
    int nonEmptyKeys = 0;
    for (const std::string& key : plan.headerKeys) nonEmptyKeys += key.empty() ? 0 : 1;
    const bool headerRule = nonEmptyKeys > 0;
    const bool rowRules = plan.skipBlankRows || headerRule || plan.dedupe;
    int end = last;
    if (!plan.stopAt.empty()) {
        const std::string_view stop = trimBlanks(plan.stopAt);
        int stopRow = 0;
        walk(first, last, RowTexts::UpToFirstValue, [&](int row, std::span<const RowCell> cells) {
            for (const RowCell& cell : cells) {
                const std::string_view text = trimBlanks(cell.text);
                if (text.empty()) continue;
                if (text == stop) stopRow = row;
                break;
            }
            return stopRow == 0;
        });
        if (stopRow != 0) {
            selection.stopped = last - stopRow + 1;
            end = stopRow - 1;
        }
    }
    if (plan.skipLast > 0) {
        const int rows = std::max(0, end - first + 1);
        selection.skippedLast = std::min(plan.skipLast, rows);
        end -= selection.skippedLast;
    }
    if (end < first) return selection;
    if (!rowRules) {
        // No row is judged: every row up to the end stays, without a look at its cells.
        selection.rows.reserve(static_cast<std::size_t>(end - first + 1));
        for (int row = first; row <= end; ++row) selection.rows.push_back(row);
        return selection;
    }

    int next = first;  // the first row not yet accounted for
    const auto emptyRows = [&](int from, int to) {
        if (to < from) return;
        if (plan.skipBlankRows && !(plan.firstRowIsHeader && from == first)) {
            selection.blank += to - from + 1;
            return;
        }
        for (int row = from; row <= to; ++row) selection.rows.push_back(row);
    };
    const RowTexts texts = headerRule || plan.dedupe ? RowTexts::All : RowTexts::UpToFirstValue;
    walk(first, end, texts, [&](int row, std::span<const RowCell> cells) {
        emptyRows(next, row - 1);
        next = row + 1;
        if (plan.firstRowIsHeader && row == first) {
            selection.rows.push_back(row);
            return true;
        }
        if (isBlankRow(cells)) {
            if (plan.skipBlankRows)
                ++selection.blank;
            else
                selection.rows.push_back(row);
            return true;
        }
        if (headerRule && isHeaderRepeat(cells, plan.headerKeys, nonEmptyKeys)) {
            ++selection.headerRepeats;
            return true;
        }
        if (plan.dedupe) {
            RowDigest digest;
            for (const RowCell& cell : cells) {
                const int column = plan.targetColumn(cell.offset);
                if (column < 0) continue;
                const RowDigest share = cellDigest(column, cell.text);
                digest.high += share.high;
                digest.low += share.low;
            }
            // One look-up: a row new to the result joins it at once, so later rows of the same
            // block find it too.
            if (!seen.insert(digest)) {
                ++selection.duplicates;
                return true;
            }
            selection.digests.push_back(digest);
        }
        selection.rows.push_back(row);
        return true;
    });
    emptyRows(next, end);
    return selection;
}

}  // namespace merge
