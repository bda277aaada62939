#include "console.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace morvane::platform {

const char *FormatForTerminal(const char *sFormat, std::va_list args, std::size_t *pLength)
{
    // Large enough for the longest argument a command line can hold.
    static char sText[1 << 17];
    static char sShown[1 << 17];
    const std::size_t nText = static_cast<std::size_t>(
        std::clamp<int>(std::vsnprintf(sText, sizeof sText, sFormat, args), 0, sizeof sText - 1));
    std::size_t nShown = 0;
    for (std::size_t i = 0; i < nText; ++i) {
        const auto c = static_cast<unsigned char>(sText[i]);
        char sEscape[5] = {sText[i], '\0'};
        const bool bControl = (c < 0x20 || c == 0x7F) && !(c == '\n' && i + 1 == nText);
        if (bControl && (c == '\n' || c == '\r' || c == '\t'))
            std::snprintf(sEscape, sizeof sEscape, "\\%c", c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        else if (bControl)
            std::snprintf(sEscape, sizeof sEscape, "\\%03o", c);
        const std::size_t nEscape = bControl ? std::strlen(sEscape) : 1;
        if (nShown + nEscape > sizeof sShown)
            break;
        std::memcpy(sShown + nShown, sEscape, nEscape);
        nShown += nEscape;
    }
    *pLength = nShown;
    return sShown;
}

}  // namespace morvane::platform
