#ifndef TAGEDIT_EDIT_ERROR_H_
#define TAGEDIT_EDIT_ERROR_H_

#include <stdexcept>
#include <string>

namespace tagedit {

// A failed edit; what() is the exact text shown to the user, cause() the
// system's error number behind it, 0 when there is none.
class EditError : public std::runtime_error {
 public:
  explicit EditError(const char* message, int cause = 0)
      : std::runtime_error(message), cause_(cause) {}
  int cause() const { return cause_; }

 private:
  int cause_;
};

inline constexpr char kNotEnoughArguments[] =
    "Invalid argument usage. Not enough arguments.";
inline constexpr char kSetNotFound[] =
    "Incorrect argument usage. -set not found.";
inline constexpr char kUnknownField[] =
    "Incorrect argument usage. Unrecognised field name.";
inline constexpr char kInvalidTrack[] =
    "Incorrect argument usage. Invalid track number.";
inline constexpr char kCannotOpen[] = "File error. Cannot open the file.";
inline constexpr char kNotMp3[] = "File error. Not an MP3 file.";
inline constexpr char kUnsupportedVersion[] =
    "File error. Unsupported ID3v2 tag version.";
inline constexpr char kCannotRead[] = "File error. Cannot read the tag.";
inline constexpr char kCannotWrite[] = "File error. Cannot write the file.";
inline constexpr char kInUse[] =
    "File error. The file is in use by another program.";
inline constexpr char kChanged[] =
    "File error. The file changed during the edit.";
// A manifest refused, whole: the first words, then the fault; an entry is
// named by its place in the array, counted from 1, and a key as JSON writes
// it.
inline constexpr char kManifestRefused[] = "Manifest error. ";
inline constexpr char kNotJson[] = "Not JSON ";  // then where and why
inline constexpr char kNotArray[] = "The top level is not an array.";
inline constexpr char kEntry[] = "Entry ";
inline constexpr char kNotObject[] = " is not an object.";
inline constexpr char kNoFile[] = " has no \"file\".";
inline constexpr char kNotString[] = " is not a string.";
inline constexpr char kZeroByte[] = " holds a zero byte.";
inline constexpr char kUnknownKey[] = "unknown key ";
// On a terminal's standard error once an edit has waited a second for a lock
// another program holds on the file `name`; it clears a progress line first.
inline std::string WaitingForLock(const std::string& name) {
  return "\r\033[Ktagwell: " + name +
         ": waiting for another program's lock on it\n";
}
// On standard error, where the output of a command could not be written.
inline constexpr char kOutputLost[] =
    "tagwell: cannot write to standard output\n";

}  // namespace tagedit

#endif  // TAGEDIT_EDIT_ERROR_H_
