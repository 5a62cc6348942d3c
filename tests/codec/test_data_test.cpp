// The checked-in containers: the catalogue of forgeries is what its
// generator writes, and the known answer is what the codec writes and reads.
#include "test_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "codec/enn.h"
#include "reference_container.h"
#include "test_util.h"

namespace {

TEST(TestData, TheForgeriesAreWhatTheirGeneratorWrites) {
    const std::vector<MadeForgery> made = MakeForgeries();
    const Bytes manifest = ReadFile(TestDataPath("forgeries/MANIFEST"));
    EXPECT_EQ(std::string(manifest.begin(), manifest.end()), ManifestText(made))
        << "make_forgeries DIR writes the catalogue anew";
    std::set<std::string> names = {"MANIFEST"};
    for (const MadeForgery& m : made) {
        names.insert(m.forgery.file);
        EXPECT_EQ(ForgeryBytes(m.forgery), m.bytes) << m.forgery.file;
        EXPECT_LE(m.bytes.size(), 4096u) << m.forgery.file << ": one whole chunk at most";
    }
    EXPECT_EQ(Listing(TestDataPath("forgeries")), names) << "every file is in the manifest";
}

class KnownAnswerContainer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(EnnBuiltInKey(key), ENN_OK);
        // Two whole chunks and a short last one.
        ASSERT_EQ(known.plain.size(), 10001u);
        ASSERT_TRUE(EnnIsPassword(known.password.c_str()));
    }
    const KnownAnswer known = ReadKnownAnswer();
    const std::string container = TestDataPath("known-answer/batch.txt.enn");
    char key[57];
    TempDir dir;
};

TEST_F(KnownAnswerContainer, DecodesToItsPlainFileAndPassword) {
    const std::string plain = dir.File("batch.txt");
    ASSERT_EQ(EnnDecryptFile(key, container.c_str(), plain.c_str()), ENN_OK);
    EXPECT_EQ(ReadFile(plain), known.plain);
    char password[7] = "xxxxxx";
    ASSERT_EQ(EnnReadPassword(key, container.c_str(), password), ENN_OK);
    EXPECT_EQ(password, known.password);
}

TEST_F(KnownAnswerContainer, IsWhatEncodingThePlainFileGives) {
    const std::string written = dir.File("batch.txt.enn");
    ASSERT_EQ(EnnEncryptFile(known.password.c_str(), key,
                             TestDataPath("known-answer/batch.txt").c_str(), written.c_str()),
              ENN_OK);
    EXPECT_EQ(ReadFile(written), known.container);
    EXPECT_EQ(ReferenceContainer(known.password, Bytes(key, key + std::strlen(key)), known.plain),
              known.container)
        << "the independent writer";
}

}  // namespace
