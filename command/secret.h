// The secrets a program holds while it runs the Encrypt command or reads a
// container: the password texts. The built-in key it never holds: it gives
// EnnBuiltIn() as the key, and the library unscrambles the key for the call
// and wipes it.
#ifndef VELTRANE_COMMAND_SECRET_H
#define VELTRANE_COMMAND_SECRET_H

#include <cstddef>
#include <string>

// Sets size bytes at p to zero, even when p is never read again.
void WipeSecret(void* p, std::size_t size);

// Sets every byte of text to zero, leaving its length as it was.
void WipeSecret(std::string& text);

#endif
