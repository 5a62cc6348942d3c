#include "cli/caseless.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "cli/text.h"

namespace {

// A code point and the kMappedTo[at..at+size) it stands for.
struct CaselessMapping {
    char32_t code;
    uint16_t at;
    uint8_t size;
};

// Code points first to last, all of canonical combining class ccc.
struct CombiningRange {
    char32_t first;
    char32_t last;
    uint8_t ccc;
};

#include "cli/caseless_tables.inc"

// Hangul syllables decompose by arithmetic, as the Unicode standard defines
// it (section 3.12), rather than through a table of 11,172 rows.
constexpr char32_t kSyllableBase = 0xAC00;
constexpr char32_t kLeadBase = 0x1100;
constexpr char32_t kVowelBase = 0x1161;
constexpr char32_t kTrailBase = 0x11A7;
constexpr char32_t kVowels = 21;
constexpr char32_t kTrails = 28;
constexpr char32_t kSyllables = 19 * kVowels * kTrails;

int CombiningClass(char32_t c) {
    const auto after =
        std::upper_bound(std::begin(kCombining), std::end(kCombining), c,
                         [](char32_t code, const CombiningRange& r) { return code < r.first; });
    if (after == std::begin(kCombining)) {
        return 0;
    }
    const CombiningRange& r = *std::prev(after);
    return c <= r.last ? r.ccc : 0;
}

// Appends what table maps c to, or c itself.
template <size_t N>
void AppendMapped(const CaselessMapping (&table)[N], char32_t c, std::u32string* out) {
    const auto at =
        std::lower_bound(std::begin(table), std::end(table), c,
                         [](const CaselessMapping& m, char32_t code) { return m.code < code; });
    if (at != std::end(table) && at->code == c) {
        out->append(kMappedTo + at->at, at->size);
    } else {
        out->push_back(c);
    }
}

// Sorts each run of combining marks by class, keeping the order of marks of
// one class: the canonical ordering that ends NFD.
void Reorder(std::u32string* text) {
    const auto byClass = [](char32_t a, char32_t b) {
        return CombiningClass(a) < CombiningClass(b);
    };
    for (auto at = text->begin(); at != text->end();) {
        const auto end =
            std::find_if(at, text->end(), [](char32_t c) { return CombiningClass(c) == 0; });
        std::stable_sort(at, end, byClass);
        at = end == text->end() ? end : end + 1;
    }
}

char32_t Decode(const std::string& text, size_t i, size_t len) {
    static const unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(text[i]) & kLeadBits[len];
    for (size_t k = 1; k < len; ++k) {
        c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    return c;
}

void Encode(char32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
        return;
    }
    const int len = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    static const unsigned char kLeads[] = {0, 0, 0xC0, 0xE0, 0xF0};
    *out += static_cast<char>(kLeads[len] | (c >> (6 * (len - 1))));
    for (int k = len - 2; k >= 0; --k) {
        *out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
}

}  // namespace

std::string CaselessKey(const std::string& name) {
    std::u32string decomposed;
    for (size_t i = 0; i < name.size();) {
        const size_t len = Utf8Sequence(name, i);
        if (len == 0) {
            return name;
        }
        const char32_t c = Decode(name, i, len);
        if (c >= kSyllableBase && c < kSyllableBase + kSyllables) {
            const char32_t s = c - kSyllableBase;
            decomposed += kLeadBase + s / (kVowels * kTrails);
            decomposed += kVowelBase + s % (kVowels * kTrails) / kTrails;
            if (s % kTrails != 0) {
                decomposed += kTrailBase + s % kTrails;
            }
        } else {
            AppendMapped(kDecomposed, c, &decomposed);
        }
        i += len;
    }
    // Folding may turn a mark into a letter (U+0345 into U+03B9), so it
    // takes the marks in canonical order, and they are ordered again after.
    Reorder(&decomposed);
    std::u32string folded;
    for (const char32_t c : decomposed) {
        AppendMapped(kFolded, c, &folded);
    }
    Reorder(&folded);
    std::string key;
    for (const char32_t c : folded) {
        Encode(c, &key);
    }
    return key;
}
