// The access ACL through the POSIX.1e calls, for the generic build where
// the system has them: FreeBSD and NetBSD in their C library, Linux in
// libacl (which is how this file is built and tested there).
#include "posix_system.h"

#include <cerrno>

#include <sys/types.h>  // first: the BSDs' sys/acl.h needs it

#include <sys/acl.h>

namespace morvane::platform::posix {

bool KeepAccess(int iModel, int iFile, bool bGroupKept)
{
    // A file without extended entries gives its bits as an ACL of three,
    // and setting that drops whatever the new file took from its folder.
    acl_t pAcl = bGroupKept ? acl_get_fd(iModel) : nullptr;
    if (bGroupKept && pAcl == nullptr && (errno == ENOTSUP || errno == EOPNOTSUPP))
        return true;  // a filesystem without ACLs: nothing to copy, nothing inherited
    const bool bKept = pAcl != nullptr && acl_set_fd(iFile, pAcl) == 0;
    if (pAcl != nullptr)
        acl_free(pAcl);
    if (!bKept) {
        // The owner's entry alone: no named user or group, and no mask, from
        // the folder's default ACL or a copy that went halfway.  The owner's
        // own bits follow from the model.
        acl_t pBare = acl_from_text("u::rw-,g::---,o::---");
        if (pBare != nullptr) {
            acl_set_fd(iFile, pBare);
            acl_free(pBare);
        }
    }
    return bKept;
}

}  // namespace morvane::platform::posix
