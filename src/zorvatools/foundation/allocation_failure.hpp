#pragma once
// Allocation failures as error values. An operation that may allocate without bound runs its
// body through catch_allocation_failure, so that a request the machine cannot meet ends the
// operation like any other error instead of escaping as an exception.

#include <new>
#include <stdexcept>
#include <string_view>

#include "zorvatools/foundation/error.hpp"

namespace zorvatools {

// "out of memory while {stage}": the stage the call last reported (call_scope.hpp), else
// `activity`.
[[nodiscard]] AlgoError out_of_memory(std::string_view activity);

// Runs body() (returning a std::expected whose error an AlgoError converts into) and returns an
// allocation failure inside it as an OutOfMemory error.
template <class Body>
auto catch_allocation_failure(std::string_view activity, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {  // a size no container can even describe
  }
  return std::unexpected(out_of_memory(activity));
}

}  // namespace zorvatools
