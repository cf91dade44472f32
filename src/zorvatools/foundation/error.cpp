#include "zorvatools/foundation/error.hpp"

#include <cstring>

#include "zorvatools/foundation/debug_quote.hpp"

namespace zorvatools {

std::string os_error_text(int os_code) {
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be the buffer.
  const char* description = strerror_r(os_code, buffer, sizeof buffer);
  return std::string(description) + " (os error " + std::to_string(os_code) + ")";
}

std::string AlgoError::display() const {
  switch (kind_) {
    case Kind::EmptyInput:
      return "empty input: " + text_;
    case Kind::InvalidGeometry:
      return "invalid geometry: " + text_;
    case Kind::InvalidArgument:
      return "invalid argument: " + text_;
    case Kind::Io:
      if (!text_.empty()) return "I/O error: " + text_ + ": " + os_error_text(os_code_);
      return "I/O error: " + os_error_text(os_code_);
    case Kind::Parse:
      return "parse error: " + text_;
    case Kind::NotFound:
      return "not found: " + text_;
    case Kind::Interrupted:
      return "interrupted";
    case Kind::OutOfMemory:
      return "out of memory while " + text_;
  }
  return {};
}

std::string AlgoError::debug() const {
  switch (kind_) {
    case Kind::EmptyInput:
      return "EmptyInput(" + debug_quote(text_) + ")";
    case Kind::InvalidGeometry:
      return "InvalidGeometry(" + debug_quote(text_) + ")";
    case Kind::InvalidArgument:
      return "InvalidArgument(" + debug_quote(text_) + ")";
    case Kind::Io:
      if (!text_.empty()) {
        return "Io(" + debug_quote(text_) + ", " + debug_quote(os_error_text(os_code_)) + ")";
      }
      return "Io(" + debug_quote(os_error_text(os_code_)) + ")";
    case Kind::Parse:
      return "Parse(" + debug_quote(text_) + ")";
    case Kind::NotFound:
      return "NotFound(" + debug_quote(text_) + ")";
    case Kind::Interrupted:
      return "Interrupted";
    case Kind::OutOfMemory:
      return "OutOfMemory(" + debug_quote(text_) + ")";
  }
  return {};
}

}  // namespace zorvatools
