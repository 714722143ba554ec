// libFuzzer target for the frame walker and the frames an edit adds: whatever
// parses renders back to a tag that parses to the same frames, with a new
// frame of the tag's own rules among them; and, where the tag is neither
// unsynchronised nor flags an extended header, what it renders is the tag's
// body up to padding, so that no byte but padding is lost. Built and run by
// fuzz.sh.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tagedit/edit_error.h"
#include "tagedit/frame_list.h"

namespace {

tagedit::V2Tag Parse(const std::string& bytes) {
  tagedit::V2Tag tag = tagedit::ParseV2Tag(bytes);
  std::string data;
  for (const tagedit::V2Frame& frame : tag.frames) FrameData(tag, frame, &data);
  return tag;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The version and flags from the input; the size always right, so that the
  // walk, not the header, is what is tried.
  std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string bytes = std::string("ID3") + char(2 + data[0] % 3) + '\0' +
                      char(data[1]) + tagedit::SyncSafe(body.size()) + body;
  tagedit::V2Tag tag;
  try {
    tag = Parse(bytes);
  } catch (const tagedit::EditError&) {
    return 0;
  }
  std::string kept = tagedit::RenderV2Tag(tag).substr(tagedit::kV2HeaderSize);
  if ((data[1] & 0xC0) == 0 &&
      (body.compare(0, kept.size(), kept) != 0 ||
       body.find_first_not_of(tagedit::kPaddingBytes, kept.size()) !=
           std::string::npos)) {
    abort();
  }
  const char* id = tag.major == 2 ? "TT2" : "TIT2";
  tag.frames.push_back(tagedit::MakeFrame(&tag, id, body.substr(0, 300)));
  std::string rendered = tagedit::RenderV2Tag(tag);
  if (tagedit::RenderV2Tag(Parse(rendered)) != rendered) abort();
  return 0;
}
