#include "core/file_replace.h"

#include "core/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The mode and owner the new file takes over from the one it replaces.
bool takeOverAttributes(int fd, const std::string& target) {
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return ::fchmod(fd, 0666 & ~mask) == 0;
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return false;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        // Best effort: keep a file that root edits owned by its user.
        [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    }
    return true;
}

} // namespace

bool replaceFileAtomically(const std::string& target, const void* data, std::size_t size) {
    const std::string dir = folderOf(target);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmpl = dir + "/." + name + ".XXXXXX";
    UniqueFd file(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (!file.valid())
        return false;
    const int fd = file.get();
    bool ok = writeAll(fd, data, size) && takeOverAttributes(fd, target) && ::fsync(fd) == 0;
    // Closed by hand because its result counts: some file systems report a failed write
    // only here, and a file that did not reach the disk must not replace the old one.
    if (::close(file.release()) != 0)
        ok = false;
    if (ok)
        ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // The rename is durable only once the folder itself is on disk.
    const UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid())
        ::fsync(folder.get());
    return true;
}

SaveTarget examineSaveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return SaveTarget::Plain;
    return st.st_uid == ::geteuid() ? SaveTarget::OwnLink : SaveTarget::ForeignLink;
}
