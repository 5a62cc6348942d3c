#include "cli/status.h"

#include <cstddef>
#include <iterator>

#include "cli/nls.h"
#include "codec/enn.h"

namespace {

struct Row {
    int fault;
    ExitStatus status;
};

constexpr Row kRows[] = {
#define ENN_FAULT_STATUS(fault, status) {fault, status},
#include "cli/fault_status.def"
#undef ENN_FAULT_STATUS
};

constexpr bool InOrder() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (kRows[i].fault != static_cast<int>(i)) {
            return false;
        }
    }
    return true;
}
static_assert(InOrder(), "one row for each fault, in the enum's order");
static_assert(std::size(kRows) == ENN_FAULT_READ_EXISTING + 1, "a row for every fault of enn.h");

}  // namespace

const ExitStatusLine kExitStatusLines[] = {
#define ENN_EXIT_STATUS(name, code, outcome, text) {code, outcome, text},
#include "cli/exit_status.def"
#undef ENN_EXIT_STATUS
};
const int kExitStatusCount = static_cast<int>(std::size(kExitStatusLines));

int FaultStatus(int fault) {
    if (fault < 0 || fault >= static_cast<int>(std::size(kRows))) {
        return kExitBlocked;
    }
    return kRows[fault].status;
}

int FaultRows() {
    return static_cast<int>(std::size(kRows));
}

const char* OutcomeOf(int status) {
    for (const ExitStatusLine& s : kExitStatusLines) {
        if (s.code == status) {
            return s.outcome;
        }
    }
    return OutcomeOf(kExitBlocked);
}

int WorseStatus(int a, int b) {
    const auto rank = [](int s) {
        return s == kExitBlocked ? 3 : s == kExitFailed ? 2 : s == kExitRefused ? 1 : 0;
    };
    return rank(a) >= rank(b) ? a : b;
}
