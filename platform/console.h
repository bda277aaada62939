// Console text that both platform files show the same way.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace morvane::platform {

// Formats as std::vsnprintf does, for a terminal: each control byte of the
// text (below 0x20, and 0x7F) but the line feed that ends it is written as
// a C escape (\n, \r, \t, or three octal digits: \033), so that no name can
// move the cursor or start a line of its own.  Returns the text, which
// stays in a static buffer until the next call, and its length in *pLength;
// an overlong text is cut short, never an escape in two.
[[nodiscard]] const char *FormatForTerminal(const char *sFormat, std::va_list args,
                                            std::size_t *pLength);

}  // namespace morvane::platform
