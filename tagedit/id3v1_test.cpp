// What the ID3v1 tag at the end of the file holds after an edit.
#include "tagedit/id3v1.h"

#include <gtest/gtest.h>

#include "test/support.h"

namespace tagedit {
namespace {

using namespace testing_support;  // NOLINT(build/namespaces)

TEST(Id3v1, GenreNumbersAndNamesAreRead) {
  const std::pair<std::string, int> cases[] = {
      {"(17)", 17}, {"10", 10},         {"(9)Metal", 9},
      {"mEtAl", 9}, {"", 255},          {"Mathcore", 255},
      {"256", 255}, {"a CAPELLA", 123}, {"Christian Rock", 141}};
  for (const auto& [text, genre] : cases)
    EXPECT_EQ(GenreByte(text), genre) << text;
}

}  // namespace
}  // namespace tagedit
