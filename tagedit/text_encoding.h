#ifndef TAGEDIT_TEXT_ENCODING_H_
#define TAGEDIT_TEXT_ENCODING_H_

#include <string>

namespace tagedit {

// A command-line value as a text frame stores it.
struct FrameText {
  bool utf16;            // stored as UTF-16 with a byte-order mark
  std::string latin1;    // the ISO-8859-1 bytes, when !utf16
  std::u16string units;  // the UTF-16 code units, when utf16
};

// Valid UTF-8 up to U+00FF becomes ISO-8859-1, other valid UTF-8 becomes
// UTF-16, and bytes that are not UTF-8 are kept as typed.
FrameText EncodeFrameText(const std::string& value);

}  // namespace tagedit

#endif  // TAGEDIT_TEXT_ENCODING_H_
