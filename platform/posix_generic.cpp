// Every other POSIX system (FreeBSD, NetBSD, OpenBSD, illumos): POSIX.1-2008
// alone.  No rename that cannot replace (the core links and unlinks
// instead), fsync, owner, group and permission bits (the ACL is
// posix_acl.cpp's where the system has the POSIX.1e calls; no extended
// attributes), and no way to watch a file for other programs: the core's
// size-and-time checks stand alone.
#include "posix_system.h"

#include <cerrno>

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

bool Watch(int, bool)
{
    errno = ENOTSUP;
    return false;
}

bool Disturbed(int)
{
    return false;
}

void DropWatch(int)
{
}

}  // namespace morvane::platform::posix
