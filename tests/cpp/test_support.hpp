#pragma once
// Helpers for tests of std::expected results: one line per message check.

#include <gtest/gtest.h>

#include <string>

// Expects `expr` to fail and its error to display exactly `text`.
#define EXPECT_ERROR_TEXT(expr, text)                                              \
  do {                                                                             \
    auto&& zv_result_ = (expr);                                                    \
    if (zv_result_) {                                                              \
      ADD_FAILURE() << #expr " succeeded; expected the error: " << (text);         \
    } else {                                                                       \
      EXPECT_EQ(zv_result_.error().display(), std::string(text)) << "from " #expr; \
    }                                                                              \
  } while (0)

// Asserts that `expr` succeeded, printing its error otherwise.
#define ASSERT_OK(expr)                                                                       \
  do {                                                                                        \
    auto&& zv_result_ = (expr);                                                               \
    ASSERT_TRUE(zv_result_.has_value()) << #expr " failed: " << zv_result_.error().display(); \
  } while (0)

#define ZV_TEST_CONCAT_INNER(a, b) a##b
#define ZV_TEST_CONCAT(a, b) ZV_TEST_CONCAT_INNER(a, b)

// Asserts success and binds the value to `lhs`.
#define ASSERT_OK_AND_ASSIGN(lhs, expr) \
  ASSERT_OK_AND_ASSIGN_IMPL(ZV_TEST_CONCAT(zv_result_, __LINE__), lhs, expr)
#define ASSERT_OK_AND_ASSIGN_IMPL(tmp, lhs, expr)                             \
  auto tmp = (expr);                                                          \
  ASSERT_TRUE(tmp.has_value()) << #expr " failed: " << tmp.error().display(); \
  lhs = std::move(*tmp)
