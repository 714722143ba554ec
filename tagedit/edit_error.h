#ifndef TAGEDIT_EDIT_ERROR_H_
#define TAGEDIT_EDIT_ERROR_H_

#include <stdexcept>

namespace tagedit {

// A failed edit; what() is the exact text shown to the user.
class EditError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tagedit

#endif  // TAGEDIT_EDIT_ERROR_H_
