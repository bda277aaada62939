// Systems where this one thread forces one file to storage at a time, and
// closes each file itself: no ring to hand either to.
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

}  // namespace morvane::platform::posix
