#include "tagedit/replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "tagedit/edit_error.h"

namespace tagedit {

namespace {

// A new file is named this, the old file's inode and its own in hexadecimal,
// so that a leftover is told by its name and inode alone, whatever the
// attributes it carries: no other file is ever taken for one.
constexpr char kTempPrefix[] = ".tagwell-";

std::string Hex(uint64_t number) {
  char digits[17];
  snprintf(digits, sizeof digits, "%llx",
           static_cast<unsigned long long>(number));
  return digits;
}

std::string TempName(uint64_t old_inode, uint64_t new_inode) {
  return kTempPrefix + Hex(old_inode) + "-" + Hex(new_inode);
}

// Whether `name` is what a killed edit left: a temporary name whose file,
// open as `fd`, is alone and one of the two inodes the name holds.
bool IsLeftover(const std::string& name, int fd) {
  struct stat status;
  std::string inodes = name.substr(sizeof kTempPrefix - 1);
  size_t dash = inodes.find('-');
  if (dash == std::string::npos || fstat(fd, &status) != 0 ||
      !S_ISREG(status.st_mode) || status.st_nlink != 1) {
    return false;
  }
  std::string old_inode = inodes.substr(0, dash);
  std::string new_inode = inodes.substr(dash + 1);
  auto hex = [](const std::string& digits) {
    return !digits.empty() &&
           digits.find_first_not_of("0123456789abcdef") == std::string::npos;
  };
  std::string inode = Hex(status.st_ino);
  return hex(old_inode) && hex(new_inode) &&
         (old_inode == inode || new_inode == inode);
}

// Removes what killed edits left in the folder `dir`: leftovers that no
// running edit holds locked. Once a run is enough.
void RemoveLeftovers(int dir, FileOps& ops) {
  static std::set<std::pair<dev_t, ino_t>> cleaned;
  struct stat status;
  if (fstat(dir, &status) != 0 ||
      !cleaned.insert({status.st_dev, status.st_ino}).second) {
    return;
  }
  struct CloseDir {
    void operator()(DIR* entries) const { closedir(entries); }
  };
  std::unique_ptr<DIR, CloseDir> entries(
      fdopendir(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!entries) return;
  while (dirent* entry = readdir(entries.get())) {
    std::string name = entry->d_name;
    if (name.compare(0, sizeof kTempPrefix - 1, kTempPrefix) != 0) continue;
    UniqueFd fd(openat(dir, name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat opened, named;
    if (fd.valid() && IsLeftover(name, fd.get()) &&
        flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
        fstat(fd.get(), &opened) == 0 &&
        fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameInode(opened, named)) {
      ops.Unlink(dir, name);
    }
  }
}

// The names of the extended attributes of `fd` the caller can read, none
// where the file system has none; false when they cannot be listed.
bool AttributeNames(int fd, std::vector<std::string>* list) {
  std::string names(65536, '\0');
  ssize_t length = flistxattr(fd, names.data(), names.size());
  if (length < 0) return errno == ENOTSUP;
  for (ssize_t at = 0; at < length; at += list->back().size() + 1) {
    list->push_back(names.c_str() + at);
  }
  return true;
}

// Gives `to` what the file system keeps about the file `from` besides its
// bytes: owner, group, mode, the extended attributes the caller can read
// (POSIX ACLs and file capabilities among them) and the inode flags; false
// when any of it cannot be given exactly. After the last write, which would
// take the set-user-ID bits and capabilities away again.
bool CarryGuards(int from, const struct stat& status, int to, FileOps& ops) {
  std::vector<std::string> names, added;
  // The owner first: its change takes capabilities and set-user-ID bits.
  if (!ops.Chown(to, status.st_uid, status.st_gid) ||
      !AttributeNames(from, &names) || !AttributeNames(to, &added)) {
    return false;
  }
  std::string value(65536, '\0');
  for (const std::string& name : names) {
    ssize_t length = fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0 || !ops.SetAttribute(to, name, value.substr(0, length))) {
      return false;
    }
  }
  // What the new file got and the old one has not, as the folder's default
  // ACL, goes.
  for (const std::string& name : added) {
    if (std::find(names.begin(), names.end(), name) == names.end() &&
        !ops.RemoveAttribute(to, name)) {
      return false;
    }
  }
  // The mode after the ACL, whose mask it then matches.
  int old_flags = 0, new_flags = 0;
  if (!ops.Chmod(to, status.st_mode & 07777)) return false;
  if (ioctl(from, FS_IOC_GETFLAGS, &old_flags) != 0 ||
      (ioctl(to, FS_IOC_GETFLAGS, &new_flags) == 0 && new_flags == old_flags)) {
    return true;
  }
  return ops.SetFlags(to, old_flags) &&
         ioctl(to, FS_IOC_GETFLAGS, &new_flags) == 0 && new_flags == old_flags;
}

}  // namespace

Replacement::Replacement(const TagFile& file, FileOps& ops)
    : ops_(&ops), dir_(file.directory.get()), old_inode_(file.status.st_ino) {
  RemoveLeftovers(dir_, ops);
  // Unnamed where /proc can name it at the end.
  if (access("/proc/self/fd", X_OK) == 0) {
    fd_ = UniqueFd(openat(dir_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  }
  struct stat status;
  if (!fd_.valid()) {
    unsigned char random[8];
    uint64_t number = 0;
    do {
      if (getrandom(random, sizeof random, 0) != sizeof random) break;
      for (unsigned char byte : random) number = number << 8 | byte;
      name_ = kTempPrefix + Hex(old_inode_) + "-r" + Hex(number);
      fd_ = UniqueFd(openat(dir_, name_.c_str(),
                            O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
    } while (!fd_.valid() && errno == EEXIST);
    if (!fd_.valid()) name_.clear();
  }
  int cause = errno;
  // Locked, it is no leftover to another run; named after its inode at once,
  // it is one to the next.
  if (!fd_.valid() || flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 ||
      fstat(fd_.get(), &status) != 0 ||
      (!name_.empty() &&
       !ops.Rename(dir_, name_, TempName(old_inode_, status.st_ino)))) {
    cause = fd_.valid() ? errno : cause;
    if (!name_.empty()) ops.Unlink(dir_, name_);
    name_.clear();
    fd_.Reset();
    throw EditError(kCannotWrite, cause);
  }
  if (!name_.empty()) name_ = TempName(old_inode_, status.st_ino);
}

Replacement::Replacement(Replacement&& other) noexcept {
  *this = std::move(other);
}

Replacement& Replacement::operator=(Replacement&& other) noexcept {
  std::swap(ops_, other.ops_);
  std::swap(dir_, other.dir_);
  std::swap(fd_, other.fd_);
  std::swap(name_, other.name_);
  std::swap(old_inode_, other.old_inode_);
  return *this;
}

Replacement::~Replacement() {
  struct stat status;
  if (!name_.empty() && fstat(fd_.get(), &status) == 0) {
    RemoveIfItIs(name_, status.st_ino);
  }
}

void Replacement::RemoveIfItIs(const std::string& name, ino_t inode) {
  struct stat named;
  if (fstatat(dir_, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      named.st_ino == inode) {
    ops_->Unlink(dir_, name);
  }
}

void Replacement::Finish(const TagFile& file) {
  if (!CarryGuards(file.fd.get(), file.status, fd_.get(), *ops_) ||
      !ops_->Sync(fd_.get())) {
    throw EditError(kCannotWrite, errno);
  }
}

void Replacement::Commit(const TagFile& file) {
  struct stat status;
  if (fstat(fd_.get(), &status) != 0) throw EditError(kCannotWrite, errno);
  if (name_.empty()) {
    std::string name = TempName(old_inode_, status.st_ino);
    if (!ops_->Link(fd_.get(), dir_, name)) {
      throw EditError(kCannotWrite, errno);
    }
    name_ = name;
  }
  // At every moment the name holds the old file or the new one, and only
  // the new one if the old was what the edit read.
  if (!Unchanged(file) || !StillNamed(file)) throw EditError(kChanged);
  if (ops_->Exchange(dir_, name_, file.name)) {
    // What the name held a moment ago is at hand: the file read, which
    // goes, or one put there or changed since the check, which goes back.
    if (!StillNamed(file, name_) || !Unchanged(file)) {
      // If it cannot, the stranger's file stays under the temporary name.
      if (!ops_->Exchange(dir_, name_, file.name)) name_.clear();
      throw EditError(kChanged);
    }
    RemoveIfItIs(name_, old_inode_);
  } else if (errno != EINVAL || !StillNamed(file) ||
             !ops_->Rename(dir_, name_, file.name)) {
    // Without exchange, as on some network file systems, a rename after the
    // same check.
    throw EditError(kCannotWrite, errno);
  }
  name_.clear();
  // A folder the caller may not read cannot be synced by it.
  UniqueFd folder(openat(dir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.valid() ? !ops_->Sync(folder.get()) : errno != EACCES) {
    throw EditError(kCannotWrite, errno);
  }
}

}  // namespace tagedit
