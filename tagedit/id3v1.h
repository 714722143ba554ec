#ifndef TAGEDIT_ID3V1_H_
#define TAGEDIT_ID3V1_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tagedit/command.h"
#include "tagedit/frame_list.h"

namespace tagedit {

// The ID3v1 tag: the last 128 bytes of a file, starting "TAG".
inline constexpr uint64_t kV1Size = 128;
inline constexpr char kV1Magic[] = "TAG";
inline constexpr size_t kV1MagicSize = sizeof kV1Magic - 1;

// How many of the last bytes of a file `size` long, ending in `tail` (its
// last kV1Size bytes, or all of a shorter file), are what a kill left of an
// ID3v1 tag it stopped appending; 0 for none.
uint64_t TornV1Length(uint64_t size, const std::string& tail);

// The ID3v1.1 tag to go with the ID3v2 tag `tag`: the fields in `set` as its
// frames hold them, the others as `old_v1` holds them or, for a file without
// an ID3v1 tag (`old_v1` empty), as the frames hold them too.
std::string BuildV1(const V2Tag& tag, const std::vector<const Field*>& set,
                    const std::string& old_v1);

// The fields the ID3v1 tag `v1` holds, as edits that put them into an ID3v2
// tag.
std::vector<FieldEdit> V1Edits(const std::string& v1);

}  // namespace tagedit

#endif  // TAGEDIT_ID3V1_H_
