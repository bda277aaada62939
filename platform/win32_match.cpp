#include "win32_match.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace morvane::platform {

bool MatchesLongName(const wchar_t *sPattern, const wchar_t *sName)
{
    // The search drops them from the pattern as from any path's last
    // component; "*.txt " finds what "*.txt" does.
    std::size_t nPattern = std::wcslen(sPattern);
    while (nPattern > 0 && (sPattern[nPattern - 1] == L' ' || sPattern[nPattern - 1] == L'.'))
        --nPattern;
    const std::size_t nName = std::min(std::wcslen(sName), FOUND_NAME_CAPACITY - 1);
    std::size_t nLastDot = nName;
    for (std::size_t j = 0; j < nName; ++j)
        nLastDot = sName[j] == L'.' ? j : nLastDot;
    // bRest[j]: the rest of the pattern matches sName from j on, a row of
    // the usual table kept from the pattern's end back to its start.  What a
    // character means hangs on the one after it, dropped or not ("*." ends
    // in a "*" before a dot).
    static bool bRest[FOUND_NAME_CAPACITY], bHere[FOUND_NAME_CAPACITY];
    for (std::size_t j = 0; j <= nName; ++j)
        bRest[j] = j == nName;
    for (std::size_t i = nPattern; i-- > 0;) {
        const wchar_t c = sPattern[i], cNext = sPattern[i + 1];
        for (std::size_t j = nName + 1; j-- > 0;) {
            const bool bEnd = j == nName;
            const bool bNext = !bEnd && bRest[j + 1];
            if (c == L'*')
                bHere[j] = bRest[j] || (!bEnd && (cNext != L'.' || j != nLastDot) && bHere[j + 1]);
            else if (c == L'?')
                bHere[j] = bEnd || sName[j] == L'.' ? bRest[j] : bNext;
            else if (c == L'.')
                bHere[j] = bEnd ? bRest[j] : sName[j] == L'.' && bNext;
            else
                bHere[j] = bNext && SameIgnoringCase(sName[j], c);
        }
        std::memcpy(bRest, bHere, (nName + 1) * sizeof *bRest);
    }
    return bRest[0];
}

}  // namespace morvane::platform
