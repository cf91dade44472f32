// Store throughput: one f32 slab lane of 100 slabs, 1 MiB each, written slab by slab (filled
// through mapped views, or in the writer's buffer and handed over by positioned writes; flushed
// to disk, or left to the page cache as an unkept store is) and read back through the mapping.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <span>
#include <string>

#include "zorvatools/store/reader.hpp"
#include "zorvatools/store/writer.hpp"

namespace {

namespace zs = zorvatools::store;

constexpr std::uint64_t kSlabs = 100;
constexpr std::uint64_t kElemsPerSlab = std::uint64_t{1} << 18;
constexpr std::int64_t kLaneBytes = kSlabs * kElemsPerSlab * sizeof(float);

std::filesystem::path bench_path() {
  return std::filesystem::temp_directory_path() /
         ("zv-store-bench-" + std::to_string(::getpid()) + ".zts");
}

zs::StoreSchema bench_schema() {
  return {kSlabs, {{"ZCORN", zs::LaneDtype::F32, zs::LaneKind::slab(kElemsPerSlab)}}, "{}"};
}

enum class Road { Mapped, Written };

bool write_store(const std::filesystem::path& path, Road road = Road::Mapped,
                 zs::StoreWriter::Flush flush = zs::StoreWriter::Flush::Synchronous) {
  auto writer = zs::StoreWriter::create(path, bench_schema());
  if (!writer) return false;
  for (std::uint64_t s = 0; s < kSlabs; ++s) {
    const float value = 2000.0f + static_cast<float>(s);
    if (road == Road::Mapped) {
      auto slab = writer->slab_mut_f32("ZCORN", s);
      if (!slab) return false;
      std::fill(slab->begin(), slab->end(), value);
    } else {
      const std::span<float> slab = writer->buffer<float>(kElemsPerSlab);
      std::fill(slab.begin(), slab.end(), value);
      if (!writer->write_slab_f32("ZCORN", s, slab)) return false;
    }
  }
  return std::move(*writer).finalize(flush).has_value();
}

// Arguments: written (0 through mapped views, 1 by positioned writes), flushed (0 or 1).
void BM_StoreWriteF32Slabs(benchmark::State& state) {
  const auto path = bench_path();
  const Road road = state.range(0) == 0 ? Road::Mapped : Road::Written;
  const auto flush =
      state.range(1) == 0 ? zs::StoreWriter::Flush::Skip : zs::StoreWriter::Flush::Synchronous;
  for (auto _ : state) {
    if (!write_store(path, road, flush)) state.SkipWithError("store write failed");
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * kLaneBytes);
}
BENCHMARK(BM_StoreWriteF32Slabs)
    ->ArgNames({"written", "flushed"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_StoreReadF32Slabs(benchmark::State& state) {
  const auto path = bench_path();
  if (!write_store(path)) state.SkipWithError("store write failed");
  for (auto _ : state) {
    auto store = zs::open(path);
    if (!store) {
      state.SkipWithError("store open failed");
      break;
    }
    double total = 0;
    for (std::uint64_t s = 0; s < kSlabs; ++s) {
      const auto slab = store->slab_f32("ZCORN", s);
      if (!slab) {
        state.SkipWithError("store read failed");
        break;
      }
      total += std::accumulate(slab->begin(), slab->end(), 0.0);
    }
    benchmark::DoNotOptimize(total);
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * kLaneBytes);
}
BENCHMARK(BM_StoreReadF32Slabs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
