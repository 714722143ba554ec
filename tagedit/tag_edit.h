#ifndef TAGEDIT_TAG_EDIT_H_
#define TAGEDIT_TAG_EDIT_H_

#include "tagedit/command.h"

namespace tagedit {

// Applies every group of `args` to the file it names, writes the tag once and
// fills `summary`; throws an std::exception whose what() is the message to
// show, and then has written nothing.
void ApplyTagEdits(const ArgumentList& args, SummaryText& summary);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_EDIT_H_
