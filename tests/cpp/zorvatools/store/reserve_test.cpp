// A store's bytes are reserved on the file system before it is mapped: a full file system is an
// error value, never a SIGBUS on a write through the mapping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

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
using testing_support::ScratchDir;

// A store of one flat f32 lane of `floats` elements.
StoreSchema one_lane(std::uint64_t floats) {
  return {1, {{"A", LaneDtype::F32, LaneKind::flat(floats)}}, "null"};
}

// Bytes the file system has allocated to the file (a sparse file has fewer than its length).
std::uint64_t allocated_bytes(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0);
  return static_cast<std::uint64_t>(status.st_blocks) * 512;
}

TEST(StoreReserve, EveryByteOfANewStoreIsAllocated) {
  ScratchDir dir;
  const fs::path path = dir.file("r.zts");
  ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(path, one_lane(1 << 20)));
  EXPECT_EQ(fs::file_size(path), writer.layout().file_len);
  EXPECT_GE(allocated_bytes(path), writer.layout().file_len);

  // The fallback for file systems that cannot allocate without writing does the same.
  const fs::path zeros = dir.file("z.bin");
  ASSERT_OK_AND_ASSIGN(UniqueFd fd, open_file(zeros, O_RDWR | O_CREAT, 0600));
  ASSERT_OK(reserve_by_writing_zeros(fd.get(), 3'000'001));
  EXPECT_EQ(fs::file_size(zeros), 3'000'001u);
  EXPECT_GE(allocated_bytes(zeros), 3'000'001u);
}

TEST(StoreReserve, AnUnflushedStoreOpensWithWhatWasWritten) {
  ScratchDir dir;
  const fs::path path = dir.file("u.zts");
  ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(path, one_lane(4)));
  ASSERT_OK_AND_ASSIGN(std::span<float> lane, writer.flat_mut_f32("A"));
  lane[3] = 2.5f;
  ASSERT_OK(std::move(writer).finalize(StoreWriter::Flush::Skip));
  ASSERT_OK_AND_ASSIGN(Store store, open(path));
  ASSERT_OK_AND_ASSIGN(std::span<const float> read, store.flat_f32("A"));
  EXPECT_EQ(read[3], 2.5f);
}

// In a 1 MiB tmpfs: what a store of `floats` elements gives, and what is left in the directory.
std::string create_in_full_directory(const fs::path& directory, std::uint64_t floats) {
  // Another file already takes half the room.
  {
    auto filler = open_file(directory / "filler", O_RDWR | O_CREAT, 0600);
    if (!filler || !reserve_file_space(filler->get(), 512 * 1024)) return "no filler";
  }
  const auto free = free_bytes(directory);
  const auto created = StoreWriter::create(directory / "s.zts", one_lane(floats));
  std::string report = created ? "created" : created.error().display();
  report = str_cat(report, "|free ", free.value_or(0), "|");
  for (const auto& entry : fs::directory_iterator(directory)) {
    report += entry.path().filename().string() + " ";
  }
  return report;
}

TEST(StoreReserve, AStoreThatDoesNotFitFailsClearlyAndLeavesNoFile) {
  ScratchDir dir;
  const std::uint64_t floats = 256 * 1024;  // 1 MiB of lane
  std::string why;
  const auto report = ::testing_support::run_on_small_tmpfs(
      dir.path(), 1 << 20,
      [&](const fs::path& directory) { return create_in_full_directory(directory, floats); }, why);
  if (!report) GTEST_SKIP() << why;
  const std::string needed = std::to_string(StoreWriter::file_len(one_lane(floats)).value());
  const std::string free = std::to_string(512 * 1024);
  EXPECT_EQ(*report,
            "I/O error: store in " + dir.path().string() + " needs " + needed + " bytes, " + free +
                " bytes free: No space left on device (os error 28)|free " + free + "|filler ");
}

TEST(StoreReserve, ReservingPastAFullFileSystemIsAnError) {
  ScratchDir dir;
  std::string why;
  const auto report = ::testing_support::run_on_small_tmpfs(
      dir.path(), 1 << 20,
      [](const fs::path& directory) {
        auto a = open_file(directory / "a", O_RDWR | O_CREAT, 0600);
        auto b = open_file(directory / "b", O_RDWR | O_CREAT, 0600);
        if (!a || !b) return std::string("no files");
        const auto reserved = reserve_file_space(a->get(), 2 << 20);
        const auto written = reserve_by_writing_zeros(b->get(), 2 << 20);
        return (reserved ? std::string("reserved") : reserved.error().display()) + "|" +
               (written ? std::string("written") : written.error().display());
      },
      why);
  if (!report) GTEST_SKIP() << why;
  EXPECT_EQ(*report,
            "I/O error: No space left on device (os error 28)|"
            "I/O error: No space left on device (os error 28)");
}

}  // namespace
}  // namespace zorvatools::store
