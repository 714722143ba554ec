#include "tagedit/file_ops.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "tagedit/file_io.h"

namespace tagedit {

namespace {

// Whether `fd` is `size` bytes long; if not, errno says the file changed.
bool HasSize(int fd, uint64_t size) {
  struct stat now;
  if (fstat(fd, &now) != 0) return false;
  if (static_cast<uint64_t>(now.st_size) == size) return true;
  errno = ESTALE;
  return false;
}

}  // namespace

bool FileOps::Write(int fd, uint64_t offset, const std::string& bytes) {
  return Proceed("Write") && WriteAt(fd, offset, bytes);
}

bool FileOps::Append(int fd, uint64_t at, uint64_t size,
                     const std::string& bytes) {
  if (!Proceed("Append") || !HasSize(fd, size)) return false;
  uint64_t head = kTearBoundary - at % kTearBoundary;
  if (head < 3 && head < bytes.size()) {
    // Torn at the boundary, one or two bytes in front of it could not be
    // told from audio; so the part behind it lands first, and a torn append
    // leaves zeros where the tag starts.
    return WriteAt(fd, at + head, bytes.substr(head)) &&
           WriteAt(fd, at, bytes.substr(0, head));
  }
  if (at < size) return WriteAt(fd, at, bytes);
  // Appending, the write cannot land on what another program appended since
  // the size was checked; where it landed tells.
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_APPEND) != 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        TEMP_FAILURE_RETRY(write(fd, bytes.data() + done, bytes.size() - done));
    if (n <= 0) break;
    done += n;
  }
  int cause = errno;
  off_t end = lseek(fd, 0, SEEK_CUR);
  fcntl(fd, F_SETFL, flags);
  if (done < bytes.size()) {
    errno = cause;
    return false;
  }
  if (static_cast<uint64_t>(end) != size + bytes.size()) {
    errno = ESTALE;
    return false;
  }
  return true;
}

bool FileOps::Sync(int fd) {
  return defer_syncs || (Proceed("Sync") && fsync(fd) == 0);
}
bool FileOps::SyncFileSystem(int fd) {
  return Proceed("SyncFileSystem") && syncfs(fd) == 0;
}
bool FileOps::Flush(int fd) { return Proceed("Flush") && fsync(fd) == 0; }
bool FileOps::Truncate(int fd, uint64_t size) {
  return Proceed("Truncate") && ftruncate(fd, size) == 0;
}
bool FileOps::Insert(int fd, uint64_t length) {
  return Proceed("Insert") &&
         fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, length) == 0;
}
bool FileOps::Collapse(int fd, uint64_t length) {
  return Proceed("Collapse") &&
         fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, length) == 0;
}
bool FileOps::Link(int fd, int dir, const std::string& name) {
  // Naming an open file by its descriptor needs a privilege; its /proc path
  // does not.
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  return Proceed("Link") && linkat(AT_FDCWD, self.c_str(), dir, name.c_str(),
                                   AT_SYMLINK_FOLLOW) == 0;
}
bool FileOps::Rename(int dir, const std::string& from, const std::string& to) {
  return Proceed("Rename") && renameat(dir, from.c_str(), dir, to.c_str()) == 0;
}
bool FileOps::Exchange(int dir, const std::string& a, const std::string& b) {
  return Proceed("Exchange") &&
         renameat2(dir, a.c_str(), dir, b.c_str(), RENAME_EXCHANGE) == 0;
}
bool FileOps::Unlink(int dir, const std::string& name) {
  return Proceed("Unlink") && unlinkat(dir, name.c_str(), 0) == 0;
}
bool FileOps::Chown(int fd, uid_t owner, gid_t group) {
  return Proceed("Chown") && fchown(fd, owner, group) == 0;
}
bool FileOps::Chmod(int fd, mode_t mode) {
  return Proceed("Chmod") && fchmod(fd, mode) == 0;
}
bool FileOps::SetAttribute(int fd, const std::string& name,
                           const std::string& value) {
  return Proceed("SetAttribute") &&
         fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0;
}
bool FileOps::RemoveAttribute(int fd, const std::string& name) {
  return Proceed("RemoveAttribute") && fremovexattr(fd, name.c_str()) == 0;
}
bool FileOps::SetFlags(int fd, int flags) {
  return Proceed("SetFlags") && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

}  // namespace tagedit
