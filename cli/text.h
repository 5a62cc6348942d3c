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

#endif
