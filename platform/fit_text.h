// Fitting a text with a quoted part (a path in a message) into the lines of a
// static text control.
#ifndef VELTRANE_PLATFORM_FIT_TEXT_H
#define VELTRANE_PLATFORM_FIT_TEXT_H

#include <functional>
#include <string>

// The text as it is when fits(text), else with characters taken from the
// middle of its quoted part (between its first and its last '"') and "…" put
// in their place, as few as make it fit; the rest of the text is kept whole.
// A text without a quoted part is returned as it is, as is one that does not
// fit even with the quoted part down to "…" (then that shortest form). text
// is UTF-8 and is cut only between characters.
std::string AfxFitQuotedText(const std::string& text,
                             const std::function<bool(const std::string&)>& fits);

#endif
