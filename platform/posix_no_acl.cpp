// The access of a system without the POSIX.1e ACL calls: the bits are all
// there is to keep.  OpenBSD has no ACLs; illumos has its own calls, not
// used here, so an ACL that its folder passes on to the new file stays.
#include "posix_system.h"

namespace morvane::platform::posix {

bool KeepAccess(int, int, bool bGroupKept)
{
    return bGroupKept;
}

}  // namespace morvane::platform::posix
