// The Windows wildcard as the system matches it against long names, a rule
// a row, run here against the matcher that morvane.exe uses to drop what
// the search matched by a short name alone: wine's own search does not
// follow every rule (it gives "*." every name).  Case is compared here as
// the C locale does; the rows keep to ASCII.
#include <gtest/gtest.h>

#include <cwctype>

#include "win32_match.h"

namespace morvane::platform {

bool SameIgnoringCase(wchar_t cOne, wchar_t cOther)
{
    return std::towupper(static_cast<wint_t>(cOne)) == std::towupper(static_cast<wint_t>(cOther));
}

}  // namespace morvane::platform

namespace {

struct Row {
    const wchar_t *sPattern, *sName;
    bool bMatches;
    const char *sRule;
};

const Row aRows[] = {
    {L"*.", L"README", true, "*. takes the names without an extension"},
    {L"*.", L".gitignore", false, "*. takes no name with a dot, a leading one included"},
    {L"a*.", L"a.b.c", false, "*. takes no name with a dot"},
    {L"*.txt ", L"a.txt", true, "trailing blanks are dropped from a path's last component"},
    {L"*.txt. .", L"a.txt", true, "trailing dots are dropped from a path's last component"},
    {L"*.*", L"README", true, "a dot is a dot or the name's end (*.* takes every name)"},
    {L"a.*", L"a", true, "a dot is a dot or the name's end (*.* takes every name)"},
    {L"a.*", L"ab", false, "a dot is a dot or the name's end (*.* takes every name)"},
    {L"*.gz", L"a.tar.gz", true, "* takes dots, * before a dot all but the name's last"},
    {L"a?", L"a", true, "? is one character, or none at the name's end"},
    {L"a??.txt", L"ab.txt", true, "? is one character, or none before a dot"},
    {L"a?c", L"a.c", false, "? is one character but a dot"},
    {L"a?", L"abc", false, "? is one character, never a run"},
    {L"*.doc", L"report.docx", false, "an extension is matched whole (the long name)"},
    {L"*.TXT", L"notes.txt", true, "case is ignored"},
};

TEST(LongNameMatcher, FollowsTheSystemRules)
{
    for (const Row &row : aRows)
        EXPECT_EQ(morvane::platform::MatchesLongName(row.sPattern, row.sName), row.bMatches)
            << row.sRule << ": \"" << testing::PrintToString(row.sPattern) << "\" against "
            << testing::PrintToString(row.sName);
}

}  // namespace
