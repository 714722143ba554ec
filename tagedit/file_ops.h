#ifndef TAGEDIT_FILE_OPS_H_
#define TAGEDIT_FILE_OPS_H_

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tagedit {

// Every call that changes a file or a directory, so that a test can make any
// one of them fail, as a full disk or an I/O error would, or do more. Each
// returns false on failure with errno saying why.
class FileOps {
 public:
  virtual ~FileOps() = default;
  // Whether the call `name` goes ahead; false fails it.
  virtual bool Proceed(const char* /*name*/) { return true; }
  virtual bool Write(int fd, uint64_t offset, const std::string& bytes);
  // Writes `bytes` at `at` of `fd`, `size` bytes long, to past its end
  // (what lies from `at` on is what a torn append left), so that a kill at
  // any instant leaves all of them, none, or a part a later read can tell
  // (an ID3v1 tag's: TornV1Length); never over what another program
  // appended since.
  virtual bool Append(int fd, uint64_t at, uint64_t size,
                      const std::string& bytes);
  // Makes a file or folder durable, unless a batch defers it to its own
  // SyncFileSystem.
  virtual bool Sync(int fd);
  virtual bool Flush(int fd);  // orders writes or makes an undo durable: now
  virtual bool SyncFileSystem(int fd);  // all of the file system of `fd`
  virtual bool Truncate(int fd, uint64_t size);
  virtual bool Insert(int fd, uint64_t length);    // blocks at the front
  virtual bool Collapse(int fd, uint64_t length);  // those blocks taken out
  virtual bool Link(int fd, int dir, const std::string& name);  // an unnamed
  virtual bool Rename(int dir, const std::string& from, const std::string& to);
  virtual bool Exchange(int dir, const std::string& a, const std::string& b);
  virtual bool Unlink(int dir, const std::string& name);
  virtual bool Chown(int fd, uid_t owner, gid_t group);
  virtual bool Chmod(int fd, mode_t mode);
  virtual bool SetAttribute(int fd, const std::string& name,
                            const std::string& value);
  virtual bool RemoveAttribute(int fd, const std::string& name);
  virtual bool SetFlags(int fd, int flags);  // the inode flags of chattr

  bool defer_syncs = false;
};

// Bytes of the page a write is torn at when a kill stops it: a write within
// one such page lands whole or not at all.
inline constexpr uint64_t kTearBoundary = 4096;

}  // namespace tagedit

#endif  // TAGEDIT_FILE_OPS_H_
