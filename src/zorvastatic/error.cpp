#include "zorvastatic/error.hpp"

#include "zorvatools/foundation/debug_quote.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {

using zorvatools::str_cat;

StaticError::StaticError(AlgoError algo)
    : kind_(Kind::Algo), algo_(std::make_unique<AlgoError>(std::move(algo))) {}

StaticError StaticError::crossed_surfaces(std::uint64_t nodes, double worst_m) {
  StaticError error(Kind::CrossedSurfaces, {});
  error.count_ = nodes;
  error.worst_m_ = worst_m;
  return error;
}

StaticError StaticError::mc_draw(std::uint64_t index, StaticError source) {
  StaticError error(Kind::McDraw, {});
  error.count_ = index;
  error.source_ = std::make_unique<StaticError>(std::move(source));
  return error;
}

StaticError::StaticError(const StaticError& other)
    : kind_(other.kind_),
      text_(other.text_),
      algo_(other.algo_ ? std::make_unique<AlgoError>(*other.algo_) : nullptr),
      count_(other.count_),
      worst_m_(other.worst_m_),
      source_(other.source_ ? std::make_unique<StaticError>(*other.source_) : nullptr) {}

StaticError& StaticError::operator=(const StaticError& other) {
  if (this != &other) *this = StaticError(other);
  return *this;
}

StaticError::~StaticError() = default;

const AlgoError& StaticError::algo() const {
  return *algo_;
}

bool StaticError::wrappable() const {
  if (kind_ != Kind::Algo) return true;
  const AlgoError::Kind kind = algo_->kind();
  return kind != AlgoError::Kind::Interrupted && kind != AlgoError::Kind::OutOfMemory;
}

std::string StaticError::display() const {
  switch (kind_) {
    case Kind::Algo:
      return algo_->display();
    case Kind::InvalidInput:
      return "invalid input: " + text_;
    case Kind::Grid:
      return "grid error: " + text_;
    case Kind::OutOfRange:
      return "outside validity range: " + text_;
    case Kind::CrossedSurfaces:
      return str_cat("base surface crosses above the top at ", count_,
                     " node(s); worst separation ", worst_m_,
                     " m (thin/crossing surfaces collapse GRV)");
    case Kind::McDraw:
      return str_cat("Monte-Carlo draw #", count_, " failed: ", source_->display());
  }
  return {};
}

std::string StaticError::debug() const {
  using zorvatools::debug_quote;
  switch (kind_) {
    case Kind::Algo:
      return "Algo(" + algo_->debug() + ")";
    case Kind::InvalidInput:
      return "InvalidInput(" + debug_quote(text_) + ")";
    case Kind::Grid:
      return "Grid(" + debug_quote(text_) + ")";
    case Kind::OutOfRange:
      return "OutOfRange(" + debug_quote(text_) + ")";
    case Kind::CrossedSurfaces:
      return str_cat("CrossedSurfaces { nodes: ", count_, ", worst_m: ", worst_m_, " }");
    case Kind::McDraw:
      return str_cat("McDraw { index: ", count_, ", source: ", source_->debug(), " }");
  }
  return {};
}

}  // namespace zorvastatic
