// Linux: the no-replace rename, leases that tell of other programs' opens,
// the access ACL that Linux keeps as an extended attribute, and the other
// extended attributes.
#include "posix_system.h"

#include <cerrno>
#include <csignal>
#include <cstdio>  // renameat2
#include <cstring>

#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace morvane::platform::posix {

namespace {

// The files watched, [0] the one read and [1] the one written, or -1; the
// one of each under a lease now, or -1; whether a writer broke that lease;
// whether a reader made it give way (it is taken again once it can be);
// and whether it has held unbroken since it was first taken.  A lease is
// broken by another program's open or truncate of the file, never by
// morvane's own calls; a read lease only by an open for writing.
constexpr int LEASE[2] = {F_RDLCK, F_WRLCK};
int aFile[2] = {-1, -1};
volatile std::sig_atomic_t aLeased[2] = {-1, -1};
volatile std::sig_atomic_t aBroken[2];
volatile std::sig_atomic_t aYielded[2];
volatile std::sig_atomic_t aVouching[2];

// Notes what became of slot i's lease.  While a break is pending the kernel
// gives the type the lease must come down to: a read lease for a program
// that only reads, none for one that writes or truncates.  The other program
// waits in its open until the lease is given up, so it is given up at once:
// the kernel refuses to turn a writer's lease into a read lease.
void NoteBreak(int i)
{
    const int iFile = aLeased[i];
    if (iFile < 0)
        return;
    const int iTarget = fcntl(iFile, F_GETLEASE);
    // Called outside the handler, the handler may have noted the break
    // meanwhile, and given the lease up.
    if (iTarget == LEASE[i] || aLeased[i] != iFile)
        return;
    if (i == 1 && iTarget == F_RDLCK)
        aYielded[i] = 1;
    else
        aBroken[i] = 1;
    aVouching[i] = 0;
    fcntl(iFile, F_SETLEASE, F_UNLCK);
    aLeased[i] = -1;
}

// Looking at both files copes with two breaks that come as one signal.
extern "C" void OnLeaseBreak(int)
{
    const int iSaved = errno;
    NoteBreak(0);
    NoteBreak(1);
    errno = iSaved;
}

// Keeps lease breaks waiting while a lease is taken, so that none can come
// between the lease and its record; returns the mask to put back with
// LetBreaksIn.
sigset_t HoldBreaks()
{
    sigset_t io, old;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    sigprocmask(SIG_BLOCK, &io, &old);
    return old;
}

void LetBreaksIn(const sigset_t &old)
{
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Whether a lease on iFile sees every program that opens it: on a local
// filesystem every open goes through this kernel; FUSE and network
// filesystems also take writes that never pass its opens (through the
// folder behind a bindfs mount, or from another machine).
bool LeasesSeeAll(int iFile)
{
    struct statfs info;
    if (fstatfs(iFile, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0xF2F52010:  // f2fs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x7366746E:  // ntfs3
    case 0x3153464A:  // jfs
    case 0x52654973:  // reiserfs
    case 0xCA451A4E:  // bcachefs
    case 0x2FC12FC1:  // zfs
        return true;
    default:
        return false;
    }
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
    // A parent that left SIGIO blocked would hide every break.
    sigset_t io;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    sigprocmask(SIG_UNBLOCK, &io, nullptr);
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
    const sigset_t old = HoldBreaks();
    aFile[bWriting] = iFile;
    aLeased[bWriting] = -1;
    aBroken[bWriting] = aYielded[bWriting] = aVouching[bWriting] = 0;
    const bool bLeased = fcntl(iFile, F_SETLEASE, LEASE[bWriting]) == 0;
    const int iError = errno;
    if (bLeased) {
        aLeased[bWriting] = iFile;
        aVouching[bWriting] = LeasesSeeAll(iFile);
    }
    LetBreaksIn(old);
    errno = iError;
    return bLeased;
}

bool Disturbed(int iFile)
{
    const int i = Slot(iFile);
    // The kernel is asked too: a break whose signal never came still shows.
    NoteBreak(i);
    if (aYielded[i]) {
        const sigset_t old = HoldBreaks();
        if (fcntl(iFile, F_SETLEASE, LEASE[i]) == 0) {
            aYielded[i] = 0;
            aLeased[i] = iFile;
        }
        LetBreaksIn(old);
    }
    return aBroken[i] != 0;
}

bool Vouches(int iFile)
{
    // Disturbed has asked the kernel just before; the handler notes the rest.
    return aVouching[Slot(iFile)] != 0;
}

void AdviseRereading(int iFile)
{
    if (!LeasesSeeAll(iFile))
        posix_fadvise(iFile, 0, 0, POSIX_FADV_DONTNEED);
}

void DropWatch(int iFile)
{
    const int i = Slot(iFile);
    aLeased[i] = -1;
    aFile[i] = -1;
}

}  // namespace morvane::platform::posix
