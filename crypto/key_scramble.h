// The built-in cipher key, kept scrambled, and the two byte transformations
// between a key and its scrambled form. With x the plain and y the scrambled
// bytes of a string of length L:  y[i] = x[i] ^ x[i+1] ^ ... ^ x[L-1] ^ 0xA6.
#ifndef VELTRANE_CRYPTO_KEY_SCRAMBLE_H
#define VELTRANE_CRYPTO_KEY_SCRAMBLE_H

// 56 scrambled bytes, none zero, then a zero byte. Unscrambled, it is the
// 56-byte key under which every container of this tool is written.
extern const unsigned char kScrambledKey[57];

// Both take the string length L of in, write L bytes and a zero byte to out
// (at least L + 1 bytes) and nothing beyond. Each undoes the other while
// neither form holds a zero byte.
void KeyScramble(const char* in, char* out);
void KeyUnscramble(const char* in, char* out);

// The built-in cipher key, unscrambled for as long as the object lives and
// wiped when it goes, on every way out.
class BuiltInKey {
  public:
    BuiltInKey();
    ~BuiltInKey();
    BuiltInKey(const BuiltInKey&) = delete;
    BuiltInKey& operator=(const BuiltInKey&) = delete;
    const char* get() const { return key_; }

  private:
    char key_[100];
};

#endif
