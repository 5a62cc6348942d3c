// The codec's outcomes: every level below the public functions reports an
// ENN_FAULT_ (codec/enn.h), and the public functions turn it into their
// result here, once. Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_FAULT_H
#define VELTRANE_CODEC_ENN_FAULT_H

#include <exception>

#include "codec/enn.h"

// How many faults the table holds, ENN_FAULT_NONE included: one past the
// last. A test holds it to the enum in codec/enn.h.
int EnnFaultCount();

// Where a fault struck, for the two places where that, not the fault alone,
// gives the result.
enum class EnnStage {
    kAny,
    kMakingOutput,     // the output, or the file that holds it until it is whole, was being made
    kReadingPassword,  // reading the password, which never consults the digest
};

// The result a public function returns for fault struck at stage: the
// fault's own (ENN_OK for ENN_FAULT_NONE; ENN_ERR_GENERIC for a value it does
// not know), but ENN_ERR_CREATE_OUTPUT for any fault while the output was
// being made, and never ENN_ERR_DIGEST while reading the password.
int EnnResultOf(int fault, EnnStage stage = EnnStage::kAny);

// How an operation ended: its fault, and where it struck.
struct EnnEnd {
    EnnEnd(int fault_, EnnStage stage_ = EnnStage::kAny) : fault(fault_), stage(stage_) {}
    int fault;
    EnnStage stage;
};

// Stores the fault where the caller asked for it, and returns its result.
inline int EnnFail(int* where, EnnEnd end) {
    if (where != nullptr) {
        *where = end.fault;
    }
    return EnnResultOf(end.fault, end.stage);
}

// Runs body(), which returns a fault or an EnnEnd, so that no exception
// leaves the library: the only ones its code can meet are the standard
// library's, for memory or threads that cannot be had, ENN_FAULT_NO_MEMORY.
// Nothing else is caught: a thread that ends while in a call (pthread_exit
// or a cancellation from one of the caller's functions, as Python does to
// its threads as it shuts down) unwinds through the library, its files
// discarded on the way, and the C library aborts the process when that
// unwinding is kept from passing.
template <typename Body>
auto EnnCaught(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception&) {
        return ENN_FAULT_NO_MEMORY;
    }
}

#endif
