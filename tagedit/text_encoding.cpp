#include "tagedit/text_encoding.h"

#include <algorithm>

namespace tagedit {

size_t Utf8CharAt(const std::string& bytes, size_t at, char32_t* point) {
  unsigned char lead = static_cast<unsigned char>(bytes[at]);
  size_t length = lead < 0x80   ? 1
                  : lead < 0xC2 ? 0
                  : lead < 0xE0 ? 2
                  : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4
                                : 0;
  if (length == 0 || at + length > bytes.size()) return 0;
  *point = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(bytes[at + k]);
    if ((next & 0xC0) != 0x80) return 0;
    *point = (*point << 6) | (next & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (*point < kSmallest[length - 1] || *point > 0x10FFFF ||
      (*point >= 0xD800 && *point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

void AppendUtf8(char32_t point, std::string* out) {
  if (point < 0x80) {
    *out += static_cast<char>(point);
    return;
  }
  int length = point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
  static const unsigned char kLead[] = {0xC0, 0xE0, 0xF0};
  *out += static_cast<char>(kLead[length - 2] | (point >> (6 * (length - 1))));
  for (int k = length - 2; k >= 0; --k) {
    *out += static_cast<char>(0x80 | ((point >> (6 * k)) & 0x3F));
  }
}

namespace {

// Decodes strict UTF-8; returns false for anything else.
bool DecodeUtf8(const std::string& bytes, std::u32string* code_points) {
  for (size_t i = 0; i < bytes.size();) {
    char32_t point;
    size_t length = Utf8CharAt(bytes, i, &point);
    if (length == 0) return false;
    code_points->push_back(point);
    i += length;
  }
  return true;
}

// UTF-16 in the given byte order; a byte-order mark overrides it. Lone
// surrogates become U+FFFD rather than invalid UTF-8.
std::string Utf16ToUtf8(const std::string& bytes, bool big_endian) {
  size_t i = 0;
  if (bytes.size() >= 2) {
    unsigned char a = bytes[0], b = bytes[1];
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
      big_endian = a == 0xFE;
      i = 2;
    }
  }
  auto unit = [&](size_t at) -> char32_t {
    unsigned char a = bytes[at], b = bytes[at + 1];
    return big_endian ? (a << 8) | b : (b << 8) | a;
  };
  std::string out;
  for (; i + 1 < bytes.size(); i += 2) {
    char32_t point = unit(i);
    if (point >= 0xD800 && point < 0xDC00 && i + 3 < bytes.size() &&
        unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      point = 0x10000 + ((point - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (point >= 0xD800 && point < 0xE000) {
      point = 0xFFFD;
    }
    AppendUtf8(point, &out);
  }
  return out;
}

}  // namespace

FrameText EncodeFrameText(const std::string& value) {
  std::u32string points;
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

std::string Latin1Approximation(const std::string& utf8) {
  std::u32string points;
  if (!DecodeUtf8(utf8, &points)) return utf8;
  std::string latin1;
  for (char32_t point : points) {
    latin1 += point <= 0xFF ? static_cast<char>(point) : '?';
  }
  return latin1;
}

std::string Latin1ToUtf8(const std::string& latin1) {
  std::string out;
  for (char c : latin1) AppendUtf8(static_cast<unsigned char>(c), &out);
  return out;
}

std::vector<std::string> DecodeFrameStrings(int encoding,
                                            const std::string& bytes) {
  bool wide = encoding == 1 || encoding == 2;
  std::vector<std::string> strings;
  size_t begin = 0;
  while (begin < bytes.size()) {
    size_t end = begin;
    while (end < bytes.size() &&
           !(bytes[end] == '\0' &&
             (!wide || (end + 1 < bytes.size() && bytes[end + 1] == '\0')))) {
      end += wide ? 2 : 1;
    }
    end = std::min(end, bytes.size());
    std::string raw = bytes.substr(begin, end - begin);
    strings.push_back(wide            ? Utf16ToUtf8(raw, encoding == 2)
                      : encoding == 0 ? Latin1ToUtf8(raw)
                                      : raw);
    begin = end + (wide ? 2 : 1);
  }
  return strings;
}

}  // namespace tagedit
