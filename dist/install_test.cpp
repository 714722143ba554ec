// Installation as users get it: the Debian package, the manual and the bash
// completion.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "test/support.h"

namespace {

using testing_support::TempDir;

// What `command` prints with sh, standard error included, and its status.
std::pair<std::string, int> Sh(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    out.append(buffer, n);
  }
  int status = pipe ? pclose(pipe) : -1;
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

const std::string kBuild = TAGWELL_BUILD_DIR;
const std::string kVersion = TAGWELL_VERSION;
const char kFiles[] =
    "bin/tagwell\nshare/bash-completion/completions/tagwell\n"
    "share/doc/tagwell/changelog.Debian.gz\nshare/doc/tagwell/copyright\n"
    "share/man/man1/tagwell.1.gz\nshare/zsh/vendor-completions/_tagwell\n";

TEST(Install, ThePackageHoldsCleanFiles) {
  TempDir dest;
  auto [pack, packed] = Sh("cpack --config " + kBuild +
                           "/CPackConfig.cmake -G DEB -B " + dest.path());
  ASSERT_EQ(packed, 0) << pack;
  std::string deb = dest / "tagwell_" + kVersion + "-1_amd64.deb";
  EXPECT_EQ(Sh("dpkg-deb -x " + deb + " " + dest.path() + " && cd " +
               dest.path() + "/usr && find . -type f | cut -c3- | sort")
                .first,
            kFiles);
  EXPECT_EQ(Sh(dest / "usr/bin/tagwell --version").first,
            "tagwell " + kVersion + "\n");
  EXPECT_EQ(Sh("mandoc -Tlint " + dest / "usr/share/man/man1/tagwell.1.gz"),
            std::make_pair(std::string(), 0));
  EXPECT_EQ(Sh("dpkg-deb -f " + deb + " Version Section").first,
            "Version: " + kVersion + "-1\nSection: sound\n");
  EXPECT_NE(Sh("dpkg-deb -f " + deb + " Depends").first.find("libid3-3.8.3v5"),
            std::string::npos);
  auto [lint, clean] = Sh("! command -v lintian >/dev/null || ! lintian " +
                          deb + " | grep '^E:'");
  EXPECT_EQ(clean, 0) << lint;
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
           "COMP_POINT=${#COMP_LINE}; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
           "_tagwell; printf \"%s\\n\" \"${COMPREPLY[@]}\" | grep .; true'")
            .first,
        offered)
        << line;
  }
}

}  // namespace
