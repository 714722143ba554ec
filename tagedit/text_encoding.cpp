#include "tagedit/text_encoding.h"

#include <vector>

namespace tagedit {

namespace {

// Decodes strict UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF); returns false for anything else.
bool DecodeUtf8(const std::string& bytes, std::vector<char32_t>* code_points) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char lead = static_cast<unsigned char>(bytes[i]);
    int length = lead < 0x80   ? 1
                 : lead < 0xC2 ? 0
                 : lead < 0xE0 ? 2
                 : lead < 0xF0 ? 3
                 : lead < 0xF5 ? 4
                               : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || point > 0x10FFFF ||
        (point >= 0xD800 && point <= 0xDFFF)) {
      return false;
    }
    code_points->push_back(point);
    i += length;
  }
  return true;
}

}  // namespace

FrameText EncodeFrameText(const std::string& value) {
  std::vector<char32_t> points;
  if (!DecodeUtf8(value, &points)) return {false, value, {}};
  FrameText text{false, {}, {}};
  for (char32_t point : points) {
    if (point > 0xFF) text.utf16 = true;
  }
  for (char32_t point : points) {
    if (!text.utf16) {
      text.latin1 += static_cast<char>(point);
    } else if (point < 0x10000) {
      text.units += static_cast<char16_t>(point);
    } else {
      point -= 0x10000;
      text.units += static_cast<char16_t>(0xD800 + (point >> 10));
      text.units += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    }
  }
  return text;
}

}  // namespace tagedit
