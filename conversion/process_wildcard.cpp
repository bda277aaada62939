#include "conversion.h"

#include <cstdio>
#include <cstring>

#include "platform.h"

namespace morvane {

namespace {

using platform::PATH_CAPACITY;

// Builds prefix + entry name and the same followed by BACKUP_SUFFIX.
// False, with nothing written, when either would not fit PATH_CAPACITY.
[[nodiscard]] bool ComposeNames(const char *sWildcard, std::size_t nPrefix, const char *sEntryName,
                                char *sPathName, char *sBackupName)
{
    constexpr std::size_t nSuffix = sizeof BACKUP_SUFFIX - 1;
    const std::size_t nName = std::strlen(sEntryName);
    if (nPrefix + nName + nSuffix >= PATH_CAPACITY)
        return false;
    std::memcpy(sPathName, sWildcard, nPrefix);
    std::memcpy(sPathName + nPrefix, sEntryName, nName + 1);
    std::memcpy(sBackupName, sPathName, nPrefix + nName);
    std::memcpy(sBackupName + nPrefix + nName, BACKUP_SUFFIX, nSuffix + 1);
    return true;
}

}  // namespace

void ProcessWildcard(const char *sWildcard)
{
    bool bWriteFailed = false;
    platform::Print(stdout, "Processing wildcard \"%s\"\n", sWildcard);
    platform::DirectoryEntry entry;
    platform::Search *pSearch = platform::FindFirst(sWildcard, &entry);
    if (pSearch == nullptr) {
        platform::Print(stdout, "*** Unable to find any files matching sWildcard: %s\n", sWildcard);
        ++lWarnings;
        return;
    }
    const std::size_t nPrefix = platform::DirectoryPrefixLength(sWildcard);
    do {
        if ((entry.uAttributes & platform::ATTRIBUTE_DIRECTORY) != 0)
            continue;
        char sPathName[PATH_CAPACITY];
        char sBackupName[PATH_CAPACITY];
        if (!ComposeNames(sWildcard, nPrefix, entry.sName, sPathName, sBackupName)) {
            bWriteFailed = FinishFiles(pSearch);
            if (bWriteFailed)
                break;
            platform::Print(stdout, "%s \n", entry.sName);
            ReportError("Name of input file too long", platform::ERROR_NAME_TOO_LONG);
            platform::Print(stdout, "File name: \"%.*s%s\".\n", static_cast<int>(nPrefix),
                            sWildcard, entry.sName);
            ++lErrors;
            continue;
        }
        bWriteFailed = ConvertFile(pSearch, entry.sName, sPathName, sBackupName);
    } while (!bWriteFailed && !platform::Interrupted() && platform::FindNext(pSearch, &entry));
    static_cast<void>(FinishFiles(pSearch));
    platform::FindClose(pSearch);
}

}  // namespace morvane
