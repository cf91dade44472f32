#include "zorvatools/store/writer.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "store_test_support.hpp"
#include "test_support.hpp"
#include "zorvatools/store/reader.hpp"

namespace zorvatools::store {
namespace {

using testing_support::Bytes;
using testing_support::read_file;
using testing_support::ScratchDir;

std::string text_at(const Bytes& bytes, std::size_t offset, std::size_t len) {
  return {reinterpret_cast<const char*>(bytes.data()) + offset, len};
}

TEST(StoreWriter, WritesHeaderSchemaZeroPaddingAndSeal) {
  ScratchDir dir;
  const auto path = dir.file("a.zts");
  StoreSchema schema{
      2,
      {{"Z", LaneDtype::F32, LaneKind::slab(3)}, {"C", LaneDtype::F64, LaneKind::flat(2)}},
      R"( {"b": [1, 2.5, -3], "a": {"y": null, "x": true}} )"};
  ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(path, schema));
  ASSERT_OK_AND_ASSIGN(auto slab1, writer.slab_mut_f32("Z", 1));
  ASSERT_EQ(slab1.size(), 3u);
  slab1[2] = 1.5f;
  ASSERT_OK_AND_ASSIGN(auto flat, writer.flat_mut_f64("C"));
  ASSERT_EQ(flat.size(), 2u);
  flat[0] = -2.0;
  const Layout layout = writer.layout();
  ASSERT_OK(std::move(writer).finalize());

  const Bytes bytes = read_file(path);
  ASSERT_EQ(bytes.size(), layout.file_len);
  const std::string json =
      R"({"nslabs":2,"lanes":[{"name":"Z","dtype":"f32","kind":"slab","elems_per_slab":3},)"
      R"({"name":"C","dtype":"f64","kind":"flat","len":2}],)"
      R"("app":{"a":{"x":true,"y":null},"b":[1,2.5,-3]}})";
  EXPECT_EQ(text_at(bytes, 0, 3), "ZTS");
  EXPECT_EQ(bytes[3], std::byte{1});
  EXPECT_EQ(load_u32_le(bytes.data() + 4), json.size());
  EXPECT_EQ(text_at(bytes, 8, json.size()), json);
  // Z at 8 + L rounded up to 64, C at the next multiple of 64; zero but the written values.
  ASSERT_EQ(layout.lanes[0].offset, 192u);
  ASSERT_EQ(layout.lanes[1].offset, 256u);
  Bytes expected(bytes.begin(), bytes.begin() + 8 + json.size());
  expected.resize(layout.seal_offset, std::byte{0});
  const float f = 1.5f;
  std::memcpy(expected.data() + 192 + (1 * 3 + 2) * 4, &f, 4);
  const double d = -2.0;
  std::memcpy(expected.data() + 256, &d, 8);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + layout.seal_offset), expected);
  EXPECT_EQ(text_at(bytes, layout.seal_offset, 4), "ZTSZ");
  EXPECT_EQ(load_u64_le(bytes.data() + layout.seal_offset + 4), 2u);
  EXPECT_EQ(load_u64_le(bytes.data() + layout.seal_offset + 12), layout.data_end);
}

TEST(StoreWriter, SchemaLengthOf56And57BytesPlacesDataAt64And128) {
  ScratchDir dir;
  for (const std::size_t len : {56u, 57u}) {
    // {"nslabs":1,"lanes":[],"app":""} is 32 bytes; the app string fills the rest.
    const StoreSchema schema{1, {}, "\"" + std::string(len - 32, 'x') + "\""};
    ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(dir.file("s.zts"), schema));
    EXPECT_EQ(writer.layout().data_end, len == 56 ? 64u : 128u);
    ASSERT_OK(std::move(writer).finalize());
    const Bytes bytes = read_file(dir.file("s.zts"));
    EXPECT_EQ(load_u32_le(bytes.data() + 4), len);
    EXPECT_EQ(bytes.size(), len == 56 ? 84u : 148u);
  }
}

TEST(StoreWriter, RejectsInvalidSchemasInOrder) {
  ScratchDir dir;
  constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max() / 2;
  const LaneKind one = LaneKind::slab(1);
  struct Case {
    StoreSchema schema;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{0, {{"", LaneDtype::F32, one}}, "null"}, "invalid argument: store nslabs must be > 0"},
      {{1, {{"A", LaneDtype::F32, one}, {"", LaneDtype::F32, LaneKind::flat(0)}}, "null"},
       "invalid argument: store lane 1 has an empty name"},
      {{1, {{"A", LaneDtype::F32, LaneKind::flat(0)}, {"A", LaneDtype::F32, one}}, "null"},
       "invalid argument: store lane 'A' has zero elements"},
      {{1,
        {{"A", LaneDtype::F32, one}, {"B", LaneDtype::F32, one}, {"A", LaneDtype::U16, one}},
        "null"},
       "invalid argument: store lane name 'A' is not unique"},
      {{1, {{"A", LaneDtype::F32, one}, {"B\xC3", LaneDtype::F32, one}}, "null"},
       "invalid argument: store lane 1 name is not valid UTF-8"},
      {{1, {}, "{\"a\":1,\"a\":2}"},
       "invalid argument: store app value is not valid JSON: duplicate key \"a\" at line 1 "
       "column 10"},
      {{1, {}, "[1,"},
       "invalid argument: store app value is not valid JSON: syntax error while parsing value - "
       "unexpected end of input; expected '[', '{', or a literal at line 1 column 4"},
      {{1, {}, ""},
       "invalid argument: store app value is not valid JSON: syntax error while parsing value - "
       "unexpected end of input; expected '[', '{', or a literal at line 1 column 1"},
      {{3, {{"A", LaneDtype::F64, LaneKind::slab(kHuge)}}, "null"},
       "invalid argument: store schema lane sizes overflow"},
  };
  for (const Case& c : cases) {
    EXPECT_ERROR_TEXT(StoreWriter::create(dir.file("bad.zts"), c.schema), c.message);
  }
  // Nothing was created: every check precedes the file.
  EXPECT_FALSE(std::filesystem::exists(dir.file("bad.zts")));
}

TEST(StoreWriter, FileSystemFailuresAreIoErrors) {
  ScratchDir dir;
  const StoreSchema schema{1, {{"A", LaneDtype::F32, LaneKind::flat(1)}}, "null"};
  EXPECT_ERROR_TEXT(StoreWriter::create(dir.file("missing/a.zts"), schema),
                    "I/O error: No such file or directory (os error 2)");
  std::filesystem::create_directory(dir.file("d"));
  EXPECT_ERROR_TEXT(StoreWriter::create(dir.file("d"), schema),
                    "I/O error: Is a directory (os error 21)");
}

TEST(StoreWriter, CreatesReadableByItsOwnerOnlyAndTruncatesExistingFiles) {
  ScratchDir dir;
  const auto path = dir.file("m.zts");
  const mode_t old_mask = ::umask(0);
  auto created = StoreWriter::create(path, {1, {{"A", LaneDtype::U32, LaneKind::flat(2)}}, "1"});
  ::umask(old_mask);
  ASSERT_OK(created);
  struct stat status {};
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  testing_support::write_file(path, Bytes(5000, std::byte{0x7F}));
  ASSERT_OK_AND_ASSIGN(
      StoreWriter writer,
      StoreWriter::create(path, {1, {{"A", LaneDtype::U32, LaneKind::flat(2)}}, "1"}));
  ASSERT_OK_AND_ASSIGN(auto lane, writer.flat_mut_u32("A"));
  EXPECT_EQ(lane[0], 0u);
  EXPECT_EQ(lane[1], 0u);
  EXPECT_EQ(std::filesystem::file_size(path), writer.layout().file_len);
}

TEST(StoreWriter, ViewErrorsNameTheWritingCalls) {
  ScratchDir dir;
  ASSERT_OK_AND_ASSIGN(
      StoreWriter writer,
      StoreWriter::create(dir.file("v.zts"), {4,
                                              {{"S", LaneDtype::F32, LaneKind::slab(2)},
                                               {"F", LaneDtype::F64, LaneKind::flat(2)}},
                                              "null"}));
  EXPECT_ERROR_TEXT(writer.slab_mut_f32("s", 0), "not found: store lane 's'");
  EXPECT_ERROR_TEXT(writer.slab_mut_u16("S", 0), "invalid argument: lane 'S' is f32, not u16");
  EXPECT_ERROR_TEXT(writer.slab_mut_f64("F", 0),
                    "invalid argument: lane 'F' is flat — use write_flat_*/flat_mut_*");
  EXPECT_ERROR_TEXT(writer.flat_mut_f32("S"),
                    "invalid argument: lane 'S' is a slab lane — use write_slab_*/slab_mut_*");
  EXPECT_ERROR_TEXT(writer.slab_mut_f32("S", 4),
                    "invalid argument: slab 4 out of range (nslabs = 4)");
  ASSERT_OK_AND_ASSIGN(auto last, writer.slab_mut_f32("S", 3));
  EXPECT_EQ(last.size(), 2u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(last.data()) % 64, 24u);  // 64-aligned lane + 3×8
}

TEST(StoreWriter, DroppedWithoutFinalizeLeavesAFullLengthFileWithoutSeal) {
  ScratchDir dir;
  const auto path = dir.file("u.zts");
  std::uint64_t file_len = 0;
  {
    ASSERT_OK_AND_ASSIGN(
        StoreWriter writer,
        StoreWriter::create(path, {2, {{"A", LaneDtype::F32, LaneKind::slab(5)}}, "{}"}));
    file_len = writer.layout().file_len;
  }
  EXPECT_EQ(std::filesystem::file_size(path), file_len);
  EXPECT_ERROR_TEXT(open(path), "parse error: store not finalized (missing end-of-store seal)");
}

}  // namespace
}  // namespace zorvatools::store
