// The codec's outcomes: every level below the public functions reports an
// ENN_FAULT_ (codec/enn.h), and the public functions turn it into their
// result here, once. Not part of the codec's interface.
#ifndef VELTRANE_CODEC_ENN_FAULT_H
#define VELTRANE_CODEC_ENN_FAULT_H

#include "codec/enn.h"

// How many faults the table holds, ENN_FAULT_NONE included: one past the
// last. A test holds it to the enum in codec/enn.h.
int EnnFaultCount();

// The result a public function returns for fault: ENN_OK for
// ENN_FAULT_NONE; ENN_ERR_GENERIC for a value it does not know.
int EnnResultOf(int fault);

// Stores fault where the caller asked for it, and returns its result.
inline int EnnFail(int* where, int fault) {
    if (where != nullptr) {
        *where = fault;
    }
    return EnnResultOf(fault);
}

// Runs body(), which returns a fault, so that no exception leaves the
// library: the only ones its code can meet are for memory or threads that
// cannot be had, ENN_FAULT_NO_MEMORY.
template <typename Body>
int EnnCaught(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return ENN_FAULT_NO_MEMORY;
    }
}

#endif
