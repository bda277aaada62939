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
    const int nFormatted = std::vsnprintf(sText, sizeof sText, sFormat, args);
    std::size_t nText = static_cast<std::size_t>(std::clamp<int>(nFormatted, 0, sizeof sText - 1));
    // The line end stays out of the escaping, and has its byte kept for it
    // however much of the text before it must be cut.
    const std::size_t nFormat = std::strlen(sFormat);
    const bool bLineEnd = nFormat > 0 && sFormat[nFormat - 1] == '\n';
    if (bLineEnd && nText > 0 && static_cast<std::size_t>(nFormatted) == nText)
        --nText;
    const std::size_t nRoom = sizeof sShown - (bLineEnd ? 1 : 0);
    std::size_t nShown = 0;
    for (std::size_t i = 0; i < nText; ++i) {
        const auto c = static_cast<unsigned char>(sText[i]);
        const auto cNext = static_cast<unsigned char>(i + 1 < nText ? sText[i + 1] : 0);
        // C1 controls, U+0080 to U+009F, are in UTF-8 C2 80 to C2 9F; a UTF-8
        // terminal acts on them as on ESC sequences (C2 9B is CSI).
        const bool bC1 = c == 0xC2 && cNext >= 0x80 && cNext <= 0x9F;
        char sEscape[9] = {sText[i], '\0'};
        if (bC1)
            std::snprintf(sEscape, sizeof sEscape, "\\302\\%03o", cNext);
        else if (c == '\n' || c == '\r' || c == '\t')
            std::snprintf(sEscape, sizeof sEscape, "\\%c", c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        else if (c < 0x20 || c == 0x7F)
            std::snprintf(sEscape, sizeof sEscape, "\\%03o", c);
        const std::size_t nEscape = std::strlen(sEscape + 1) + 1;
        if (nShown + nEscape > nRoom)
            break;
        std::memcpy(sShown + nShown, sEscape, nEscape);
        nShown += nEscape;
        i += bC1 ? 1 : 0;
    }
    if (bLineEnd)
        sShown[nShown++] = '\n';
    *pLength = nShown;
    return sShown;
}

}  // namespace morvane::platform
