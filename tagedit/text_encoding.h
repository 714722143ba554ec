#ifndef TAGEDIT_TEXT_ENCODING_H_
#define TAGEDIT_TEXT_ENCODING_H_

#include <string>
#include <vector>

namespace tagedit {

// A command-line value as a text frame stores it.
struct FrameText {
  bool utf16;            // stored as UTF-16 with a byte-order mark
  std::string latin1;    // the ISO-8859-1 bytes, when !utf16
  std::u16string units;  // the UTF-16 code units, when utf16
};

// The length of the strict UTF-8 character (no overlong form, surrogate or
// value past U+10FFFF) at `at` of `bytes`, whose code point goes to `point`;
// 0 where none starts.
size_t Utf8CharAt(const std::string& bytes, size_t at, char32_t* point);

// Appends code point `point` to `out` in UTF-8.
void AppendUtf8(char32_t point, std::string* out);

// Valid UTF-8 up to U+00FF becomes ISO-8859-1, other valid UTF-8 becomes
// UTF-16, and bytes that are not UTF-8 are kept as typed.
FrameText EncodeFrameText(const std::string& value);

// `utf8` in ISO-8859-1, every character it cannot hold as '?'; bytes that are
// not UTF-8 are kept as typed, as EncodeFrameText keeps them.
std::string Latin1Approximation(const std::string& utf8);

// ISO-8859-1 `latin1` in UTF-8.
std::string Latin1ToUtf8(const std::string& latin1);

// The strings of frame text `bytes` stored in ID3v2 text encoding `encoding`
// (0 ISO-8859-1, 1 UTF-16 with byte-order mark, 2 UTF-16BE, 3 UTF-8), split at
// their terminators and decoded to UTF-8.
std::vector<std::string> DecodeFrameStrings(int encoding,
                                            const std::string& bytes);

}  // namespace tagedit

#endif  // TAGEDIT_TEXT_ENCODING_H_
