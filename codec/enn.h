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
//
// The header is C (C99 and later) as well as C++. Every function is declared
// with ENN_API: C linkage, and part of the shared library's interface;
// nothing else in the library is visible outside it.
//
// No function crashes or throws on any argument: a null pointer where a
// value is needed, an empty output name, or a key with no NUL in its first
// 57 bytes (it is read no further) is refused with the failure the function
// documents and, where a fault is asked for, ENN_FAULT_ARGUMENT; memory or
// threads that cannot be had are ENN_ERR_GENERIC with ENN_FAULT_NO_MEMORY.
//
// Threads. Every function may be called from several threads at once, on
// different files and different EnnDecoders; two calls that write the same
// output name leave one whole file, the one that finished last. What may
// not be shared between threads at once: one EnnDecoder. The library keeps
// nothing between calls but its thread limit and the table of the files it
// is writing (for EnnDiscardAllAside). A call writes, replaces or removes no
// file but its output and the files it makes aside for it, and those of its
// user's earlier calls that were killed while writing beside it.
// A call coding a large container (32 chunks or more at a time) starts
// helper threads for the duration of the call, and ends them before it
// returns; each EnnDecoderFeed is such a call, so that a decoder holds no
// thread between feeds. All calls of the process together run at most
// EnnThreadLimit() - 1 helpers at once, a helper counting until its thread
// has ended; a call that finds none free codes on its caller's thread alone,
// as small containers always are. A caller's thread that ends inside a call
// (pthread_exit or a cancellation from one of its read, write or progress
// functions) unwinds through the library, which discards that call's files
// on the way.
// Memory: a file or stream operation allocates about 4 MiB for the chunks it
// holds at a time, a small file less; an EnnDecoder holds the plain data of
// its container (see there), unless it decodes into the caller's buffer,
// as EnnDecoderNewInto's, EnnDecodeBuffer and EnnDecodeFile do, holding none
// of it elsewhere. Nothing else is allocated, and
// nothing grows with the size of a file. Plain data the library held is
// wiped before its memory is freed or its call returns.
#ifndef VELTRANE_CODEC_ENN_H
#define VELTRANE_CODEC_ENN_H

#include <stddef.h>

#include "enn_version.h" /* ENN_VERSION_MAJOR, _MINOR, _PATCH and _STRING */

#ifdef __cplusplus
#define ENN_LINKAGE extern "C"
#else
#define ENN_LINKAGE extern
#endif
#if defined(__GNUC__) && !defined(_WIN32)
#define ENN_API ENN_LINKAGE __attribute__((visibility("default")))
#else
#define ENN_API ENN_LINKAGE
#endif

enum {
    ENN_OK = 0,
    ENN_PRESENT = 1,       // a success: the output was already there (ENN_ACCEPT_PRESENT, below)
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
    ENN_BLOCK_SIZE = 8,
    ENN_PASSWORD_LENGTH = 6,
};

// A container is named after its file with this appended.
#define ENN_EXTENSION ".enn"
// How a chunk's length Block spells its plain length.
#define ENN_LENGTH_FORMAT "%08d"
// What follows the six digits in the password chunk.
#define ENN_PASSWORD_FILLER "**"

// 1 when text is a password the container can carry: exactly six ASCII
// digits and the terminating NUL; else 0.
ENN_API int EnnIsPassword(const char* text);

// 1 when size is one the encoder writes: the header, the password chunk,
// whole data chunks and a last one of 16 to 4008 bytes in Blocks of eight; or
// the header alone, which decodes to nothing; else 0.
ENN_API int EnnIsContainerSize(long long size);

// The bytes a key buffer takes at most: 56 and a NUL.
#define ENN_KEY_SIZE 57

// Writes the cipher key built into this tool, under which every container it
// makes is written, to key: 56 bytes and a NUL. Returns ENN_OK, or
// ENN_ERR_GENERIC (nothing written) when key is null. A caller that keeps the
// key no longer than it needs it overwrites the buffer when done.
ENN_API int EnnBuiltInKey(char key[ENN_KEY_SIZE]);

// What to give any function below as its key to mean the built-in one,
// without holding it: the library unscrambles it for the call and wipes it.
// It is not the key itself, and is the same pointer on every call.
ENN_API const char* EnnBuiltIn(void);

// The library's version, ENN_VERSION_STRING as it was built: what a program
// logs, which may differ from the header it was compiled with.
ENN_API const char* EnnVersion(void);

// Sets how many threads may code containers at once in this process: the
// callers' own and at most threads - 1 helpers, shared by all calls (0 or 1:
// no helpers). threads is taken within 0 to 64: below 0 sets 0, above 64
// sets 64. Applies to calls (each EnnDecoderFeed among them) that start
// afterwards. The default is 8. Returns the limit it replaces, as it was set
// (0 to 64).
ENN_API int EnnSetThreadLimit(int threads);

// The limit EnnSetThreadLimit set, or the default.
ENN_API int EnnThreadLimit(void);

// Why an operation failed, more finely than its result: for callers that
// explain a failure to a person (see the Ex operations below). Values are
// only ever added, at the end. Each fault gives one result wherever it
// strikes, but in two places: while the output (or the file that holds it
// until it is whole) is being made, every fault gives ENN_ERR_CREATE_OUTPUT,
// so that a full disk or a folder with no free inode is ENN_ERR_CREATE_OUTPUT
// there and ENN_ERR_GENERIC for a write that fails part-way; and the password
// readers, which never consult the digest, give ENN_ERR_GENERIC for input
// that is no container (ENN_FAULT_NOT_CONTAINER), where the decoder gives
// ENN_ERR_DIGEST.
enum EnnFault {
    ENN_FAULT_NONE = 0,
    ENN_FAULT_ARGUMENT,      // a bad argument: null, empty, out of range, a password or key refused
    ENN_FAULT_NO_INPUT,      // the input does not exist
    ENN_FAULT_READ,          // reading failed part-way
    ENN_FAULT_CHANGED,       // the input changed while it was read
    ENN_FAULT_DIGEST,        // the digest header does not match the content
    ENN_FAULT_FOREIGN_KEY,   // the password chunk does not decode: another key wrote it
    ENN_FAULT_LAYOUT,        // intact, but a chunk is not laid out as the encoder writes
    ENN_FAULT_NOT_REGULAR,   // the output names a fifo, device or the like, or a link to one
    ENN_FAULT_SAME_FILE,     // the output is the input itself
    ENN_FAULT_EXISTS,        // the output exists and was to be kept
    ENN_FAULT_NO_OUTPUT,     // no new file can be made where the output goes, for another cause
    ENN_FAULT_WRITE,         // writing failed; nothing was put in place
    ENN_FAULT_INPUT_DENIED,  // the input may not be read
    ENN_FAULT_INPUT_FOLDER,  // the input is a folder
    ENN_FAULT_INPUT_NOT_REGULAR,  // the input is a fifo, device or the like
    ENN_FAULT_OUTPUT_FOLDER,      // the output names a folder
    ENN_FAULT_NAME_TOO_LONG,      // the output's name is longer than its folder accepts
    ENN_FAULT_DENIED,             // the folder may not be written in, or the output not replaced
    ENN_FAULT_READ_ONLY,          // the output is a file the caller may not write
    ENN_FAULT_NO_FOLDER,          // the output's folder does not exist
    ENN_FAULT_DISK_FULL,     // the disk or the caller's quota is full; nothing was put in place
    ENN_FAULT_ACL_NOT_KEPT,  // the file to replace has an ACL the new file cannot keep
    ENN_FAULT_ATTRIBUTES_NOT_KEPT,  // ... extended attributes the new file cannot keep
    ENN_FAULT_MOUNT_POINT,          // the output is a mount point (a bind-mounted file, say)
    ENN_FAULT_NO_MEMORY,            // the memory the operation needs cannot be had
    ENN_FAULT_NOT_CONTAINER,        // not a container at all: empty, or no digest header first
    ENN_FAULT_TOO_SHORT,            // a digest header, but too short for the password chunk
    ENN_FAULT_TOO_LARGE,            // more plain data than the caller would hold
    ENN_FAULT_IN_PLACE_ONLY,        // only a copy in place could replace the output, not allowed
    ENN_FAULT_READ_EXISTING,        // the existing output could not be read to compare it
};

// The fault's English words: a phrase that follows the name of the file it
// belongs to and a colon ("batch.txt.enn: damaged: ..."). Never null: a value
// this library does not know gets words too.
ENN_API const char* EnnFaultText(int fault);

// The fault's name as the enum spells it ("ENN_FAULT_DISK_FULL"), the same in
// every release and language: for logs and programs. "ENN_FAULT_UNKNOWN" for
// a value this library does not know.
ENN_API const char* EnnFaultName(int fault);

// 1 when the fault belongs to the output (it cannot be made, written or put
// in place), 0 when it belongs to the input or to the call itself.
ENN_API int EnnFaultIsOutput(int fault);

// 1 when the fault is the container's own: it is damaged, not a container,
// written under another key or laid out wrong, and no second try will do
// (the sender must send it again); 0 for a failure of the surroundings (a
// file missing, a full disk, an I/O error), which may pass, or of the call.
ENN_API int EnnFaultIsRefusal(int fault);

// Encrypts n plain bytes (0 to 99,999,999) as one chunk into out, which holds
// at least 8 + 8 * ceil(n / 8) bytes, and stores that count in out_len.
// Returns ENN_OK, or ENN_ERR_GENERIC (nothing written) for a bad key or n.
ENN_API int EnnEncryptChunk(const char* key, const unsigned char* data, int n, unsigned char* out,
                            int* out_len);

// Writes the container of in_path, carrying password (exactly six digits), to
// out_path. The container is written aside, readable by the caller alone, and
// replaces whatever regular file (or link to one) stood at out_path only once
// it is whole and on disk, with that file's owner, group and permission bits
// as far as the caller may set them (never setuid, setgid or sticky), its
// access ACL and extended attributes (docs/files.md); on any failure out_path
// stays as it was and nothing else is left behind. Returns
//   ENN_ERR_GENERIC        bad password or key (no file touched), a read or
//                          write failure, or an input that changed while it
//                          was read
//   ENN_ERR_OPEN_INPUT     in_path is not a readable regular file
//   ENN_ERR_CREATE_OUTPUT  out_path is empty, a folder, fifo, device (or a
//                          link to one), the input itself, a file the caller
//                          may not write, or one carrying an ACL or
//                          attributes a new file there cannot keep, all
//                          refused before anything is read; or its folder
//                          takes no file the caller may make (for any cause:
//                          permission, a full disk, no free inode), or it is
//                          a mount point, or only a copy in place could
//                          replace it (ENN_ALLOW_IN_PLACE, below)
//   ENN_OK                 the whole container is in place
ENN_API int EnnEncryptFile(const char* password, const char* key, const char* in_path,
                           const char* out_path);

// EnnEncryptFile, also storing in *fault (when not null) why it failed.
ENN_API int EnnEncryptFileEx(const char* password, const char* key, const char* in_path,
                             const char* out_path, int* fault);

// Decrypts the chunk at data (data_len bytes available, the length Block
// first) into out and stores its plain length n in out_len. out receives
// 8 * ceil(n / 8) bytes and must hold data_len - 8 of them. Returns ENN_OK, or
// ENN_ERR_GENERIC for a bad key, data_len below 8, or a length Block that is
// negative or announces more Blocks than data_len holds (out untouched then).
// A length Block reading 0 gives ENN_OK with out untouched.
ENN_API int EnnDecryptChunk(const char* key, const unsigned char* data, int data_len,
                            unsigned char* out, int* out_len);

// Reads the six password characters carried in the container at path into
// password (7 bytes: the six and a NUL), without consulting the digest header.
// The password chunk must read as the encoder writes it: length 8, six digits
// and "**". Returns ENN_OK, ENN_ERR_OPEN_INPUT, or ENN_ERR_GENERIC (bad key, a
// short or unreadable file, a password chunk that does not read so, as under
// another key); password is written only on success.
ENN_API int EnnReadPassword(const char* key, const char* path, char* password);

// EnnReadPassword, also storing in *fault (when not null) why it failed: a
// read error (ENN_FAULT_READ); input that does not begin with a digest header,
// an empty file among it (ENN_FAULT_NOT_CONTAINER, ENN_ERR_GENERIC here); a
// header but too few bytes for the password chunk (ENN_FAULT_TOO_SHORT); and
// a password chunk that does not decode (ENN_FAULT_FOREIGN_KEY) apart.
ENN_API int EnnReadPasswordEx(const char* key, const char* path, char* password, int* fault);

// Checks the container at in_path through and through under key, and when
// everything holds writes the plain file to out_path. The container is read
// once: what is decoded is what was hashed. The plain file is written aside
// and put in place only once the digest has matched and every chunk decoded;
// until then out_path is not touched. Returns
//   ENN_ERR_DIGEST         the header does not match (a file shorter than the
//                          header never does); prints "\n md5 error !" on
//                          standard output
//   ENN_ERR_GENERIC        bad key, a read or write failure, or a container
//                          the encoder cannot have written under key: a
//                          password chunk other than length 8, six digits and
//                          "**" (another key wrote it), a length Block other
//                          than eight digits, a data chunk but the last of
//                          other than 4000 bytes, a last chunk that does not
//                          end the file exactly, or non-zero fill
//   ENN_ERR_OPEN_INPUT     in_path is not a readable regular file
//   ENN_ERR_CREATE_OUTPUT  out_path is empty, a folder, fifo, device (or a
//                          link to one), the container itself or a file the
//                          caller may not write, or its folder takes no file
//                          the caller may make, for any cause (reported only
//                          when the digest matched)
//   ENN_OK                 the whole plain file is in place, replacing a
//                          regular file (or link to one) that stood at
//                          out_path as EnnEncryptFile replaces one
// A 32-byte file holding only the digest of nothing decodes to an empty file.
ENN_API int EnnDecryptFile(const char* key, const char* in_path, const char* out_path);

// How EnnDecryptFileEx and the stream operations treat an existing out_path.
enum {
    ENN_REPLACE_EXISTING = 0,
    ENN_KEEP_EXISTING = 1,   // fail with ENN_FAULT_EXISTS rather than replace
    ENN_NO_DIAGNOSTIC = 2,   // added to either: print nothing on a digest mismatch
    ENN_ALLOW_IN_PLACE = 4,  // added to either: allow a copy in place (below)
    ENN_ACCEPT_PRESENT = 8,  // keep, and count the caller's own copy as done (below)
};
// Already done. A decryption given ENN_ACCEPT_PRESENT keeps an existing
// out_path, as ENN_KEEP_EXISTING does (which it implies; give both, as a
// library before 1.4.0 knows only that one), but returns ENN_PRESENT, a
// success with all that ENN_OK gives, where that file is the caller's own
// copy of the plain data: a regular file under the name itself (not a
// link), with one link, owned by the caller and writable by nobody else (no
// group or other write bit, which is also where an ACL entry granting write
// shows; on Windows owned by the caller's SID, with a DACL granting write,
// delete or a change of rights to none but the caller, SYSTEM and the
// Administrators), holding exactly this container's plain data and nothing
// more, unchanged while it was compared. Anything else there is kept and
// fails with ENN_FAULT_EXISTS; a file that could not be read for the
// comparison fails with ENN_FAULT_READ_EXISTING. The file is compared as the
// container is decoded, in one pass that writes nothing, so that a full
// disk does not matter and a container on a stream is compared too; a
// container refused for its own fault is refused before the output is
// judged. ENN_PRESENT comes only to a caller that gave the bit, and only for
// a named out_path. The encryptions refuse the bit (ENN_FAULT_ARGUMENT):
// they compare nothing, and a caller who asks to have an existing container
// counted as done is told so at once rather than failing later as kept.
//
// A copy in place. Where out_path's folder takes no new file from the caller
// (a share on which users may change files but not create them), or will not
// let a new file take the old one's name (a sticky folder, over another
// user's file), a regular file there that the caller may write can be
// replaced only by writing the new content over it in place. That is done
// only with ENN_ALLOW_IN_PLACE; without it the call fails with
// ENN_FAULT_IN_PLACE_ONLY (ENN_ERR_CREATE_OUTPUT) and out_path is not written,
// refused before the input is coded where the folder takes no new file. The
// file keeps its owner, looks and links; space is reserved before its first
// byte is written, and it is flushed before the call succeeds. This one road
// is not whole across a kill, a crash or a power cut: the file may then hold
// part new, part old content. The input is untouched, and running the call
// again mends it.

// EnnDecryptFile with a choice of placing, also storing in *fault (when not
// null) why it failed, and returning ENN_PRESENT too (ENN_ACCEPT_PRESENT). A
// null out_path checks everything and writes nothing; the digest message is
// printed only when out_path is given.
ENN_API int EnnDecryptFileEx(const char* key, const char* in_path, const char* out_path,
                             int placing, int* fault);

// Checks everything that EnnDecryptFile checks and writes nothing, printing
// nothing: EnnDecryptFileEx with a null out_path.
ENN_API int EnnVerifyFile(const char* key, const char* path);

// Removes the temporary file of every container or plain file that this
// process is writing under a temporary name, so that nothing of it stays. Safe
// to call from a signal handler: a tool calls it before dying of a signal.
ENN_API void EnnDiscardAllAside(void);

/* ---- Streams -------------------------------------------------------------
   The operations above, for tools that work in pipes: the input may come from
   a function of the caller instead of a named file, and the output go to one.
   Plain C, for any caller of the library. */

/* Reads up to size bytes into buf. Returns the count, 0 at the end of the
   input, or -1 on a read error. */
typedef int (*EnnReadFunc)(void* context, unsigned char* buf, int size);

/* Writes all size bytes of buf. Returns 0, or -1 when they could not all be
   written. */
typedef int (*EnnWriteFunc)(void* context, const unsigned char* buf, int size);

/* Tells how far the input has been read: done bytes of total, or of an
   unknown total (-1) when the input is read through a function. */
typedef void (*EnnProgressFunc)(void* context, long long done, long long total);

/* In each operation below the input is read through read when it is given,
   else from the file in_path; the output goes to write when it is given,
   else to the file out_path. context is passed to read, write and progress;
   progress may be null. Nothing is printed. A stream is read exactly once;
   bytes go to write only once the whole input has been read and checked,
   held meanwhile in an unnamed file in the system's temporary folder, so a
   failed operation writes nothing to write. A file output follows the rules
   of EnnEncryptFile and EnnDecryptFileEx: written aside, put in place whole.
   *fault (when not null) receives an ENN_FAULT_ as in the Ex operations. */

/* EnnDecryptFileEx over streams, checking exactly what it checks: the plain
   file goes to write, or out_path (placed as placing says), or nowhere when
   both are null. Returns the results of EnnDecryptFileEx. */
ENN_API int EnnDecryptStream(const char* key, const char* in_path, const char* out_path,
                             int placing, EnnReadFunc read, EnnWriteFunc write,
                             EnnProgressFunc progress, void* context, int* fault);

/* EnnEncryptFileEx over streams: the container of the plain input, carrying
   password, goes to write or replaces out_path. Returns the results of
   EnnEncryptFileEx. */
ENN_API int EnnEncryptStream(const char* password, const char* key, const char* in_path,
                             const char* out_path, EnnReadFunc read, EnnWriteFunc write,
                             EnnProgressFunc progress, void* context, int* fault);

/* EnnEncryptStream with a choice of placing for out_path, as
   EnnDecryptStream takes it: ENN_REPLACE_EXISTING or ENN_KEEP_EXISTING, with
   ENN_ALLOW_IN_PLACE added or not (ENN_ACCEPT_PRESENT is refused, as
   ENN_FAULT_ARGUMENT). EnnEncryptFile, EnnEncryptFileEx and
   EnnEncryptStream are this with ENN_REPLACE_EXISTING. */
ENN_API int EnnEncryptStreamPlaced(const char* password, const char* key, const char* in_path,
                                   const char* out_path, int placing, EnnReadFunc read,
                                   EnnWriteFunc write, EnnProgressFunc progress, void* context,
                                   int* fault);

/* EnnReadPassword over a stream, reading no more than the header and the
   password chunk, with the faults of EnnReadPasswordEx. */
ENN_API int EnnReadPasswordStream(const char* key, const char* in_path, EnnReadFunc read,
                                  void* context, char* password, int* fault);

/* EnnDecryptStream that also gives the password, from the same pass: on
   ENN_OK or ENN_PRESENT password (7 bytes) receives the six digits and a
   NUL, or "" for the header alone, which carries none; on failure it is not
   written. */
ENN_API int EnnDecryptStreamEx(const char* key, const char* in_path, const char* out_path,
                               int placing, EnnReadFunc read, EnnWriteFunc write,
                               EnnProgressFunc progress, void* context, char* password, int* fault);

/* ---- In memory ------------------------------------------------------------
   For programs that hold a container in memory or receive it in pieces (from
   a socket, say): the same checks as EnnDecryptFile, in one pass, with the
   password and the plain data from that pass, and no file touched. No plain
   byte is given out before the whole container has checked out, and a call
   that fails leaves none behind: what it decoded is wiped, wherever it lay.
   A container of n bytes holds less than n plain bytes: about
   (n - 48) * 4000 / 4008. */

typedef struct EnnDecoder EnnDecoder;

/* Starts decoding one container under key (EnnBuiltIn() for the built-in
   one), holding at most max_plain plain bytes (0: no bound) and 12 KiB of its
   own. The plain data is held in one buffer that grows as it comes, never
   past max_plain; while it grows, the old buffer is kept until the new one
   holds its bytes. Returns null, with *fault (when not null)
   ENN_FAULT_ARGUMENT or ENN_FAULT_NO_MEMORY, when it cannot start. */
ENN_API EnnDecoder* EnnDecoderNew(const char* key, size_t max_plain, int* fault);

/* EnnDecoderNew that decodes into the caller's buffer plain, of plain_cap
   bytes, instead of one of its own: the plain data is written there as it
   comes and nowhere else, never past plain_cap (a feed bringing more fails
   with ENN_FAULT_TOO_LARGE), and EnnDecoderFinish gives plain itself out.
   Until a finish has given it out, every byte the decoding wrote there is
   overwritten with zeros on any failure, and by EnnDecoderFree; after, it
   is the caller's and stays as it is. plain must stay until
   EnnDecoderFree. A container of n bytes needs at most n bytes; a feed whose data lies over plain
   fails with ENN_FAULT_ARGUMENT. Returns null, with *fault ENN_FAULT_ARGUMENT (also for a null
   plain) or ENN_FAULT_NO_MEMORY, when it cannot start. */
ENN_API EnnDecoder* EnnDecoderNewInto(const char* key, void* plain, size_t plain_cap, int* fault);

/* Takes the next size bytes of the container, in pieces of any size.
   Returns ENN_OK, or ENN_ERR_GENERIC when decoder is null, data is null with
   size above 0, the plain data would pass max_plain (ENN_FAULT_TOO_LARGE,
   from the feed that brings the chunk passing it, whatever follows) or
   memory runs out; once it has failed, every later call fails the same way,
   and the plain data is wiped and freed. A feed after EnnDecoderFinish fails
   with ENN_FAULT_ARGUMENT. */
ENN_API int EnnDecoderFeed(EnnDecoder* decoder, const void* data, size_t size);

/* Ends the container and returns what EnnDecryptFile would for it: ENN_OK,
   with password (7 bytes, as EnnDecryptStreamEx gives it) and *plain and
   *plain_len the plain data, which stays the decoder's until
   EnnDecoderFree; or the failure, with *fault (when not null), and nothing
   given out. password, plain and plain_len must not be null. Once it has
   given the plain data out, a second call (or a feed) fails with
   ENN_FAULT_ARGUMENT, writes nothing and leaves that data as it is. Prints
   nothing. */
ENN_API int EnnDecoderFinish(EnnDecoder* decoder, char* password, const unsigned char** plain,
                             size_t* plain_len, int* fault);

/* Wipes the decoder's plain data and frees it; null is ignored. */
ENN_API void EnnDecoderFree(EnnDecoder* decoder);

/* The whole container at data (size bytes) checked and decoded in one call:
   ENN_OK with the password (7 bytes) and the plain data in plain, which
   holds plain_cap bytes (size bytes are always enough; it may be data
   itself), and its length in *plain_len; or the failure, with *fault (when
   not null), password and *plain_len not written, and no plain byte left in
   plain: what the decoding had put there is overwritten with zeros, the rest
   of plain is as it was. The plain data is decoded into plain as it comes,
   and nothing is written past plain_cap: ENN_FAULT_TOO_LARGE as soon as a
   chunk would pass it, whatever follows. */
ENN_API int EnnDecodeBuffer(const char* key, const void* data, size_t size, char* password,
                            void* plain, size_t plain_cap, size_t* plain_len, int* fault);

/* EnnDecodeBuffer for the container in the file at path, which the library
   opens as EnnDecryptFile opens its input, and reads once, in pieces, into
   the caller's buffer plain of plain_cap bytes: ENN_OK with the password (7
   bytes), the plain data in plain and its length in *plain_len; or the
   failure, with *fault (when not null), the password not written and no
   plain byte left in plain. The faults of EnnDecryptFileEx with a null
   out_path, and ENN_FAULT_CHANGED for a file that changes while it is read.
   When the file as opened could hold more plain data than plain_cap, the
   call fails before reading it with ENN_FAULT_TOO_LARGE and stores in
   *plain_len the capacity that file needs (never more than its size): a
   caller that does not know the size calls with plain_cap 0 (plain may then
   be null) and again with a buffer that large. Prints nothing and writes no
   file. */
ENN_API int EnnDecodeFile(const char* key, const char* path, char* password, void* plain,
                          size_t plain_cap, size_t* plain_len, int* fault);

#endif
