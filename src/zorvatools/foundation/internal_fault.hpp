#pragma once
// Broken internal invariants (array lengths, indices in range) are not errors a caller can
// cause; they throw an InternalFault, which the Python layer turns into a BaseException.

#include <stdexcept>

namespace zorvatools {

class InternalFault : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

[[noreturn]] inline void internal_fault(const char* what) {
  throw InternalFault(what);
}

// Checks an invariant that user input cannot break.
inline void require(bool holds, const char* what) {
  if (!holds) internal_fault(what);
}

}  // namespace zorvatools
