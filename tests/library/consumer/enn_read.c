/* enn_read CONTAINER OUT: a receiver's program on libenn, in C99. Checks the
 * container under the built-in key, prints the password it carries and
 * writes the plain file to OUT. Exits with 0 only when all of that worked. */
#include <enn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    char key[57];
    char password[ENN_PASSWORD_LENGTH + 1];
    int fault = ENN_FAULT_NONE;
    int result;

    if (argc != 3) {
        fprintf(stderr, "usage: enn_read CONTAINER OUT\n");
        return 2;
    }
    if (EnnBuiltInKey(NULL) != ENN_ERR_GENERIC) {
        fprintf(stderr, "EnnBuiltInKey accepted a null buffer\n");
        return 1;
    }
    memset(key, 0, sizeof key);
    if (EnnBuiltInKey(key) != ENN_OK || strlen(key) != 56) {
        fprintf(stderr, "EnnBuiltInKey gave no 56-byte key\n");
        return 1;
    }
    result = EnnVerifyFile(key, argv[1]);
    if (result != ENN_OK) {
        fprintf(stderr, "%s does not verify: %d\n", argv[1], result);
        return 1;
    }
    result = EnnReadPassword(key, argv[1], password);
    if (result != ENN_OK || !EnnIsPassword(password)) {
        fprintf(stderr, "no password read from %s: %d\n", argv[1], result);
        return 1;
    }
    result = EnnDecryptFileEx(key, argv[1], argv[2], ENN_KEEP_EXISTING, &fault);
    memset(key, 0, sizeof key);
    if (result != ENN_OK) {
        fprintf(stderr, "%s did not decrypt: %d (fault %d)\n", argv[1], result, fault);
        return 1;
    }
    printf("%s\n", password);
    return 0;
}
