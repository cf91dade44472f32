#pragma once
// One-line propagation of std::expected failures. The error converts implicitly, so an
// AlgoError passes up through a function returning a StaticError result unchanged.

#define ZV_CONCAT_INNER(a, b) a##b
#define ZV_CONCAT(a, b) ZV_CONCAT_INNER(a, b)

// Evaluates `expr`; when it failed, returns its error from the enclosing function.
#define ZV_TRY(expr)                                                                \
  do {                                                                              \
    auto&& zv_try_result_ = (expr);                                                 \
    if (!zv_try_result_) return std::unexpected(std::move(zv_try_result_).error()); \
  } while (0)

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define ZV_ASSIGN_OR_RETURN(lhs, expr) \
  ZV_ASSIGN_OR_RETURN_IMPL(ZV_CONCAT(zv_result_, __LINE__), lhs, expr)
#define ZV_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr)            \
  auto tmp = (expr);                                        \
  if (!tmp) return std::unexpected(std::move(tmp).error()); \
  lhs = std::move(*tmp)
