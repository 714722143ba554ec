#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <functional>
#include <iostream>
#include <string>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/manifest.h"
#include "tagedit/signal_block.h"
#include "tagedit/tag_edit.h"
#include "tagedit/tag_list.h"

namespace {

// How many fields the usage text's first line of them holds.
constexpr size_t kFieldsOnFirstLine = 5;
// How long a batch runs before it shows how far it is.
constexpr auto kProgressAfter = std::chrono::seconds(1);

void PrintUsage() {
  // The fields from their table, broken where the text has always broken.
  std::string lines[2];
  size_t count = 0;
  for (const tagedit::Field* field : tagedit::AllFields()) {
    std::string& line = lines[count++ < kFieldsOnFirstLine ? 0 : 1];
    line += (line.empty() ? "" : ", ") + std::string(field->name);
  }
  std::cout << "Usage: tagwell <mp3 filename> -set <fieldname> <value> "
            << std::endl
            << "       [-set <field name> <value> [..]]" << std::endl
            << "Fields: " << lines[0] << "," << std::endl
            << "        " << lines[1] << std::endl;
}

// The usage text, then what a newcomer needs first; the rest is in the manual.
void PrintHelp() {
  PrintUsage();
  std::cout << "\n"
               "Example: tagwell song.mp3 -set artist \"Someone\" -set "
               "tracknum 7\n"
               "An empty value removes the field: -set comment \"\"\n"
               "Track numbers are 1 to 255, alone or with a total: 7 or "
               "7/12\n"
               "tagwell --list <mp3 filename> [..] prints the fields each "
               "file holds.\n"
               "tagwell --each -set <fieldname> <value> [..] [--] <mp3 "
               "filename> [..] sets them on every file.\n"
               "tagwell --list --json <mp3 filename> [..] lists them as JSON; "
               "tagwell --apply <manifest> sets what such a list holds.\n"
               "Exit status: 0 when done, 1 on any failure; a failure "
               "leaves the file as it was.\n"
               "See tagwell(1).\n";
}

// The text shown for `failure`: ours as it is; any other, memory running out
// among them, as the failure to read the tag that it struck.
const char* Message(const std::exception& failure) {
  bool ours = dynamic_cast<const tagedit::EditError*>(&failure) != nullptr;
  return ours ? failure.what() : tagedit::kCannotRead;
}

// Says on standard error that the file `name` failed, and the system's
// reason where there is one.
void ReportFailure(const std::string& name, const std::exception& failure) {
  std::cerr << "tagwell: " << name << ": " << Message(failure);
  auto ours = dynamic_cast<const tagedit::EditError*>(&failure);
  if (ours != nullptr && ours->cause() != 0) {
    std::cerr << " (" << strerror(ours->cause()) << ")";
  }
  std::cerr << "\n";
}

// Prints the fields of every file named after "--list", each block headed by
// the file's name when there are several, as ls does with directories; a file
// that cannot be read is reported on standard error and fails the run.
int ListFiles(const tagedit::ArgumentList& args) {
  int status = 0;
  bool first = true;
  for (size_t i = 2; i < args.size(); ++i) {
    std::string listing;
    try {
      listing = tagedit::ListFields(args[i]);
    } catch (const std::exception& failure) {
      ReportFailure(args[i], failure);
      status = 1;
      continue;
    }
    if (args.size() > 3) {
      std::cout << (first ? "" : "\n") << tagedit::Escaped(args[i]) << ":\n";
    }
    std::cout << listing;
    first = false;
  }
  return status;
}

// Prints the fields of every file named after "--list --json" as one JSON
// array, an object a line, as it reads them; a file that cannot be read gets
// its message there and on standard error, and fails the run.
int ListJson(const tagedit::ArgumentList& args) {
  if (args.size() <= 3) {
    std::cout << tagedit::kNotEnoughArguments;
    return 1;
  }
  int status = 0;
  std::cout << "[";
  for (size_t i = 3; i < args.size(); ++i) {
    std::cout << (i == 3 ? "\n" : ",\n");
    try {
      std::cout << tagedit::ListingJson(args[i], tagedit::ReadFields(args[i]));
    } catch (const std::exception& failure) {
      ReportFailure(args[i], failure);
      std::cout << tagedit::FailureJson(args[i], Message(failure));
      status = 1;
    }
  }
  std::cout << "\n]\n";
  return status;
}

}  // namespace

// Edits the files of the batch `run` makes, printing each file's summary, or
// its failure on standard error, as it is done; while a long batch runs, a
// line on a terminal's standard error says how far it is. Returns the exit
// status: 128 and the signal's number for a batch a signal ended.
int EditBatch(const std::function<int(const tagedit::EachReport&)>& run) {
  bool terminal = isatty(STDERR_FILENO);
  auto start = std::chrono::steady_clock::now();
  bool progress = false;
  int status = 0;
  int signal = run([&](const tagedit::EachResult& result) {
    if (progress) std::cerr << "\r\033[K";
    if (result.failure) {
      status = 1;
      try {
        std::rethrow_exception(result.failure);
      } catch (const std::exception& failure) {
        ReportFailure(result.name, failure);
      }
    } else {
      std::cout << result.summary;
    }
    progress = terminal && result.done < result.total &&
               std::chrono::steady_clock::now() - start > kProgressAfter;
    if (progress) {
      std::cout.flush();
      std::cerr << "tagwell: " << result.done << " of " << result.total
                << " files" << std::flush;
    }
  });
  if (progress) std::cerr << "\r\033[K";
  return signal != 0 ? 128 + signal : status;
}

// Edits the files of the manifest `name` as one batch, printed as EditBatch
// prints; a manifest that cannot be read or is refused touches no file and
// is reported on standard error.
int ApplyManifest(const std::string& name) {
  tagedit::Manifest manifest;
  try {
    manifest = tagedit::ReadManifest(name);
  } catch (const std::exception& failure) {
    ReportFailure(name, failure);
    return 1;
  }
  return EditBatch([&](const tagedit::EachReport& report) {
    return tagedit::ApplyTagEditsToFiles(manifest.files, report);
  });
}

// Whether all that was printed reached standard output; if not, says so on
// standard error, for the output of a command is what a script reads.
bool OutputWritten() {
  if (std::cout.flush()) return true;
  std::cerr << tagedit::kOutputLost;
  return false;
}

int main(int argc, char** argv) {
  tagedit::ArgumentList args(argv, argv + argc);
  int status = 0;
  if (args.size() <= 1) {
    PrintUsage();
  } else if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
    PrintHelp();
  } else if (args.size() > 2 && args[1] == "--list" && args[2] == "--json") {
    status = ListJson(args);
  } else if (args.size() > 2 && args[1] == "--list") {
    status = ListFiles(args);
  } else if (args.size() == 2 && args[1] == "--version") {
    std::cout << "tagwell " TAGWELL_VERSION "\n";
  } else {
    // A file-size limit would otherwise kill the process mid-write; ignored,
    // it fails the write, which the edit undoes and reports. An ignored
    // SIGCHLD, inherited, would leave id3lib's child nothing to wait for.
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
    tagedit::SummaryText summary;
    try {
      if (args[1] == "--each" || (args.size() == 3 && args[1] == "--apply")) {
        // A signal ends a batch once its summaries are out: one that comes
        // at the end waits until they are.
        tagedit::SignalBlock signals;
        status = args[1] == "--each"
                     ? EditBatch([&](const tagedit::EachReport& report) {
                         return tagedit::ApplyTagEditsToEach(args, report);
                       })
                     : ApplyManifest(args[2]);
        OutputWritten();
        return status;
      }
      tagedit::ApplyTagEdits(args, summary);
    } catch (const std::exception& failure) {
      std::cout << Message(failure);
      auto ours = dynamic_cast<const tagedit::EditError*>(&failure);
      if (ours != nullptr && ours->cause() != 0) {
        ReportFailure(args[1], failure);
      }
      OutputWritten();
      return 1;
    }
    std::cout << summary;
    // The file holds the new tags whether or not the summary got out.
    OutputWritten();
    return 0;
  }
  return OutputWritten() ? status : 1;
}
