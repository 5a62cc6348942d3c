// Each fault's result, owner and words, in one table.
#include "codec/enn_fault.h"

#include <iterator>

// Marks a text for the catalogues of the programs that translate it.
#define ENN_TEXT(text) text

namespace {

// Whose a fault is: the input's or the call's, the output's, or the
// container's own content.
enum Owner { kInput, kOutput, kContent };

// Each fault's result holds wherever it strikes, but for the two stages of
// EnnResultOf: while the output is being made every fault is
// ENN_ERR_CREATE_OUTPUT, and reading the password never gives ENN_ERR_DIGEST.
struct Fault {
    int fault;
    const char* name;
    int result;
    Owner owner;
    const char* text;
};

#define ENN_ROW(fault, result, owner, text) \
    { fault, #fault, result, owner, text }

constexpr Fault kFaults[] = {
    ENN_ROW(ENN_FAULT_NONE, ENN_OK, kInput, ENN_TEXT("done")),
    ENN_ROW(ENN_FAULT_ARGUMENT, ENN_ERR_GENERIC, kInput,
            ENN_TEXT("cannot be used: an argument was refused (a null or empty one, a password "
                     "or key the library does not take)")),
    ENN_ROW(ENN_FAULT_NO_INPUT, ENN_ERR_OPEN_INPUT, kInput,
            ENN_TEXT("cannot be opened: it does not exist")),
    ENN_ROW(ENN_FAULT_READ, ENN_ERR_GENERIC, kInput,
            ENN_TEXT("cannot be read: a read failed part-way")),
    ENN_ROW(ENN_FAULT_CHANGED, ENN_ERR_GENERIC, kInput,
            ENN_TEXT("changed while it was read; try again once it is complete")),
    ENN_ROW(ENN_FAULT_DIGEST, ENN_ERR_DIGEST, kContent,
            ENN_TEXT("damaged: the digest header does not match the content")),
    ENN_ROW(ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC, kContent,
            ENN_TEXT("written under another key: its password chunk does not decode")),
    ENN_ROW(ENN_FAULT_LAYOUT, ENN_ERR_GENERIC, kContent,
            ENN_TEXT("damaged: a chunk is not laid out as the encoder writes it")),
    ENN_ROW(ENN_FAULT_NOT_REGULAR, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("is not a regular file; not replaced")),
    ENN_ROW(ENN_FAULT_SAME_FILE, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("is the file being read; not replaced")),
    ENN_ROW(ENN_FAULT_EXISTS, ENN_ERR_CREATE_OUTPUT, kOutput, ENN_TEXT("already exists")),
    ENN_ROW(ENN_FAULT_NO_OUTPUT, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("cannot be created: its folder takes no new file")),
    ENN_ROW(ENN_FAULT_WRITE, ENN_ERR_GENERIC, kOutput,
            ENN_TEXT("cannot be written: a write failed; nothing written")),
    ENN_ROW(ENN_FAULT_INPUT_DENIED, ENN_ERR_OPEN_INPUT, kInput,
            ENN_TEXT("cannot be opened: permission denied")),
    ENN_ROW(ENN_FAULT_INPUT_FOLDER, ENN_ERR_OPEN_INPUT, kInput,
            ENN_TEXT("is a folder, not a file")),
    ENN_ROW(ENN_FAULT_INPUT_NOT_REGULAR, ENN_ERR_OPEN_INPUT, kInput,
            ENN_TEXT("is not a regular file")),
    ENN_ROW(ENN_FAULT_OUTPUT_FOLDER, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("is a folder; name a file in it")),
    ENN_ROW(ENN_FAULT_NAME_TOO_LONG, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("cannot be created: the name is too long")),
    ENN_ROW(ENN_FAULT_DENIED, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("cannot be written: permission denied")),
    ENN_ROW(ENN_FAULT_READ_ONLY, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("is read-only; not replaced")),
    ENN_ROW(ENN_FAULT_NO_FOLDER, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("cannot be created: its folder does not exist")),
    ENN_ROW(ENN_FAULT_DISK_FULL, ENN_ERR_GENERIC, kOutput,
            ENN_TEXT("cannot be written: the disk is full; nothing written")),
    ENN_ROW(ENN_FAULT_ACL_NOT_KEPT, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("has an access ACL that a new file here cannot keep; not replaced")),
    ENN_ROW(ENN_FAULT_ATTRIBUTES_NOT_KEPT, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("has extended attributes that a new file here cannot keep; not replaced")),
    ENN_ROW(ENN_FAULT_MOUNT_POINT, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("is a mount point; not replaced")),
    ENN_ROW(ENN_FAULT_NO_MEMORY, ENN_ERR_GENERIC, kInput,
            ENN_TEXT("cannot be worked on: the memory it needs cannot be had")),
    ENN_ROW(ENN_FAULT_NOT_CONTAINER, ENN_ERR_DIGEST, kContent,
            ENN_TEXT("not a container: it does not begin with a digest header")),
    ENN_ROW(ENN_FAULT_TOO_SHORT, ENN_ERR_GENERIC, kContent,
            ENN_TEXT("damaged: too short to hold a password")),
    ENN_ROW(ENN_FAULT_TOO_LARGE, ENN_ERR_GENERIC, kInput,
            ENN_TEXT("holds more plain data than was allowed for it")),
    ENN_ROW(ENN_FAULT_IN_PLACE_ONLY, ENN_ERR_CREATE_OUTPUT, kOutput,
            ENN_TEXT("can be replaced here only by writing over it in place, which a crash "
                     "could leave part new, part old; not replaced")),
    ENN_ROW(ENN_FAULT_READ_EXISTING, ENN_ERR_GENERIC, kOutput,
            ENN_TEXT("already exists, and could not be read to compare it with the "
                     "container's data")),
};

#undef ENN_ROW

constexpr bool InOrder() {
    for (int i = 0; i < static_cast<int>(std::size(kFaults)); ++i) {
        if (kFaults[i].fault != i) {
            return false;
        }
    }
    return true;
}
constexpr int kCount = static_cast<int>(std::size(kFaults));
static_assert(InOrder(), "the rows follow the enum");

const Fault* Find(int fault) {
    return fault >= 0 && fault < kCount ? &kFaults[fault] : nullptr;
}

}  // namespace

int EnnFaultCount() {
    return kCount;
}

int EnnResultOf(int fault, EnnStage stage) {
    const Fault* row = Find(fault);
    const int result = row != nullptr ? row->result : ENN_ERR_GENERIC;
    if (result == ENN_OK) {
        return result;
    }
    // An output that cannot be made is one result, whatever the cause: a full
    // disk there is not the full disk of a write that failed part-way.
    if (stage == EnnStage::kMakingOutput) {
        return ENN_ERR_CREATE_OUTPUT;
    }
    // Input that is no container has no password to give, as any other.
    if (stage == EnnStage::kReadingPassword && result == ENN_ERR_DIGEST) {
        return ENN_ERR_GENERIC;
    }
    return result;
}

const char* EnnFaultText(int fault) {
    const Fault* row = Find(fault);
    return row != nullptr ? row->text : ENN_TEXT("failed for a cause this library does not know");
}

const char* EnnFaultName(int fault) {
    const Fault* row = Find(fault);
    return row != nullptr ? row->name : "ENN_FAULT_UNKNOWN";
}

int EnnFaultIsOutput(int fault) {
    const Fault* row = Find(fault);
    return row != nullptr && row->owner == kOutput ? 1 : 0;
}

int EnnFaultIsRefusal(int fault) {
    const Fault* row = Find(fault);
    return row != nullptr && row->owner == kContent ? 1 : 0;
}
