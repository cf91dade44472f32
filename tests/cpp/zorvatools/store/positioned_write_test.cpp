// Stores written by positioned writes: every byte lands where a mapped view would have put it,
// writes that stop short or are interrupted resume where they stopped, and a write the file
// system refuses is an error naming the store, which then is never sealed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "child_process.hpp"
#include "store_test_support.hpp"
#include "test_support.hpp"
#include "zorvatools/store/file_mapping.hpp"
#include "zorvatools/store/reader.hpp"
#include "zorvatools/store/writer.hpp"
#include "zorvatools/text/str_cat.hpp"

namespace zorvatools::store {
namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::read_file;
using testing_support::ScratchDir;

// 0, 1, ..., 250, 0, 1, ...: a period no page or pipe size divides, so a piece written at the
// wrong place shows.
Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>(i % 251);
  return bytes;
}

extern "C" void ignore_signal(int) {}

// Through a pipe, whose writes block once it holds 64 KiB: a signal (installed without
// SA_RESTART) that reaches the blocked writer ends its write short when some bytes went, with
// EINTR when none did. The reader signals the writer before each small read.
class WriteFullyThroughAPipe : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(WriteFullyThroughAPipe, ResumesShortAndInterruptedWritesWhereTheyStopped) {
  const std::uint64_t offset = GetParam();
  struct sigaction action{};
  action.sa_handler = ignore_signal;
  sigemptyset(&action.sa_mask);
  struct sigaction previous{};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int channel[2];
  ASSERT_EQ(::pipe(channel), 0);

  const Bytes sent = pattern(std::size_t{1} << 20);
  std::uint64_t expected_at = offset;
  bool places_agree = true;
  int short_writes = 0;
  int interrupted = 0;
  std::atomic<bool> done{false};
  AlgoResult<void> result;
  std::thread writer([&] {
    result =
        write_fully(sent, offset, [&](const std::byte* data, std::size_t size, std::uint64_t at) {
          places_agree = places_agree && at == expected_at && data == sent.data() + (at - offset) &&
                         size == sent.size() - (at - offset);
          const ssize_t written = ::write(channel[1], data, size);
          if (written < 0 && errno == EINTR) ++interrupted;
          if (written > 0) {
            if (static_cast<std::size_t>(written) < size) ++short_writes;
            expected_at += static_cast<std::uint64_t>(written);
          }
          return written;
        });
    done = true;
    ::close(channel[1]);  // the reader sees the end even if bytes went missing
  });
  Bytes received;
  std::byte buffer[4096];
  while (received.size() < sent.size()) {
    if (!done) ::pthread_kill(writer.native_handle(), SIGUSR1);
    const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received.insert(received.end(), buffer, buffer + got);
  }
  writer.join();
  ::close(channel[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);

  ASSERT_OK(result);
  EXPECT_TRUE(places_agree);
  EXPECT_TRUE(received == sent);
  EXPECT_GT(short_writes + interrupted, 0) << "no write was cut short: nothing was tested";
}

INSTANTIATE_TEST_SUITE_P(Offsets, WriteFullyThroughAPipe,
                         ::testing::Values(0, 4093, std::uint64_t{1} << 40));

// What a refused write left in the file at `path`: its length, and whether the bytes from
// `offset` on are the start of what was sent.
std::string left_behind(const fs::path& path, std::uint64_t offset, const Bytes& sent) {
  const Bytes file = read_file(path);
  if (file.size() <= offset) return str_cat(file.size(), " bytes, nothing written");
  const bool prefix =
      std::equal(file.begin() + static_cast<std::ptrdiff_t>(offset), file.end(), sent.begin());
  return str_cat(file.size(), " bytes, ", prefix ? "the bytes sent" : "other bytes");
}

// A write past what the file system holds: the first call writes what fits and stops short, the
// next one fails.
TEST(WriteAt, AFullFileSystemStopsTheWriteWithENOSPC) {
  ScratchDir dir;
  std::string why;
  const auto report = ::testing_support::run_on_small_tmpfs(
      dir.path(), 1 << 20,
      [](const fs::path& directory) {
        auto fd = open_file(directory / "f", O_RDWR | O_CREAT, 0600);
        if (!fd) return std::string("no file");
        const Bytes sent = pattern(3 << 20);
        const auto written = write_at(fd->get(), sent, 4096);
        const std::string outcome = written ? std::string("written") : written.error().display();
        const std::string left = left_behind(directory / "f", 4096, sent);
        // Everything the tmpfs holds, less its first page, which the write skipped.
        return str_cat(outcome, "|", left.substr(left.find(' ')));
      },
      why);
  if (!report) GTEST_SKIP() << why;
  EXPECT_EQ(*report, "I/O error: No space left on device (os error 28)| bytes, the bytes sent");
}

// The same at the process's file size limit, whose signal is ignored: the write crossing the
// limit stops there and the next one fails with EFBIG.
TEST(WriteAt, TheFileSizeLimitStopsTheWriteWithEFBIG) {
  ScratchDir dir;
  const fs::path path = dir.file("f");
  ::testing_support::Child child([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit{300'000, 300'000};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit");
    auto fd = open_file(path, O_RDWR | O_CREAT, 0600);
    if (!fd) return std::string("no file");
    const Bytes sent = pattern(1 << 20);
    const auto written = write_at(fd->get(), sent, 4096);
    return (written ? std::string("written") : written.error().display()) + "|" +
           left_behind(path, 4096, sent);
  });
  const std::string report = child.read_rest();
  child.wait();
  EXPECT_EQ(report, "I/O error: File too large (os error 27)|300000 bytes, the bytes sent");
}

// A lane of each dtype in each kind, with element counts that are not multiples of 64 bytes.
StoreSchema every_lane() {
  return {3,
          {{"SF", LaneDtype::F32, LaneKind::slab(7)},
           {"SD", LaneDtype::F64, LaneKind::slab(5)},
           {"SH", LaneDtype::U16, LaneKind::slab(9)},
           {"SU", LaneDtype::U32, LaneKind::slab(3)},
           {"FF", LaneDtype::F32, LaneKind::flat(11)},
           {"FD", LaneDtype::F64, LaneKind::flat(2)},
           {"FH", LaneDtype::U16, LaneKind::flat(13)},
           {"FU", LaneDtype::U32, LaneKind::flat(6)}},
          R"({"who":"positioned writes"})"};
}

// The value of element `e` of slab `s` of lane `l` (flat lanes: s = 0).
template <class T>
T value_at(std::size_t l, std::size_t s, std::size_t e) {
  return static_cast<T>(1 + 1000 * l + 100 * s + e) / T{2};
}

// How lanes reach the file: through mapped views, by positioned writes from the writer's
// buffer (whole, or f32 slabs in pieces of three elements and f64 flat lanes one element at a
// time), or alternating mapped views and whole
// writes slab by slab and lane by lane.
enum class Road { Mapped, Written, Pieces, Alternating };

template <class T>
AlgoResult<void> fill_lane(StoreWriter& writer, std::size_t l, const LaneSpec& lane,
                           std::uint64_t nslabs, Road road) {
  const std::uint64_t slabs = lane.kind.is_slab() ? nslabs : 1;
  for (std::uint64_t s = 0; s < slabs; ++s) {
    const bool mapped = road == Road::Mapped || (road == Road::Alternating && (l + s) % 2 == 0);
    const std::size_t count = lane.kind.count();
    std::span<T> values;
    if (mapped) {
      AlgoResult<std::span<T>> view;
      if constexpr (std::is_same_v<T, float>) {
        view = lane.kind.is_slab() ? writer.slab_mut_f32(lane.name, s)
                                   : writer.flat_mut_f32(lane.name);
      } else if constexpr (std::is_same_v<T, double>) {
        view = lane.kind.is_slab() ? writer.slab_mut_f64(lane.name, s)
                                   : writer.flat_mut_f64(lane.name);
      } else if constexpr (std::is_same_v<T, std::uint16_t>) {
        view = lane.kind.is_slab() ? writer.slab_mut_u16(lane.name, s)
                                   : writer.flat_mut_u16(lane.name);
      } else {
        view = lane.kind.is_slab() ? writer.slab_mut_u32(lane.name, s)
                                   : writer.flat_mut_u32(lane.name);
      }
      if (!view) return std::unexpected(view.error());
      values = *view;
    } else {
      values = writer.buffer<T>(count);
    }
    for (std::size_t e = 0; e < count; ++e) values[e] = value_at<T>(l, s, e);
    if (mapped) continue;
    AlgoResult<void> written;
    if constexpr (std::is_same_v<T, float>) {
      if (road == Road::Pieces && lane.kind.is_slab()) {
        for (std::size_t first = 0; first < count && written; first += 3) {
          const std::size_t piece = std::min<std::size_t>(3, count - first);
          written = writer.write_slab_part_f32(lane.name, s, first, values.subspan(first, piece));
        }
        if (!written) return written;
        continue;
      }
      written = lane.kind.is_slab() ? writer.write_slab_f32(lane.name, s, values)
                                    : writer.write_flat_f32(lane.name, values);
    } else if constexpr (std::is_same_v<T, double>) {
      if (road == Road::Pieces && lane.kind.is_flat()) {
        for (std::size_t first = 0; first < count && written; ++first) {
          written = writer.write_flat_part_f64(lane.name, first, values.subspan(first, 1));
        }
        if (!written) return written;
        continue;
      }
      written = lane.kind.is_slab() ? writer.write_slab_f64(lane.name, s, values)
                                    : writer.write_flat_f64(lane.name, values);
    } else if constexpr (std::is_same_v<T, std::uint16_t>) {
      written = lane.kind.is_slab() ? writer.write_slab_u16(lane.name, s, values)
                                    : writer.write_flat_u16(lane.name, values);
    } else {
      written = lane.kind.is_slab() ? writer.write_slab_u32(lane.name, s, values)
                                    : writer.write_flat_u32(lane.name, values);
    }
    if (!written) return written;
  }
  return {};
}

// The bytes of a store of every lane filled by `road`, finalised with `flush`.
Bytes store_bytes(const fs::path& path, Road road, StoreWriter::Flush flush) {
  const StoreSchema schema = every_lane();
  auto writer = StoreWriter::create(path, schema);
  EXPECT_TRUE(writer) << writer.error().display();
  if (!writer) return {};
  for (std::size_t l = 0; l < schema.lanes.size(); ++l) {
    const LaneSpec& lane = schema.lanes[l];
    AlgoResult<void> filled;
    switch (lane.dtype) {
      case LaneDtype::F32:
        filled = fill_lane<float>(*writer, l, lane, schema.nslabs, road);
        break;
      case LaneDtype::F64:
        filled = fill_lane<double>(*writer, l, lane, schema.nslabs, road);
        break;
      case LaneDtype::U16:
        filled = fill_lane<std::uint16_t>(*writer, l, lane, schema.nslabs, road);
        break;
      case LaneDtype::U32:
        filled = fill_lane<std::uint32_t>(*writer, l, lane, schema.nslabs, road);
        break;
    }
    EXPECT_TRUE(filled) << filled.error().display();
  }
  const auto finalized = std::move(*writer).finalize(flush);
  EXPECT_TRUE(finalized) << finalized.error().display();
  return read_file(path);
}

class WrittenStores : public ::testing::TestWithParam<std::tuple<Road, StoreWriter::Flush>> {};

TEST_P(WrittenStores, HoldTheBytesOfStoresFilledThroughMappedViews) {
  const auto [road, flush] = GetParam();
  ScratchDir dir;
  const Bytes mapped = store_bytes(dir.file("mapped.zts"), Road::Mapped, flush);
  const Bytes written = store_bytes(dir.file("written.zts"), road, flush);
  ASSERT_FALSE(mapped.empty());
  EXPECT_TRUE(written == mapped);
  // Read back, the values are where they were put.
  ASSERT_OK_AND_ASSIGN(Store store, open(dir.file("written.zts")));
  ASSERT_OK_AND_ASSIGN(auto slab, store.slab_f64("SD", 2));
  EXPECT_EQ(slab[4], (value_at<double>(1, 2, 4)));
  ASSERT_OK_AND_ASSIGN(auto flat, store.flat_u16("FH"));
  EXPECT_EQ(flat[12], (value_at<std::uint16_t>(6, 0, 12)));
}

INSTANTIATE_TEST_SUITE_P(Roads, WrittenStores,
                         ::testing::Combine(::testing::Values(Road::Written, Road::Pieces,
                                                              Road::Alternating),
                                            ::testing::Values(StoreWriter::Flush::Synchronous,
                                                              StoreWriter::Flush::Skip)));

TEST(StoreWriter, WritesAreCheckedLikeViews) {
  ScratchDir dir;
  ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(dir.file("c.zts"), every_lane()));
  const std::vector<float> four(4, 1.0f);
  const std::vector<float> seven(7, 1.0f);
  const std::vector<double> two(2, 1.0);
  EXPECT_ERROR_TEXT(writer.write_slab_f32("sf", 0, seven), "not found: store lane 'sf'");
  EXPECT_ERROR_TEXT(writer.write_slab_f32("SD", 0, seven),
                    "invalid argument: lane 'SD' is f64, not f32");
  EXPECT_ERROR_TEXT(writer.write_slab_f32("FF", 0, seven),
                    "invalid argument: lane 'FF' is flat — use write_flat_*/flat_mut_*");
  EXPECT_ERROR_TEXT(writer.write_flat_f32("SF", seven),
                    "invalid argument: lane 'SF' is a slab lane — use write_slab_*/slab_mut_*");
  EXPECT_ERROR_TEXT(writer.write_slab_f32("SF", 3, seven),
                    "invalid argument: slab 3 out of range (nslabs = 3)");
  EXPECT_ERROR_TEXT(writer.write_slab_f32("SF", 2, four),
                    "invalid argument: lane 'SF': 4 values given for its 7 elements");
  EXPECT_ERROR_TEXT(writer.write_flat_f64("FD", std::span(two).first(1)),
                    "invalid argument: lane 'FD': 1 values given for its 2 elements");
  EXPECT_ERROR_TEXT(writer.write_slab_part_f32("SF", 0, 5, four),
                    "invalid argument: lane 'SF': 4 values at element 5 run past its 7 elements");
  EXPECT_ERROR_TEXT(writer.write_slab_part_f32("SF", 1, 8, {}),
                    "invalid argument: lane 'SF': 0 values at element 8 run past its 7 elements");
  EXPECT_ERROR_TEXT(writer.write_flat_part_f64("FD", 1, two),
                    "invalid argument: lane 'FD': 2 values at element 1 run past its 2 elements");
  EXPECT_ERROR_TEXT(writer.write_flat_part_f64("SD", 0, two),
                    "invalid argument: lane 'SD' is a slab lane — use write_slab_*/slab_mut_*");
  EXPECT_ERROR_TEXT(writer.write_slab_part_f32("FF", 0, 0, four),
                    "invalid argument: lane 'FF' is flat — use write_flat_*/flat_mut_*");
  // A refused call writes nothing and leaves the store sealable.
  ASSERT_OK(writer.write_flat_f64("FD", two));
  ASSERT_OK(std::move(writer).finalize(StoreWriter::Flush::Skip));
  ASSERT_OK_AND_ASSIGN(Store store, open(dir.file("c.zts")));
  ASSERT_OK_AND_ASSIGN(auto slab, store.slab_f32("SF", 2));
  EXPECT_EQ(slab[0], 0.0f);
}

TEST(StoreWriter, TheBufferIsAllocatedOnceForSlabsOfAnySize) {
  ScratchDir dir;
  ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(dir.file("b.zts"), every_lane()));
  const std::span<double> largest = writer.buffer<double>(1000);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(largest.data()) % alignof(double), 0u);
  for (std::size_t count : {1, 999, 2000, 17}) {
    const std::span<float> smaller = writer.buffer<float>(count);
    EXPECT_EQ(static_cast<void*>(smaller.data()), static_cast<void*>(largest.data()));
    EXPECT_EQ(smaller.size(), count);
  }
}

// On a 1 MiB tmpfs: a store is created (its bytes reserved), slab 0 written; then its file is
// cut to nothing, which frees the reservation, and the room is taken by another file, as a file
// system that cannot keep reservations (copy-on-write, remote) may do. The next write fails.
std::string write_after_losing_the_room(const fs::path& directory) {
  const fs::path path = directory / "s.zts";
  const StoreSchema schema{4, {{"Z", LaneDtype::F32, LaneKind::slab(32 * 1024)}}, "{}"};
  auto writer = StoreWriter::create(path, schema);
  if (!writer) return "create: " + writer.error().display();
  const std::span<float> slab = writer->buffer<float>(32 * 1024);
  std::fill(slab.begin(), slab.end(), 3.0f);
  if (auto first = writer->write_slab_f32("Z", 0, slab); !first) return first.error().display();
  if (::truncate(path.c_str(), 0) != 0) return "truncate";
  {
    auto filler = open_file(directory / "filler", O_RDWR | O_CREAT, 0600);
    const auto free = free_bytes(directory);
    if (!filler || !free || !reserve_file_space(filler->get(), *free)) return "no filler";
  }
  const auto second = writer->write_slab_f32("Z", 1, slab);
  const auto sealed = std::move(*writer).finalize(StoreWriter::Flush::Synchronous);
  const auto opened = open(path);
  return str_cat(second ? "written" : second.error().display(), "|",
                 sealed ? "sealed" : sealed.error().display(), "|",
                 opened ? "opens" : opened.error().display());
}

TEST(StoreWriter, AWriteTheFileSystemRefusesNamesTheStoreAndIsNeverSealed) {
  ScratchDir dir;
  std::string why;
  const auto report =
      ::testing_support::run_on_small_tmpfs(dir.path(), 1 << 20, write_after_losing_the_room, why);
  if (!report) GTEST_SKIP() << why;
  const std::string path = (dir.path() / "s.zts").string();
  EXPECT_EQ(*report, "I/O error: writing store " + path +
                         ": No space left on device (os error 28)|I/O error: store " + path +
                         " not sealed: a write to it failed: Input/output error (os error 5)|"
                         "parse error: not a zorvaTools store (truncated header)");
}

}  // namespace
}  // namespace zorvatools::store
