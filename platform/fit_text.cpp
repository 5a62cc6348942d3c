#include "platform/fit_text.h"

#include <vector>

namespace {

constexpr char kEllipsis[] = "\xE2\x80\xA6";  // U+2026 HORIZONTAL ELLIPSIS

// Where each UTF-8 character of text starts, and text's end.
std::vector<size_t> CharacterStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            starts.push_back(i);
        }
    }
    starts.push_back(text.size());
    return starts;
}

}  // namespace

std::string AfxFitQuotedText(const std::string& text,
                             const std::function<bool(const std::string&)>& fits) {
    const size_t open = text.find('"');
    const size_t close = text.rfind('"');
    if (open == std::string::npos || close <= open + 1 || fits(text)) {
        return text;
    }
    const std::string head = text.substr(0, open + 1);
    const std::string quoted = text.substr(open + 1, close - open - 1);
    const std::string tail = text.substr(close);
    const std::vector<size_t> starts = CharacterStarts(quoted);
    const size_t count = starts.size() - 1;

    // The quoted part with all but keep of its characters replaced by "…":
    // the first half of those kept, then the second.
    auto shortened = [&](size_t keep) {
        const size_t front = (keep + 1) / 2;
        const size_t back = keep - front;
        return head + quoted.substr(0, starts[front]) + kEllipsis +
               quoted.substr(starts[count - back]) + tail;
    };
    // The most characters that can be kept; keeping fewer makes the text no
    // longer, so the search may halve.
    size_t low = 0;
    size_t high = count - 1;
    while (low < high) {
        const size_t mid = (low + high + 1) / 2;
        if (fits(shortened(mid))) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return shortened(low);
}
