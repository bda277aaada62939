// What each POSIX system does its own way, behind the core that all of them
// share (platform_posix.cpp).  One file per system implements it:
// posix_linux.cpp, posix_darwin.cpp (macOS), and posix_generic.cpp, POSIX.1-2008
// alone, for every other (FreeBSD, NetBSD, OpenBSD, illumos); the build
// compiles exactly one.  The generic file leaves KeepAccess to
// posix_acl.cpp, through the POSIX.1e ACL calls where the build finds them,
// or else to posix_no_acl.cpp.  Each function reports failure as the system
// call does, by its result with errno set; none retries.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

namespace morvane::platform::posix {

// Called once by StartProcess, after the interrupt handlers are in place.
void StartSystem();

// Renames sFrom to sTo, both in the folder iDirectory, in one step that
// fails with EEXIST when sTo exists.  0 on success; -1 with errno, which is
// EINVAL, ENOSYS, ENOTSUP or EOPNOTSUPP when the system or the filesystem
// has no such rename (the core then does without).
[[nodiscard]] int RenameExclusive(int iDirectory, const char *sFrom, const char *sTo);

// Forces iFile's data, and what is needed to read it back, through every
// cache to stable storage.  0 on success; -1 with errno.
[[nodiscard]] int ForceData(int iFile);

// How many files StartForcing may have begun forcing that AwaitForcing has
// not yet awaited: 0 where the system forces one file at a time from one
// thread (the core then calls ForceData itself), and where it could but
// refuses (io_uring absent, disabled or denied by seccomp).
[[nodiscard]] std::size_t ForcingCapacity();

// Begins forcing iFile's data as ForceData does, and once that has
// succeeded the folder iDirectory, without waiting for either.  0 on
// success; -1 with errno when nothing was begun (the core then forces the
// file itself).
[[nodiscard]] int StartForcing(int iFile, int iDirectory);

// Waits until what StartForcing began for iFile has ended, through any
// signal.  0 when the data reached storage, with *piFolderError 0 or the
// errno of forcing the folder; -1 with errno when the data did not.
[[nodiscard]] int AwaitForcing(int iFile, int *piFolderError);

// Closes iFile, lSize bytes long, read to its end and its name deleted:
// its storage is given back on this last close, which on some disks waits
// for a discard to be done.  Where files are forced through io_uring, a
// small file on a filesystem with room to spare is closed there, away from
// this thread, and its storage comes back a moment after; at most
// FLIGHT_CAPACITY such closes are pending at a time.  Failures go unsaid:
// the file was only read.
void CloseDeleted(int iFile, std::int64_t lSize);

// Waits until every close that CloseDeleted left pending has been done.
void AwaitClosing();

// AwaitClosing, and from then on CloseDeleted closes each file at once.
void CloseAtOnce();

// Tells the system that iFile, lSize bytes long, will be read once from its
// start to its end.  A hint: failures go unsaid.
void AdviseSequential(int iFile, std::int64_t lSize);

// The modification time of info, in nanoseconds since the epoch.
[[nodiscard]] std::int64_t ModificationTime(const struct stat &info);

// Gives the new file iFile the access that its model iModel grants beyond
// owner, group and permission bits (an ACL), exactly, when bGroupKept says
// that the model's group was carried over; otherwise, or when that fails,
// leaves iFile with none, not even what it inherited from its folder.  True
// when the group and other permission bits may follow too: the extended
// access was copied exactly, or the system has none.
[[nodiscard]] bool KeepAccess(int iModel, int iFile, bool bGroupKept);

// Gives the new file iFile, before anything is written to it and while its
// owner may still write it, the extended attributes of its model iModel that
// the process may read and set, but for the ACL (KeepAccess) and a file
// capability, which like set-user-ID must not survive a change of content;
// and the flags a user sets and expects to stay (the Finder's hidden flag
// on macOS).  What the process may not read or set (EPERM, EACCES) or the
// filesystem does not keep (ENOTSUP, EOPNOTSUPP) is left out, unsaid.  False
// with errno when anything else keeps an attribute from being read or set.
[[nodiscard]] bool KeepAttributes(int iModel, int iFile);

// Notes that the files to watch from now on are in the folder iDirectory,
// for LocalFolder and AdviseRereading, which depend on its filesystem.
void WatchFolder(int iDirectory);

// True when every program's writes to the files of the folder being
// searched pass through this system (a local filesystem), so that reading
// a file shows every write made to it so far.
[[nodiscard]] bool LocalFolder();

// Watches iFile, open for reading only, for any other program that opens
// it for writing or truncates it, until DropWatch; the other program's
// open is never refused, only held until the watch has noted it.  True
// when watched; false with errno EAGAIN when a program has the file open
// for writing already, and with another errno when the system or the
// filesystem cannot watch it.  At most FLIGHT_CAPACITY + 1 files are
// watched at a time.
[[nodiscard]] bool Watch(int iFile);

// True once another program has opened the watched iFile for writing, or
// truncated it.
[[nodiscard]] bool Disturbed(int iFile);

// Tells the system that iFile is about to be read again from its start to
// check what is stored, so that pages a cache holds of it are not taken
// for the file where other programs' writes may not reach that cache
// (FUSE, network filesystems).  A hint: failures go unsaid.
void AdviseRereading(int iFile);

// Stops watching iFile; call before closing it.
void DropWatch(int iFile);

}  // namespace morvane::platform::posix
