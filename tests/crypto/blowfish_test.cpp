#include "crypto/blowfish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_util.h"

namespace {

// Encrypts (or decrypts) one 8-byte Block given in hex under a key given in hex.
std::string Cipher(const Bytes& key, const std::string& blockHex, bool encrypt) {
    BLOWFISH_CTX ctx;
    BlowfishSetKey(&ctx, key.data(), static_cast<int>(key.size()));
    Bytes block = FromHex(blockHex);
    uint32_t l = BlowfishLoadWord(block.data());
    uint32_t r = BlowfishLoadWord(block.data() + 4);
    (encrypt ? BlowfishEncryptBlock : BlowfishDecryptBlock)(&ctx, &l, &r);
    BlowfishStoreWord(l, block.data());
    BlowfishStoreWord(r, block.data() + 4);
    return ToHex(block);
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// Eric Young's ECB test set, as published with the cipher.
const Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The set-key vectors: plaintext FEDCBA9876543210 under the first 1, 2, ...
// 24 bytes of this key.
const char kSetKeyKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char* const kSetKeyCiphers[24] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

TEST(Blowfish, InitialTablesAreTheDigitsOfPi) {
    EXPECT_EQ(kBlowfishInitP[0], 0x243F6A88u);
    EXPECT_EQ(kBlowfishInitP[17], 0x8979FB1Bu);
    EXPECT_EQ(kBlowfishInitS[0][0], 0xD1310BA6u);
    EXPECT_EQ(kBlowfishInitS[3][255], 0x3AC372E6u);
}

TEST(Blowfish, PublishedEcbVectorsEncryptAndDecrypt) {
    for (const Vector& v : kEcbVectors) {
        const Bytes key = FromHex(v.key);
        EXPECT_EQ(Cipher(key, v.plain, true), v.cipher) << "key " << v.key;
        EXPECT_EQ(Cipher(key, v.cipher, false), v.plain) << "key " << v.key;
    }
}

TEST(Blowfish, PublishedSetKeyVectorsForKeysOf1To24Bytes) {
    const Bytes key = FromHex(kSetKeyKey);
    for (size_t len = 1; len <= key.size(); ++len) {
        const Bytes prefix(key.begin(), key.begin() + static_cast<long>(len));
        EXPECT_EQ(Cipher(prefix, "FEDCBA9876543210", true), kSetKeyCiphers[len - 1]) << len;
    }
}

TEST(Blowfish, FiftySixByteKeyWrapsIntoTheLastSubkeys) {
    // The 448-bit vector: the set-key key followed by 32 more bytes.
    const Bytes key = FromHex(std::string(kSetKeyKey) +
                              "04689104C2FD3B2F584023641ABA61761F1F1F1F0E0E0E0EFFFFFFFFFFFFFFFF");
    ASSERT_EQ(key.size(), 56u);
    EXPECT_EQ(Cipher(key, "FEDCBA9876543210", true), "C04504012E4E1F53");
}

TEST(Blowfish, KeyWrittenTwiceGivesTheSameSchedule) {
    const Bytes key = FromHex("8001FF7E");
    Bytes twice = key;
    twice.insert(twice.end(), key.begin(), key.end());
    BLOWFISH_CTX a;
    BLOWFISH_CTX b;
    BlowfishSetKey(&a, key.data(), 4);
    BlowfishSetKey(&b, twice.data(), 8);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(Blowfish, RekeyingLeavesOnlyTheSecondKey) {
    const Bytes first = FromHex("0123456789ABCDEF");
    const Bytes second = FromHex("FEDCBA9876543210");
    BLOWFISH_CTX reused;
    BLOWFISH_CTX fresh;
    BlowfishSetKey(&reused, first.data(), 8);
    BlowfishSetKey(&reused, second.data(), 8);
    BlowfishSetKey(&fresh, second.data(), 8);
    EXPECT_EQ(std::memcmp(&reused, &fresh, sizeof fresh), 0);
}

TEST(Blowfish, DecryptUndoesEncryptForExtremeBlocks) {
    const Bytes key = FromHex("A5A5A5A5FFFF8080");
    for (const char* block : {"0000000000000000", "FFFFFFFFFFFFFFFF", "80FF7F0001FE8081"}) {
        EXPECT_EQ(Cipher(key, Cipher(key, block, true), false), block);
    }
}

TEST(Blowfish, RoundFunctionCombinesTheFourBoxes) {
    BLOWFISH_CTX ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.S[0][0x12] = 0xFFFFFFFF;
    ctx.S[1][0x34] = 2;
    ctx.S[2][0x56] = 0x10;
    ctx.S[3][0x78] = 0x100;
    // (0xFFFFFFFF + 2) wraps to 1; 1 ^ 0x10 = 0x11; + 0x100.
    EXPECT_EQ(BlowfishF(&ctx, 0x12345678), 0x111u);
}

TEST(Blowfish, BlockBytesPackMostSignificantFirstAndUnsigned) {
    const unsigned char bytes[4] = {0x80, 0xFF, 0x01, 0x7F};
    EXPECT_EQ(BlowfishLoadWord(bytes), 0x80FF017Fu);
    unsigned char back[4];
    BlowfishStoreWord(0x80FF017F, back);
    EXPECT_EQ(std::memcmp(back, bytes, 4), 0);
}

}  // namespace
