// The bash completion, as bash calls it after splitting the line into words.
#include <gtest/gtest.h>

#include <cstdio>

#include "test/support.h"

namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(Completion, OffersKeywordsFieldsAndFiles) {
  TempDir dir;
  WriteFile(dir / "re:mix.mp3", "");
  // The line as typed, with the cursor at its end; the words as bash splits
  // it for completion; what is offered.
  // clang-format off
  const std::string cases[][3] = {
      {"tagwell --", "tagwell --", "--help\n--list\n--version\n"},
      {"tagwell song.mp3 -set ", "tagwell song.mp3 -set \"\"",
       "tracknum\nartist\nalbum\ntitle\nyear\ncomment\ngenre\n"},
      {"tagwell s -set title Re:Mix -", "tagwell s -set title Re : Mix -", "-set\n"},
      {"tagwell s -set title a=b -set ye", "tagwell s -set title a = b -set ye", "year\n"},
      {"tagwell --list a " + dir / "re:", "tagwell --list a " + dir / "re :", "mix.mp3\n"},
  };
  // clang-format on
  for (const auto& [line, words, offered] : cases) {
    std::string script = "source " TAGWELL_SOURCE_DIR
                         "/dist/tagwell.bash; COMP_WORDS=(" +
                         words + "); COMP_LINE=\"" + line +
                         "\"; COMP_POINT=${#COMP_LINE}; "
                         "COMP_CWORD=$((${#COMP_WORDS[@]}-1)); _tagwell; "
                         "printf \"%s\\n\" \"${COMPREPLY[@]}\"";
    WriteFile(dir / "complete.sh", script);
    FILE* bash = popen(("bash " + dir / "complete.sh").c_str(), "r");
    char reply[4096];
    std::string out(reply, fread(reply, 1, sizeof reply, bash));
    pclose(bash);
    EXPECT_EQ(out, offered) << line;
  }
}

}  // namespace
