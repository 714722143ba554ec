#include <signal.h>

#include <exception>
#include <iostream>
#include <string>

#include "tagedit/tag_edit.h"

namespace {

void PrintUsage() {
  std::cout << "Usage: tagwell <mp3 filename> -set <fieldname> <value> "
            << std::endl
            << "       [-set <field name> <value> [..]]" << std::endl
            << "Fields: tracknum, artist, album, title, year," << std::endl
            << "        comment, genre" << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  tagedit::ArgumentList args(argv, argv + argc);
  if (args.size() <= 1 ||
      (args.size() == 2 && (args[1] == "--help" || args[1] == "-h"))) {
    PrintUsage();
    return 0;
  }
  if (args.size() == 2 && args[1] == "--version") {
    std::cout << "tagwell " TAGWELL_VERSION "\n";
    return 0;
  }
  // A file-size limit would otherwise kill the process mid-write; ignored,
  // it fails the write, which the edit undoes and reports.
  signal(SIGXFSZ, SIG_IGN);
  tagedit::SummaryText summary;
  try {
    tagedit::ApplyTagEdits(args, summary);
  } catch (const std::exception& failure) {
    std::cout << failure.what();
    return 1;
  }
  std::cout << summary;
  return 0;
}
