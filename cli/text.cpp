#include "cli/text.h"

std::string Fill(const char* text, const std::vector<std::string>& values) {
    std::string out;
    size_t next = 0;
    for (const char* at = text; *at != '\0'; ++at) {
        if (*at != '%') {
            out += *at;
            continue;
        }
        if (at[1] == '%') {
            out += '%';
            ++at;
            continue;
        }
        size_t index = next++;
        const char* spec = at + 1;
        if (*spec >= '1' && *spec <= '9' && spec[1] == '$') {
            index = static_cast<size_t>(*spec - '1');
            spec += 2;
        }
        if (*spec == 's' && index < values.size()) {
            out += values[index];
            at = spec;
        } else {
            out += *at;
        }
    }
    return out;
}

namespace {

// The columns that the UTF-8 character starting with lead takes: two for the
// wide characters of Chinese text (three bytes or more), else one.
size_t Columns(unsigned char lead) {
    return lead >= 0xE0 ? 2 : 1;
}

size_t Length(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

}  // namespace

std::string Wrap(const std::string& text, size_t width, size_t indent) {
    std::string out;
    std::string line;  // the line being filled, without its indent
    size_t used = 0;   // its columns
    const size_t room = width > indent ? width - indent : 1;
    auto endLine = [&]() {
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += (out.empty() ? "" : std::string(indent, ' ')) + line + "\n";
        line.clear();
        used = 0;
    };
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '\n') {
            endLine();
            ++at;
            continue;
        }
        if (c == ' ') {
            if (used > 0 && used < room) {
                line += ' ';
                ++used;
            }
            ++at;
            continue;
        }
        // The next unit that may not be broken: an ASCII word, or one wide character.
        size_t end = at;
        size_t columns = 0;
        if (Columns(c) == 2) {
            end = at + Length(c);
            columns = 2;
        } else {
            while (end < text.size() && text[end] != ' ' && text[end] != '\n' &&
                   Columns(static_cast<unsigned char>(text[end])) == 1) {
                end += Length(static_cast<unsigned char>(text[end]));
                ++columns;
            }
        }
        if (used > 0 && used + columns > room) {
            endLine();
        }
        line += text.substr(at, end - at);
        used += columns;
        at = end;
    }
    if (!line.empty() || out.empty()) {
        endLine();
    }
    return out;
}

size_t Utf8Sequence(const std::string& text, size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        return 1;
    }
    size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        low = c == 0xE0 ? 0xA0 : low;    // overlong below
        high = c == 0xED ? 0x9F : high;  // surrogates above
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        low = c == 0xF0 ? 0x90 : low;    // overlong below
        high = c == 0xF4 ? 0x8F : high;  // past U+10FFFF above
    } else {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if (i + k >= text.size()) {
            return 0;
        }
        const unsigned char b = static_cast<unsigned char>(text[i + k]);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return len;
}

bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const size_t len = Utf8Sequence(text, i);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}
