// Installation as users get it: cmake --install, the man page, the bash
// completion and the Debian package.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "test/support.h"

namespace {

using testing_support::TempDir;

struct Shell {
  std::string out;
  int status;
};

// Runs `command` with sh; standard error joins standard output.
Shell Sh(const std::string& command) {
  Shell result{"", -1};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

const std::string kBuild = TAGWELL_BUILD_DIR;
const std::string kVersion = TAGWELL_VERSION;

TEST(Install, PutsTheProgramManPageAndCompletionInPlace) {
  TempDir dest;
  Shell install = Sh("DESTDIR=" + dest.path() + " cmake --install " + kBuild +
                     " --prefix /opt/tw");
  ASSERT_EQ(install.status, 0) << install.out;
  Shell files = Sh("cd " + dest.path() + " && find . -type f | sort");
  EXPECT_EQ(files.out,
            "./opt/tw/bin/tagwell\n"
            "./opt/tw/share/bash-completion/completions/tagwell\n"
            "./opt/tw/share/doc/tagwell/changelog.Debian.gz\n"
            "./opt/tw/share/doc/tagwell/copyright\n"
            "./opt/tw/share/man/man1/tagwell.1.gz\n"
            "./opt/tw/share/zsh/vendor-completions/_tagwell\n");
  EXPECT_EQ(Sh(dest / "opt/tw/bin/tagwell --version").out,
            "tagwell " + kVersion + "\n");
  std::string page = dest / "opt/tw/share/man/man1/tagwell.1.gz";
  EXPECT_NE(Sh("zcat " + page).out.find("\"tagwell " + kVersion + "\""),
            std::string::npos);
  Shell lint = Sh("command -v mandoc >/dev/null && mandoc -Tlint " + page +
                  " || zcat " + page + " | groff -man -ww -z");
  EXPECT_EQ(lint.status, 0) << lint.out;
  EXPECT_EQ(lint.out, "");
}

TEST(Install, CompletionOffersKeywordsFieldsAndFiles) {
  TempDir dir;
  testing_support::WriteFile(dir / "re:mix.mp3", "");
  struct Case {
    std::string line;   // as typed, the cursor at its end
    std::string words;  // as bash splits it for completion
    std::string offered;
  };
  const Case cases[] = {
      {"tagwell --", "tagwell --", "--help\n--list\n--version\n"},
      {"tagwell song.mp3 ", "tagwell song.mp3 \"\"", "-set\n"},
      {"tagwell song.mp3 -set ", "tagwell song.mp3 -set \"\"",
       "tracknum\nartist\nalbum\ntitle\nyear\ncomment\ngenre\n"},
      {"tagwell song.mp3 -set t", "tagwell song.mp3 -set t",
       "tracknum\ntitle\n"},
      {"tagwell song.mp3 -set title ", "tagwell song.mp3 -set title \"\"", ""},
      {"tagwell song.mp3 -set title Re:Mix -",
       "tagwell song.mp3 -set title Re : Mix -", "-set\n"},
      {"tagwell song.mp3 -set title a=b -set ye",
       "tagwell song.mp3 -set title a = b -set ye", "year\n"},
      {"tagwell --list a.mp3 " + dir / "re:",
       "tagwell --list a.mp3 " + dir / "re :", "mix.mp3\n"},
      {"tagwell " + dir / "re", "tagwell " + dir / "re", dir / "re:mix.mp3\n"},
  };
  for (const Case& c : cases) {
    Shell shell = Sh("bash -c 'source " TAGWELL_SOURCE_DIR
                     "/dist/tagwell.bash-completion; COMP_WORDS=(" +
                     c.words + "); COMP_LINE=\"" + c.line +
                     "\"; COMP_POINT=${#COMP_LINE}; "
                     "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tagwell; "
                     "printf \"%s\\n\" \"${COMPREPLY[@]}\" | grep .; true'");
    EXPECT_EQ(shell.out, c.offered) << c.line;
  }
  EXPECT_EQ(Sh("bash -c 'source " TAGWELL_SOURCE_DIR
               "/dist/tagwell.bash-completion; complete -p tagwell'")
                .out,
            "complete -o filenames -F _tagwell tagwell\n");
}

TEST(Install, DebianPackageHoldsTheSameFilesAndPassesLintian) {
  TempDir out;
  Shell pack = Sh("cpack --config " + kBuild + "/CPackConfig.cmake -G DEB -B " +
                  out.path());
  ASSERT_EQ(pack.status, 0) << pack.out;
  std::string deb = out / "tagwell_" + kVersion + "-1_amd64.deb";
  Shell files =
      Sh("dpkg-deb -c " + deb + " | awk '$1 !~ /^d/ { print $6 }' | sort");
  EXPECT_EQ(files.out,
            "./usr/bin/tagwell\n"
            "./usr/share/bash-completion/completions/tagwell\n"
            "./usr/share/doc/tagwell/changelog.Debian.gz\n"
            "./usr/share/doc/tagwell/copyright\n"
            "./usr/share/man/man1/tagwell.1.gz\n"
            "./usr/share/zsh/vendor-completions/_tagwell\n");
  EXPECT_EQ(Sh("dpkg-deb -f " + deb + " Package Version Section").out,
            "Package: tagwell\nVersion: " + kVersion + "-1\nSection: sound\n");
  EXPECT_NE(Sh("dpkg-deb -f " + deb + " Depends").out.find("libid3-3.8.3v5"),
            std::string::npos);
  Shell lintian = Sh("command -v lintian >/dev/null || exit 0; lintian " + deb +
                     " | grep '^E:'; test $? -eq 1");
  EXPECT_EQ(lintian.status, 0) << lintian.out;
}

}  // namespace
