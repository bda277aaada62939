// POSIX implementation of the platform interface: what every POSIX system
// shares.  What each does its own way is behind posix_system.h.
#include "console.h"
#include "platform.h"
#include "posix_system.h"
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::platform {

const int ERROR_NAME_TOO_LONG = ENAMETOOLONG;
const int ERROR_INTERRUPTED = EINTR;
const int ERROR_CHANGED = EBUSY;
const int ERROR_NOT_A_FILE = -1;

bool OutOfRoom(int iError)
{
    return iError == ENOSPC || iError == EDQUOT || iError == EMFILE || iError == ENFILE;
}

namespace {

int iLastError = 0;
volatile std::sig_atomic_t iInterrupt = 0;  // the signal that interrupted the run
bool bTerminalOut, bTerminalError;

extern "C" void OnInterrupt(int iSignal)
{
    iInterrupt = iSignal;
}

// Saves errno as the error of the operation that is failing; returns false.
bool Fail()
{
    iLastError = errno;
    return false;
}

}  // namespace

struct Search {
    std::size_t nPrefix;  // of the wildcard, and so of every composed name
    int iDirectory;
    char *pNames;   // the matching names, each ending in its zero
    char **ppList;  // the same in byte order
    std::size_t nList;
    std::size_t iNext;
    const char *sExact;  // set when an entry has the pattern's exact name
};

namespace {

Search gSearch;

// Lists the entries of the search's folder whose names match sPattern, in
// byte order, reading the folder through the search's own descriptor.
// False, errno set, when the folder cannot be read to its end.
bool ListMatches(Search *pSearch, const char *sPattern)
{
    const int iCopy = fcntl(pSearch->iDirectory, F_DUPFD_CLOEXEC, 0);
    DIR *pFolder = iCopy < 0 ? nullptr : fdopendir(iCopy);
    if (pFolder == nullptr) {
        if (iCopy >= 0)
            close(iCopy);
        return false;
    }
    std::size_t nBytes = 0, nCapacity = 0;
    bool bWhole = true;
    for (;;) {
        errno = 0;
        const dirent *pEntry = readdir(pFolder);
        if (pEntry == nullptr) {
            bWhole = errno == 0;
            break;
        }
        if (fnmatch(sPattern, pEntry->d_name, 0) != 0)
            continue;
        const std::size_t nName = std::strlen(pEntry->d_name) + 1;
        if (nBytes + nName > nCapacity) {
            nCapacity = std::max(2 * nCapacity, nBytes + nName + 4096);
            char *pMore = static_cast<char *>(std::realloc(pSearch->pNames, nCapacity));
            if (pMore == nullptr) {
                bWhole = false;
                break;
            }
            pSearch->pNames = pMore;
        }
        std::memcpy(pSearch->pNames + nBytes, pEntry->d_name, nName);
        nBytes += nName;
        ++pSearch->nList;
    }
    const int iError = errno;
    closedir(pFolder);
    pSearch->ppList = bWhole ? static_cast<char **>(std::malloc(
                                   std::max<std::size_t>(pSearch->nList, 1) * sizeof(char *)))
                             : nullptr;
    if (pSearch->ppList == nullptr) {
        pSearch->nList = 0;
        errno = bWhole ? ENOMEM : iError;
        return false;
    }
    for (std::size_t i = 0, nAt = 0; i < pSearch->nList;
         nAt += std::strlen(pSearch->ppList[i++]) + 1)
        pSearch->ppList[i] = pSearch->pNames + nAt;
    std::qsort(pSearch->ppList, pSearch->nList, sizeof(char *), [](const void *pA, const void *pB) {
        return std::strcmp(*static_cast<char *const *>(pA), *static_cast<char *const *>(pB));
    });
    return true;
}

// The folder's own spelling of sName, a regular file (info): on a volume
// that ignores case (FAT, macOS's own) or otherwise folds names, a name
// given in another spelling finds the file, which must keep the name it has
// and be shown by it.  sName when the folder holds that spelling, or cannot
// be read.  The folder is read only where the name's letters, their case
// turned, name a file too: a volume that minds case costs one more look.
const char *StoredName(int iDirectory, const char *sName, const struct stat &info)
{
    static char sStored[NAME_CAPACITY];
    const std::size_t nName = std::strlen(sName);
    if (nName >= sizeof sStored)
        return sName;
    bool bLetters = false, bWide = false;
    for (std::size_t i = 0; i <= nName; ++i) {
        const char c = sName[i];
        const bool bLetter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        sStored[i] = bLetter ? static_cast<char>(c ^ 0x20) : c;
        bLetters |= bLetter;
        bWide |= static_cast<unsigned char>(c) >= 0x80;
    }
    struct stat other;
    if (bLetters ? fstatat(iDirectory, sStored, &other, AT_SYMLINK_NOFOLLOW) != 0 : !bWide)
        return sName;
    const int iCopy = fcntl(iDirectory, F_DUPFD_CLOEXEC, 0);
    DIR *pFolder = iCopy < 0 ? nullptr : fdopendir(iCopy);
    if (pFolder == nullptr) {
        if (iCopy >= 0)
            close(iCopy);
        return sName;
    }
    // The exact spelling first (one of two hard links may be given), then
    // the one that differs in case alone (through FUSE every spelling has an
    // inode number of its own), then the one with the file's inode number
    // (a case or a form that only the volume folds: É for é).
    int iBest = 0;
    for (const dirent *pEntry; iBest < 3 && (pEntry = readdir(pFolder)) != nullptr;) {
        const int iRank = std::strcmp(pEntry->d_name, sName) == 0  ? 3
                          : strcasecmp(pEntry->d_name, sName) == 0 ? 2
                          : pEntry->d_ino == info.st_ino           ? 1
                                                                   : 0;
        if (iRank > iBest && std::strlen(pEntry->d_name) < sizeof sStored) {
            iBest = iRank;
            std::strcpy(sStored, pEntry->d_name);
        }
    }
    closedir(pFolder);
    if (iBest == 1 && (fstatat(iDirectory, sStored, &other, AT_SYMLINK_NOFOLLOW) != 0 ||
                       other.st_dev != info.st_dev || other.st_ino != info.st_ino))
        iBest = 0;
    return iBest == 1 || iBest == 2 ? sStored : sName;
}

// The entry's own name within a composed name: what is looked up in the
// searched directory.
const char *EntryName(const Search *pSearch, const char *sName)
{
    return sName + pSearch->nPrefix;
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

// Each output's file as it was created, for OutputIntact, KeepModel and a
// put-back; and the private name it has while it is put back.
struct Created {
    int iDirectory;
    const char *sName;
    struct stat info;
    std::int64_t lReadTime;  // its modification time when read again, or -1
    char sPlace[48];
} aCreated[FLIGHT_CAPACITY];

Created &CreatedOf(const Stream *pOutput)
{
    return aCreated[pOutput - gOutputs];
}

}  // namespace

void StartProcess()
{
    // A reader that goes away (morvane ... | head) must not kill a conversion
    // halfway; console write failures are ignored instead.  A write beyond
    // the file-size limit fails with EFBIG, reported as any failed write.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Restarted calls: an interrupt is seen between chunks and files, never
    // as a failure of whatever call it happened to arrive in.  A signal
    // ignored by whoever started us (nohup, a background job) stays ignored.
    // A CPU-time limit warns with SIGXCPU a second before it kills: time
    // enough to wind up as after Ctrl-C.
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int iSignal : {SIGINT, SIGTERM, SIGHUP, SIGXCPU}) {
        struct sigaction previous {};
        if (sigaction(iSignal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
            sigaction(iSignal, &action, nullptr);
    }
    posix::StartSystem();
    bTerminalOut = isatty(STDOUT_FILENO) == 1;
    bTerminalError = isatty(STDERR_FILENO) == 1;
}

bool Interrupted()
{
    return iInterrupt != 0;
}

void EndIfInterrupted()
{
    const int iSignal = iInterrupt;
    if (iSignal == 0)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    std::signal(iSignal, SIG_DFL);
    std::raise(iSignal);
    _exit(128 + iSignal);
}

void Print(std::FILE *pStream, const char *sFormat, ...)
{
    std::va_list args;
    va_start(args, sFormat);
    if (!(pStream == stdout ? bTerminalOut : bTerminalError)) {
        std::vfprintf(pStream, sFormat, args);
        va_end(args);
        return;
    }
    std::size_t nShown;
    const char *sShown = FormatForTerminal(sFormat, args, &nShown);
    va_end(args);
    std::fwrite(sShown, 1, nShown, pStream);
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
    if (iError == ERROR_NOT_A_FILE)
        return "Not a regular file";
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
    *pSearch = Search{nPrefix, OpenDirectory(sWildcard, nPrefix), nullptr, nullptr, 0, 0, nullptr};
    if (pSearch->iDirectory < 0)
        return nullptr;
    posix::WatchFolder(pSearch->iDirectory);
    // A file named exactly means that file, even when it holds [, * or ?; a
    // link, pipe or folder of that name does not hide the pattern's matches.
    struct stat info;
    if (fstatat(pSearch->iDirectory, sPattern, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
        pSearch->sExact = StoredName(pSearch->iDirectory, sPattern, info);
    } else if (!ListMatches(pSearch, sPattern)) {
        FindClose(pSearch);
        return nullptr;
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
            sName = pSearch->ppList[pSearch->iNext++];
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
        if (nName >= NAME_CAPACITY)
            continue;
        pEntry->uAttributes = S_ISDIR(info.st_mode) ? ATTRIBUTE_DIRECTORY : 0;
        std::memcpy(pEntry->sName, sName, nName + 1);
        return true;
    }
}

void FindClose(Search *pSearch)
{
    posix::AwaitClosing();
    std::free(pSearch->ppList);
    std::free(pSearch->pNames);
    close(pSearch->iDirectory);
    *pSearch = Search{0, -1, nullptr, nullptr, 0, 0, nullptr};
}

bool SameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {

bool RenameWithin(int iDirectory, const char *sFrom, const char *sTo);

// Takes the name sName away from the file expected in one step, so that no
// other program's file can lose it: the name is renamed onto a placeholder
// that this process has just made, which is all that the rename can
// replace, and what it took is then looked at.  0 when it was the expected
// file, which the placeholder sPlace (48 bytes) now names; otherwise what
// it took (an editor's save that came meanwhile) goes back under sName by a
// rename that replaces nothing, and ERROR_CHANGED is returned, or the errno
// of taking.
int TakeName(int iDirectory, const char *sName, const struct stat &expected, char *sPlace)
{
    // A name of this process's own, made anew each time: one left over (a
    // failed unlink, a killed run with the same number) is passed by.
    static unsigned uPlaces = 0;
    int iPlace = -1;
    for (int iTry = 0; iPlace < 0 && iTry < 100; ++iTry) {
        std::snprintf(sPlace, 48, ".morvane-%ld-%u.tmp", static_cast<long>(getpid()), uPlaces++);
        iPlace =
            openat(iDirectory, sPlace, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (iPlace < 0 && errno != EEXIST)
            break;
    }
    if (iPlace < 0)
        return errno;
    struct stat place, taken;
    if (fstat(iPlace, &place) != 0 || close(iPlace) != 0 ||
        renameat(iDirectory, sName, iDirectory, sPlace) != 0) {
        const int iError = errno;
        unlinkat(iDirectory, sPlace, 0);
        return iError;
    }
    if (fstatat(iDirectory, sPlace, &taken, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;  // what the rename took stays, under the placeholder
    if (SameFile(taken, expected))
        return 0;
    // Another program's file, or the placeholder itself where the rename
    // only seemed to take the name.  Where yet another file has taken sName
    // since, this one stays under the placeholder rather than replace it.
    if (SameFile(taken, place))
        unlinkat(iDirectory, sPlace, 0);
    else
        static_cast<void>(RenameWithin(iDirectory, sPlace, sName));
    return ERROR_CHANGED;
}

// After sTo was linked to sFrom's file: takes the name sFrom away from that
// file, so that only sTo names it.
bool TakeOldName(int iDirectory, const char *sFrom, const char *sTo)
{
    struct stat linked, taken;
    if (fstatat(iDirectory, sTo, &linked, AT_SYMLINK_NOFOLLOW) != 0)
        return Fail();
    char sPlace[48];
    iLastError = TakeName(iDirectory, sFrom, linked, sPlace);
    if (iLastError == 0) {
        unlinkat(iDirectory, sPlace, 0);
        return true;
    }
    // The link goes again only while sFrom still names the file, whose one
    // name it may otherwise be.
    if (fstatat(iDirectory, sFrom, &taken, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(taken, linked))
        unlinkat(iDirectory, sTo, 0);
    return false;
}

// Renames sFrom to sTo, both in the folder iDirectory; fails, renaming
// nothing, when sTo exists.
bool RenameWithin(int iDirectory, const char *sFrom, const char *sTo)
{
    if (posix::RenameExclusive(iDirectory, sFrom, sTo) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return Fail();
    // The filesystem refuses the flag: a hard link cannot replace either.
    if (linkat(iDirectory, sFrom, iDirectory, sTo, 0) == 0)
        return TakeOldName(iDirectory, sFrom, sTo);
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS &&
        errno != EXDEV)
        return Fail();
    // Nor hard links (FAT and exFAT through FUSE, some network filesystems):
    // the new name must be free, then a plain rename.  Another program that
    // creates the name between the two would see its file replaced; on such
    // a filesystem nothing can close that window.
    struct stat info;
    if (fstatat(iDirectory, sTo, &info, AT_SYMLINK_NOFOLLOW) == 0)
        errno = EEXIST;
    else if (errno == ENOENT && renameat(iDirectory, sFrom, iDirectory, sTo) == 0)
        return true;
    return Fail();
}

// True when sEntry, in the folder iDirectory, names pInput's file; false,
// with ERROR_CHANGED or the error of looking saved, otherwise.
bool NamesFile(int iDirectory, const char *sEntry, const Stream *pInput)
{
    struct stat info;
    if (fstatat(iDirectory, sEntry, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Fail();
    if (info.st_dev == static_cast<dev_t>(pInput->uVolume) &&
        info.st_ino == static_cast<ino_t>(pInput->uIndex))
        return true;
    iLastError = ERROR_CHANGED;
    return false;
}

}  // namespace

bool RenameNoReplace(const Search *pSearch, const char *sFrom, const char *sTo)
{
    return RenameWithin(pSearch->iDirectory, EntryName(pSearch, sFrom), EntryName(pSearch, sTo));
}

bool DeleteInput(const Search *pSearch, Stream *pInput, const char *sName)
{
    // A file that another program saved under the backup's name meanwhile
    // is that program's, not the backup.  Deleted while still open, so that
    // the name goes at once and the storage on the last close, which may be
    // made away from this thread.
    const char *sEntry = EntryName(pSearch, sName);
    const bool bDeleted = NamesFile(pSearch->iDirectory, sEntry, pInput) &&
                          (unlinkat(pSearch->iDirectory, sEntry, 0) == 0 || Fail());
    const int iFile = static_cast<int>(pInput->iFile);
    posix::DropWatch(iFile);
    if (bDeleted)
        posix::CloseDeleted(iFile, pInput->lOpenSize);
    else
        close(iFile);
    pInput->iFile = -1;
    return bDeleted;
}

std::ptrdiff_t ReadSome(std::intptr_t iFile, void *pBuffer, std::size_t nSize, std::int64_t lAt)
{
    for (;;) {
        const ssize_t nRead = lAt < 0 ? read(static_cast<int>(iFile), pBuffer, nSize)
                                      : pread(static_cast<int>(iFile), pBuffer, nSize, lAt);
        if (nRead >= 0 || errno != EINTR)
            return nRead >= 0 ? nRead : (Fail(), -1);
    }
}

bool WriteAll(std::intptr_t iFile, const unsigned char *pData, std::size_t nSize)
{
    while (nSize > 0) {
        const ssize_t nWritten = write(static_cast<int>(iFile), pData, nSize);
        if (nWritten < 0 && errno == EINTR)
            continue;
        if (nWritten == 0)
            errno = ENOSPC;  // stored nothing and said nothing
        if (nWritten <= 0)
            return Fail();
        pData += nWritten;
        nSize -= static_cast<std::size_t>(nWritten);
    }
    return true;
}

Stream *OpenInput(const Search *pSearch, const char *sName)
{
    // Non-blocking so that a pipe slipped in under the name cannot hang us.
    // A regular file's open that would wait for another program's lease to
    // be given up is tried again until it is, as a blocking open waits (the
    // kernel gives the lease up itself after fs.lease-break-time), but an
    // interrupt ends the wait.
    const char *sEntry = EntryName(pSearch, sName);
    int iFile;
    struct stat info;
    for (;;) {
        iFile = openat(pSearch->iDirectory, sEntry, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (iFile >= 0 || errno != EWOULDBLOCK)
            break;
        if (fstatat(pSearch->iDirectory, sEntry, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            errno = ENXIO;
            break;
        }
        if (Interrupted()) {
            errno = EINTR;
            break;
        }
        const timespec pause{0, 10000000};
        nanosleep(&pause, nullptr);
    }
    if (iFile < 0 || fstat(iFile, &info) != 0) {
        Fail();
        if (iFile >= 0)
            close(iFile);
        else if (iLastError == ELOOP || iLastError == ENXIO)  // a link, a socket
            iLastError = ERROR_NOT_A_FILE;
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        close(iFile);
        iLastError = ERROR_NOT_A_FILE;
        return nullptr;
    }
    if (info.st_size > static_cast<off_t>(INPUT_BUFFER_SIZE))
        posix::AdviseSequential(iFile, info.st_size);
    Stream *pInput = IdleStream(gInputs);
    if (pInput == nullptr) {
        close(iFile);
        iLastError = EMFILE;
        return nullptr;
    }
    StartStream(pInput, iFile);
    pInput->bWatched = posix::Watch(iFile);
    pInput->bBusy = !pInput->bWatched && errno == EAGAIN;
    pInput->uMode = info.st_mode;
    pInput->uVolume = info.st_dev;
    pInput->uIndex = info.st_ino;
    pInput->uOwner = info.st_uid;
    pInput->uGroup = info.st_gid;
    pInput->lOpenSize = info.st_size;
    pInput->lOpenTime = posix::ModificationTime(info);
    return pInput;
}

bool InputUnchanged(const Stream *pInput)
{
    const int iFile = static_cast<int>(pInput->iFile);
    if (pInput->bBusy || (pInput->bWatched && posix::Disturbed(iFile))) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    struct stat info;
    if (fstat(iFile, &info) != 0)
        return Fail();
    if (info.st_size == pInput->lOpenSize && posix::ModificationTime(info) == pInput->lOpenTime)
        return true;
    iLastError = ERROR_CHANGED;
    return false;
}

bool Vouched(const Stream *, const Stream *)
{
    return false;
}

bool ComparesEarly(const Search *, const Stream *pInput)
{
    return posix::LocalFolder() && pInput->bWatched && !pInput->bBusy;
}

bool ReadFromStart(Stream *pStream)
{
    const int iFile = static_cast<int>(pStream->iFile);
    if (pStream >= gOutputs && pStream < gOutputs + FLIGHT_CAPACITY) {
        struct stat info;
        if (fstat(iFile, &info) != 0)
            return Fail();
        CreatedOf(pStream).lReadTime = posix::ModificationTime(info);
    }
    posix::AdviseRereading(iFile);
    StartReading(pStream);
    return true;
}

void CloseInput(Stream *pInput)
{
    posix::DropWatch(static_cast<int>(pInput->iFile));
    close(static_cast<int>(pInput->iFile));
    pInput->iFile = -1;
}

Stream *OpenOutput(const Search *pSearch, const char *sName, const Stream *)
{
    Stream *pOutput = IdleStream(gOutputs);
    if (pOutput == nullptr) {
        iLastError = EMFILE;
        return nullptr;
    }
    // Never emptied: whatever appeared under the name since the rename is
    // another program's file, or the backup itself through a hard link.
    // Readable too, so that it can be compared with the backup.
    Created &created = CreatedOf(pOutput);
    created.iDirectory = pSearch->iDirectory;
    created.sName = EntryName(pSearch, sName);
    const int iFile = openat(created.iDirectory, created.sName,
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (iFile < 0 || fstat(iFile, &created.info) != 0) {
        Fail();
        if (iFile >= 0)
            close(iFile);
        return nullptr;
    }
    created.lReadTime = -1;
    StartStream(pOutput, iFile);
    pOutput->bWatched = pOutput->bBusy = false;
    return pOutput;
}

bool KeepModel(Stream *pOutput, const Stream *pModel)
{
    // The owner bits alone are safe whoever ends up owning the file.  Group
    // and other bits, and the ACL that can grant more than the bits show,
    // only once the original group is carried over and the ACL copied
    // exactly; otherwise nothing inherited from the directory stays either.
    // The attributes come first: the kernel lets only a user who may write
    // the file set a user one, and the original's ACL or bits may let its
    // owner only read it; so may a umask or a folder's default ACL have
    // made the new file.
    const int iFile = static_cast<int>(pOutput->iFile);
    const int iModel = static_cast<int>(pModel->iFile);
    const struct stat &info = CreatedOf(pOutput).info;
    const bool bGroupKept = (info.st_uid == pModel->uOwner && info.st_gid == pModel->uGroup) ||
                            fchown(iFile, pModel->uOwner, pModel->uGroup) == 0 ||
                            fchown(iFile, -1, pModel->uGroup) == 0 || info.st_gid == pModel->uGroup;
    if (((info.st_mode & S_IWUSR) == 0 && fchmod(iFile, S_IRUSR | S_IWUSR) != 0) ||
        !posix::KeepAttributes(iModel, iFile))
        return Fail();
    const bool bAccessKept = posix::KeepAccess(iModel, iFile, bGroupKept);
    fchmod(iFile, pModel->uMode & (bAccessKept ? 0777 : 0700));
    return true;
}

std::size_t SyncCapacity()
{
    return std::max<std::size_t>(1, std::min(posix::ForcingCapacity(), FLIGHT_CAPACITY));
}

void CloseBackupsAtOnce()
{
    posix::CloseAtOnce();
}

bool StartSync(Stream *pOutput, const Search *pSearch)
{
    if (!FlushOutput(pOutput))
        return false;
    // Where the system cannot begin it, FinishSync forces the file itself.
    pOutput->bForcing = SyncCapacity() > 1 && posix::StartForcing(static_cast<int>(pOutput->iFile),
                                                                  pSearch->iDirectory) == 0;
    return true;
}

bool FinishSync(Stream *pOutput, const Search *pSearch)
{
    const int iFile = static_cast<int>(pOutput->iFile);
    int iFolderError = 0;
    if (pOutput->bForcing) {
        pOutput->bForcing = false;
        if (posix::AwaitForcing(iFile, &iFolderError) != 0) {
            pOutput->bFailed = true;
            return Fail();
        }
    } else {
        if (posix::ForceData(iFile) != 0) {
            pOutput->bFailed = true;
            return Fail();
        }
        iFolderError = fsync(pSearch->iDirectory) == 0 ? 0 : errno;
    }
    // Some filesystems cannot force a directory at all; the file's own data
    // is safe by then, and they say so with these.
    if (iFolderError != 0 && iFolderError != EINVAL && iFolderError != EROFS &&
        iFolderError != ENOTSUP && iFolderError != EOPNOTSUPP) {
        iLastError = iFolderError;
        return false;
    }
    if (!OutputIntact(pOutput)) {
        pOutput->bFailed = true;
        return false;
    }
    return true;
}

bool OutputIntact(const Stream *pOutput)
{
    // Before the first block nothing is there to lose: the check once all
    // is written sees whatever came to the file meanwhile.
    if (pOutput->lWritten == 0 && pOutput->nEnd > 0)
        return true;
    const Created &created = CreatedOf(pOutput);
    struct stat info;
    const bool bGone = fstatat(created.iDirectory, created.sName, &info, AT_SYMLINK_NOFOLLOW) != 0;
    if (bGone && errno != ENOENT)
        return Fail();
    // Once read again to be compared, a write in place shows in its time
    // alone (where the filesystem's times are finer than the write's pace).
    if (bGone || !SameFile(info, created.info) || info.st_size != pOutput->lWritten ||
        (created.lReadTime >= 0 && posix::ModificationTime(info) != created.lReadTime)) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    return true;
}

bool CloseOutput(Stream *pOutput)
{
    // A forcing still under way holds the file's number in the ring.
    if (pOutput->bForcing) {
        int iFolderError;
        static_cast<void>(posix::AwaitForcing(static_cast<int>(pOutput->iFile), &iFolderError));
        pOutput->bForcing = false;
    }
    const bool bClosed = close(static_cast<int>(pOutput->iFile)) == 0 || Fail();
    pOutput->iFile = -1;
    return bClosed;
}

bool NamesInput(const Search *pSearch, const Stream *pInput, const char *sName)
{
    return NamesFile(pSearch->iDirectory, EntryName(pSearch, sName), pInput);
}

namespace {

void CloseHidden(Stream *pOutput)
{
    posix::DropWatch(static_cast<int>(pOutput->iFile));
    close(static_cast<int>(pOutput->iFile));
    pOutput->iFile = -1;
}

}  // namespace

bool HideOutput(const Search *pSearch, Stream *pOutput, const char *sName)
{
    Created &created = CreatedOf(pOutput);
    int iFile = static_cast<int>(pOutput->iFile);
    if (pOutput->bForcing) {
        int iFolderError;
        static_cast<void>(posix::AwaitForcing(iFile, &iFolderError));
        pOutput->bForcing = false;
    }
    // Closed first: morvane's own open to write would keep the watch below
    // from being taken.
    close(iFile);
    pOutput->iFile = -1;
    iLastError =
        TakeName(created.iDirectory, EntryName(pSearch, sName), created.info, created.sPlace);
    if (iLastError != 0)
        return false;
    struct stat info;
    iFile =
        openat(created.iDirectory, created.sPlace, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    pOutput->iFile = iFile;
    if (iFile < 0 || fstat(iFile, &info) != 0) {
        Fail();
        RevealOutput(pSearch, pOutput, sName);
        return false;
    }
    pOutput->bWatched = posix::Watch(iFile);
    const bool bWriter = !pOutput->bWatched && errno == EAGAIN;
    // A write cut short may have left part of its block behind it.
    if (bWriter || !SameFile(info, created.info) ||
        info.st_size > pOutput->lWritten + static_cast<std::int64_t>(pOutput->nEnd)) {
        RevealOutput(pSearch, pOutput, sName);
        iLastError = ERROR_CHANGED;
        return false;
    }
    pOutput->lWritten = info.st_size;
    return true;
}

bool HiddenUnwritten(const Stream *pOutput)
{
    const int iFile = static_cast<int>(pOutput->iFile);
    struct stat info;
    if (fstat(iFile, &info) != 0)
        return Fail();
    if ((pOutput->bWatched && posix::Disturbed(iFile)) || info.st_size != pOutput->lWritten) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    return true;
}

void RevealOutput(const Search *pSearch, Stream *pOutput, const char *sName)
{
    const Created &created = CreatedOf(pOutput);
    const int iError = iLastError;
    if (pOutput->iFile >= 0)
        CloseHidden(pOutput);
    static_cast<void>(RenameWithin(created.iDirectory, created.sPlace, EntryName(pSearch, sName)));
    iLastError = iError;
}

void DropHidden(Stream *pOutput)
{
    const Created &created = CreatedOf(pOutput);
    CloseHidden(pOutput);
    unlinkat(created.iDirectory, created.sPlace, 0);
}

bool RenameBack(const Search *pSearch, Stream *pInput, const char *sBackupName, const char *sName,
                bool *pGone)
{
    const int iDirectory = pSearch->iDirectory;
    const char *sBackup = EntryName(pSearch, sBackupName);
    const char *sOwn = EntryName(pSearch, sName);
    *pGone = false;
    if (pInput == nullptr)
        return RenameWithin(iDirectory, sBackup, sOwn);
    // Given up first: a program that opens the file under its own name again
    // must not wait for morvane's lease.
    struct stat original {};
    original.st_dev = static_cast<dev_t>(pInput->uVolume);
    original.st_ino = static_cast<ino_t>(pInput->uIndex);
    CloseInput(pInput);
    if (!NamesFile(iDirectory, sBackup, pInput)) {
        *pGone = true;
        return false;
    }
    // Where the filesystem has hard links, the backup is linked under its
    // name, and only then is the backup's name taken away, while it still
    // names the original: whatever takes the name afterwards (an editor's
    // save) is never moved.
    if (linkat(iDirectory, sBackup, iDirectory, sOwn, 0) != 0) {
        if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS &&
            errno != EXDEV)
            return Fail();
        // Without: the rename, which replaces nothing, after the look above.
        return RenameWithin(iDirectory, sBackup, sOwn);
    }
    char sPlace[48];
    const int iTaken = TakeName(iDirectory, sBackup, original, sPlace);
    if (iTaken == 0) {
        unlinkat(iDirectory, sPlace, 0);
        return true;
    }
    // Another program's file took the backup's name after the link, and the
    // original is back; or before it, and the link to that file goes again
    // while the name still holds it, as it does where the backup's name
    // could not be taken away.
    struct stat linked;
    const bool bLinked = fstatat(iDirectory, sOwn, &linked, AT_SYMLINK_NOFOLLOW) == 0;
    if (iTaken == ERROR_CHANGED && bLinked && SameFile(linked, original))
        return true;
    if (bLinked && TakeName(iDirectory, sOwn, linked, sPlace) == 0)
        unlinkat(iDirectory, sPlace, 0);
    *pGone = iTaken == ERROR_CHANGED;
    iLastError = iTaken;
    return false;
}

}  // namespace morvane::platform
