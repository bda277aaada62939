// POSIX (Linux) implementation of the platform interface.
#include "console.h"
#include "platform.h"
#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace morvane::platform {

const int ERROR_NAME_TOO_LONG = ENAMETOOLONG;
const int ERROR_INTERRUPTED = EINTR;
const int ERROR_CHANGED = EBUSY;
const int ERROR_NOT_A_FILE = -1;

namespace {

int iLastError = 0;
volatile std::sig_atomic_t iInterrupt = 0;  // the signal that interrupted the run
bool bTerminalOut, bTerminalError;

extern "C" void OnInterrupt(int iSignal)
{
    iInterrupt = iSignal;
}

// The streams whose file morvane holds a lease on (-1: none), and whether
// another program has opened it since.  A lease is broken by another
// program's open or truncate of the file, never by morvane's own calls.
volatile std::sig_atomic_t iLeasedInput = -1, iLeasedOutput = -1;
volatile std::sig_atomic_t bInputDisturbed, bOutputDisturbed;

// The other program waits in its open until the lease is given up: give
// it up at once, and remember that the file can no longer be vouched for.
// Checking both files copes with two breaks that come as one signal.
extern "C" void OnLeaseBreak(int)
{
    const int iSaved = errno;
    if (iLeasedInput >= 0 && fcntl(iLeasedInput, F_GETLEASE) != F_RDLCK) {
        bInputDisturbed = 1;
        fcntl(iLeasedInput, F_SETLEASE, F_UNLCK);
        iLeasedInput = -1;
    }
    if (iLeasedOutput >= 0 && fcntl(iLeasedOutput, F_GETLEASE) != F_WRLCK) {
        bOutputDisturbed = 1;
        fcntl(iLeasedOutput, F_SETLEASE, F_UNLCK);
        iLeasedOutput = -1;
    }
    errno = iSaved;
}

// Takes a lease of iType on iFile: true when held.  A lease that cannot be
// had because another program has the file open already (for writing, for
// a read lease) marks the file disturbed; one that the system or the
// filesystem does not give leaves only the size-and-time checks.
bool TakeLease(int iFile, int iType, volatile std::sig_atomic_t *pDisturbed)
{
    *pDisturbed = 0;
    if (fcntl(iFile, F_SETLEASE, iType) == 0)
        return true;
    *pDisturbed = errno == EAGAIN;
    return false;
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
    dirent **ppList;  // matches in byte order of their names
    int nList;
    int iNext;
    const char *sExact;  // set when an entry has the pattern's exact name
};

namespace {

Search gSearch;
const char *sFilterPattern;

int MatchesPattern(const dirent *pEntry)
{
    return fnmatch(sFilterPattern, pEntry->d_name, 0) == 0;
}

int CompareBytes(const dirent **ppA, const dirent **ppB)
{
    return std::strcmp((*ppA)->d_name, (*ppB)->d_name);
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

// Nanoseconds since the epoch.
std::int64_t ModificationTime(const struct stat &info)
{
    return info.st_mtim.tv_sec * std::int64_t{1000000000} + info.st_mtim.tv_nsec;
}

// The output's file as it was created, for OutputIntact.
struct {
    int iDirectory;
    const char *sName;
    dev_t iDevice;
    ino_t iInode;
    std::int64_t lTime;  // its modification time after morvane's last write
} gWatch;

// Where Linux keeps a file's access ACL.
constexpr char ACCESS_ACL[] = "system.posix_acl_access";

// Gives iFile the access ACL of iModel, or none when iModel has none (so
// that nothing inherited from the directory's default ACL stays).  False
// when iModel's ACL cannot be read or reproduced.  On a filesystem without
// ACLs there is nothing to copy, and that succeeds.
bool CopyAccessAcl(int iModel, int iFile)
{
    static unsigned char aAcl[8192];  // 1023 entries; a larger ACL is refused, not cut short
    const ssize_t nAcl = fgetxattr(iModel, ACCESS_ACL, aAcl, sizeof aAcl);
    if (nAcl >= 0)
        return fsetxattr(iFile, ACCESS_ACL, aAcl, static_cast<std::size_t>(nAcl), 0) == 0;
    if (errno != ENODATA && errno != ENOTSUP)
        return false;
    return fremovexattr(iFile, ACCESS_ACL) == 0 || errno == ENODATA || errno == ENOTSUP;
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
    // Leases announce their breaks with SIGIO, which would otherwise end us.
    action.sa_handler = OnLeaseBreak;
    sigaction(SIGIO, &action, nullptr);
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
    *pSearch = Search{nPrefix, OpenDirectory(sWildcard, nPrefix), nullptr, 0, 0, nullptr};
    if (pSearch->iDirectory < 0)
        return nullptr;
    // A file named exactly means that file, even when it holds [, * or ?; a
    // link, pipe or folder of that name does not hide the pattern's matches.
    struct stat info;
    if (fstatat(pSearch->iDirectory, sPattern, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
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
        if (nName >= NAME_CAPACITY)
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
    *pSearch = Search{0, -1, nullptr, 0, 0, nullptr};
}

bool RenameNoReplace(const Search *pSearch, const char *sFrom, const char *sTo)
{
    const int iDirectory = pSearch->iDirectory;
    sFrom = EntryName(pSearch, sFrom);
    sTo = EntryName(pSearch, sTo);
    if (renameat2(iDirectory, sFrom, iDirectory, sTo, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return Fail();
    // The filesystem refuses the flag: a hard link cannot replace either.
    // The old name goes only while it still names the linked file: a program
    // that saved a new file under it meanwhile keeps that file, and both
    // names stay as they are.
    if (linkat(iDirectory, sFrom, iDirectory, sTo, 0) == 0) {
        struct stat linked, original;
        if (fstatat(iDirectory, sTo, &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
            fstatat(iDirectory, sFrom, &original, AT_SYMLINK_NOFOLLOW) != 0)
            return Fail();
        if (linked.st_dev != original.st_dev || linked.st_ino != original.st_ino) {
            iLastError = ERROR_CHANGED;
            return false;
        }
        if (unlinkat(iDirectory, sFrom, 0) == 0)
            return true;
        Fail();
        unlinkat(iDirectory, sTo, 0);
        return false;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EXDEV)
        return Fail();
    // Nor hard links (FAT and exFAT through FUSE, some network filesystems):
    // the backup name must be free, then a plain rename.  Another program
    // that creates the name between the two would see its file replaced;
    // on such a filesystem nothing can close that window.
    struct stat info;
    if (fstatat(iDirectory, sTo, &info, AT_SYMLINK_NOFOLLOW) == 0)
        errno = EEXIST;
    else if (errno == ENOENT && renameat(iDirectory, sFrom, iDirectory, sTo) == 0)
        return true;
    return Fail();
}

bool Delete(const Search *pSearch, const char *sName)
{
    return unlinkat(pSearch->iDirectory, EntryName(pSearch, sName), 0) == 0 || Fail();
}

std::ptrdiff_t ReadSome(std::intptr_t iFile, void *pBuffer, std::size_t nSize)
{
    for (;;) {
        const ssize_t nRead = read(static_cast<int>(iFile), pBuffer, nSize);
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
    // Without a lease, another program's write shows only as a later time.
    struct stat info;
    if (iLeasedOutput < 0 && fstat(static_cast<int>(iFile), &info) == 0)
        gWatch.lTime = ModificationTime(info);
    return true;
}

Stream *OpenInput(const Search *pSearch, const char *sName)
{
    // Non-blocking so that a pipe slipped in under the name cannot hang us.
    const int iFile = openat(pSearch->iDirectory, EntryName(pSearch, sName),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
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
        posix_fadvise(iFile, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A read lease is refused while any program has the file open for
    // writing, and broken when one opens it so: either way it has a writer.
    if (TakeLease(iFile, F_RDLCK, &bInputDisturbed))
        iLeasedInput = iFile;
    Stream *pInput = StartStream(&gInput, iFile);
    pInput->uMode = info.st_mode;
    pInput->uOwner = info.st_uid;
    pInput->uGroup = info.st_gid;
    pInput->lOpenSize = info.st_size;
    pInput->lOpenTime = ModificationTime(info);
    return pInput;
}

bool InputUnchanged(const Stream *pInput)
{
    if (bInputDisturbed) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    struct stat info;
    if (fstat(static_cast<int>(pInput->iFile), &info) != 0)
        return Fail();
    if (info.st_size == pInput->lOpenSize && ModificationTime(info) == pInput->lOpenTime)
        return true;
    iLastError = ERROR_CHANGED;
    return false;
}

void CloseInput(Stream *pInput)
{
    iLeasedInput = -1;
    close(static_cast<int>(pInput->iFile));
}

Stream *OpenOutput(const Search *pSearch, const char *sName, const Stream *pModel)
{
    // Never emptied: whatever appeared under the name since the rename is
    // another program's file, or the backup itself through a hard link.
    gWatch.iDirectory = pSearch->iDirectory;
    gWatch.sName = EntryName(pSearch, sName);
    const int iFile = openat(gWatch.iDirectory, gWatch.sName,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat info;
    if (iFile < 0 || fstat(iFile, &info) != 0) {
        Fail();
        if (iFile >= 0)
            close(iFile);
        return nullptr;
    }
    if (TakeLease(iFile, F_WRLCK, &bOutputDisturbed))
        iLeasedOutput = iFile;
    gWatch.iDevice = info.st_dev;
    gWatch.iInode = info.st_ino;
    gWatch.lTime = ModificationTime(info);
    // The owner bits alone are safe whoever ends up owning the file.  Group
    // and other bits, and the access ACL that can grant more than the bits
    // show, only once the original group is carried over and the ACL copied
    // exactly; otherwise nothing inherited from the directory stays either.
    const bool bGroupKept = fchown(iFile, pModel->uOwner, pModel->uGroup) == 0 ||
                            fchown(iFile, -1, pModel->uGroup) == 0 || info.st_gid == pModel->uGroup;
    const bool bAccessKept = bGroupKept && CopyAccessAcl(static_cast<int>(pModel->iFile), iFile);
    if (!bAccessKept)
        fremovexattr(iFile, ACCESS_ACL);
    fchmod(iFile, pModel->uMode & (bAccessKept ? 0777 : 0700));
    return StartStream(&gOutput, iFile);
}

bool SyncOutput(Stream *pOutput, const Search *pSearch)
{
    if (!FlushOutput(pOutput))
        return false;
    if (fdatasync(static_cast<int>(pOutput->iFile)) != 0) {
        pOutput->bFailed = true;
        return Fail();
    }
    // Some filesystems cannot force a directory at all; the file's own data
    // is safe by then, and they say so with these.
    if (fsync(pSearch->iDirectory) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP)
        return Fail();
    if (!OutputIntact(pOutput)) {
        pOutput->bFailed = true;
        return false;
    }
    return true;
}

bool OutputIntact(const Stream *pOutput)
{
    if (bOutputDisturbed) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    // Under a lease only a rename can have come to a file still empty, and
    // the check before the backup is deleted sees that.
    if (pOutput->lWritten == 0 && iLeasedOutput >= 0)
        return true;
    struct stat info;
    const bool bGone = fstatat(gWatch.iDirectory, gWatch.sName, &info, AT_SYMLINK_NOFOLLOW) != 0;
    if (bGone && errno != ENOENT)
        return Fail();
    if (bGone || info.st_dev != gWatch.iDevice || info.st_ino != gWatch.iInode ||
        info.st_size != pOutput->lWritten ||
        (iLeasedOutput < 0 && ModificationTime(info) != gWatch.lTime)) {
        iLastError = ERROR_CHANGED;
        return false;
    }
    return true;
}

bool CloseOutput(Stream *pOutput)
{
    iLeasedOutput = -1;
    return close(static_cast<int>(pOutput->iFile)) == 0 || Fail();
}

}  // namespace morvane::platform
