#include "zorvatools/store/reader.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "store_test_support.hpp"
#include "test_support.hpp"
#include "zorvatools/store/writer.hpp"

namespace zorvatools::store {
namespace {

using testing_support::Bytes;
using testing_support::craft_store;
using testing_support::read_file;
using testing_support::ScratchDir;
using testing_support::write_file;

StoreSchema two_lanes() {
  return {3,
          {{"ZCORN", LaneDtype::F32, LaneKind::slab(8)},
           {"COORD", LaneDtype::F64, LaneKind::flat(6)},
           {"IDS", LaneDtype::U32, LaneKind::slab(2)}},
          "{}"};
}

class StoreFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(path_, two_lanes()));
    layout_ = writer.layout();
    ASSERT_OK(std::move(writer).finalize());
    bytes_ = read_file(path_);
  }

  // Writes `bytes_` changed by `edit` to another file and opens it.
  template <class Edit>
  AlgoResult<Store> open_edited(Edit edit) {
    Bytes bytes = bytes_;
    edit(bytes);
    write_file(edited_, bytes);
    return open(edited_);
  }

  ScratchDir dir_;
  std::filesystem::path path_ = dir_.file("m.zts");
  std::filesystem::path edited_ = dir_.file("edited.zts");
  Layout layout_;
  Bytes bytes_;
};

TEST_F(StoreFile, ViewErrorsNameTheReadingCalls) {
  ASSERT_OK_AND_ASSIGN(const Store store, open(path_));
  EXPECT_ERROR_TEXT(store.slab_f32("zcorn", 0), "not found: store lane 'zcorn'");
  EXPECT_ERROR_TEXT(store.flat_f64("ZCORN"), "invalid argument: lane 'ZCORN' is f32, not f64");
  EXPECT_ERROR_TEXT(store.slab_f64("COORD", 0),
                    "invalid argument: lane 'COORD' is flat — use flat_*");
  EXPECT_ERROR_TEXT(store.flat_f32("ZCORN"),
                    "invalid argument: lane 'ZCORN' is a slab lane — use write_slab_*/slab_mut_*");
  ASSERT_OK_AND_ASSIGN(const auto last, store.slab_f32("ZCORN", 2));
  EXPECT_EQ(last.size(), 8u);
  EXPECT_EQ(reinterpret_cast<const std::byte*>(last.data()) - store.file_bytes().data(),
            static_cast<std::ptrdiff_t>(layout_.lanes[0].offset + 2 * 8 * 4));
  EXPECT_ERROR_TEXT(store.slab_f32("ZCORN", 3),
                    "invalid argument: slab window [3, 4) out of range (nslabs = 3)");
  EXPECT_ERROR_TEXT(store.slab_u32("IDS", UINT64_MAX),
                    "invalid argument: slab window [18446744073709551615, 18446744073709551616) "
                    "out of range (nslabs = 3)");
}

TEST_F(StoreFile, OpensWithVersionZeroOrOneAndTrailingBytes) {
  ASSERT_OK(open_edited([](Bytes& b) { b[3] = std::byte{0}; }));
  ASSERT_OK(open_edited([](Bytes& b) { b.resize(b.size() + 100, std::byte{0xAB}); }));
}

TEST_F(StoreFile, DamagedFilesFailWithTheirMessages) {
  const std::uint64_t seal = layout_.seal_offset;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> edit;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty", [](Bytes& b) { b.clear(); },
       "parse error: not a zorvaTools store (truncated header)"},
      {"7 bytes with magic", [](Bytes& b) { b.resize(7); },
       "parse error: not a zorvaTools store (truncated header)"},
      {"8 bytes, bad magic", [](Bytes& b) { b.resize(8), b[1] = std::byte{'t'}; },
       "parse error: not a zorvaTools store (bad magic)"},
      {"version 2", [](Bytes& b) { b[3] = std::byte{2}; },
       "parse error: unsupported store format version 2 (this build reads ≤ 1) — re-write with a "
       "newer writer"},
      {"version 255", [](Bytes& b) { b[3] = std::byte{255}; },
       "parse error: unsupported store format version 255 (this build reads ≤ 1) — re-write with "
       "a newer writer"},
      {"8 bytes only", [](Bytes& b) { b.resize(8); }, "parse error: store header truncated"},
      {"schema cut", [](Bytes& b) { b.resize(8 + load_u32_le(b.data() + 4) - 1); },
       "parse error: store header truncated"},
      {"one byte short", [](Bytes& b) { b.pop_back(); },
       "parse error: store not finalized or partially written (file shorter than its schema)"},
      {"no seal", [=](Bytes& b) { b[seal] = std::byte{0}; },
       "parse error: store not finalized (missing end-of-store seal)"},
      {"seal nslabs", [=](Bytes& b) { store_u64_le(b.data() + seal + 4, 4); },
       "parse error: store seal disagrees with its header (corrupt or truncated)"},
      {"seal data_end", [=](Bytes& b) { b[seal + 12] ^= std::byte{8}; },
       "parse error: store seal disagrees with its header (corrupt or truncated)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_ERROR_TEXT(open_edited(c.edit), c.message);
  }
}

TEST(StoreOpen, SystemFailuresAreIoErrors) {
  ScratchDir dir;
  EXPECT_ERROR_TEXT(open(dir.file("absent.zts")),
                    "I/O error: No such file or directory (os error 2)");
  std::filesystem::create_directory(dir.file("d"));
  EXPECT_ERROR_TEXT(open(dir.file("d")), "I/O error: Is a directory (os error 21)");
}

// Schema texts placed in otherwise valid files.
TEST(StoreOpen, SchemaTextErrorsCarryTheirPosition) {
  ScratchDir dir;
  const auto path = dir.file("s.zts");
  struct Case {
    std::string text;
    std::string message;
  };
  const std::string lane = R"({"name":"A","dtype":"f32","kind":"slab","elems_per_slab":2})";
  const std::vector<Case> cases = {
      {"",
       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
       "literal at line 1 column 1"},
      {"{\"nslabs\":1,\n \"lanes\":[],\n x}",
       "syntax error while parsing object key - invalid literal; last read: '\"lanes\":[],<U+000A> "
       "x'; expected "
       "string literal at line 3 column 2"},
      {R"({"nslabs":1,"lanes":[],"app":null} 1)",
       "syntax error while parsing value - unexpected number literal; expected end of input at "
       "line 1 column 36"},
      {R"({"nslabs":1,"lanes":[],"app":1e999})",
       "number overflow parsing '1e999' at line 1 column 35"},
      {R"({"nslabs":1,"lanes":[],"nslabs":2,"app":null})",
       R"(duplicate key "nslabs" at line 1 column 31)"},
      {"{\"nslabs\":1,\"lanes\":[],\"app\":{\"a\":{\"\xC3\xA9\":1,\"\xC3\xA9\":2}}}",
       "duplicate key \"\xC3\xA9\" at line 1 column 46"},
      {R"([])", "store schema is not a JSON object"},
      {R"({"lanes":[],"app":null})", R"(store schema is missing "nslabs")"},
      {R"({"nslabs":-1,"lanes":[],"app":null})",
       R"(store schema "nslabs" is not an unsigned 64-bit integer)"},
      {R"({"nslabs":1.0,"lanes":[],"app":null})",
       R"(store schema "nslabs" is not an unsigned 64-bit integer)"},
      {R"({"nslabs":18446744073709551616,"lanes":[],"app":null})",
       R"(store schema "nslabs" is not an unsigned 64-bit integer)"},
      {R"({"nslabs":1,"app":null})", R"(store schema is missing "lanes")"},
      {R"({"nslabs":1,"lanes":{},"app":null})", R"(store schema "lanes" is not an array)"},
      {R"({"nslabs":1,"lanes":[)" + lane + R"(,7],"app":null})",
       "store schema lane 1 is not an object"},
      {R"({"nslabs":1,"lanes":[{"dtype":"f32"}],"app":null})",
       R"(store schema lane 0 is missing "name")"},
      {R"({"nslabs":1,"lanes":[{"name":3}],"app":null})",
       R"(store schema lane 0 "name" is not a string)"},
      {R"({"nslabs":1,"lanes":[{"name":"A","dtype":"f16"}],"app":null})",
       R"(store schema lane 0 "dtype" is not one of "f32", "f64", "u16", "u32")"},
      {R"({"nslabs":1,"lanes":[{"name":"A","dtype":"u16","kind":"Slab"}],"app":null})",
       R"(store schema lane 0 "kind" is not "slab" or "flat")"},
      {R"({"nslabs":1,"lanes":[{"name":"A","dtype":"u16","kind":"slab","len":3}],"app":null})",
       R"(store schema lane 0 is missing "elems_per_slab")"},
      {R"({"nslabs":1,"lanes":[{"name":"A","dtype":"u16","kind":"flat","len":"3"}],"app":null})",
       R"(store schema lane 0 "len" is not an unsigned 64-bit integer)"},
      {R"({"nslabs":1,"lanes":[]})", R"(store schema is missing "app")"},
      {R"({"nslabs":3,"lanes":[{"name":"A","dtype":"f64","kind":"slab",)"
       R"("elems_per_slab":3074457345618258603}],"app":null})",
       "store schema lane sizes overflow"},
  };
  for (const Case& c : cases) {
    write_file(path, craft_store(c.text));
    EXPECT_ERROR_TEXT(open(path), "parse error: " + c.message);
  }
}

TEST(StoreOpen, ReaderAcceptsWhatTheWriterRefuses) {
  ScratchDir dir;
  const auto path = dir.file("r.zts");
  // Unknown keys anywhere, nslabs 0, duplicate lane names and zero counts: the reader does not
  // repeat the writer's checks, and views still stay inside the file.
  write_file(
      path,
      craft_store(R"({"extra":[1,{}],"nslabs":0,"lanes":[)"
                  R"({"name":"A","dtype":"f32","kind":"slab","elems_per_slab":4,"x":1},)"
                  R"({"name":"A","dtype":"u16","kind":"flat","len":0}],"app":{"z":1,"a":2}})"));
  ASSERT_OK_AND_ASSIGN(const Store store, open(path));
  EXPECT_EQ(store.schema().nslabs, 0u);
  EXPECT_EQ(store.schema().app_json, R"({"a":2,"z":1})");
  EXPECT_ERROR_TEXT(store.slab_f32("A", 0),
                    "invalid argument: slab window [0, 1) out of range (nslabs = 0)");
  // The first lane of a name wins.
  EXPECT_ERROR_TEXT(store.flat_u16("A"), "invalid argument: lane 'A' is f32, not u16");
}

TEST(StoreOpen, AppValuesComeBackCanonicalWhateverTheirDepth) {
  ScratchDir dir;
  const auto path = dir.file("d.zts");
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  write_file(path, craft_store(R"({"nslabs":1,"lanes":[],"app":)" + deep + "}"));
  ASSERT_OK_AND_ASSIGN(const Store store, open(path));
  EXPECT_EQ(store.schema().app_json, deep);
}

}  // namespace
}  // namespace zorvatools::store
