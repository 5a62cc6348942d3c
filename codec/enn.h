// The ".enn" container: a 32-character MD5 digest header, the password chunk and
// the data chunks, every Block Blowfish-encrypted under the cipher key.
//
//   offset 0   32 bytes  lowercase hex MD5 of every byte from offset 32 to the end
//   offset 32  16 bytes  password chunk: the six digits and "**"
//   offset 48  ...       data chunks of 4000 plain bytes (4008 in the container),
//                        the last one holding the remaining 1 to 4000 bytes
//
// A chunk of n plain bytes is a length Block (n printed with "%08d") followed by
// the bytes in Blocks of 8, the last one zero-filled: 8 + 8 * ceil(n / 8) bytes.
// A Block is two words, most significant byte first, encrypted on its own.
//
// The cipher key is a NUL-terminated byte string of 4 to 56 bytes.
#ifndef VELTRANE_CODEC_ENN_H
#define VELTRANE_CODEC_ENN_H

enum {
    ENN_OK = 0,
    ENN_ERR_GENERIC = -1,  // bad password or key, a chunk that will not code, an I/O failure
    ENN_ERR_DIGEST = -101,
    ENN_ERR_OPEN_INPUT = -201,
    ENN_ERR_CREATE_OUTPUT = -202,
};

enum {
    ENN_HEADER_SIZE = 32,
    ENN_PAYLOAD_OFFSET = 48,
    ENN_CHUNK_PLAIN = 4000,
    ENN_CHUNK_CIPHER = 4008,
};

// Why an operation failed, more finely than its result: for callers that
// explain a failure to a person (see the Ex operations below).
enum EnnFault {
    ENN_FAULT_NONE = 0,
    ENN_FAULT_ARGUMENT,     // a bad password text or key
    ENN_FAULT_NO_INPUT,     // the input is missing, unreadable or not a regular file
    ENN_FAULT_READ,         // reading failed part-way
    ENN_FAULT_CHANGED,      // the input changed while it was read
    ENN_FAULT_DIGEST,       // the digest header does not match the content
    ENN_FAULT_FOREIGN_KEY,  // the password chunk does not decode: another key wrote it
    ENN_FAULT_LAYOUT,       // intact, but not laid out as the encoder writes
    ENN_FAULT_NOT_REGULAR,  // the output names a folder, fifo, device or the like
    ENN_FAULT_SAME_FILE,    // the output is the input itself
    ENN_FAULT_EXISTS,       // the output exists and was to be kept
    ENN_FAULT_NO_OUTPUT,    // no new file can be made where the output goes
    ENN_FAULT_WRITE,        // writing failed (a full disk, say); nothing was put in place
};

// Encrypts n plain bytes (0 to 99,999,999) as one chunk into out, which holds
// at least 8 + 8 * ceil(n / 8) bytes, and stores that count in out_len.
// Returns ENN_OK, or ENN_ERR_GENERIC (nothing written) for a bad key or n.
int EnnEncryptChunk(const char* key, const unsigned char* data, int n, unsigned char* out,
                    int* out_len);

// Writes the container of in_path, carrying password (exactly six digits), to
// out_path, which is created or replaced. Returns
//   ENN_ERR_GENERIC        bad password or key (no file touched), or a read or
//                          write failure part-way (the partial container removed)
//   ENN_ERR_OPEN_INPUT     in_path is not a readable regular file (no output made)
//   ENN_ERR_CREATE_OUTPUT  out_path cannot be created (an existing file kept)
//   ENN_OK                 the whole container is written
int EnnEncryptFile(const char* password, const char* key, const char* in_path,
                   const char* out_path);

// Decrypts the chunk at data (data_len bytes available, the length Block
// first) into out and stores its plain length n in out_len. out receives
// 8 * ceil(n / 8) bytes and must hold data_len - 8 of them. Returns ENN_OK, or
// ENN_ERR_GENERIC for a bad key, data_len below 8, or a length Block that is
// negative or announces more Blocks than data_len holds (out untouched then).
// A length Block reading 0 gives ENN_OK with out untouched.
int EnnDecryptChunk(const char* key, const unsigned char* data, int data_len, unsigned char* out,
                    int* out_len);

// Reads the six password characters carried in the container at path into
// password (7 bytes: the six and a NUL), without consulting the digest header.
// Returns ENN_OK, ENN_ERR_OPEN_INPUT, or ENN_ERR_GENERIC (bad key, a short or
// unreadable file, a password chunk that will not decode); password is
// written only on success.
int EnnReadPassword(const char* key, const char* path, char* password);

// Checks the digest header of the container at path against the MD5 of every
// byte after it, printing nothing and writing no file. Returns ENN_OK,
// ENN_ERR_DIGEST (a file shorter than the header never matches),
// ENN_ERR_OPEN_INPUT (not a readable regular file) or ENN_ERR_GENERIC (a read
// failure).
int EnnVerifyFile(const char* path);

// Checks the digest header of the container at in_path and, when it matches,
// writes the plain file to out_path. Returns
//   ENN_ERR_GENERIC        bad key, a read or write failure, a chunk that will
//                          not decode (what was written before stays)
//   ENN_ERR_OPEN_INPUT     in_path is not a readable regular file
//   ENN_ERR_DIGEST         the header does not match; prints "\n md5 error !"
//                          on standard output and touches no output file
//   ENN_ERR_CREATE_OUTPUT  out_path cannot be created, or names the container
//   ENN_OK                 the whole plain file is written
int EnnDecryptFile(const char* key, const char* in_path, const char* out_path);

#endif
