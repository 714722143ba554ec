// Installation as users get it: the Debian package and the bash completion.
#include <gtest/gtest.h>

#include <cstdio>

#include "test/support.h"

namespace {

using testing_support::TempDir;

// What `command` prints with sh, standard error included.
std::string Sh(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  pclose(pipe);
  return out;
}

// Its files, the library it needs, and no error that lintian (where it is
// installed) finds in the package, the manual or the changelog.
TEST(Install, ThePackageHoldsCleanFiles) {
  TempDir dest;
  const std::string deb = dest / "tagwell_" TAGWELL_VERSION "-1_amd64.deb";
  Sh("cpack --config " TAGWELL_BUILD_DIR "/CPackConfig.cmake -G DEB -B " +
     dest.path());
  EXPECT_EQ(Sh("dpkg-deb -x " + deb + " " + dest.path() + " && cd " +
               dest.path() + "/usr && find . -type f | sort"),
            "./bin/tagwell\n./share/bash-completion/completions/tagwell\n"
            "./share/doc/tagwell/changelog.Debian.gz\n"
            "./share/doc/tagwell/copyright\n./share/man/man1/tagwell.1.gz\n"
            "./share/zsh/vendor-completions/_tagwell\n");
  EXPECT_EQ(Sh("dpkg-deb -f " + deb + " Depends | grep -o libid3-3.8.3v5"),
            "libid3-3.8.3v5\n");
  EXPECT_EQ(
      Sh("! command -v lintian >/dev/null || lintian " + deb + " | grep '^E:'"),
      "");
}

TEST(Install, CompletionOffersKeywordsFieldsAndFiles) {
  TempDir dir;
  testing_support::WriteFile(dir / "re:mix.mp3", "");
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
    EXPECT_EQ(
        Sh("bash -c 'source " TAGWELL_SOURCE_DIR "/dist/tagwell.bash; "
           "COMP_WORDS=(" +
           words + "); COMP_LINE=\"" + line +
           "\"; "
           "COMP_POINT=${#COMP_LINE}; COMP_CWORD=$((${#COMP_WORDS[@]}-1));"
           " _tagwell; printf \"%s\\n\" \"${COMPREPLY[@]}\" | grep .'"),
        offered)
        << line;
  }
}

}  // namespace
