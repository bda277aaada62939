// Console text that both platform files show the same way.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace morvane::platform {

// Formats as std::vsnprintf does, for a terminal: every character of the
// text that a terminal could act on or show as nothing is written as C
// escapes (\n, \r, \t, or three octal digits a byte: \033, \302\233), and so
// is the backslash (\\) that starts one, so that no name can move the
// cursor, start a line of its own or hide a character.  That is the
// controls (bytes below 0x20 and 0x7F, and C1, U+0080 to U+009F), U+2028
// and U+2029, Unicode's default-ignorable code points (the bidirectional
// controls among them), and each byte that is not part of well-formed
// UTF-8; the line feed that ends the text stays.
// Returns the text, which stays in a static buffer until the next call, and
// its length in *pLength; an overlong text is cut short before its line end,
// never after it, nor a character or an escape in two.
[[nodiscard]] const char *FormatForTerminal(const char *sFormat, std::va_list args,
                                            std::size_t *pLength);

}  // namespace morvane::platform
