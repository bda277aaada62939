// macOS: the rename that cannot replace (10.12 and later), a flush through
// the drive's own cache, the extended ACL, extended attributes and the
// Finder's hidden flag.
#include "posix_system.h"

#include <cerrno>
#include <cstdio>  // renameatx_np

#include <copyfile.h>
#include <fcntl.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace morvane::platform::posix {

namespace {

// What the process may not do, or the filesystem does not keep (ENOTSUP
// and EOPNOTSUPP are two numbers here).
bool Refused(int iError)
{
    return iError == EPERM || iError == EACCES || iError == ENOTSUP || iError == EOPNOTSUPP;
}

}  // namespace

void StartSystem()
{
}

int RenameExclusive(int iDirectory, const char *sFrom, const char *sTo)
{
    return renameatx_np(iDirectory, sFrom, iDirectory, sTo, RENAME_EXCL);
}

int ForceData(int iFile)
{
    // fsync leaves the data in the drive's cache; where a filesystem
    // refuses the full flush (some network and FUSE ones), fsync is all
    // there is.  Any other failure (EIO) is the flush's own.
    if (fcntl(iFile, F_FULLFSYNC) == 0)
        return 0;
    if (errno != ENOTSUP && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOTTY)
        return -1;
    return fsync(iFile);
}

void AdviseSequential(int iFile, std::int64_t)
{
    fcntl(iFile, F_RDAHEAD, 1);
}

std::int64_t ModificationTime(const struct stat &info)
{
    return info.st_mtimespec.tv_sec * std::int64_t{1000000000} + info.st_mtimespec.tv_nsec;
}

bool KeepAccess(int iModel, int iFile, bool bGroupKept)
{
    acl_t pAcl = bGroupKept ? acl_get_fd_np(iModel, ACL_TYPE_EXTENDED) : nullptr;
    // A file without an extended ACL has none to copy (ENOENT).
    bool bKept = bGroupKept && (pAcl != nullptr || errno == ENOENT);
    if (pAcl != nullptr) {
        bKept = acl_set_fd_np(iFile, pAcl, ACL_TYPE_EXTENDED) == 0;
        acl_free(pAcl);
    }
    if (pAcl == nullptr || !bKept) {
        // Nothing inherited from the folder stays either.
        acl_t pEmpty = acl_init(0);
        if (pEmpty != nullptr) {
            acl_set_fd_np(iFile, pEmpty, ACL_TYPE_EXTENDED);
            acl_free(pEmpty);
        }
    }
    return bKept;
}

bool KeepAttributes(int iModel, int iFile)
{
    // Finder information, resource fork, tags and the quarantine mark.
    // fcopyfile goes on past an attribute it cannot set and then fails with
    // that error; one it cannot read it passes over unsaid.
    if (fcopyfile(iModel, iFile, nullptr, COPYFILE_XATTR) != 0 && !Refused(errno))
        return false;
    struct stat info;
    if (fstat(iModel, &info) != 0)
        return false;
    return (info.st_flags & UF_HIDDEN) == 0 || fchflags(iFile, UF_HIDDEN) == 0 || Refused(errno);
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
    // A network volume's cache may not have seen another machine's writes.
    struct statfs info;
    if (fstatfs(iFile, &info) == 0 && (info.f_flags & MNT_LOCAL) == 0)
        fcntl(iFile, F_NOCACHE, 1);
}

void DropWatch(int)
{
}

}  // namespace morvane::platform::posix
