// The faults' table: every fault the header declares has its row (a name, a
// result, words), in the header's order, and a value the library does not
// know still gets words.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "codec/enn.h"
#include "codec/enn_fault.h"

namespace {

// The enumerators of enum EnnFault as codec/enn.h spells them, in order.
std::vector<std::string> DeclaredFaults() {
    std::ifstream header(VELTRANE_SOURCE_DIR "/codec/enn.h");
    std::vector<std::string> names;
    bool inside = false;
    const std::string prefix = "ENN_FAULT_";
    for (std::string line; std::getline(header, line);) {
        if (line.find("enum EnnFault") != std::string::npos) {
            inside = true;
            continue;
        }
        if (inside && line.find("};") != std::string::npos) {
            break;
        }
        const size_t start = line.find_first_not_of(' ');
        if (!inside || start == std::string::npos || line.compare(start, prefix.size(), prefix)) {
            continue;
        }
        const size_t end = line.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", start);
        names.push_back(line.substr(start, end - start));
    }
    return names;
}

TEST(Faults, EveryDeclaredFaultHasItsRowInOrder) {
    const std::vector<std::string> declared = DeclaredFaults();
#ifdef _WIN32
    if (declared.empty()) {
        GTEST_SKIP() << "the sources are not reachable from here";
    }
#endif
    ASSERT_EQ(static_cast<int>(declared.size()), EnnFaultCount());
    std::set<std::string> texts;
    for (int fault = 0; fault < EnnFaultCount(); ++fault) {
        EXPECT_EQ(EnnFaultName(fault), declared[static_cast<size_t>(fault)]);
        EXPECT_STRNE(EnnFaultText(fault), "");
        texts.insert(EnnFaultText(fault));
        EXPECT_EQ(EnnResultOf(fault) == ENN_OK, fault == ENN_FAULT_NONE) << EnnFaultName(fault);
    }
    EXPECT_EQ(static_cast<int>(texts.size()), EnnFaultCount());  // no two faults say the same
}

TEST(Faults, AFullDiskBelongsToTheOutputAndItsResultToWhereItStruck) {
    EXPECT_EQ(EnnResultOf(ENN_FAULT_DISK_FULL), ENN_ERR_GENERIC);
    EXPECT_EQ(EnnFaultIsOutput(ENN_FAULT_DISK_FULL), 1);
    EXPECT_EQ(EnnFaultIsOutput(ENN_FAULT_DIGEST), 0);
    EXPECT_EQ(EnnResultOf(ENN_FAULT_NOT_CONTAINER), ENN_ERR_DIGEST);
}

TEST(Faults, TheTwoStagesThatGiveTheirOwnResult) {
    for (int fault = 0; fault <= EnnFaultCount(); ++fault) {
        const int own = EnnResultOf(fault);
        // Whatever keeps the output from being made, it cannot be created.
        EXPECT_EQ(EnnResultOf(fault, EnnStage::kMakingOutput),
                  fault == ENN_FAULT_NONE ? ENN_OK : ENN_ERR_CREATE_OUTPUT)
            << EnnFaultName(fault);
        // The password is read without the digest.
        EXPECT_EQ(EnnResultOf(fault, EnnStage::kReadingPassword),
                  own == ENN_ERR_DIGEST ? ENN_ERR_GENERIC : own)
            << EnnFaultName(fault);
    }
}

TEST(Faults, AnUnknownValueStillHasWords) {
    for (int fault : {-1, EnnFaultCount(), 1000}) {
        ASSERT_NE(EnnFaultText(fault), nullptr);
        EXPECT_STRNE(EnnFaultText(fault), "");
        EXPECT_STREQ(EnnFaultName(fault), "ENN_FAULT_UNKNOWN");
        EXPECT_EQ(EnnFaultIsOutput(fault), 0);
        EXPECT_EQ(EnnResultOf(fault), ENN_ERR_GENERIC);
    }
}

}  // namespace
