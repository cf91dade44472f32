#include "zorvatools/foundation/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "zorvastatic/error.hpp"

namespace zorvastatic {
namespace {

TEST(AlgoError, DisplayTexts) {
  EXPECT_EQ(AlgoError::empty_input("no samples").display(), "empty input: no samples");
  EXPECT_EQ(AlgoError::invalid_geometry("flat").display(), "invalid geometry: flat");
  EXPECT_EQ(AlgoError::invalid_argument("bad").display(), "invalid argument: bad");
  EXPECT_EQ(AlgoError::io(ENOENT).display(), "I/O error: No such file or directory (os error 2)");
  EXPECT_EQ(AlgoError::io(ENOSPC, "store needs 9 bytes").display(),
            "I/O error: store needs 9 bytes: No space left on device (os error 28)");
  EXPECT_EQ(AlgoError::parse("eof").display(), "parse error: eof");
  EXPECT_EQ(AlgoError::not_found("lane").display(), "not found: lane");
}

TEST(AlgoError, DebugForms) {
  EXPECT_EQ(AlgoError::invalid_argument("a \"b\"").debug(), R"(InvalidArgument("a \"b\""))");
  EXPECT_EQ(AlgoError::io(ENOENT).debug(), R"x(Io("No such file or directory (os error 2)"))x");
  EXPECT_EQ(AlgoError::io(ENOSPC, "full").debug(),
            R"x(Io("full", "No space left on device (os error 28)"))x");
  EXPECT_EQ(AlgoError::not_found("x").debug(), R"(NotFound("x"))");
}

TEST(StaticError, AlgoErrorPassesUpWithoutPrefix) {
  const StaticError error = AlgoError::invalid_argument("variogram sill");
  EXPECT_EQ(error.kind(), StaticError::Kind::Algo);
  EXPECT_EQ(error.display(), "invalid argument: variogram sill");
}

TEST(StaticError, TryMacroConvertsAlgoFailures) {
  auto inner = []() -> zorvatools::AlgoResult<int> {
    return std::unexpected(AlgoError::parse("x"));
  };
  auto outer = [&]() -> Result<int> {
    ZV_ASSIGN_OR_RETURN(int v, inner());
    return v + 1;
  };
  auto result = outer();
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(), "parse error: x");
}

TEST(StaticError, DisplayTexts) {
  EXPECT_EQ(StaticError::invalid_input("x").display(), "invalid input: x");
  EXPECT_EQ(StaticError::grid("nk must be non-zero").display(), "grid error: nk must be non-zero");
  EXPECT_EQ(StaticError::out_of_range("y").display(), "outside validity range: y");
  EXPECT_EQ(StaticError::crossed_surfaces(12, 0.5).display(),
            "base surface crosses above the top at 12 node(s); worst separation 0.5 m "
            "(thin/crossing surfaces collapse GRV)");
  EXPECT_EQ(StaticError::crossed_surfaces(1, -2.0).display(),
            "base surface crosses above the top at 1 node(s); worst separation -2 m "
            "(thin/crossing surfaces collapse GRV)");
}

TEST(StaticError, McDrawNestsToAnyDepthAndCopiesDeeply) {
  StaticError nested =
      StaticError::mc_draw(7, StaticError::mc_draw(3, StaticError::grid("bad cell")));
  StaticError copy = nested;
  EXPECT_EQ(copy.display(),
            "Monte-Carlo draw #7 failed: Monte-Carlo draw #3 failed: grid error: bad cell");
  EXPECT_EQ(copy.debug(),
            R"(McDraw { index: 7, source: McDraw { index: 3, source: Grid("bad cell") } })");
  EXPECT_NE(&copy.source(), &nested.source());
  EXPECT_EQ(StaticError(AlgoError::parse("p")).debug(), R"(Algo(Parse("p")))");
  EXPECT_EQ(StaticError::crossed_surfaces(2, -0.5).debug(),
            "CrossedSurfaces { nodes: 2, worst_m: -0.5 }");
}

}  // namespace
}  // namespace zorvastatic
