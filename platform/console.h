// Console text that both platform files show the same way.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace morvane::platform {

// Formats as std::vsnprintf does, for a terminal: each control character of
// the text (bytes below 0x20 and 0x7F, and the C1 controls U+0080 to U+009F,
// UTF-8 C2 80 to C2 9F) but the line feed that ends it is written as C
// escapes (\n, \r, \t, or three octal digits a byte: \033, \302\233), so
// that no name can move the cursor or start a line of its own.  Returns the
// text, which stays in a static buffer until the next call, and its length
// in *pLength; an overlong text is cut short before its line end, never
// after it, nor an escape in two.
[[nodiscard]] const char *FormatForTerminal(const char *sFormat, std::va_list args,
                                            std::size_t *pLength);

}  // namespace morvane::platform
