#include "tagedit/tag_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <signal.h>
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
#include "tagedit/file_io.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"

namespace tagedit {

bool FileOps::Write(int fd, uint64_t offset, const std::string& bytes) {
  return Proceed() && WriteAt(fd, offset, bytes);
}
bool FileOps::Sync(int fd) { return Proceed() && fsync(fd) == 0; }
bool FileOps::Flush(int fd) { return Proceed() && fsync(fd) == 0; }
bool FileOps::Truncate(int fd, uint64_t size) {
  return Proceed() && ftruncate(fd, size) == 0;
}
bool FileOps::Insert(int fd, uint64_t length) {
  return Proceed() && fallocate(fd, FALLOC_FL_INSERT_RANGE, 0, length) == 0;
}
bool FileOps::Collapse(int fd, uint64_t length) {
  return Proceed() && fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, length) == 0;
}
bool FileOps::Rename(int dir, const std::string& from, const std::string& to) {
  return Proceed() && renameat(dir, from.c_str(), dir, to.c_str()) == 0;
}
bool FileOps::Exchange(int dir, const std::string& a, const std::string& b) {
  return Proceed() &&
         renameat2(dir, a.c_str(), dir, b.c_str(), RENAME_EXCHANGE) == 0;
}

namespace {

// Padding a new or grown tag keeps, so that the next edits fit in place.
constexpr uint64_t kMinPadding = 1024;
// From this much audio on, a grown tag gets room inserted in front of the
// audio instead of a copy of the file, and a shrunk one keeps its room.
constexpr uint64_t kLargeFile = uint64_t{32} << 20;
// A temporary file is named this and a random part, and carries this
// attribute, so that no other file is ever taken for one.
constexpr char kTempPrefix[] = ".tagwell-";
constexpr char kTempMark[] = "user.tagwell.temporary";

// Holds off SIGINT, SIGTERM and SIGHUP while the file is between states; one
// that arrives meanwhile is delivered when the block ends.
class SignalBlock {
 public:
  SignalBlock() {
    sigemptyset(&signals_);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, signal);
    sigprocmask(SIG_BLOCK, &signals_, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

  // Whether one of the signals is waiting to end the process.
  bool Pending() const {
    sigset_t pending;
    sigpending(&pending);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
      if (sigismember(&pending, signal)) return true;
    }
    return false;
  }

 private:
  sigset_t signals_;
  sigset_t old_;
};

// Whether `fd` still has `size` bytes: a write at the end of a file that grew
// would land on what another program added.
bool HasSize(int fd, uint64_t size) {
  struct stat now;
  return fstat(fd, &now) == 0 && static_cast<uint64_t>(now.st_size) == size;
}

// Puts the file back as it was, once its audio is back where it was.
void PutBack(const TagFile& file, FileOps& ops) {
  int fd = file.fd.get();
  std::string zeros;
  for (uint64_t at = 0; at < file.zero_blocks; at += zeros.size()) {
    zeros.assign(std::min<uint64_t>(kChunk, file.zero_blocks - at), '\0');
    ops.Write(fd, at, zeros);
  }
  ops.Write(fd, file.zero_blocks, file.v2_tag);
  ops.Write(fd, file.v1_at, file.v1_tag);
  ops.Truncate(fd, file.size);
  ops.Sync(fd);
}

// Appends the ID3v1 tag `v1` at `at`, the end of the file. The file grows
// by zeros first, in one step, so that a kill that tears the write between
// two pages leaves a tag that starts "TAG", which the next edit takes for one
// and completes, not a stump of one that it would keep as audio.
bool AppendV1(int fd, uint64_t at, const std::string& v1, FileOps& ops) {
  return ops.Truncate(fd, at + v1.size()) && ops.Write(fd, at, v1);
}

// Same-size tags overwrite the old ones.
void WriteInPlace(const TagFile& file, const std::string& v2,
                  const std::string& v1, FileOps& ops) {
  int fd = file.fd.get();
  SignalBlock block;
  // The ID3v1 tag goes first: appending it is the one write that can run out
  // of room, and then nothing else has changed yet.
  if (file.v1_tag.empty() && !HasSize(fd, file.size)) {
    throw EditError(kChanged);
  }
  bool v1_written = file.v1_tag.empty() ? AppendV1(fd, file.v1_at, v1, ops)
                                        : ops.Write(fd, file.v1_at, v1);
  if (v1_written && ops.Write(fd, 0, v2) && ops.Sync(fd)) {
    return;
  }
  PutBack(file, ops);
  throw EditError(kCannotWrite);
}

// Makes room for a larger tag by inserting whole blocks at the front of the
// file, which moves no audio, needs no space for a copy and keeps the inode;
// returns false when the file system cannot, and then nothing has changed.
bool InsertRoom(const TagFile& file, const std::string& v2,
                const std::string& v1, FileOps& ops) {
  uint64_t block = file.status.st_blksize;
  // The new tag fits in the room, and the old one becomes its padding: so the
  // old tag is overwritten only once the new one is complete and synced, and
  // a power loss never takes both.
  uint64_t room = (v2.size() + kMinPadding + block - 1) / block * block;
  uint64_t announced = room + file.v2_room() - kV2HeaderSize;
  if (announced >= kV2SizeLimit) return false;
  std::string tag = PadV2(v2, room).replace(kV2SizeAt, 4, SyncSafe(announced));
  int fd = file.fd.get();
  uint64_t v1_at = file.v1_at + room;
  bool appends_v1 = file.v1_tag.empty();
  SignalBlock signals;
  if (!ops.Insert(fd, room)) return false;
  bool grew = false, zeroed = false;
  auto complete = [&] {
    if (appends_v1 && (grew = !HasSize(fd, file.size + room))) return false;
    if ((appends_v1 && !AppendV1(fd, v1_at, v1, ops)) ||
        !ops.Write(fd, 0, tag) || !ops.Flush(fd)) {
      return false;
    }
    zeroed = true;
    return ops.Write(fd, room + file.zero_blocks,
                     std::string(file.v2_tag.size(), '\0')) &&
           (appends_v1 || ops.Write(fd, v1_at, v1)) && ops.Sync(fd);
  };
  if (complete()) return true;
  // Until the room is taken out again, a crash leaves zero blocks in front
  // of the old tag, which the next edit takes for tag room.
  if (zeroed) {
    ops.Write(fd, room + file.zero_blocks, file.v2_tag);
    ops.Write(fd, v1_at, file.v1_tag);
  }
  if (ops.Collapse(fd, room)) {
    if (!grew) ops.Truncate(fd, file.size);  // what of the ID3v1 tag got in
    ops.Sync(fd);
  }
  throw EditError(grew ? kChanged : kCannotWrite);
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
// (POSIX ACLs among them) and the inode flags; false when any of it cannot
// be given exactly, and then the file must not be made anew.
bool CarryGuards(int from, const struct stat& status, int to) {
  std::vector<std::string> names, added;
  if (fchown(to, status.st_uid, status.st_gid) != 0 ||
      !AttributeNames(from, &names) || !AttributeNames(to, &added)) {
    return false;
  }
  std::string value(65536, '\0');
  for (const std::string& name : names) {
    ssize_t length = fgetxattr(from, name.c_str(), value.data(), value.size());
    if (length < 0 ||
        fsetxattr(to, name.c_str(), value.data(), length, 0) != 0) {
      return false;
    }
  }
  // What the new file got and the old one has not, as the directory's
  // default ACL, goes.
  for (const std::string& name : added) {
    if (std::find(names.begin(), names.end(), name) == names.end() &&
        fremovexattr(to, name.c_str()) != 0) {
      return false;
    }
  }
  // The mode after the owner, whose change clears the set-user-ID bits, and
  // after the ACL, whose mask it then matches.
  int old_flags = 0, new_flags = 0;
  if (fchmod(to, status.st_mode & 07777) != 0) return false;
  if (ioctl(from, FS_IOC_GETFLAGS, &old_flags) != 0 ||
      (ioctl(to, FS_IOC_GETFLAGS, &new_flags) == 0 && new_flags == old_flags)) {
    return true;
  }
  return ioctl(to, FS_IOC_SETFLAGS, &old_flags) == 0 &&
         ioctl(to, FS_IOC_GETFLAGS, &new_flags) == 0 && new_flags == old_flags;
}

std::string TempName() {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
  unsigned char random[12];
  if (getrandom(random, sizeof random, 0) != sizeof random) return {};
  std::string name = kTempPrefix;
  for (unsigned char byte : random) name += kDigits[byte % 32];
  return name;
}

// Removes what a killed edit left in the directory `dir`: temporary files
// that carry tagwell's mark and that no running edit holds locked. Once a
// run is enough: a batch of files in one folder reads it once.
void RemoveLeftovers(int dir) {
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
    struct stat status;
    if (fd.valid() && fstat(fd.get(), &status) == 0 &&
        S_ISREG(status.st_mode) &&
        fgetxattr(fd.get(), kTempMark, nullptr, 0) >= 0 &&
        flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      unlinkat(dir, name.c_str(), 0);
    }
  }
}

// Copies all behind the ID3v2 tag to `to` at `offset` through a bounded
// buffer, so memory does not grow with the file.
bool CopyAudio(const TagFile& file, int to, uint64_t offset,
               const SignalBlock& block, FileOps& ops) {
  std::string buffer;
  for (uint64_t at = file.audio_begin(); at < file.size;) {
    if (block.Pending()) return false;
    size_t length = std::min<uint64_t>(kChunk, file.size - at);
    if (!ReadAt(file.fd.get(), at, length, &buffer) ||
        !ops.Write(to, offset, buffer)) {
      return false;
    }
    at += length;
    offset += length;
  }
  return true;
}

// A temporary file in `dir`, locked and marked as tagwell's own so that the
// next edit can tell a leftover; unnamed until it is complete where the file
// system can make unnamed files and /proc can name them. Sets `name` to its
// name, or empty while it has none.
UniqueFd CreateTemp(int dir, std::string* name) {
  bool can_name = access("/proc/self/fd", X_OK) == 0;
  UniqueFd fd(can_name ? openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)
                       : -1);
  name->clear();
  // A random name is taken only by a leftover or a file of the user's.
  if (!fd.valid()) {
    do {
      *name = TempName();
      fd = UniqueFd(openat(dir, name->c_str(),
                           O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
    } while (!fd.valid() && errno == EEXIST);
  }
  if (fd.valid() &&
      (flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
       (fsetxattr(fd.get(), kTempMark, "", 0, 0) != 0 && errno != ENOTSUP))) {
    if (!name->empty()) unlinkat(dir, name->c_str(), 0);
    fd.Reset();
  }
  return fd;
}

// Gives the unnamed file `fd` a temporary name in `dir`.
bool NameTemp(int fd, int dir, std::string* name) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  do {
    *name = TempName();
    if (linkat(AT_FDCWD, self.c_str(), dir, name->c_str(), AT_SYMLINK_FOLLOW) ==
        0) {
      return true;
    }
  } while (errno == EEXIST);
  name->clear();
  return false;
}

// A complete new file in the old one's directory, named, and synced unless
// it is left `pending`.
void Rewrite(const TagFile& file, const std::string& v2, const std::string& v1,
             FileOps& ops, NewFile* pending) {
  int dir = file.directory.get();
  SignalBlock block;
  NewFile temp;
  temp.fd = CreateTemp(dir, &temp.name);
  if (!temp.fd.valid()) throw EditError(kCannotWrite);
  int fd = temp.fd.get();
  bool written =
      CarryGuards(file.fd.get(), file.status, fd) && ops.Write(fd, 0, v2) &&
      CopyAudio(file, fd, v2.size(), block, ops) &&
      ops.Write(fd, v2.size() + file.v1_at - file.audio_begin(), v1) &&
      (pending != nullptr || ops.Flush(fd)) &&
      (!temp.name.empty() || NameTemp(fd, dir, &temp.name)) && !block.Pending();
  if (!written) {
    if (!temp.name.empty()) unlinkat(dir, temp.name.c_str(), 0);
    throw EditError(kCannotWrite);
  }
  if (pending != nullptr) {
    *pending = std::move(temp);
  } else {
    ReplaceWith(file, &temp, ops);
  }
}

}  // namespace

uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size) {
  bool large = audio_size >= kLargeFile;
  if (needed == 0) return large ? old_v2_size : 0;
  if (old_v2_size >= needed && (large || old_v2_size - needed < 4096)) {
    return old_v2_size;
  }
  uint64_t file_size = needed + kMinPadding + audio_size + kV1Size;
  uint64_t padded = (file_size + 2047) / 2048 * 2048;
  return padded - audio_size - kV1Size;
}

std::string PadV2(const std::string& v2, uint64_t size) {
  if (size == 0) return {};
  if (size - kV2HeaderSize >= kV2SizeLimit) throw EditError(kCannotWrite);
  std::string tag = v2 + std::string(size - v2.size(), '\0');
  return tag.replace(kV2SizeAt, 4, SyncSafe(size - kV2HeaderSize));
}

void ReplaceWith(const TagFile& file, NewFile* pending, FileOps& ops) {
  int dir = file.directory.get();
  // At every moment the name holds the old file or the new one, and only
  // the new one if the old was what the edit read.
  bool changed = !Unchanged(file), replaced;
  if (!changed && StillNamed(file) &&
      ops.Exchange(dir, pending->name, file.name)) {
    // The names are exchanged, not one renamed over the other, so that what
    // the name held a moment ago is at hand: the file read, or one put there
    // since the check, which goes back.
    changed = !StillNamed(file, pending->name);
    if (changed) ops.Exchange(dir, pending->name, file.name);
    replaced = !changed;
  } else {
    replaced = !changed && StillNamed(file) &&
               ops.Rename(dir, pending->name, file.name);
  }
  // What the temporary name holds goes: the old file, or the new one unused.
  unlinkat(dir, pending->name.c_str(), 0);
  if (!replaced) throw EditError(changed ? kChanged : kCannotWrite);
  // The rename is durable once the directory is; the new file is in place
  // already, so a failure here is no reason to report the edit as failed.
  UniqueFd sync(openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (sync.valid()) ops.Sync(sync.get());
}

void WriteTags(const TagFile& file, const V2Tag& tag, const std::string& v1,
               FileOps& ops, NewFile* pending) {
  // A rename would replace a file the caller may not write all the same.
  if (!file.writable()) throw EditError(kCannotWrite);
  if (!Unchanged(file)) throw EditError(kChanged);
  RemoveLeftovers(file.directory.get());
  std::string v2 = RenderV2Tag(tag);
  uint64_t audio_size = file.audio_end() - file.audio_begin();
  uint64_t size = ChooseV2Size(tag.frames.empty() ? 0 : v2.size(),
                               file.v2_room(), audio_size);
  // A new file would split the names of a file with several.
  bool linked = file.status.st_nlink > 1;
  if (size == file.v2_room()) {
    WriteInPlace(file, PadV2(v2, size), v1, ops);
  } else if ((audio_size >= kLargeFile || linked) &&
             InsertRoom(file, v2, v1, ops)) {
    return;
  } else if (linked) {
    throw EditError(kCannotWrite);
  } else {
    Rewrite(file, PadV2(v2, size), v1, ops, pending);
  }
}

}  // namespace tagedit
