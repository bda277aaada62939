// Console text that both platform files show the same way.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace morvane::platform {

// Formats as std::vsnprintf does, for a terminal: every character of the
// text that a terminal could act on rather than show is written as C escapes
// (\n, \r, \t, or three octal digits a byte: \033, \302\233), so that no
// name can move the cursor, start a line of its own or show as another
// name.  That is the controls (bytes below 0x20 and 0x7F, and C1, U+0080 to
// U+009F), the bidirectional controls, U+2028 and U+2029, and each byte that
// is not part of well-formed UTF-8; the line feed that ends the text stays.
// Returns the text, which stays in a static buffer until the next call, and
// its length in *pLength; an overlong text is cut short before its line end,
// never after it, nor a character or an escape in two.
[[nodiscard]] const char *FormatForTerminal(const char *sFormat, std::va_list args,
                                            std::size_t *pLength);

}  // namespace morvane::platform
