// Every other POSIX system (FreeBSD, NetBSD, OpenBSD, illumos): POSIX.1-2008
// alone.  No rename that cannot replace (the core links, then renames the
// old name away), fsync, owner, group and permission bits (the ACL is
// posix_acl.cpp's where the system has the POSIX.1e calls; no extended
// attributes), and no way to watch a file for other programs: the core's
// size-and-time checks, and the comparison of both files at the end, stand alone.
#include "posix_system.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace morvane::platform::posix {

void StartSystem()
{
}

int RenameExclusive(int, const char *, const char *)
{
    errno = ENOSYS;
    return -1;
}

int ForceData(int iFile)
{
    return fsync(iFile);
}

void AdviseSequential(int, std::int64_t)
{
}

std::int64_t ModificationTime(const struct stat &info)
{
    return info.st_mtim.tv_sec * std::int64_t{1000000000} + info.st_mtim.tv_nsec;
}

bool KeepAttributes(int, int)
{
    return true;
}

void WatchFolder(int)
{
}

bool LocalFolder()
{
    return false;
}

bool Watch(int)
{
    errno = ENOTSUP;
    return false;
}

bool Disturbed(int)
{
    return false;
}

void AdviseRereading(int iFile)
{
    // Where the system has the advice: a FUSE or network filesystem's cache
    // may not have seen writes made past this machine's opens.
#ifdef POSIX_FADV_DONTNEED
    posix_fadvise(iFile, 0, 0, POSIX_FADV_DONTNEED);
#else
    static_cast<void>(iFile);
#endif
}

void DropWatch(int)
{
}

}  // namespace morvane::platform::posix
