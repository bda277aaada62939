#include "console.h"

#include <cstdio>
#include <cstring>

namespace morvane::platform {

std::size_t EscapeControls(const char *sText, std::size_t nText, char *sShown,
                           std::size_t nCapacity)
{
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
        if (nShown + nEscape > nCapacity)
            break;
        std::memcpy(sShown + nShown, sEscape, nEscape);
        nShown += nEscape;
    }
    return nShown;
}

}  // namespace morvane::platform
