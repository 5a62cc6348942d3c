// The checked-in containers: the catalogue of forgeries is what its
// generator writes.
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

}  // namespace
