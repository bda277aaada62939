// Linux: the no-replace rename, io_uring to force several files to storage
// at once from one thread, leases that tell of other programs' opens,
// the access ACL that Linux keeps as an extended attribute, and the other
// extended attributes.
#include "platform.h"
#include "posix_system.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>  // renameat2
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/io_uring.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace morvane::platform::posix {

namespace {

// The files watched (each backup being converted, and a new file being put
// back), or -1; the one under a read lease now, or -1; and whether a
// writer broke that lease.  A read lease is broken by another program's
// open for writing or truncate of the file, never by morvane's own calls,
// nor by any program that only reads.
constexpr std::size_t WATCHES = FLIGHT_CAPACITY + 1;
int aFile[WATCHES];
volatile std::sig_atomic_t aLeased[WATCHES];
volatile std::sig_atomic_t aBroken[WATCHES];

// Notes whether watch i's lease is being broken: while a break is pending
// the kernel gives the type the lease must come down to, and once the
// break has timed out there is no lease at all.  The writer waits in its
// open until the lease is given up, so it is given up at once.
void NoteBreak(std::size_t i)
{
    const int iFile = aLeased[i];
    if (iFile < 0)
        return;
    // Called outside the handler, the handler may have noted the break
    // meanwhile, and given the lease up.
    if (fcntl(iFile, F_GETLEASE) == F_RDLCK || aLeased[i] != iFile)
        return;
    aBroken[i] = 1;
    aLeased[i] = -1;
    fcntl(iFile, F_SETLEASE, F_UNLCK);
}

// Set while the record of a lease is being changed (HoldBreaks): a break
// that comes meanwhile is only marked, and looked at once the change is
// made, so that none can come between a lease and its record.  A flag
// rather than a blocked signal: this costs no system call, and one thread
// is all that takes leases.
volatile std::sig_atomic_t bHolding = 0;
volatile std::sig_atomic_t bDeferred = 0;

// Looking at every file copes with several breaks that come as one signal.
void NoteBreaks()
{
    for (std::size_t i = 0; i < WATCHES; ++i)
        NoteBreak(i);
}

extern "C" void OnLeaseBreak(int)
{
    const int iSaved = errno;
    if (bHolding)
        bDeferred = 1;
    else
        NoteBreaks();
    errno = iSaved;
}

void HoldBreaks()
{
    bHolding = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

// A break marked while held is looked at now; one that comes after the
// flag is down is looked at by the handler itself, and looking twice does
// no harm.
void LetBreaksIn()
{
    std::atomic_signal_fence(std::memory_order_seq_cst);
    bHolding = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (bDeferred) {
        bDeferred = 0;
        NoteBreaks();
    }
}

// Whether every program's writes to the files of the folder being searched
// pass through this kernel (SeesAllWrites), found once per folder: a file
// renamed or created in the folder is on the folder's filesystem, since a
// mount point can be neither.
bool bFolderSeesAll = false;

// Whether the folder's filesystem had room to spare when its search began:
// only then are small backups closed away from this thread (CloseDeleted),
// whose storage comes back a moment after the ring says they are closed.
// With that much room, the few such moments that a file converted again
// after running out of room could meet are not what ran it out.
constexpr std::uint64_t ROOM_TO_SPARE = std::uint64_t{1} << 30;
constexpr std::int64_t SMALL_BACKUP = std::int64_t{1} << 20;
bool bRoomToSpare = false;

// Whether every program's opens and writes of a file of iFile's filesystem
// pass through this kernel, and so its leases and its cache: so on a local
// filesystem; FUSE and network filesystems also take writes that never
// pass it (through the folder behind a bindfs mount, or from another
// machine).
bool SeesAllWrites(int iFile)
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

// Where Linux keeps a file's access ACL, and a folder's default ACL, which
// every file made in the folder takes as its access ACL.
constexpr char ACCESS_ACL[] = "system.posix_acl_access";
constexpr char DEFAULT_ACL[] = "system.posix_acl_default";

// Whether the folder being searched has a default ACL (WatchFolder).
bool bDefaultAcl = false;

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

// Whether the extended attribute sName goes with the content to the new
// file.  The ACL follows its own rule (KeepAccess); a file capability, like
// set-user-ID, must not survive a change of the content, nor may what
// vouches for the old content's bytes (IMA's hash, EVM's signature), which
// would keep the converted file from being opened where they are checked.
bool Kept(const char *sName)
{
    return std::strncmp(sName, "system.", 7) != 0 &&
           std::strcmp(sName, "security.capability") != 0 &&
           std::strcmp(sName, "security.ima") != 0 && std::strcmp(sName, "security.evm") != 0;
}

// The watch of iFile, or for -1 a free one; WATCHES when there is none.
std::size_t Slot(int iFile)
{
    std::size_t i = 0;
    while (i < WATCHES && aFile[i] != iFile)
        ++i;
    return i;
}

// The ring that forces files to storage, mapped from the kernel: its
// submission queue (head, tail, mask, the index array and the entries) and
// its completion queue.  Each file in flight has a pair of entries, its
// data then its folder, linked so that the folder waits for the data; both
// carry the pair's number.  Only this thread touches the ring; the kernel
// publishes with release and reads with acquire, and so does this side.
struct {
    int iRing;
    unsigned nEntries;
    unsigned *pSqHead, *pSqTail, *pSqMask, *pSqArray;
    io_uring_sqe *aSqes;
    unsigned *pCqHead, *pCqTail, *pCqMask;
    io_uring_cqe *aCqes;
} gRing{-1, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// How many files may be in flight: 0 without a ring.  Each pair's file, or
// -1, and its folder; its generation, so that no completion left over from
// an earlier use of the pair is taken for this one; how many of its two
// entries have yet to complete; and the outcome of each (0 or an error
// number).
std::size_t nCapacity = 0;
bool bClosesAway = false;  // the ring can close files (Linux 5.6)
int aForced[FLIGHT_CAPACITY];
std::uint32_t aGeneration[FLIGHT_CAPACITY];
int aFolder[FLIGHT_CAPACITY];
int aPending[FLIGHT_CAPACITY];
int aOutcome[FLIGHT_CAPACITY][2];

// How many descriptors the process has open; -1 where /proc cannot tell.
long OpenDescriptors()
{
    DIR *pFolder = opendir("/proc/self/fd");
    if (pFolder == nullptr)
        return -1;
    long nOpen = -1;  // the folder's own
    while (const dirent *pEntry = readdir(pFolder))
        nOpen += pEntry->d_name[0] != '.';
    closedir(pFolder);
    return nOpen;
}

// Sets the ring up; leaves gRing.iRing -1 where the kernel has no io_uring,
// refuses it, or is older than 5.5 (whose rings may drop completions and
// may not follow links), and where the descriptors left would let fewer
// than two files be in flight.
void StartRing()
{
    for (int &iFile : aForced)
        iFile = -1;
    // Each file in flight holds two descriptors, and a backup being closed
    // (CloseDeleted) one; the ring, the folder and a placeholder take one
    // each: never so many that a file fails to open where one at a time it
    // would not.  A parent may have left any number open.
    rlimit files{};
    const long nOpen = OpenDescriptors();
    const rlim_t nUsed = nOpen < 0 ? 16 : static_cast<rlim_t>(nOpen) + 3;
    const rlim_t nSpare = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur > nUsed
                              ? (files.rlim_cur - nUsed) / 3
                              : 0;
    nCapacity = nSpare < FLIGHT_CAPACITY ? static_cast<std::size_t>(nSpare) : FLIGHT_CAPACITY;
    if (nCapacity < 2) {
        nCapacity = 0;
        return;
    }
    io_uring_params params{};
    const long iRing = syscall(__NR_io_uring_setup, 4 * FLIGHT_CAPACITY, &params);
    if (iRing < 0)
        return;
    const std::size_t nSq = params.sq_off.array + params.sq_entries * sizeof(unsigned);
    const std::size_t nCq = params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe);
    void *pRings = MAP_FAILED, *pSqes = MAP_FAILED;
    if ((params.features & IORING_FEAT_NODROP) != 0 &&
        (params.features & IORING_FEAT_SINGLE_MMAP) != 0)
        pRings = mmap(nullptr, nSq > nCq ? nSq : nCq, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_POPULATE, static_cast<int>(iRing), IORING_OFF_SQ_RING);
    if (pRings != MAP_FAILED)
        pSqes = mmap(nullptr, params.sq_entries * sizeof(io_uring_sqe), PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_POPULATE, static_cast<int>(iRing), IORING_OFF_SQES);
    if (pSqes == MAP_FAILED) {
        if (pRings != MAP_FAILED)
            munmap(pRings, nSq > nCq ? nSq : nCq);
        close(static_cast<int>(iRing));
        return;
    }
    auto *pBase = static_cast<unsigned char *>(pRings);
    auto field = [pBase](unsigned nOffset) {
        return reinterpret_cast<unsigned *>(pBase + nOffset);
    };
    gRing.nEntries = params.sq_entries;
    gRing.pSqHead = field(params.sq_off.head);
    gRing.pSqTail = field(params.sq_off.tail);
    gRing.pSqMask = field(params.sq_off.ring_mask);
    gRing.pSqArray = field(params.sq_off.array);
    gRing.aSqes = static_cast<io_uring_sqe *>(pSqes);
    gRing.pCqHead = field(params.cq_off.head);
    gRing.pCqTail = field(params.cq_off.tail);
    gRing.pCqMask = field(params.cq_off.ring_mask);
    gRing.aCqes = reinterpret_cast<io_uring_cqe *>(pBase + params.cq_off.cqes);
    gRing.iRing = static_cast<int>(iRing);
    // A close handed to the ring that the kernel cannot do would come back
    // with an error that does not tell whether the descriptor was closed.
    alignas(io_uring_probe) unsigned char
        aProbe[sizeof(io_uring_probe) + 256 * sizeof(io_uring_probe_op)] = {};
    auto *pProbe = reinterpret_cast<io_uring_probe *>(aProbe);
    bClosesAway = syscall(__NR_io_uring_register, iRing, IORING_REGISTER_PROBE, pProbe, 256) == 0 &&
                  pProbe->last_op >= IORING_OP_CLOSE &&
                  (pProbe->ops[IORING_OP_CLOSE].flags & IO_URING_OP_SUPPORTED) != 0;
}

// Closes that CloseDeleted has handed to the ring and that have not yet
// completed, each marked CLOSING beside its descriptor.
constexpr std::uint64_t CLOSING = std::uint64_t{1} << 63;
std::size_t nClosing = 0;

// Takes in every completion the kernel has published.
void Reap()
{
    unsigned uHead = *gRing.pCqHead;
    const unsigned uTail = __atomic_load_n(gRing.pCqTail, __ATOMIC_ACQUIRE);
    for (; uHead != uTail; ++uHead) {
        const io_uring_cqe &cqe = gRing.aCqes[uHead & *gRing.pCqMask];
        if ((cqe.user_data & CLOSING) != 0) {
            // Cancelled, the close was never made (no kernel worker could be
            // had at the process limit): the descriptor is still this
            // process's, and from now on each is closed here.
            if (cqe.res == -ECANCELED) {
                close(static_cast<int>(cqe.user_data & 0x7FFFFFFF));
                bClosesAway = false;
            }
            --nClosing;
            continue;
        }
        const std::size_t iPair = static_cast<std::size_t>(cqe.user_data >> 1 & 0xFF);
        if (iPair < FLIGHT_CAPACITY && aPending[iPair] > 0 &&
            cqe.user_data >> 32 == aGeneration[iPair]) {
            aOutcome[iPair][cqe.user_data & 1] = cqe.res < 0 ? -cqe.res : 0;
            --aPending[iPair];
        }
    }
    __atomic_store_n(gRing.pCqHead, uHead, __ATOMIC_RELEASE);
}

// Waits for one more completion; false when the ring fails.
bool AwaitCompletion()
{
    return syscall(__NR_io_uring_enter, gRing.iRing, 0, 1, IORING_ENTER_GETEVENTS, nullptr, 0) >=
               0 ||
           errno == EINTR || errno == EAGAIN || errno == EBUSY;
}

// Fills the submission entry at uTail: uOpcode on iFile, with uFsyncFlags
// for a forcing, and uFlags.
void Prepare(unsigned uTail, std::uint8_t uOpcode, int iFile, unsigned uFsyncFlags,
             unsigned char uFlags, std::uint64_t uData)
{
    const unsigned uAt = uTail & *gRing.pSqMask;
    io_uring_sqe &sqe = gRing.aSqes[uAt];
    std::memset(&sqe, 0, sizeof sqe);
    sqe.opcode = uOpcode;
    sqe.flags = uFlags;
    sqe.fd = iFile;
    sqe.fsync_flags = uFsyncFlags;
    sqe.user_data = uData;
    gRing.pSqArray[uAt] = uAt;
}

}  // namespace

void StartSystem()
{
    for (std::size_t i = 0; i < WATCHES; ++i)
        aFile[i] = aLeased[i] = -1;
    StartRing();
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

std::size_t ForcingCapacity()
{
    return gRing.iRing < 0 ? 0 : nCapacity;
}

int StartForcing(int iFile, int iDirectory)
{
    std::size_t i = 0;
    while (i < FLIGHT_CAPACITY && aForced[i] != -1)
        ++i;
    // Every entry before these was taken by the kernel: the tail is the head.
    const unsigned uTail = *gRing.pSqTail;
    if (i == FLIGHT_CAPACITY || uTail != __atomic_load_n(gRing.pSqHead, __ATOMIC_ACQUIRE)) {
        errno = EBUSY;
        return -1;
    }
    const std::uint64_t uData = std::uint64_t{++aGeneration[i]} << 32 | 2 * i;
    Prepare(uTail, IORING_OP_FSYNC, iFile, IORING_FSYNC_DATASYNC, IOSQE_IO_LINK, uData);
    Prepare(uTail + 1, IORING_OP_FSYNC, iDirectory, 0, 0, uData + 1);
    aForced[i] = iFile;
    aFolder[i] = iDirectory;
    aPending[i] = 2;
    aOutcome[i][0] = aOutcome[i][1] = 0;
    __atomic_store_n(gRing.pSqTail, uTail + 2, __ATOMIC_RELEASE);
    for (int iTry = 0;; ++iTry) {
        const long nTaken = syscall(__NR_io_uring_enter, gRing.iRing, 2, 0, 0, nullptr, 0);
        const int iError = errno;
        const unsigned nHead = __atomic_load_n(gRing.pSqHead, __ATOMIC_ACQUIRE) - uTail;
        if (nHead == 2)
            return 0;
        if (nTaken >= 0 || ((iError == EINTR || iError == EAGAIN) && iTry < 100))
            continue;
        // Refused: what the kernel has not taken is taken back.  The data
        // alone taken, the folder is forced when it is awaited.
        __atomic_store_n(gRing.pSqTail, uTail + nHead, __ATOMIC_RELEASE);
        if (nHead == 1) {
            aPending[i] = 1;
            aOutcome[i][1] = -1;
            return 0;
        }
        aForced[i] = -1;
        aPending[i] = 0;
        errno = iError;
        return -1;
    }
}

int AwaitForcing(int iFile, int *piFolderError)
{
    std::size_t i = 0;
    while (i < FLIGHT_CAPACITY && aForced[i] != iFile)
        ++i;
    if (i == FLIGHT_CAPACITY) {
        errno = EINVAL;
        return -1;
    }
    // A signal ends the wait early; the forcing goes on, and so does the
    // wait.  Should the ring fail, the file is forced here instead: forcing
    // twice does no harm, and what completes late is passed by.
    for (Reap(); aPending[i] > 0; Reap()) {
        if (!AwaitCompletion()) {
            aPending[i] = 0;
            aOutcome[i][0] = fdatasync(iFile) == 0 ? 0 : errno;
            aOutcome[i][1] = -1;
        }
    }
    aForced[i] = -1;
    // Cancelled, the forcing was never made: the kernel could not start a
    // worker to make it (the user's or the cgroup's process limit reached).
    if (aOutcome[i][0] == ECANCELED)
        aOutcome[i][0] = fdatasync(iFile) == 0 ? 0 : errno;
    if (aOutcome[i][1] == ECANCELED)
        aOutcome[i][1] = -1;
    if (aOutcome[i][0] != 0) {
        errno = aOutcome[i][0];
        return -1;
    }
    *piFolderError = aOutcome[i][1];
    if (*piFolderError == -1)
        *piFolderError = fsync(aFolder[i]) == 0 ? 0 : errno;
    return 0;
}

void CloseDeleted(int iFile, std::int64_t lSize)
{
    // Only on a local filesystem, whose files have no flush to fail on
    // close: a close refused as cancelled is then one never made.
    if (gRing.iRing < 0 || !bClosesAway || nCapacity == 0 || !bRoomToSpare || !bFolderSeesAll ||
        lSize > SMALL_BACKUP) {
        close(iFile);
        return;
    }
    // Done away from this thread (IOSQE_ASYNC): the last close of the file
    // is then made by the kernel's worker, which gives its storage back.
    for (Reap(); nClosing >= nCapacity; Reap())
        if (!AwaitCompletion())
            break;
    const unsigned uTail = *gRing.pSqTail;
    if (nClosing >= nCapacity || uTail != __atomic_load_n(gRing.pSqHead, __ATOMIC_ACQUIRE)) {
        close(iFile);
        return;
    }
    Prepare(uTail, IORING_OP_CLOSE, iFile, 0, IOSQE_ASYNC, CLOSING | static_cast<unsigned>(iFile));
    __atomic_store_n(gRing.pSqTail, uTail + 1, __ATOMIC_RELEASE);
    long nTaken;
    do
        nTaken = syscall(__NR_io_uring_enter, gRing.iRing, 1, 0, 0, nullptr, 0);
    while (nTaken < 0 && errno == EINTR);
    if (__atomic_load_n(gRing.pSqHead, __ATOMIC_ACQUIRE) != uTail) {
        ++nClosing;
        return;
    }
    __atomic_store_n(gRing.pSqTail, uTail, __ATOMIC_RELEASE);
    close(iFile);
}

void AwaitClosing()
{
    if (gRing.iRing < 0)
        return;
    for (Reap(); nClosing > 0; Reap())
        if (!AwaitCompletion())
            return;
}

void CloseAtOnce()
{
    AwaitClosing();
    bClosesAway = false;
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
    // What the new file inherited from its folder's default ACL is not kept
    // (KeepAccess), and must not take the room of what is.
    if (bDefaultAcl && fremovexattr(iFile, ACCESS_ACL) != 0 && errno != ENODATA)
        return false;
    const ssize_t nNames = flistxattr(iModel, aNames, sizeof aNames);
    if (nNames < 0)
        return Refused(errno);
    for (ssize_t i = 0; i < nNames; i += static_cast<ssize_t>(std::strlen(aNames + i)) + 1) {
        const char *sName = aNames + i;
        if (!Kept(sName))
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

void WatchFolder(int iDirectory)
{
    bFolderSeesAll = SeesAllWrites(iDirectory);
    bDefaultAcl = fgetxattr(iDirectory, DEFAULT_ACL, nullptr, 0) > 0;
    struct statvfs room;
    bRoomToSpare = fstatvfs(iDirectory, &room) == 0 &&
                   room.f_bavail >= ROOM_TO_SPARE / (room.f_frsize > 0 ? room.f_frsize : 1);
}

bool LocalFolder()
{
    return bFolderSeesAll;
}

bool Watch(int iFile)
{
    const std::size_t i = Slot(-1);
    if (i == WATCHES) {
        errno = ENOLCK;
        return false;
    }
    HoldBreaks();
    aFile[i] = iFile;
    aLeased[i] = -1;
    aBroken[i] = 0;
    const bool bWatched = fcntl(iFile, F_SETLEASE, F_RDLCK) == 0;
    const int iError = errno;
    if (bWatched)
        aLeased[i] = iFile;
    else
        aFile[i] = -1;
    LetBreaksIn();
    errno = iError;
    return bWatched;
}

bool Disturbed(int iFile)
{
    const std::size_t i = Slot(iFile);
    if (i == WATCHES)
        return true;
    // The kernel is asked too: a break whose signal never came still shows.
    NoteBreak(i);
    return aBroken[i] != 0;
}

void AdviseRereading(int iFile)
{
    if (!bFolderSeesAll)
        posix_fadvise(iFile, 0, 0, POSIX_FADV_DONTNEED);
}

void DropWatch(int iFile)
{
    const std::size_t i = Slot(iFile);
    if (i == WATCHES)
        return;
    HoldBreaks();
    aLeased[i] = -1;
    aFile[i] = -1;
    LetBreaksIn();
}

}  // namespace morvane::platform::posix
