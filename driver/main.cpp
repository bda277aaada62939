// morvane: converts text files in place from LF to CR line ends.
#include <cinttypes>
#include <cstdio>

#include "conversion.h"
#include "platform.h"

namespace {

// One tally line: "<count> <noun>[s]<tail>.", the noun plural unless exactly 1.
void PrintCount(std::int64_t lCount, const char *sNoun, const char *sTail)
{
    morvane::platform::Print(stdout, "%" PRId64 " %s%s%s.\n", lCount, sNoun, lCount == 1 ? "" : "s",
                             sTail);
}

}  // namespace

int main(int argc, char **argv)
{
    using namespace morvane;
    platform::StartProcess();
    if (argc <= 1) {
        platform::Print(stdout, "Usage: morvane <wildcard1> [ <wildcard2> ...]\n");
        return 1;
    }
    platform::Print(stdout, "morvane Version 1.01 (Quenfield) 13-Mar-98\n");
    for (int i = 1; i < argc && !platform::Interrupted(); ++i)
        ProcessWildcard(argv[i]);
    PrintCount(lFilesConverted, "file", " converted");
    PrintCount(lLinesConverted, "total line", " converted");
    PrintCount(lErrors, "error", "");
    PrintCount(lWarnings, "warning", "");
    platform::EndIfInterrupted();
    return platform::ExitStatus(lErrors);
}
