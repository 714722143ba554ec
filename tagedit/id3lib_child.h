#ifndef TAGEDIT_ID3LIB_CHILD_H_
#define TAGEDIT_ID3LIB_CHILD_H_

#include <string>
#include <vector>

#include "tagedit/command.h"

namespace tagedit {

// The frames id3lib renders for `edits` applied in order to an empty tag, as
// an ID3v2.3 frame list; rendered in a child process under CPU and memory
// limits, so that a fault of the library cannot take the file with it. Throws
// EditError when the child fails.
std::string RenderFrames(const std::vector<FieldEdit>& edits);

// The frames RenderFrames gives for each of `lists`, in order, all rendered
// by one child process; throws EditError when the child fails.
std::vector<std::string> RenderFrameLists(
    const std::vector<const std::vector<FieldEdit>*>& lists);

// The number of the genre `name` in id3lib's list of ID3v1 genres, any case,
// or -1.
int GenreNumber(const std::string& name);

}  // namespace tagedit

#endif  // TAGEDIT_ID3LIB_CHILD_H_
