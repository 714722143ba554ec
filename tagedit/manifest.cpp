#include "tagedit/manifest.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "tagedit/edit_error.h"
#include "tagedit/fields.h"
#include "tagedit/text_encoding.h"

namespace tagedit {

namespace {

// Where the characters that stand for single bytes begin: U+EF80 is 0x80.
constexpr char32_t kByteChars = 0xEF00;
constexpr char32_t kFirstByteChar = kByteChars + 0x80;
constexpr char32_t kLastByteChar = kByteChars + 0xFF;
// The key of the listing's failure message, which a manifest may carry.
constexpr char kErrorKey[] = "error";
constexpr char kFileKey[] = "file";

// `bytes` as text a JSON string can hold, by the rule above.
std::string JsonText(const std::string& bytes) {
  std::string text;
  for (size_t at = 0; at < bytes.size();) {
    char32_t point;
    size_t length = Utf8CharAt(bytes, at, &point);
    if (length > 0 && (point < kFirstByteChar || point > kLastByteChar)) {
      text.append(bytes, at, length);
      at += length;
      continue;
    }
    for (size_t end = at + std::max<size_t>(length, 1); at < end; ++at) {
      AppendUtf8(kByteChars + static_cast<unsigned char>(bytes[at]), &text);
    }
  }
  return text;
}

// The bytes JSON text `text`, valid UTF-8, stands for.
std::string Bytes(const std::string& text) {
  std::string bytes;
  for (size_t at = 0; at < text.size();) {
    char32_t point = 0;
    // The parser lets nothing else through; a stray byte would stay as it is.
    size_t length = std::max<size_t>(Utf8CharAt(text, at, &point), 1);
    if (point >= kFirstByteChar && point <= kLastByteChar) {
      bytes += static_cast<char>(point - kByteChars);
    } else {
      bytes.append(text, at, length);
    }
    at += length;
  }
  return bytes;
}

[[noreturn]] void Refuse(const std::string& fault) {
  throw EditError((kManifestRefused + fault).c_str());
}

// Reads the manifest as the parser walks it, keeping no more than the
// entries' files and commands; throws EditError at the first fault.
class ManifestReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit ManifestReader(Manifest* manifest) : manifest_(manifest) {}

  bool null() override { return Scalar(); }
  bool boolean(bool) override { return Scalar(); }
  bool number_integer(number_integer_t) override { return Scalar(); }
  bool number_unsigned(number_unsigned_t) override { return Scalar(); }
  bool number_float(number_float_t, const string_t&) override {
    return Scalar();
  }
  bool binary(binary_t&) override { return Scalar(); }
  bool string(string_t& text) override {
    if (depth_ < 2) return Scalar();
    std::string bytes = Bytes(text);
    if (bytes.find('\0') != std::string::npos) Refuse(Here() + kZeroByte);
    if (key_ == kFileKey) {
      file_ = std::move(bytes);
      has_file_ = true;
    } else if (key_ != kErrorKey) {
      values_[FieldIndex()] = std::move(bytes);
    }
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ != 1) return Scalar();
    ++depth_;
    ++entry_;
    has_file_ = false;
    for (auto& value : values_) value.reset();
    return true;
  }
  bool key(string_t& key) override {
    key_ = key;
    if (key_ != kFileKey && key_ != kErrorKey && FindField(key_) == nullptr) {
      Refuse(Entry() + ": " + kUnknownKey + Quoted(key_) + ".");
    }
    return true;
  }
  bool end_object() override {
    --depth_;
    if (!has_file_) Refuse(Entry() + kNoFile);
    EditCommand& command = manifest_->commands.emplace_back();
    std::vector<const Field*> fields = AllFields();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!values_[i]) continue;
      const std::string& value = *values_[i];
      try {
        if (fields[i]->check != nullptr) fields[i]->check(value);
      } catch (const EditError& fault) {
        Refuse(Entry() + ": " + fault.what());
      }
      command.edits.push_back({fields[i], value});
    }
    manifest_->files.push_back({std::move(file_), &command});
    return true;
  }
  bool start_array(std::size_t) override {
    if (depth_ != 0) return Scalar();
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    return true;
  }
  bool parse_error(std::size_t, const std::string&,
                   const nlohmann::detail::exception& fault) override {
    // The parser's text, from "at line L, column C: " on.
    std::string text = fault.what();
    size_t where = text.find(" at line ");
    Refuse(kNotJson + text.substr(where == std::string::npos ? 0 : where + 1));
  }

 private:
  // A value that is not where it may be.
  bool Scalar() {
    if (depth_ == 0) Refuse(kNotArray);
    if (depth_ == 1) {
      ++entry_;
      Refuse(Entry() + kNotObject);
    }
    Refuse(Here() + kNotString);
  }
  std::string Entry() const { return kEntry + std::to_string(entry_); }
  std::string Here() const { return Entry() + ": " + Quoted(key_); }
  static std::string Quoted(const std::string& key) {
    return nlohmann::json(key).dump();
  }
  size_t FieldIndex() const {
    std::vector<const Field*> fields = AllFields();
    return std::find(fields.begin(), fields.end(), FindField(key_)) -
           fields.begin();
  }

  Manifest* manifest_;
  int depth_ = 0;  // 1 in the array, 2 in an entry
  size_t entry_ = 0;
  std::string key_;
  std::string file_;
  bool has_file_ = false;
  // Each field's value, in the table's order, where the entry gives one.
  std::vector<std::optional<std::string>> values_ =
      std::vector<std::optional<std::string>>(AllFields().size());
};

}  // namespace

std::string ListingJson(const std::string& name,
                        const std::vector<FieldEdit>& fields) {
  nlohmann::ordered_json object;
  object[kFileKey] = JsonText(name);
  for (const FieldEdit& edit : fields) {
    object[edit.field->name] = JsonText(edit.value);
  }
  return object.dump();
}

std::string FailureJson(const std::string& name, const std::string& message) {
  nlohmann::ordered_json object;
  object[kFileKey] = JsonText(name);
  object[kErrorKey] = message;
  return object.dump();
}

Manifest ReadManifest(const std::string& name) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      name == "-" ? fdopen(dup(STDIN_FILENO), "r")
                  : std::fopen(name.c_str(), "r"),
      std::fclose);
  if (!file) throw EditError(kCannotOpen, errno);
  Manifest manifest;
  ManifestReader reader(&manifest);
  try {
    nlohmann::json::sax_parse(file.get(), &reader);
  } catch (const EditError&) {
    // What could not be read is no fault of the manifest's.
    if (std::ferror(file.get())) throw EditError(kCannotOpen, errno);
    throw;
  }
  return manifest;
}

}  // namespace tagedit
