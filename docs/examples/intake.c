/* intake CONTAINER OUT: takes in one container. A single pass checks it
 * through and through under the built-in key and gives the password it
 * carries; OUT appears only once all of it has checked out, and the library
 * prints nothing. An OUT already there is kept, and is taken in already
 * where it is the user's own copy of the plain data (theirs alone, holding
 * exactly it): an earlier run's. CONTAINER "-" reads the container from
 * standard input, as it would from a socket, and writes nothing but OUT.
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

/* Reads the container from standard input, or a socket, as the library asks. */
static int read_stream(void* context, unsigned char* buf, int size) {
    size_t n = fread(buf, 1, (size_t)size, (FILE*)context);
    return n == 0 && ferror((FILE*)context) ? -1 : (int)n;
}

int main(int argc, char** argv) {
    char password[ENN_PASSWORD_LENGTH + 1];
    int result, fault = ENN_FAULT_NONE;
    FILE* stream = NULL;
    if (argc != 3) {
        fprintf(stderr, "usage: intake CONTAINER OUT\n");
        return 2;
    }
    if (argv[1][0] == '-' && argv[1][1] == '\0') {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY); /* the bytes as they come */
#endif
        stream = stdin;
    }
    result = EnnDecryptStreamEx(EnnBuiltIn(), argv[1], argv[2],
                                ENN_KEEP_EXISTING | ENN_ACCEPT_PRESENT,
                                stream ? read_stream : NULL, NULL, NULL, stream, password, &fault);
    if (result < 0) {
        fprintf(stderr, "%s: %s (%s)\n", EnnFaultIsOutput(fault) ? argv[2] : argv[1],
                EnnFaultText(fault), EnnFaultName(fault));
        return EnnFaultIsRefusal(fault) ? 1 : 3;
    }
    printf("password %s, %s %s\n", password[0] ? password : "(none)",
           result == ENN_PRESENT ? "already decrypted into" : "decrypted into", argv[2]);
    return 0;
}
