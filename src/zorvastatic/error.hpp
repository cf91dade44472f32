#pragma once
// Error values of the modelling library. A StaticError can carry an AlgoError unchanged.

#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "zorvatools/foundation/error.hpp"
#include "zorvatools/foundation/try.hpp"

namespace zorvastatic {

using zorvatools::AlgoError;

class StaticError {
 public:
  enum class Kind : std::uint8_t {
    Algo,             // an algorithms-library failure, displayed with no prefix
    InvalidInput,     // "invalid input: ..."
    Grid,             // "grid error: ..."
    OutOfRange,       // "outside validity range: ..."
    CrossedSurfaces,  // a base surface above its top at some nodes
    McDraw,           // a Monte-Carlo draw failed; owns the nested error
  };

  // Implicit: algorithms-library failures pass up through `ZV_TRY` unchanged.
  StaticError(AlgoError algo);  // NOLINT(google-explicit-constructor)

  static StaticError invalid_input(std::string text) {
    return {Kind::InvalidInput, std::move(text)};
  }
  static StaticError grid(std::string text) { return {Kind::Grid, std::move(text)}; }
  static StaticError out_of_range(std::string text) { return {Kind::OutOfRange, std::move(text)}; }
  static StaticError crossed_surfaces(std::uint64_t nodes, double worst_m);
  static StaticError mc_draw(std::uint64_t index, StaticError source);

  StaticError(const StaticError& other);
  StaticError& operator=(const StaticError& other);
  StaticError(StaticError&&) noexcept = default;
  StaticError& operator=(StaticError&&) noexcept = default;
  ~StaticError();

  [[nodiscard]] Kind kind() const { return kind_; }
  // The message of the text kinds.
  [[nodiscard]] const std::string& text() const { return text_; }
  // The nested AlgoError of kind Algo.
  [[nodiscard]] const AlgoError& algo() const;
  [[nodiscard]] std::uint64_t nodes() const { return count_; }          // CrossedSurfaces
  [[nodiscard]] double worst_m() const { return worst_m_; }             // CrossedSurfaces
  [[nodiscard]] std::uint64_t index() const { return count_; }          // McDraw
  [[nodiscard]] const StaticError& source() const { return *source_; }  // McDraw

  [[nodiscard]] std::string display() const;
  [[nodiscard]] std::string debug() const;

  // A stop of the call (Ctrl-C) or an allocation failure: such an error reaches the caller as it
  // is, never folded into another error's text.
  [[nodiscard]] bool wrappable() const;

 private:
  StaticError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::string text_;
  std::unique_ptr<AlgoError> algo_;
  std::uint64_t count_ = 0;
  double worst_m_ = 0;
  std::unique_ptr<StaticError> source_;
};

template <class T>
using Result = std::expected<T, StaticError>;
using Status = std::expected<void, StaticError>;

}  // namespace zorvastatic
