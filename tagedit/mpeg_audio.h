#ifndef TAGEDIT_MPEG_AUDIO_H_
#define TAGEDIT_MPEG_AUDIO_H_

#include <cstdint>

namespace tagedit {

// Whether the audio of `fd`, the bytes from `begin` to `end`, is MPEG audio: a
// valid frame header within its first 64 KiB (behind a second ID3v2 tag, if
// one directly follows the first), followed by a second one where the first
// one's length says, or by the end of the audio.
bool HoldsMpegAudio(int fd, uint64_t begin, uint64_t end);

}  // namespace tagedit

#endif  // TAGEDIT_MPEG_AUDIO_H_
