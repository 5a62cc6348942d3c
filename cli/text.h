// Filling and laying out enn's texts.
#ifndef VELTRANE_CLI_TEXT_H
#define VELTRANE_CLI_TEXT_H

#include <string>
#include <vector>

// text with its placeholders replaced by values: "%s" takes the next value
// and "%N$s" the Nth, so that a translation may put them in its own order;
// "%%" is a percent sign.
std::string Fill(const char* text, const std::vector<std::string>& values);

// text broken into lines of at most width columns, each line after the first
// starting with indent spaces and each ending in a line feed. Lines break at
// spaces, at the text's own line feeds and, for Chinese, between any two wide
// characters; a wide character takes two columns.
std::string Wrap(const std::string& text, size_t width, size_t indent);

// The length of the well-formed UTF-8 sequence that starts at text[i], or 0
// when none does: a byte that cannot lead one (80-C1, F5-FF), a sequence cut
// short, an overlong form, a surrogate (D800-DFFF) or a code point above
// U+10FFFF.
size_t Utf8Sequence(const std::string& text, size_t i);

// Whether text is well-formed UTF-8 throughout.
bool IsUtf8(const std::string& text);

#endif
