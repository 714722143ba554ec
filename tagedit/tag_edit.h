#ifndef TAGEDIT_TAG_EDIT_H_
#define TAGEDIT_TAG_EDIT_H_

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "tagedit/command.h"
#include "tagedit/file_ops.h"

namespace tagedit {

// Applies every group of `args` to the file it names, writes the tag once and
// fills `summary`; throws an std::exception whose what() is the message to
// show, and then has written nothing.
void ApplyTagEdits(const ArgumentList& args, SummaryText& summary);

// How one file of a batch ended: its summary, or the failure that left it as
// it was.
struct EachResult {
  const std::string& name;
  SummaryText summary;
  std::exception_ptr failure;
  size_t done, total;  // files, this one included
};
using EachReport = std::function<void(const EachResult&)>;

// One file of a batch and the command whose groups it gets.
struct BatchFile {
  std::string name;
  const EditCommand* command;
};

// Edits every file of `files` in order, each with every guarantee of a
// single edit; `report` hears of each in order once it is durable or has
// failed. SIGINT, SIGTERM or SIGHUP end it once the files edited so far are
// durable and reported, leaving the others as they were; returns that
// signal's number, or 0. Every change goes through `ops`.
int ApplyTagEditsToFiles(const std::vector<BatchFile>& files,
                         const EachReport& report, FileOps& ops);
int ApplyTagEditsToFiles(const std::vector<BatchFile>& files,
                         const EachReport& report);

// Applies the groups of `args` ("--each", groups, files) to every file in
// turn as ApplyTagEditsToFiles does, and returns what it returns. Throws
// EditError for a wrong command, and then has touched no file.
int ApplyTagEditsToEach(const ArgumentList& args, const EachReport& report);

}  // namespace tagedit

#endif  // TAGEDIT_TAG_EDIT_H_
