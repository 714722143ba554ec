#include "tagedit/tag_writer.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "tagedit/edit_error.h"
#include "tagedit/file_io.h"
#include "tagedit/frame_list.h"
#include "tagedit/id3v1.h"
#include "tagedit/signal_block.h"

namespace tagedit {

namespace {

// Padding a new or grown tag keeps, so that the next edits fit in place.
constexpr uint64_t kMinPadding = 1024;
// From this much audio on, a grown tag gets room inserted in front of the
// audio instead of a copy of the file, and a shrunk one keeps its room.
constexpr uint64_t kLargeFile = uint64_t{32} << 20;

// What a write takes from a file unless its writer may keep it: the
// set-user-ID and set-group-ID bits and the file capabilities, which an edit
// in place gives back after its last write.
struct KeptGuards {
  mode_t mode;
  std::string capability;  // empty for none
};
constexpr char kCapability[] = "security.capability";

// Whether the process has the capability `capability` in effect.
bool Capable(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  return syscall(SYS_capget, &header, data) == 0 &&
         (data[capability / 32].effective >> (capability % 32) & 1) != 0;
}

// The guards of `file` that writing it takes away; throws EditError, before
// anything is written, where they could not be given back.
KeptGuards GuardsToKeep(const TagFile& file) {
  KeptGuards kept{static_cast<mode_t>(file.status.st_mode & 07777), {}};
  std::string value(256, '\0');
  ssize_t length =
      fgetxattr(file.fd.get(), kCapability, value.data(), value.size());
  if (length > 0) kept.capability = value.substr(0, length);
  bool set_id = (kept.mode & (S_ISUID | S_ISGID)) != 0;
  if ((!kept.capability.empty() && !Capable(CAP_SETFCAP)) ||
      (set_id && file.status.st_uid != geteuid() && !Capable(CAP_FOWNER))) {
    throw EditError(kCannotWrite, EPERM);
  }
  return kept;
}

// Gives `fd` back what its writes took of `kept`.
bool GiveBack(int fd, const KeptGuards& kept, FileOps& ops) {
  struct stat now;
  if (!kept.capability.empty() && fgetxattr(fd, kCapability, nullptr, 0) < 0 &&
      !ops.SetAttribute(fd, kCapability, kept.capability)) {
    return false;
  }
  if (fstat(fd, &now) != 0) return false;
  if ((now.st_mode & 07777) == kept.mode) return true;
  // A group the caller is not in loses its set-group-ID bit all the same.
  return ops.Chmod(fd, kept.mode) && fstat(fd, &now) == 0 &&
         (now.st_mode & 07777) == kept.mode;
}

// Reports the failure of a call with errno `cause`: ESTALE, from FileOps,
// says the file changed under the edit.
[[noreturn]] void Fail(int cause) {
  if (cause == ESTALE) throw EditError(kChanged);
  throw EditError(kCannotWrite, cause);
}

// Puts back the end of the file where an ID3v1 tag was appended, unless
// the append failed because the file grew: what another program added
// stays.
void PutBackAppended(const TagFile& file, int cause, FileOps& ops) {
  int fd = file.fd.get();
  struct stat now;
  if (cause == ESTALE || fstat(fd, &now) != 0 ||
      static_cast<uint64_t>(now.st_size) > file.v1_at + kV1Size) {
    return;
  }
  if (static_cast<uint64_t>(now.st_size) > file.size) {
    ops.Truncate(fd, file.size);
  }
  ops.Write(fd, file.v1_at, file.torn_v1);
}

// Puts the file back as it was, once its audio is back where it was.
void PutBack(const TagFile& file, const KeptGuards& kept, int cause,
             FileOps& ops) {
  int fd = file.fd.get();
  std::string zeros;
  for (uint64_t at = 0; at < file.zero_blocks; at += zeros.size()) {
    zeros.assign(std::min<uint64_t>(kChunk, file.zero_blocks - at), '\0');
    ops.Write(fd, at, zeros);
  }
  ops.Write(fd, file.zero_blocks, file.v2_tag);
  if (file.v1_tag.empty()) {
    PutBackAppended(file, cause, ops);
  } else {
    ops.Write(fd, file.v1_at, file.v1_tag);
  }
  GiveBack(fd, kept, ops);
  ops.Flush(fd);
}

// Same-size tags overwrite the old ones.
void WriteInPlace(const TagFile& file, const std::string& v2,
                  const std::string& v1, const KeptGuards& kept, FileOps& ops) {
  int fd = file.fd.get();
  SignalBlock block;
  // The ID3v1 tag goes first: appending it is the one write that can run out
  // of room, and then nothing else has changed yet.
  bool v1_written = file.v1_tag.empty()
                        ? ops.Append(fd, file.v1_at, file.size, v1)
                        : ops.Write(fd, file.v1_at, v1);
  if (v1_written && ops.Write(fd, 0, v2) && GiveBack(fd, kept, ops) &&
      ops.Sync(fd)) {
    return;
  }
  int cause = errno;
  PutBack(file, kept, v1_written ? 0 : cause, ops);
  Fail(cause);
}

// Makes room for a larger tag by inserting whole blocks at the front of the
// file, which moves no audio, needs no space for a copy and keeps the inode;
// returns false when the file system cannot, and then nothing has changed.
bool InsertRoom(const TagFile& file, const std::string& v2,
                const std::string& v1, const KeptGuards& kept, FileOps& ops) {
  uint64_t block = file.status.st_blksize;
  // The new tag fits in the room, and the old one becomes its padding: so the
  // old tag is overwritten only once the new one is complete and synced, and
  // a power loss never takes both. Without an old tag, there is nothing to
  // wait for.
  uint64_t room = (v2.size() + kMinPadding + block - 1) / block * block;
  uint64_t announced = room + file.v2_room() - kV2HeaderSize;
  if (announced >= kV2SizeLimit) return false;
  std::string tag = PadV2(v2, room).replace(kV2SizeAt, 4, SyncSafe(announced));
  int fd = file.fd.get();
  uint64_t v1_at = file.v1_at + room;
  bool appends_v1 = file.v1_tag.empty();
  SignalBlock signals;
  if (!ops.Insert(fd, room)) return false;
  bool appended = false, zeroed = false;
  auto complete = [&] {
    if ((appends_v1 &&
         !(appended = ops.Append(fd, v1_at, file.size + room, v1))) ||
        !ops.Write(fd, 0, tag) || (!file.v2_tag.empty() && !ops.Flush(fd))) {
      return false;
    }
    zeroed = true;
    return ops.Write(fd, room + file.zero_blocks,
                     std::string(file.v2_tag.size(), '\0')) &&
           (appends_v1 || ops.Write(fd, v1_at, v1)) &&
           GiveBack(fd, kept, ops) && ops.Sync(fd);
  };
  if (complete()) return true;
  int cause = errno;
  // Until the room is taken out again, a crash leaves zero blocks in front
  // of the old tag, which the next edit takes for tag room.
  if (zeroed) {
    ops.Write(fd, room + file.zero_blocks, file.v2_tag);
    ops.Write(fd, v1_at, file.v1_tag);
  }
  if (ops.Collapse(fd, room)) {
    if (appends_v1) PutBackAppended(file, appended ? 0 : cause, ops);
    GiveBack(fd, kept, ops);
    ops.Flush(fd);
  }
  Fail(cause);
}

// Copies all behind the ID3v2 tag to `to` at `offset` through a bounded
// buffer, so memory does not grow with the file; stops for a signal.
bool CopyAudio(const TagFile& file, int to, uint64_t offset,
               const SignalBlock& block, FileOps& ops) {
  std::string buffer;
  for (uint64_t at = file.audio_begin(); at < file.size;) {
    if (block.Pending()) {
      errno = EINTR;
      return false;
    }
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

// A complete new file in the old one's folder, put in its place unless it
// is left `pending`.
void Rewrite(const TagFile& file, const std::string& v2, const std::string& v1,
             FileOps& ops, Replacement* pending) {
  SignalBlock block;
  Replacement temp(file, ops);
  int fd = temp.fd();
  if (!ops.Write(fd, 0, v2) || !CopyAudio(file, fd, v2.size(), block, ops) ||
      !ops.Write(fd, v2.size() + file.v1_at - file.audio_begin(), v1)) {
    throw EditError(kCannotWrite, errno);
  }
  temp.Finish(file);
  if (pending != nullptr) {
    *pending = std::move(temp);
  } else {
    temp.Commit(file);
  }
}

}  // namespace

uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size, bool keeps_room) {
  if (needed == 0) return keeps_room ? old_v2_size : 0;
  if (old_v2_size >= needed && (keeps_room || old_v2_size - needed < 4096)) {
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

void WriteTags(const TagFile& file, const V2Tag& tag, const std::string& v1,
               FileOps& ops, Replacement* pending) {
  // A new file would replace one the caller may not write all the same.
  if (!file.writable()) throw EditError(kCannotWrite, file.write_error);
  if (!Unchanged(file)) throw EditError(kChanged);
  std::string v2 = RenderV2Tag(tag);
  uint64_t audio_size = file.audio_end() - file.audio_begin();
  // A new file would split the names of a file with several, so it keeps
  // the room it has, as a large file does, rather than growing again.
  bool linked = file.status.st_nlink > 1;
  uint64_t size =
      ChooseV2Size(tag.frames.empty() ? 0 : v2.size(), file.v2_room(),
                   audio_size, audio_size >= kLargeFile || linked);
  // A first tag, like a large file's, costs no copy where room can be
  // inserted, and the file keeps its inode and with it every guard; so does
  // any growing tag of a caller who cannot see the trusted.* attributes a new
  // file would lose.
  bool in_place = size == file.v2_room();
  bool inserts = audio_size >= kLargeFile || linked || file.v2_tag.empty() ||
                 (size > file.v2_room() && !Capable(CAP_SYS_ADMIN));
  std::string padded = in_place ? PadV2(v2, size) : "";
  // Nothing to change, nothing written: not even the file's times.
  if (in_place && file.zero_blocks == 0 && padded == file.v2_tag &&
      v1 == file.v1_tag) {
    return;
  }
  if (in_place) {
    WriteInPlace(file, padded, v1, GuardsToKeep(file), ops);
  } else if (inserts && InsertRoom(file, v2, v1, GuardsToKeep(file), ops)) {
    return;
  } else if (linked) {
    throw EditError(kCannotWrite);
  } else {
    Rewrite(file, PadV2(v2, size), v1, ops, pending);
  }
}

}  // namespace tagedit
