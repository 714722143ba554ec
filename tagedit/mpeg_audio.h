#ifndef TAGEDIT_MPEG_AUDIO_H_
#define TAGEDIT_MPEG_AUDIO_H_

#include <cstdint>
#include <string>

namespace tagedit {

// Whether `bytes` starts with an MPEG audio frame header.
bool IsMpegFrameHeader(const std::string& bytes);

// Whether the audio of `fd`, the bytes from `begin` to `end`, is MPEG audio
// and nothing else: no other container's signature at the start of the file
// or of the audio (behind a second ID3v2 tag, if one directly follows the
// first); then, behind up to 1 MiB of zeros and 64 KiB of junk, a frame header
// followed by a second one where the first one's length says, or by the end of
// the audio; a free-format frame by two more, as far apart as the first two.
bool HoldsMpegAudio(int fd, uint64_t begin, uint64_t end);

}  // namespace tagedit

#endif  // TAGEDIT_MPEG_AUDIO_H_
