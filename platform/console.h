// Console text that both platform files show the same way.
#pragma once

#include <cstddef>

namespace morvane::platform {

// Copies the nText bytes at sText to sShown, which holds nCapacity bytes,
// with each control byte (below 0x20, and 0x7F) written as a C escape: \n,
// \r, \t, or three octal digits (\033); a line feed that ends the text stays
// as it is.  Stops short rather than overrun sShown or cut an escape in two.
// Returns the number of bytes written; sShown is not terminated.
[[nodiscard]] std::size_t EscapeControls(const char *sText, std::size_t nText, char *sShown,
                                         std::size_t nCapacity);

}  // namespace morvane::platform
