#include "zorvastatic/model/build_size.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "child_process.hpp"
#include "test_support.hpp"
#include "zorvastatic/model/flat_model.hpp"
#include "zorvastatic/spill/budget.hpp"
#include "zorvastatic/spill/capacity.hpp"
#include "zorvastatic/spill/spill.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvastatic {
namespace {

using zorvatools::str_cat;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(BuildSize, LatticeAgainstMemory) {
  struct Case {
    std::uint64_t nx, ny;
    std::optional<std::uint64_t> memory;
    const char* error;  // null: fits
  };
  const Case cases[] = {
      {3, 3, 9 * kLatticeBytesPerNode, nullptr},
      {3, 3, 9 * kLatticeBytesPerNode - 1,
       "grid error: a 3 x 3-node lattice needs 1152 bytes of memory, this machine has 1151 bytes"},
      {1u << 20, 1u << 20, std::nullopt, nullptr},
      // 2^64 nodes: refused as a size that cannot be addressed, never wrapped to zero.
      {1ull << 32, 1ull << 32, std::nullopt,
       "grid error: a 4294967296 x 4294967296-node lattice needs at least 18446744073709551615 "
       "bytes of memory, more than can be addressed"},
      {kMax, 2, kMax,
       "grid error: a 18446744073709551615 x 2-node lattice needs at least 18446744073709551615 "
       "bytes of memory, this machine has 18446744073709551615 bytes"},
  };
  for (const Case& c : cases) {
    const Status status = check_lattice_size(c.nx, c.ny, c.memory);
    if (c.error == nullptr) {
      EXPECT_TRUE(status) << c.nx << " x " << c.ny << ": " << status.error().display();
    } else {
      EXPECT_ERROR_TEXT(status, c.error);
    }
  }
}

TEST(BuildSize, AnUnaddressableFlatLatticeIsRefusedBeforeItsHorizonExists) {
  const auto ram = query_physical_ram();
  const std::string available =
      ram ? str_cat("this machine has ", *ram, " bytes") : "more than can be addressed";
  EXPECT_ERROR_TEXT(flat_model_builder({.n = kMax, .nk = kMax}),
                    "grid error: a 18446744073709551615 x 18446744073709551615-node lattice "
                    "needs at least 18446744073709551615 bytes of memory, " +
                        available);
}

TEST(BuildSize, AFlatModelTooLargeForItsSpillDirectoryIsRefusedBeforeItIsBuilt) {
  // 4999 x 4999 x 200 cells stream to a store of some 220 GB, here into a 1 MiB TMPDIR.
  std::string pattern = (std::filesystem::temp_directory_path() / "zv-size-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path dir = pattern;
  std::string why;
  const auto report = testing_support::run_on_small_tmpfs(
      dir, 1 << 20,
      [](const std::filesystem::path& tmpdir) {
        setenv("TMPDIR", tmpdir.c_str(), 1);
        const auto built = flat_model_builder({.n = 5000, .nk = kMax});
        return built ? std::string("built") : built.error().display();
      },
      why);
  std::filesystem::remove_all(dir);
  if (!report) GTEST_SKIP() << why;
  const std::uint64_t cells = 4999ull * 4999 * 200;
  const auto store = spill_store_bytes({4999, 4999, 200}, {"NTG", "PORO", "SW"});
  ASSERT_TRUE(store);
  EXPECT_EQ(*report, str_cat("I/O error: a model of 4999 x 4999 x 200 cells needs ",
                             streaming_estimate(cells), " bytes of memory (budget ",
                             default_spill_budget(query_physical_ram()), " bytes) or ", *store,
                             " bytes in spill directory ", dir.string(), " (", 1 << 20,
                             " bytes free): No space left on device (os error 28)"));
}

// The flat builder of 10 × 10 columns with `nk` layers of `conformity`, with one pipeline when
// `pipeline` (which keeps the grid in memory).
StaticModelBuilder flat_builder(Conformity conformity, std::uint64_t nk, bool pipeline) {
  auto made = flat_model_builder({.nk = nk});
  EXPECT_TRUE(made);
  made->spec.conformity = conformity;
  if (pipeline) {
    made->pipelines.push_back(PropertyPipeline::upscale_only(
        "KX", {WellLog{{{2005, 0.5}}, 150, 150}}, UpscaleMethod::Arithmetic));
  }
  return std::move(*made);
}

TEST(BuildSize, AGridBuiltInMemoryMustFitInMemory) {
  // 121 nodes take 15488 bytes; each cell 64 bytes of corners and three 8-byte cubes.
  constexpr std::uint64_t kMemory = 20000;
  struct Case {
    Conformity conformity;
    std::uint64_t nk;
    bool pipeline;
    const char* error;
  };
  const Case cases[] = {
      {Conformity::proportional(), 2, true, nullptr},  // 200 cells: 17600 bytes
      {Conformity::proportional(), 5, true,
       "grid error: a grid of 10 x 10 x 5 cells held in memory needs 44000 bytes of memory, this "
       "machine has 20000 bytes"},
      // Layering caps the layers at 200, whatever was asked.
      {Conformity::proportional(), kMax, true,
       "grid error: a grid of 10 x 10 x 200 cells held in memory needs 1760000 bytes of memory, "
       "this machine has 20000 bytes"},
      // A conformable zone's count depends on its thickness: at least one layer.
      {Conformity::top_conform(1), 5, true, nullptr},
      // Constant priors only: over its budget the grid streams to the store instead.
      {Conformity::proportional(), 5, false, nullptr},
  };
  for (const Case& c : cases) {
    StaticModelBuilder builder = flat_builder(c.conformity, c.nk, c.pipeline);
    builder.spill_budget_bytes = 0;
    const Status status = check_build_size(build_shape(builder), kMemory);
    if (c.error == nullptr) {
      EXPECT_TRUE(status) << c.nk << ": " << status.error().display();
    } else {
      EXPECT_ERROR_TEXT(status, c.error);
    }
  }
}

TEST(BuildSize, StreamingIsDecidedByTheSameRuleAsTheBuild) {
  EXPECT_TRUE(streams_when_over_budget(flat_builder(Conformity::proportional(), 5, false)));
  EXPECT_FALSE(streams_when_over_budget(flat_builder(Conformity::proportional(), 5, true)));
  StaticModelBuilder trended = flat_builder(Conformity::proportional(), 5, false);
  trended.collapse_below_m = 0.5;
  EXPECT_FALSE(streams_when_over_budget(trended));
}

}  // namespace
}  // namespace zorvastatic
