#ifndef TAGEDIT_TAG_WRITER_H_
#define TAGEDIT_TAG_WRITER_H_

#include <cstdint>
#include <string>

#include "tagedit/file_ops.h"
#include "tagedit/frame_list.h"
#include "tagedit/replacement.h"
#include "tagedit/tag_file.h"

namespace tagedit {

// The size of the new ID3v2 tag, header included, for `needed` bytes of header
// and frames beside `audio_size` bytes of audio (0 for no frame: no tag, but
// a file that `keeps_room` keeps it as a tag of padding only): the old tag's
// room when the tag fits it with less than 4 KiB to spare (any room, where it
// `keeps_room`), else at least 1 KiB of padding, up to the next multiple of
// 2 KiB for the whole file.
uint64_t ChooseV2Size(uint64_t needed, uint64_t old_v2_size,
                      uint64_t audio_size, bool keeps_room);

// `v2` (header and frames) padded with zero bytes to `size` bytes, its header
// saying so; empty when `size` is 0.
std::string PadV2(const std::string& v2, uint64_t size);

// Puts the ID3v2 tag `tag` and the ID3v1 tag `v1` into `file`: in place when
// the ID3v2 tag keeps its size, into blocks inserted at the front of a large,
// hard-linked or untagged file where the file system can, else by a complete
// new file
// that carries every guard of the old one and takes its place; throws
// EditError, and then the file is as it was. Writes nothing when every byte
// would stay as it is. Given `pending`, a new file is left there, not yet
// synced nor in place, for its Commit.
void WriteTags(const TagFile& file, const V2Tag& tag, const std::string& v1,
               FileOps& ops, Replacement* pending = nullptr);
inline void WriteTags(const TagFile& file, const V2Tag& tag,
                      const std::string& v1) {
  FileOps ops;
  WriteTags(file, tag, v1, ops);
}

}  // namespace tagedit

#endif  // TAGEDIT_TAG_WRITER_H_
