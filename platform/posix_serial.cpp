// Systems where this one thread forces one file to storage at a time, and
// closes each file itself: no ring to hand either to, and no call that
// swaps two names.
#include "posix_system.h"

#include <cerrno>

#include <unistd.h>

namespace morvane::platform::posix {

std::size_t ForcingCapacity()
{
    return 0;
}

int StartForcing(int, int)
{
    errno = ENOSYS;
    return -1;
}

int AwaitForcing(int, int *)
{
    errno = ENOSYS;
    return -1;
}

void CloseDeleted(int iFile, std::int64_t)
{
    close(iFile);
}

void AwaitClosing()
{
}

void CloseAtOnce()
{
}

int ExchangeNames(int, const char *, const char *)
{
    errno = ENOSYS;
    return -1;
}

}  // namespace morvane::platform::posix
