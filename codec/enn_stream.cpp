// The codec's operations over streams (codec/enn.h): an input read through
// the caller's function or from a named file, an output written to the
// caller's function or to a named file. These are the one implementation:
// the file operations are these with both ends named. Each is a loop of
// reader, streaming core (codec/enn_core.cpp) and writer, so a container
// read from a pipe is judged exactly as a file is.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_core.h"
#include "codec/enn_fault.h"
#include "codec/enn_file.h"

namespace {

// Where the bytes of an operation come from.
struct Input {
    EnnReadFunc read = nullptr;  // null: the file
    void* context = nullptr;
    EnnReaderGuard file;
    EnnFileId id;  // of the file; nothing on any volume for a stream

    bool IsFile() const { return read == nullptr; }
    long long Total() const { return IsFile() ? file.reader.size : -1; }

    // Fills buf with size bytes, stopping short only at the end. Returns the
    // count, or -1 on a read error.
    int Fill(unsigned char* buf, int size) {
        if (IsFile()) {
            return EnnReadFull(&file.reader, buf, size);
        }
        int done = 0;
        while (done < size) {
            const int got = read(context, buf + done, size - done);
            if (got < 0 || got > size - done) {
                return -1;
            }
            if (got == 0) {
                break;
            }
            done += got;
        }
        return done;
    }
};

// Keys the cipher and opens the input, from in_path unless read is given.
// Returns the fault that stops it, or ENN_FAULT_NONE.
int OpenInput(const char* key, const char* in_path, EnnReadFunc read, void* context,
              EnnCipher* cipher, Input* in) {
    in->read = read;
    in->context = context;
    if (!EnnKeyCipher(key, cipher) || (read == nullptr && in_path == nullptr)) {
        return ENN_FAULT_ARGUMENT;
    }
    if (read != nullptr) {
        return ENN_FAULT_NONE;
    }
    if (const int why = EnnOpenReader(in_path, &in->file.reader)) {
        return why;
    }
    in->id = in->file.reader.id;
    return ENN_FAULT_NONE;
}

// Makes the file that holds the output until it is complete: aside of
// out_path, to be placed as placing says, or a temporary one for bytes bound
// for a stream; or, for a file at out_path that ENN_ACCEPT_PRESENT may count
// as done, a writer that compares with it. Returns the fault that keeps it
// from being made, or ENN_FAULT_NONE.
int OpenOutput(const char* out_path, bool toStream, const EnnFileId& source, int placing,
               EnnWriter* writer) {
    if (toStream) {
        return EnnCreateTemporary(writer);
    }
    const int why = EnnTargetFault(out_path, &source, (placing & ENN_KEEP_EXISTING) != 0);
    if (why == ENN_FAULT_EXISTS && (placing & ENN_ACCEPT_PRESENT) != 0) {
        return EnnOpenToCompare(out_path, writer);
    }
    return why != ENN_FAULT_NONE ? why : EnnCreateAside(out_path, placing, writer);
}

// Buffers for a batch of chunks each way, on the heap: a megabyte is too
// much for a thread's stack on some systems.
// A small input gets batches of its own size: a run over a small file
// touches, and wipes, no more memory than it needs.
struct Batch {
    explicit Batch(int chunks_)
        : chunks(chunks_),
          plain(new unsigned char[(chunks_ + 1) * ENN_CHUNK_PLAIN]),
          sealed(new unsigned char[(chunks_ + 1) * ENN_CHUNK_CIPHER]) {}
    ~Batch() { SecureWipe(plain.get(), (chunks + 1) * ENN_CHUNK_PLAIN); }
    int chunks;
    std::unique_ptr<unsigned char[]> plain;
    std::unique_ptr<unsigned char[]> sealed;
};

// The chunks a batch holds for an input of total bytes (-1: unknown).
int BatchChunks(long long total) {
    if (total < 0 || total / ENN_CHUNK_PLAIN >= kEnnBatchChunks) {
        return kEnnBatchChunks;
    }
    return static_cast<int>(total / ENN_CHUNK_PLAIN) + 1;
}

// Sends what the writer holds to write, from its start. ENN_FAULT_NONE, or
// ENN_FAULT_WRITE.
int CopyOut(EnnWriter* writer, EnnWriteFunc write, void* context) {
    unsigned char buf[1 << 16];
    bool sent = true;
    for (long long at = 0; sent;) {
        const int got = EnnReadBack(writer, at, buf, sizeof buf);
        if (got == 0) {
            break;
        }
        sent = got > 0 && write(context, buf, got) == 0;
        at += got;
    }
    SecureWipe(buf, sizeof buf);
    EnnDiscard(writer);
    return sent ? ENN_FAULT_NONE : ENN_FAULT_WRITE;
}

// Ends an output that is complete: to the stream, or put in place at out_path.
int Deliver(EnnWriter* writer, const char* out_path, EnnWriteFunc write, void* context,
            int placing) {
    if (write != nullptr) {
        return CopyOut(writer, write, context);
    }
    return EnnPutInPlace(writer, out_path, placing);
}

void Report(EnnProgressFunc progress, void* context, long long done, long long total) {
    if (progress != nullptr) {
        progress(context, done, total);
    }
}

// Runs the input through code a batch of want bytes at a time, two batches
// in hand: while the helper threads code batch k, the caller's thread writes
// what batch k-1 gave and reads batch k+1, so that the cipher work hides the
// I/O. code(src, size, dst, alongside) codes src into dst, running alongside
// once, meanwhile when it shares the work out and after otherwise, and
// returns the bytes for the writer (null: nothing is written).
// After a failed write nothing more is written, and reading goes on only
// when keepReading says so. Returns ENN_FAULT_NONE, ENN_FAULT_READ, or the
// writer's fault.
template <typename Code>
int Pump(Input* in, int want, unsigned char* const src[2], unsigned char* const dst[2],
         EnnWriter* writer, bool keepReading, long long* done, EnnProgressFunc progress,
         void* context, Code code) {
    int cur = 0;
    int got = in->Fill(src[cur], want);
    int pending = 0;
    int writeFault = ENN_FAULT_NONE;
    const auto writeOut = [&](const unsigned char* bytes, int size) {
        if (size > 0 && writer != nullptr && writeFault == ENN_FAULT_NONE) {
            writeFault = EnnWriteAll(writer, bytes, size);
        }
    };
    while (got > 0 && (keepReading || writeFault == ENN_FAULT_NONE)) {
        *done += got;
        Report(progress, context, *done, in->Total());
        const int next = cur ^ 1;
        const bool more = got == want;  // a short fill is the end of the input
        const int previous = pending;
        int nextGot = 0;
        const std::function<void()> io = [&] {
            writeOut(dst[next], previous);
            nextGot = more ? in->Fill(src[next], want) : 0;
        };
        pending = code(src[cur], got, dst[cur], io);
        got = nextGot;
        cur = next;
    }
    if (got < 0) {
        return ENN_FAULT_READ;
    }
    writeOut(dst[cur ^ 1], pending);
    return writeFault;
}

// An empty output name is an output that cannot be made. (An empty input
// name is a file that does not exist.)
bool Unnamed(const char* path) {
    return path != nullptr && path[0] == '\0';
}

// Gives the password the decoding found ("" for the header alone, which
// carries none) to the caller who asked for it.
void GivePassword(const EnnDecoding& d, char* to) {
    if (to != nullptr) {
        std::memcpy(to, d.password, sizeof d.password);
    }
}

// The operations below return the fault that ended them; the public
// functions turn it into their result.
EnnEnd DecryptStream(const char* key, const char* in_path, const char* out_path, int placing,
                     EnnReadFunc read, EnnWriteFunc write, EnnProgressFunc progress, void* context,
                     char* password, bool* present) {
    if ((placing & ENN_ACCEPT_PRESENT) != 0) {
        placing |= ENN_KEEP_EXISTING;
    }
    EnnCipher cipher;
    Input in;
    if (const int why = OpenInput(key, in_path, read, context, &cipher, &in)) {
        return why;
    }
    // An output that cannot be had is told only once the digest has matched,
    // so that damage is told first; a chunk that will not decode comes after
    // it, as the output is made before decoding starts, but for a file kept
    // as it stands, which says nothing of the container.
    const bool producing = write != nullptr || out_path != nullptr;
    int outFault = ENN_FAULT_NONE;
    EnnWriterGuard out;
    if (producing && write == nullptr && Unnamed(out_path)) {
        outFault = ENN_FAULT_ARGUMENT;
    } else if (producing) {
        outFault = OpenOutput(out_path, write != nullptr, in.id, placing, &out.writer);
    }
    const bool writing = producing && outFault == ENN_FAULT_NONE;

    EnnDecoding d;
    EnnDecodeStart(&d, &cipher.ctx);
    const int chunks = BatchChunks(in.Total());
    Batch batch[2] = {Batch(chunks), Batch(chunks)};
    unsigned char* const sealed[2] = {batch[0].sealed.get(), batch[1].sealed.get()};
    unsigned char* const plain[2] = {batch[0].plain.get(), batch[1].plain.get()};
    // The header and password chunk first, so that every later read covers
    // whole chunks and decodes where it lies.
    long long done = in.Fill(sealed[0], ENN_PAYLOAD_OFFSET);
    if (done < 0) {
        return ENN_FAULT_READ;
    }
    EnnDecodeFeed(&d, sealed[0], static_cast<size_t>(done), plain[0]);
    int pumped = ENN_FAULT_NONE;
    if (done == ENN_PAYLOAD_OFFSET) {
        // Damage is told before a failed write: decoding goes on to the end.
        pumped = Pump(&in, chunks * ENN_CHUNK_CIPHER, sealed, plain,
                      writing ? &out.writer : nullptr, true, &done, progress, context,
                      [&](const unsigned char* from, int size, unsigned char* to,
                          const std::function<void()>& alongside) {
                          return static_cast<int>(
                              EnnDecodeFeed(&d, from, static_cast<size_t>(size), to, alongside));
                      });
    }
    if (pumped == ENN_FAULT_READ) {
        return ENN_FAULT_READ;
    }
    int plainLen = 0;
    const int decoded = EnnDecodeFinish(&d, plain[0], &plainLen);
    EnnCloseReader(&in.file.reader);
    if (EnnResultOf(decoded) == ENN_ERR_DIGEST ||
        (decoded != ENN_FAULT_NONE && outFault == ENN_FAULT_EXISTS)) {
        return decoded;
    }
    if (producing && outFault != ENN_FAULT_NONE) {
        return EnnEnd(outFault, EnnStage::kMakingOutput);
    }
    if (decoded != ENN_FAULT_NONE) {
        return decoded;
    }
    if (!producing) {
        GivePassword(d, password);
        return ENN_FAULT_NONE;
    }
    if (pumped != ENN_FAULT_NONE) {
        return pumped;
    }
    if (plainLen > 0) {
        if (const int why = EnnWriteAll(&out.writer, plain[0], plainLen)) {
            return why;
        }
    }
    *present = out.writer.existing.handle != -1;
    const int delivered = Deliver(&out.writer, out_path, write, context, placing);
    if (delivered == ENN_FAULT_NONE) {
        GivePassword(d, password);
    }
    return delivered;
}

EnnEnd EncryptStream(const char* password, const char* key, const char* in_path,
                     const char* out_path, int placing, EnnReadFunc read, EnnWriteFunc write,
                     EnnProgressFunc progress, void* context) {
    if (!EnnIsPassword(password) || (placing & ENN_ACCEPT_PRESENT) != 0) {
        return ENN_FAULT_ARGUMENT;
    }
    EnnCipher cipher;
    Input in;
    if (const int why = OpenInput(key, in_path, read, context, &cipher, &in)) {
        return why;
    }
    if (write == nullptr && out_path == nullptr) {
        return ENN_FAULT_ARGUMENT;
    }
    if (write == nullptr && Unnamed(out_path)) {
        return EnnEnd(ENN_FAULT_ARGUMENT, EnnStage::kMakingOutput);
    }
    EnnWriterGuard out;
    if (const int why = OpenOutput(out_path, write != nullptr, in.id, placing, &out.writer)) {
        return EnnEnd(why, EnnStage::kMakingOutput);
    }

    // The header is a placeholder until the digest of everything after it is known.
    EnnEncoding e;
    const int chunks = BatchChunks(in.Total());
    Batch batch[2] = {Batch(chunks), Batch(chunks)};
    unsigned char* const plain[2] = {batch[0].plain.get(), batch[1].plain.get()};
    unsigned char* const sealed[2] = {batch[0].sealed.get(), batch[1].sealed.get()};
    EnnEncodeStart(&e, &cipher.ctx, password, sealed[0]);
    if (const int why = EnnWriteAll(&out.writer, sealed[0], ENN_PAYLOAD_OFFSET)) {
        return why;
    }
    long long total = 0;
    const int pumped = Pump(&in, chunks * ENN_CHUNK_PLAIN, plain, sealed, &out.writer, false,
                            &total, progress, context,
                            [&](const unsigned char* from, int size, unsigned char* to,
                                const std::function<void()>& alongside) {
                                return static_cast<int>(EnnEncodeFeed(
                                    &e, from, static_cast<size_t>(size), to, alongside));
                            });
    if (pumped != ENN_FAULT_NONE) {
        return pumped;
    }
    char header[ENN_HEADER_SIZE + 1];
    const int tail = EnnEncodeFinish(&e, sealed[0], header);
    if (tail > 0) {
        if (const int why = EnnWriteAll(&out.writer, sealed[0], tail)) {
            return why;
        }
    }
    // A file still being written gives a container of neither version.
    if (in.IsFile() && (total != in.file.reader.size || !EnnReaderUnchanged(&in.file.reader))) {
        return ENN_FAULT_CHANGED;
    }
    EnnCloseReader(&in.file.reader);
    if (const int why = EnnWriteAt(&out.writer, 0, header, ENN_HEADER_SIZE)) {
        return why;
    }
    return Deliver(&out.writer, out_path, write, context, placing);
}

int ReadPasswordStream(const char* key, const char* in_path, EnnReadFunc read, void* context,
                       char* password) {
    if (password == nullptr) {
        return ENN_FAULT_ARGUMENT;
    }
    EnnCipher cipher;
    Input in;
    if (const int why = OpenInput(key, in_path, read, context, &cipher, &in)) {
        return why;
    }
    unsigned char prefix[ENN_PAYLOAD_OFFSET];
    const int got = in.Fill(prefix, sizeof prefix);
    if (got < 0) {
        return ENN_FAULT_READ;
    }
    // The header is not consulted, but input that does not begin with one is
    // told as no container at all when its password cannot be had.
    const bool container = got >= ENN_HEADER_SIZE && EnnIsDigestText(prefix);
    if (got < ENN_PAYLOAD_OFFSET) {
        return container ? ENN_FAULT_TOO_SHORT : ENN_FAULT_NOT_CONTAINER;
    }
    if (!EnnOpenPasswordChunk(&cipher.ctx, prefix + ENN_HEADER_SIZE, password)) {
        return container ? ENN_FAULT_FOREIGN_KEY : ENN_FAULT_NOT_CONTAINER;
    }
    return ENN_FAULT_NONE;
}

// DecryptStream's result: ENN_PRESENT for an output found done.
int Decrypt(const char* key, const char* in_path, const char* out_path, int placing,
            EnnReadFunc read, EnnWriteFunc write, EnnProgressFunc progress, void* context,
            char* password, int* fault) {
    bool present = false;
    const int result =
        EnnFail(fault, EnnCaught([&] {
                    return DecryptStream(key, in_path, out_path, placing, read, write, progress,
                                         context, password, &present);
                }));
    return result == ENN_OK && present ? ENN_PRESENT : result;
}

}  // namespace

int EnnDecryptStream(const char* key, const char* in_path, const char* out_path, int placing,
                     EnnReadFunc read, EnnWriteFunc write, EnnProgressFunc progress, void* context,
                     int* fault) {
    return Decrypt(key, in_path, out_path, placing, read, write, progress, context, nullptr, fault);
}

int EnnDecryptStreamEx(const char* key, const char* in_path, const char* out_path, int placing,
                       EnnReadFunc read, EnnWriteFunc write, EnnProgressFunc progress,
                       void* context, char* password, int* fault) {
    if (password == nullptr) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT);
    }
    return Decrypt(key, in_path, out_path, placing, read, write, progress, context, password,
                   fault);
}

int EnnEncryptStreamPlaced(const char* password, const char* key, const char* in_path,
                           const char* out_path, int placing, EnnReadFunc read, EnnWriteFunc write,
                           EnnProgressFunc progress, void* context, int* fault) {
    return EnnFail(fault, EnnCaught([&] {
                       return EncryptStream(password, key, in_path, out_path, placing, read, write,
                                            progress, context);
                   }));
}

int EnnEncryptStream(const char* password, const char* key, const char* in_path,
                     const char* out_path, EnnReadFunc read, EnnWriteFunc write,
                     EnnProgressFunc progress, void* context, int* fault) {
    return EnnEncryptStreamPlaced(password, key, in_path, out_path, ENN_REPLACE_EXISTING, read,
                                  write, progress, context, fault);
}

int EnnReadPasswordStream(const char* key, const char* in_path, EnnReadFunc read, void* context,
                          char* password, int* fault) {
    return EnnFail(
        fault,
        EnnEnd(EnnCaught([&] { return ReadPasswordStream(key, in_path, read, context, password); }),
               EnnStage::kReadingPassword));
}
