// The codec's operations over streams (codec/enn.h): an input read through
// the caller's function or from a named file, an output written to the
// caller's function or to a named file. These are the one implementation:
// the file operations are these with both ends named. Each is a loop of
// reader, streaming core (codec/enn_core.cpp) and writer, so a container
// read from a pipe is judged exactly as a file is.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "codec/enn.h"
#include "codec/enn_internal.h"

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
int OpenInput(const char* key, const char* in_path, EnnReadFunc read, void* context,
              EnnCipher* cipher, Input* in, int* fault) {
    in->read = read;
    in->context = context;
    if (read == nullptr) {
        if (const int opened = EnnOpenSource(key, in_path, cipher, &in->file.reader, fault)) {
            return opened;
        }
        in->id = in->file.reader.id;
        return ENN_OK;
    }
    if (!EnnKeyCipher(key, cipher)) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT, ENN_ERR_GENERIC);
    }
    return ENN_OK;
}

// Makes the file that holds the output until it is complete: aside of
// out_path, or a temporary one for bytes bound for a stream. Returns the
// fault that keeps it from being made, or ENN_FAULT_NONE.
int OpenOutput(const char* out_path, bool toStream, const EnnFileId& source, bool keepExisting,
               EnnWriter* writer) {
    if (toStream) {
        return EnnCreateTemporary(writer) ? ENN_FAULT_NONE : ENN_FAULT_NO_OUTPUT;
    }
    if (const int why = EnnTargetFault(out_path, source, keepExisting)) {
        return why;
    }
    int why = ENN_FAULT_NONE;
    EnnCreateAside(out_path, writer, &why);
    return why;
}

// Buffers for a batch of chunks each way, on the heap: a megabyte is too
// much for a thread's stack on some systems.
struct Batch {
    std::unique_ptr<unsigned char[]> plain{
        new unsigned char[(kEnnBatchChunks + 1) * ENN_CHUNK_PLAIN]};
    std::unique_ptr<unsigned char[]> sealed{
        new unsigned char[(kEnnBatchChunks + 1) * ENN_CHUNK_CIPHER]};
    ~Batch() { SecureWipe(plain.get(), (kEnnBatchChunks + 1) * ENN_CHUNK_PLAIN); }
};

// Sends what the writer holds to write, from its start. ENN_OK, or the
// result (and *fault) to return.
int CopyOut(EnnWriter* writer, EnnWriteFunc write, void* context, int* fault) {
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
    return sent ? EnnFail(fault, ENN_FAULT_NONE, ENN_OK)
                : EnnFail(fault, ENN_FAULT_WRITE, ENN_ERR_GENERIC);
}

// Ends an output that is complete: to the stream, or put in place at out_path.
int Deliver(EnnWriter* writer, const char* out_path, EnnWriteFunc write, void* context,
            EnnPlacing placing, int* fault) {
    if (write != nullptr) {
        return CopyOut(writer, write, context, fault);
    }
    const int placed = EnnPutInPlace(writer, out_path, placing);
    return EnnFail(fault, placed, EnnPlacedResult(placed));
}

void Report(EnnProgressFunc progress, void* context, long long done, long long total) {
    if (progress != nullptr) {
        progress(context, done, total);
    }
}

}  // namespace

int EnnDecryptStream(const char* key, const char* in_path, const char* out_path, int placing,
                     EnnReadFunc read, EnnWriteFunc write, EnnProgressFunc progress, void* context,
                     int* fault) {
    const bool keepExisting = (placing & ENN_KEEP_EXISTING) != 0;
    EnnCipher cipher;
    Input in;
    if (const int opened = OpenInput(key, in_path, read, context, &cipher, &in, fault)) {
        return opened;
    }
    // As in EnnDecryptFileEx: an output that cannot be had is reported only
    // once the container has been checked, so that damage is told first.
    const bool producing = write != nullptr || out_path != nullptr;
    int outFault = ENN_FAULT_NONE;
    EnnWriterGuard out;
    if (producing) {
        outFault = OpenOutput(out_path, write != nullptr, in.id, keepExisting, &out.writer);
    }
    const bool writing = producing && outFault == ENN_FAULT_NONE;

    EnnDecoding d;
    EnnDecodeStart(&d, &cipher.ctx);
    Batch batch;
    bool written = true;
    long long done = 0;
    // The header and password chunk first, so that every later read covers
    // whole chunks and decodes where it lies.
    int want = ENN_PAYLOAD_OFFSET;
    for (;;) {
        const int got = in.Fill(batch.sealed.get(), want);
        if (got < 0) {
            return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
        }
        done += got;
        Report(progress, context, done, in.Total());
        const int plainLen = EnnDecodeFeed(&d, batch.sealed.get(), got, batch.plain.get());
        if (writing && written && plainLen > 0) {
            written = EnnWriteAll(&out.writer, batch.plain.get(), plainLen);
        }
        if (got < want) {
            break;
        }
        want = kEnnBatchChunks * ENN_CHUNK_CIPHER;
    }
    int plainLen = 0;
    int decodeFault = ENN_FAULT_NONE;
    const int decoded = EnnDecodeFinish(&d, batch.plain.get(), &plainLen, &decodeFault);
    EnnCloseReader(&in.file.reader);
    if (decoded != ENN_OK) {
        return EnnFail(fault, decodeFault, decoded);
    }
    if (!producing) {
        return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
    }
    if (outFault != ENN_FAULT_NONE) {
        return EnnFail(fault, outFault, ENN_ERR_CREATE_OUTPUT);
    }
    written = written && (plainLen == 0 || EnnWriteAll(&out.writer, batch.plain.get(), plainLen));
    if (!written) {
        return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
    }
    return Deliver(&out.writer, out_path, write, context,
                   keepExisting ? ENN_PLACE_NEW : ENN_PLACE_REPLACE, fault);
}

int EnnEncryptStream(const char* password, const char* key, const char* in_path,
                     const char* out_path, EnnReadFunc read, EnnWriteFunc write,
                     EnnProgressFunc progress, void* context, int* fault) {
    if (!EnnIsPassword(password)) {
        return EnnFail(fault, ENN_FAULT_ARGUMENT, ENN_ERR_GENERIC);
    }
    EnnCipher cipher;
    Input in;
    if (const int opened = OpenInput(key, in_path, read, context, &cipher, &in, fault)) {
        return opened;
    }
    EnnWriterGuard out;
    if (const int why = OpenOutput(out_path, write != nullptr, in.id, false, &out.writer)) {
        return EnnFail(fault, why, ENN_ERR_CREATE_OUTPUT);
    }

    // The header is a placeholder until the digest of everything after it is known.
    EnnEncoding e;
    Batch batch;
    EnnEncodeStart(&e, &cipher.ctx, password, batch.sealed.get());
    if (!EnnWriteAll(&out.writer, batch.sealed.get(), ENN_PAYLOAD_OFFSET)) {
        return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
    }
    char header[ENN_HEADER_SIZE + 1];
    long long total = 0;
    for (;;) {
        const int got = in.Fill(batch.plain.get(), kEnnBatchChunks * ENN_CHUNK_PLAIN);
        if (got < 0) {
            return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
        }
        total += got;
        if (got > 0) {
            Report(progress, context, total, in.Total());
        }
        const int sealedLen = got > 0
                                  ? EnnEncodeFeed(&e, batch.plain.get(), got, batch.sealed.get())
                                  : EnnEncodeFinish(&e, batch.sealed.get(), header);
        if (sealedLen > 0 && !EnnWriteAll(&out.writer, batch.sealed.get(), sealedLen)) {
            return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
        }
        if (got == 0) {
            break;
        }
    }
    // A file still being written gives a container of neither version.
    if (in.IsFile() && (total != in.file.reader.size || !EnnReaderUnchanged(&in.file.reader))) {
        return EnnFail(fault, ENN_FAULT_CHANGED, ENN_ERR_GENERIC);
    }
    EnnCloseReader(&in.file.reader);
    if (!EnnWriteAt(&out.writer, 0, header, ENN_HEADER_SIZE)) {
        return EnnFail(fault, out.writer.fault, ENN_ERR_GENERIC);
    }
    return Deliver(&out.writer, out_path, write, context, ENN_PLACE_REPLACE, fault);
}

int EnnReadPasswordStream(const char* key, const char* in_path, EnnReadFunc read, void* context,
                          char* password, int* fault) {
    EnnCipher cipher;
    Input in;
    if (const int opened = OpenInput(key, in_path, read, context, &cipher, &in, fault)) {
        return opened;
    }
    unsigned char prefix[ENN_PAYLOAD_OFFSET];
    const int got = in.Fill(prefix, sizeof prefix);
    if (got < 0) {
        return EnnFail(fault, ENN_FAULT_READ, ENN_ERR_GENERIC);
    }
    if (got < ENN_PAYLOAD_OFFSET) {
        return EnnFail(fault, ENN_FAULT_LAYOUT, ENN_ERR_GENERIC);
    }
    if (!EnnOpenPasswordChunk(&cipher.ctx, prefix + ENN_HEADER_SIZE, password)) {
        return EnnFail(fault, ENN_FAULT_FOREIGN_KEY, ENN_ERR_GENERIC);
    }
    return EnnFail(fault, ENN_FAULT_NONE, ENN_OK);
}
