#ifndef TAGEDIT_ISOLATED_RENDER_H_
#define TAGEDIT_ISOLATED_RENDER_H_

#include <string>
#include <vector>

#include "tagedit/command.h"
#include "tagedit/tag_file.h"

namespace tagedit {

// The tags id3lib renders for a file once the edits are applied.
struct RenderedTags {
  // The ID3v2 header and frames, without padding (the header's size field is
  // not yet right); empty when no frame is left.
  std::string v2;
  std::string v1;  // the 128-byte ID3v1 tag
};

// Parses `file` with id3lib, applies `edits` and renders the tags, all in a
// child process under CPU and memory limits, because the library crashes,
// loops or exhausts memory on some tags; throws EditError when it fails.
RenderedTags RenderEditedTags(const TagFile& file,
                              const std::vector<FieldEdit>& edits);

}  // namespace tagedit

#endif  // TAGEDIT_ISOLATED_RENDER_H_
