#include "console.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace morvane::platform {

namespace {

// The length of the well-formed UTF-8 sequence that starts at pText, within
// nText bytes, and its code point in *pCode; 0 when none starts there.  The
// second byte's range hangs on the first, as in RFC 3629's table: that rules
// out overlong forms, surrogates and code points past U+10FFFF, which a
// lenient decoder in a terminal could still take for a control.
std::size_t SequenceLength(const unsigned char *pText, std::size_t nText, char32_t *pCode)
{
    const unsigned char c = pText[0];
    std::size_t nLength = 1;
    unsigned char cLow = 0x80, cHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        nLength = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        nLength = 3, cLow = c == 0xE0 ? 0xA0 : 0x80, cHigh = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        nLength = 4, cLow = c == 0xF0 ? 0x90 : 0x80, cHigh = c == 0xF4 ? 0x8F : 0xBF;
    else if (c >= 0x80)
        return 0;
    if (nLength > nText)
        return 0;
    char32_t cCode = c & (0x7F >> (nLength == 1 ? 0 : nLength));
    for (std::size_t i = 1; i < nLength; ++i) {
        if (pText[i] < cLow || pText[i] > cHigh)
            return 0;
        cCode = cCode << 6 | (pText[i] & 0x3F);
        cLow = 0x80, cHigh = 0xBF;
    }
    *pCode = cCode;
    return nLength;
}

// Unicode 15.0's Default_Ignorable_Code_Point (DerivedCoreProperties.txt,
// adjacent ranges joined): the characters that a terminal shows as nothing
// (zero-width spaces and joiners, the soft hyphen, variation selectors,
// tags), with which one name can show as another.  The bidirectional
// controls are among them.
constexpr char32_t IGNORABLE[][2] = {
    {0x00AD, 0x00AD},   {0x034F, 0x034F},  {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
    {0x180B, 0x180F},   {0x200B, 0x200F},  {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
    {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},  {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFF8}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};

// Characters that a terminal acts on or hides rather than shows: the C1
// controls (C2 9B is CSI to a UTF-8 terminal), the line and paragraph
// separators, and the ignorable ones.
bool Hidden(char32_t cCode)
{
    if ((cCode >= 0x80 && cCode <= 0x9F) || cCode == 0x2028 || cCode == 0x2029)
        return true;
    for (const auto &range : IGNORABLE)
        if (cCode >= range[0] && cCode <= range[1])
            return true;
    return false;
}

}  // namespace

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
    for (std::size_t i = 0, nSequence; i < nText; i += nSequence) {
        const auto *pText = reinterpret_cast<const unsigned char *>(sText + i);
        char32_t cCode = 0;
        nSequence = SequenceLength(pText, nText - i, &cCode);
        const bool bEscaped =
            nSequence == 0 || cCode < 0x20 || cCode == 0x7F || cCode == '\\' || Hidden(cCode);
        nSequence = std::max<std::size_t>(nSequence, 1);
        // A character is shown whole or not at all, and so is its escape.
        char sEscape[4 * 4 + 1];
        std::size_t nEscape = 0;
        if (!bEscaped) {
            std::memcpy(sEscape, pText, nEscape = nSequence);
        } else if (cCode == '\n' || cCode == '\r' || cCode == '\t' || cCode == '\\') {
            sEscape[nEscape++] = '\\';
            sEscape[nEscape++] = cCode == '\n'   ? 'n'
                                 : cCode == '\r' ? 'r'
                                 : cCode == '\t' ? 't'
                                                 : '\\';
        } else {
            for (std::size_t j = 0; j < nSequence; ++j)
                nEscape += static_cast<std::size_t>(
                    std::snprintf(sEscape + nEscape, sizeof sEscape - nEscape, "\\%03o", pText[j]));
        }
        if (nShown + nEscape > nRoom)
            break;
        std::memcpy(sShown + nShown, sEscape, nEscape);
        nShown += nEscape;
    }
    if (bLineEnd)
        sShown[nShown++] = '\n';
    *pLength = nShown;
    return sShown;
}

}  // namespace morvane::platform
