/* intake CONTAINER OUT: takes in one container. A single pass checks it
 * through and through under the built-in key and gives the password it
 * carries; OUT appears only once all of it has checked out, and the library
 * prints nothing. An OUT already there is kept, and is taken in already
 * where it is the user's own copy of the plain data (theirs alone, holding
 * exactly it): an earlier run's. CONTAINER "-" reads the container from
 * standard input into memory, as from a socket, and writes nothing but OUT.
 * Exits with 1 when the container is refused for what it is (send it back),
 * with 3 when it was not taken in for another cause (a full disk, a file in
 * the way: mend that, then take it in again). On Windows the names are
 * UTF-8 for libenn, while main's arguments come in the ANSI code page: keep
 * them ASCII here. */
#include <enn.h>
#include <stdio.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

/* The container on standard input, fed to an EnnDecoder in pieces; the
 * plain data, which the decoder holds, is written to out. */
static int intake_memory(const char* out, char* password, int* fault) {
    unsigned char piece[65536];
    const unsigned char* plain;
    size_t n, plain_len;
    FILE* file;
    int result = ENN_OK, written;
    EnnDecoder* decoder = EnnDecoderNew(EnnBuiltIn(), 0, fault);
    if (!decoder)
        return ENN_ERR_GENERIC;
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY); /* the bytes as they come */
#endif
    while (result == ENN_OK && (n = fread(piece, 1, sizeof piece, stdin)) > 0)
        result = EnnDecoderFeed(decoder, piece, n);
    /* On a failed feed, Finish tells why. */
    result = EnnDecoderFinish(decoder, password, &plain, &plain_len, fault);
    if (result == ENN_OK && ferror(stdin)) {
        result = ENN_ERR_GENERIC;
        *fault = ENN_FAULT_READ;
    }
    if (result == ENN_OK) {
        file = fopen(out, "wb");
        written = file && fwrite(plain, 1, plain_len, file) == plain_len;
        if (file && fclose(file) != 0)
            written = 0;
        if (!written) {
            result = ENN_ERR_GENERIC;
            *fault = ENN_FAULT_WRITE;
        }
    }
    EnnDecoderFree(decoder);
    return result;
}

int main(int argc, char** argv) {
    char password[ENN_PASSWORD_LENGTH + 1];
    int result, fault = ENN_FAULT_NONE;
    if (argc != 3) {
        fprintf(stderr, "usage: intake CONTAINER OUT\n");
        return 2;
    }
    if (argv[1][0] == '-' && argv[1][1] == '\0')
        result = intake_memory(argv[2], password, &fault);
    else
        result = EnnDecryptStreamEx(EnnBuiltIn(), argv[1], argv[2],
                                    ENN_KEEP_EXISTING | ENN_ACCEPT_PRESENT, NULL, NULL, NULL, NULL,
                                    password, &fault);
    if (result < 0) {
        fprintf(stderr, "%s: %s (%s)\n", EnnFaultIsOutput(fault) ? argv[2] : argv[1],
                EnnFaultText(fault), EnnFaultName(fault));
        return EnnFaultIsRefusal(fault) ? 1 : 3;
    }
    printf("password %s, %s %s\n", password[0] ? password : "(none)",
           result == ENN_PRESENT ? "already decrypted into" : "decrypted into", argv[2]);
    return 0;
}
