// POSIX (Linux) implementation of the platform interface.
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::platform {

const int ERROR_NAME_TOO_LONG = ENAMETOOLONG;

namespace {

// Large enough that a gigabyte passes in a few thousand system calls, small
// enough to keep the resident set tiny.
constexpr std::size_t STREAM_BUFFER_SIZE = 256 * 1024;

int iLastError = 0;

// Saves errno as the error of the operation that is failing; returns false.
bool Fail()
{
    iLastError = errno;
    return false;
}

}  // namespace

struct Search {
    int iDirectory;
    dirent **ppList;  // matches in byte order of their names
    int nList;
    int iNext;
    const char *sExact;  // set when an entry has the pattern's exact name
};

struct Stream {
    int iFile;
    bool bEnd;
    bool bFailed;
    struct stat info;    // of the input, as a model for the output
    std::size_t nStart;  // input: first unread byte of aBuffer
    std::size_t nEnd;    // input: end of the valid bytes; output: bytes buffered
    unsigned char aBuffer[STREAM_BUFFER_SIZE];
};

namespace {

Search gSearch;
Stream gInput;
Stream gOutput;
const char *sFilterPattern;

int MatchesPattern(const dirent *pEntry)
{
    return fnmatch(sFilterPattern, pEntry->d_name, 0) == 0;
}

int CompareBytes(const dirent **ppA, const dirent **ppB)
{
    return std::strcmp((*ppA)->d_name, (*ppB)->d_name);
}

// Opens the directory that the first nPrefix bytes of sWildcard name.
int OpenDirectory(const char *sWildcard, std::size_t nPrefix)
{
    char sDirectory[PATH_MAX];
    if (nPrefix == 0)
        return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nPrefix >= sizeof sDirectory) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(sDirectory, sWildcard, nPrefix);
    sDirectory[nPrefix] = '\0';
    return open(sDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool WriteAll(int iFile, const unsigned char *pData, std::size_t nSize)
{
    while (nSize > 0) {
        ssize_t nWritten = write(iFile, pData, nSize);
        if (nWritten < 0) {
            if (errno == EINTR)
                continue;
            return Fail();
        }
        if (nWritten == 0) {
            errno = ENOSPC;
            return Fail();
        }
        pData += nWritten;
        nSize -= static_cast<std::size_t>(nWritten);
    }
    return true;
}

bool FlushOutput(Stream *pOutput)
{
    if (pOutput->bFailed)
        return false;
    if (!WriteAll(pOutput->iFile, pOutput->aBuffer, pOutput->nEnd)) {
        pOutput->bFailed = true;
        return false;
    }
    pOutput->nEnd = 0;
    return true;
}

// Forces the entry of sName in its directory to storage.  Filesystems that
// cannot sync a directory, or a directory the process may not open, are
// passed over: the file's own data is already safe by then.
bool SyncDirectoryOf(const char *sName)
{
    int iDirectory = OpenDirectory(sName, DirectoryPrefixLength(sName));
    if (iDirectory < 0)
        return true;
    bool bOk = fsync(iDirectory) == 0 || errno == EINVAL || errno == EROFS || errno == ENOTSUP;
    if (!bOk)
        Fail();
    close(iDirectory);
    return bOk;
}

}  // namespace

void StartProcess()
{
    // A reader that goes away (morvane ... | head) must not kill a conversion
    // halfway; console write failures are ignored instead.
    std::signal(SIGPIPE, SIG_IGN);
}

int ExitStatus(std::int64_t lErrors)
{
    // Only eight bits reach the parent: 256 errors must not read as success.
    return static_cast<int>(std::min<std::int64_t>(lErrors, 255));
}

int LastError()
{
    return iLastError;
}

const char *DescribeError(int iError)
{
    return std::strerror(iError);
}

std::size_t DirectoryPrefixLength(const char *sWildcard)
{
    const char *pSlash = std::strrchr(sWildcard, '/');
    return pSlash == nullptr ? 0 : static_cast<std::size_t>(pSlash - sWildcard) + 1;
}

Search *FindFirst(const char *sWildcard, DirectoryEntry *pEntry)
{
    std::size_t nPrefix = DirectoryPrefixLength(sWildcard);
    const char *sPattern = sWildcard + nPrefix;
    if (*sPattern == '\0')
        return nullptr;
    Search *pSearch = &gSearch;
    *pSearch = Search{OpenDirectory(sWildcard, nPrefix), nullptr, 0, 0, nullptr};
    if (pSearch->iDirectory < 0)
        return nullptr;
    // A name given exactly means that file, even when it holds [, * or ?.
    struct stat info;
    if (fstatat(pSearch->iDirectory, sPattern, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        pSearch->sExact = sPattern;
    } else {
        sFilterPattern = sPattern;
        pSearch->nList =
            scandirat(pSearch->iDirectory, ".", &pSearch->ppList, MatchesPattern, CompareBytes);
        if (pSearch->nList < 0) {
            pSearch->nList = 0;
            pSearch->ppList = nullptr;
        }
    }
    if (!FindNext(pSearch, pEntry)) {
        FindClose(pSearch);
        return nullptr;
    }
    return pSearch;
}

bool FindNext(Search *pSearch, DirectoryEntry *pEntry)
{
    for (;;) {
        const char *sName;
        if (pSearch->sExact != nullptr) {
            sName = pSearch->sExact;
            pSearch->sExact = nullptr;
        } else if (pSearch->iNext < pSearch->nList) {
            sName = pSearch->ppList[pSearch->iNext++]->d_name;
        } else {
            return false;
        }
        // Links, pipes, sockets and devices are not files to convert; a pipe
        // would block the run and a link would be replaced by a copy.
        struct stat info;
        if (fstatat(pSearch->iDirectory, sName, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode))
            continue;
        std::size_t nName = std::strlen(sName);
        if (nName >= PATH_CAPACITY)
            continue;
        pEntry->uAttributes = S_ISDIR(info.st_mode) ? ATTRIBUTE_DIRECTORY : 0;
        std::memcpy(pEntry->sName, sName, nName + 1);
        return true;
    }
}

void FindClose(Search *pSearch)
{
    for (int i = 0; i < pSearch->nList; ++i)
        std::free(pSearch->ppList[i]);
    std::free(pSearch->ppList);
    close(pSearch->iDirectory);
    *pSearch = Search{-1, nullptr, 0, 0, nullptr};
}

bool RenameNoReplace(const char *sFrom, const char *sTo)
{
    if (renameat2(AT_FDCWD, sFrom, AT_FDCWD, sTo, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return Fail();
    // The filesystem refuses the flag: a hard link cannot replace either.
    if (link(sFrom, sTo) != 0)
        return Fail();
    if (unlink(sFrom) != 0) {
        Fail();
        unlink(sTo);
        return false;
    }
    return true;
}

bool Delete(const char *sName)
{
    return unlink(sName) == 0 || Fail();
}

Stream *OpenInput(const char *sName)
{
    // Non-blocking so that a pipe slipped in under the name cannot hang us.
    int iFile = open(sName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (iFile < 0) {
        Fail();
        return nullptr;
    }
    Stream *pInput = &gInput;
    pInput->iFile = iFile;
    pInput->bEnd = pInput->bFailed = false;
    pInput->nStart = pInput->nEnd = 0;
    if (fstat(iFile, &pInput->info) != 0) {
        Fail();
        close(iFile);
        return nullptr;
    }
    posix_fadvise(iFile, 0, 0, POSIX_FADV_SEQUENTIAL);
    return pInput;
}

std::size_t Read(Stream *pInput, void *pBuffer, std::size_t nSize)
{
    auto *pTarget = static_cast<unsigned char *>(pBuffer);
    std::size_t nDone = 0;
    while (nDone < nSize && !pInput->bEnd && !pInput->bFailed) {
        if (pInput->nStart == pInput->nEnd) {
            ssize_t nRead = read(pInput->iFile, pInput->aBuffer, sizeof pInput->aBuffer);
            if (nRead < 0) {
                if (errno == EINTR)
                    continue;
                Fail();
                pInput->bFailed = true;
            } else if (nRead == 0) {
                pInput->bEnd = true;
            }
            pInput->nStart = 0;
            pInput->nEnd = nRead > 0 ? static_cast<std::size_t>(nRead) : 0;
            continue;
        }
        std::size_t nCopy = std::min(nSize - nDone, pInput->nEnd - pInput->nStart);
        std::memcpy(pTarget + nDone, pInput->aBuffer + pInput->nStart, nCopy);
        pInput->nStart += nCopy;
        nDone += nCopy;
    }
    return nDone;
}

bool AtEnd(const Stream *pInput)
{
    return pInput->bEnd;
}

bool ReadFailed(const Stream *pInput)
{
    return pInput->bFailed;
}

void CloseInput(Stream *pInput)
{
    close(pInput->iFile);
    pInput->iFile = -1;
}

Stream *OpenOutput(const char *sName, const Stream *pModel)
{
    int iFile = open(sName, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (iFile < 0) {
        Fail();
        return nullptr;
    }
    // The owner bits alone are safe whoever ends up owning the file; group
    // and other bits only once the original group is carried over.
    const struct stat &model = pModel->info;
    struct stat info;
    bool bGroupKept = fstat(iFile, &info) == 0 && info.st_gid == model.st_gid;
    if (fchown(iFile, model.st_uid, model.st_gid) == 0 || fchown(iFile, -1, model.st_gid) == 0)
        bGroupKept = true;
    fchmod(iFile, model.st_mode & (bGroupKept ? 0777 : 0700));
    Stream *pOutput = &gOutput;
    pOutput->iFile = iFile;
    pOutput->bEnd = pOutput->bFailed = false;
    pOutput->nStart = pOutput->nEnd = 0;
    return pOutput;
}

std::size_t Write(Stream *pOutput, const void *pBuffer, std::size_t nSize)
{
    const auto *pSource = static_cast<const unsigned char *>(pBuffer);
    std::size_t nDone = 0;
    if (pOutput->bFailed)
        return 0;
    while (nDone < nSize) {
        if (pOutput->nEnd == sizeof pOutput->aBuffer && !FlushOutput(pOutput))
            break;
        std::size_t nCopy = std::min(nSize - nDone, sizeof pOutput->aBuffer - pOutput->nEnd);
        std::memcpy(pOutput->aBuffer + pOutput->nEnd, pSource + nDone, nCopy);
        pOutput->nEnd += nCopy;
        nDone += nCopy;
    }
    return nDone;
}

bool SyncOutput(Stream *pOutput, const char *sName)
{
    if (!FlushOutput(pOutput))
        return false;
    if (fdatasync(pOutput->iFile) != 0) {
        pOutput->bFailed = true;
        return Fail();
    }
    return SyncDirectoryOf(sName);
}

bool CloseOutput(Stream *pOutput)
{
    int iFile = pOutput->iFile;
    pOutput->iFile = -1;
    return close(iFile) == 0 || Fail();
}

}  // namespace morvane::platform
