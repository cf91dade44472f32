// Store throughput: one f32 slab lane of 100 slabs, 1 MiB each, written (filled and flushed to
// disk) and read back slab by slab through the mapping.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
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

bool write_store(const std::filesystem::path& path) {
  auto writer = zs::StoreWriter::create(path, bench_schema());
  if (!writer) return false;
  for (std::uint64_t s = 0; s < kSlabs; ++s) {
    auto slab = writer->slab_mut_f32("ZCORN", s);
    if (!slab) return false;
    std::fill(slab->begin(), slab->end(), 2000.0f + static_cast<float>(s));
  }
  return std::move(*writer).finalize().has_value();
}

void BM_StoreWriteF32Slabs(benchmark::State& state) {
  const auto path = bench_path();
  for (auto _ : state) {
    if (!write_store(path)) state.SkipWithError("store write failed");
  }
  std::filesystem::remove(path);
  state.SetBytesProcessed(state.iterations() * kLaneBytes);
}
BENCHMARK(BM_StoreWriteF32Slabs)->Unit(benchmark::kMillisecond)->UseRealTime();

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
