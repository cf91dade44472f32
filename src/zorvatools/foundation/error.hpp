#pragma once
// Error values of the algorithms library. Every fallible operation returns its result or one
// AlgoError; nothing is thrown across module boundaries.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace zorvatools {

class AlgoError {
 public:
  enum class Kind : std::uint8_t {
    EmptyInput,       // a required input was empty; constant text chosen at the raising site
    InvalidGeometry,  // geometry that cannot be worked with; constant text
    InvalidArgument,  // an argument outside its domain; formatted text
    Io,               // an operating-system I/O failure; carries the errno value and, where
                      // the bare system text would not say enough, what was being done
    Parse,            // malformed input text or bytes; formatted text
    NotFound,         // a named item is absent; formatted text
    Interrupted,      // the caller stopped the call (Ctrl-C); no text
    OutOfMemory,      // an allocation failed; the text names what was being done
  };

  static AlgoError empty_input(const char* text) { return {Kind::EmptyInput, text, 0}; }
  static AlgoError invalid_geometry(const char* text) { return {Kind::InvalidGeometry, text, 0}; }
  static AlgoError invalid_argument(std::string text) {
    return {Kind::InvalidArgument, std::move(text), 0};
  }
  static AlgoError io(int os_code) { return {Kind::Io, {}, os_code}; }
  static AlgoError io(int os_code, std::string context) {
    return {Kind::Io, std::move(context), os_code};
  }
  static AlgoError parse(std::string text) { return {Kind::Parse, std::move(text), 0}; }
  static AlgoError not_found(std::string text) { return {Kind::NotFound, std::move(text), 0}; }
  static AlgoError interrupted() { return {Kind::Interrupted, {}, 0}; }
  // `activity` completes "out of memory while ...", e.g. "layering the grid".
  static AlgoError out_of_memory(std::string activity) {
    return {Kind::OutOfMemory, std::move(activity), 0};
  }

  [[nodiscard]] Kind kind() const { return kind_; }
  // The message payload (for Io, the context; empty when there is none).
  [[nodiscard]] const std::string& text() const { return text_; }
  // The errno value of an Io error (0 otherwise).
  [[nodiscard]] int os_code() const { return os_code_; }

  // "invalid argument: ...", "I/O error: No such file or directory (os error 2)",
  // "I/O error: {context}: No space left on device (os error 28)", ...
  [[nodiscard]] std::string display() const;
  // Kind name with its payload: InvalidArgument("..."), Io(...).
  [[nodiscard]] std::string debug() const;

  friend bool operator==(const AlgoError&, const AlgoError&) = default;

 private:
  AlgoError(Kind kind, std::string text, int os_code)
      : kind_(kind), text_(std::move(text)), os_code_(os_code) {}

  Kind kind_;
  std::string text_;
  int os_code_;
};

template <class T>
using AlgoResult = std::expected<T, AlgoError>;

// The operating system's description of an errno value followed by " (os error {code})".
std::string os_error_text(int os_code);

}  // namespace zorvatools
