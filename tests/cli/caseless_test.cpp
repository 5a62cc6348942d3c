// Names that a file system ignoring case or normalisation takes for one file
// share a key, and names it tells apart do not.
#include "cli/caseless.h"

#include <gtest/gtest.h>

#include <string>

#include "cli/text.h"

namespace {

TEST(Caseless, OneFileExactlyWhereCaseOrNormalisationAloneDiffers) {
    const struct {
        const char* a;
        const char* b;
        bool one;
    } cases[] = {
        {"STRASSE", "stra\u00dfe", true},   // full folding: ß is ss
        {"caf\u00e9", "cafe\u0301", true},  // precomposed and decomposed é
        {"CAF\u00c9", "cafe\u0301", true},  // both at once
        {"\u03a3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2", "\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c3",
         true},
        {"\u212a.txt", "k.txt", true},              // the Kelvin sign
        {"\ufb01le", "FILE", true},                 // a ligature folds to two letters
        {"\ud55c", "\u1112\u1161\u11ab", true},     // a Hangul syllable and its letters
        {"a\u0323\u0301", "a\u0301\u0323", true},   // marks in either order
        {"a\u0345\u0301", "a\u0301\u03b9", true},   // a mark that folds to a letter
        {"a\u0345\u0301", "a\u03b9\u0301", false},  // ... taken after the marks it follows
        {"cafe", "caf\u00e9", false},
        {"X\xff.enn", "x\xff.enn", false},  // not UTF-8: by the bytes
        {"x\xff", "x\xff", true},
        {"\xc3\xa9", "\xc3", false},  // cut short
    };
    for (const auto& c : cases) {
        const std::string a = CaselessKey(c.a), b = CaselessKey(c.b);
        EXPECT_EQ(a == b, c.one) << c.a << " / " << c.b;
        for (const std::string& key : {a, b}) {
            EXPECT_EQ(CaselessKey(key), key) << "a key is its own key: " << c.a;
        }
        EXPECT_EQ(IsUtf8(a), IsUtf8(c.a)) << c.a;
    }
}

}  // namespace
