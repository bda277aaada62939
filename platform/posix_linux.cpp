// Linux: the no-replace rename, leases that tell of other programs' opens,
// the access ACL that Linux keeps as an extended attribute, and the other
// extended attributes.
#include "posix_system.h"

#include <cerrno>
#include <csignal>
#include <cstdio>  // renameat2
#include <cstring>

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace morvane::platform::posix {

namespace {

// The files under a lease, [0] the one read and [1] the one written, or -1;
// and whether another program has opened it since.  A lease is broken by
// another program's open or truncate of the file, never by morvane's own
// calls; a read lease only by an open for writing.
constexpr int LEASE[2] = {F_RDLCK, F_WRLCK};
int aFile[2] = {-1, -1};
volatile std::sig_atomic_t aLeased[2] = {-1, -1};
volatile std::sig_atomic_t aBroken[2];

// The other program waits in its open until the lease is given up: give
// it up at once, and remember that the file can no longer be vouched for.
// Looking at both files copes with two breaks that come as one signal.
extern "C" void OnLeaseBreak(int)
{
    const int iSaved = errno;
    for (int i = 0; i < 2; ++i) {
        const int iFile = aLeased[i];
        if (iFile >= 0 && fcntl(iFile, F_GETLEASE) != LEASE[i]) {
            aBroken[i] = 1;
            fcntl(iFile, F_SETLEASE, F_UNLCK);
            aLeased[i] = -1;
        }
    }
    errno = iSaved;
}

// Where Linux keeps a file's access ACL.
constexpr char ACCESS_ACL[] = "system.posix_acl_access";

// The kernel gives no list of attribute names over 64 KiB (XATTR_LIST_MAX:
// a longer one fails with E2BIG, however large the buffer) and takes no
// value over 64 KiB (XATTR_SIZE_MAX), an ACL's included: these hold all it
// can give.
char aNames[1 << 16];
unsigned char aValue[1 << 16];

// Gives iFile the access ACL of iModel, or none when iModel has none.
// False when iModel's ACL cannot be read or reproduced.  On a filesystem
// without ACLs there is nothing to copy, and that succeeds.
bool CopyAccessAcl(int iModel, int iFile)
{
    const ssize_t nAcl = fgetxattr(iModel, ACCESS_ACL, aValue, sizeof aValue);
    if (nAcl >= 0)
        return fsetxattr(iFile, ACCESS_ACL, aValue, static_cast<std::size_t>(nAcl), 0) == 0;
    if (errno != ENODATA && errno != ENOTSUP)
        return false;
    return fremovexattr(iFile, ACCESS_ACL) == 0 || errno == ENODATA || errno == ENOTSUP;
}

// An attribute that the process may not read or set, or that the
// filesystem does not keep (ENOTSUP, which is EOPNOTSUPP here).
bool Refused(int iError)
{
    return iError == EPERM || iError == EACCES || iError == ENOTSUP;
}

int Slot(int iFile)
{
    return aFile[1] == iFile ? 1 : 0;
}

}  // namespace

void StartSystem()
{
    // Leases announce their breaks with SIGIO, which would otherwise end us.
    struct sigaction action {};
    action.sa_handler = OnLeaseBreak;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGIO, &action, nullptr);
}

int RenameExclusive(int iDirectory, const char *sFrom, const char *sTo)
{
    return renameat2(iDirectory, sFrom, iDirectory, sTo, RENAME_NOREPLACE);
}

int ForceData(int iFile)
{
    return fdatasync(iFile);
}

void AdviseSequential(int iFile, std::int64_t)
{
    posix_fadvise(iFile, 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::int64_t ModificationTime(const struct stat &info)
{
    return info.st_mtim.tv_sec * std::int64_t{1000000000} + info.st_mtim.tv_nsec;
}

bool KeepAccess(int iModel, int iFile, bool bGroupKept)
{
    if (bGroupKept && CopyAccessAcl(iModel, iFile))
        return true;
    fremovexattr(iFile, ACCESS_ACL);
    return false;
}

bool KeepAttributes(int iModel, int iFile)
{
    const ssize_t nNames = flistxattr(iModel, aNames, sizeof aNames);
    if (nNames < 0)
        return Refused(errno);
    for (ssize_t i = 0; i < nNames; i += static_cast<ssize_t>(std::strlen(aNames + i)) + 1) {
        const char *sName = aNames + i;
        // The ACL follows its own rule (KeepAccess); a file capability, like
        // set-user-ID, must not survive a change of the file's content.
        if (std::strncmp(sName, "system.", 7) == 0 ||
            std::strcmp(sName, "security.capability") == 0)
            continue;
        const ssize_t nValue = fgetxattr(iModel, sName, aValue, sizeof aValue);
        if (nValue < 0) {
            // One removed since the list was read is not missed.
            if (errno != ENODATA && !Refused(errno))
                return false;
        } else if (fsetxattr(iFile, sName, aValue, static_cast<std::size_t>(nValue), 0) != 0 &&
                   !Refused(errno)) {
            return false;
        }
    }
    return true;
}

bool Watch(int iFile, bool bWriting)
{
    aFile[bWriting] = iFile;
    aLeased[bWriting] = -1;
    aBroken[bWriting] = 0;
    if (fcntl(iFile, F_SETLEASE, LEASE[bWriting]) != 0)
        return false;
    aLeased[bWriting] = iFile;
    return true;
}

bool Disturbed(int iFile)
{
    return aBroken[Slot(iFile)] != 0;
}

void DropWatch(int iFile)
{
    const int i = Slot(iFile);
    aLeased[i] = -1;
    aFile[i] = -1;
}

}  // namespace morvane::platform::posix
