// Untrusted store files: every truncation, random byte flips, random bytes and random schema
// texts must either fail to open with a Parse error or open into a store whose every view lies
// inside the mapped file. Seeded, so every run sees the same cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "store_test_support.hpp"
#include "test_support.hpp"
#include "zorvatools/store/reader.hpp"
#include "zorvatools/store/writer.hpp"
#include "zorvatools/text/json_writer.hpp"

namespace zorvatools::store {
namespace {

using testing_support::Bytes;
using testing_support::craft_store;
using testing_support::ScratchDir;
using testing_support::write_file;

using Rng = std::mt19937_64;

std::uint64_t below(Rng& rng, std::uint64_t n) {
  return rng() % n;
}

template <class T>
const T& pick(Rng& rng, const std::vector<T>& options) {
  return options[below(rng, options.size())];
}

// The typed view that fits the lane's dtype, as bytes.
AlgoResult<std::span<const std::byte>> view_of(const Store& store, const LaneSpec& lane,
                                               std::optional<std::uint64_t> slab) {
  const auto bytes = [](auto result) -> AlgoResult<std::span<const std::byte>> {
    if (!result) return std::unexpected(result.error());
    return std::as_bytes(*result);
  };
  const std::string_view name = lane.name;
  switch (lane.dtype) {
    case LaneDtype::F32:
      return slab ? bytes(store.slab_f32(name, *slab)) : bytes(store.flat_f32(name));
    case LaneDtype::F64:
      return slab ? bytes(store.slab_f64(name, *slab)) : bytes(store.flat_f64(name));
    case LaneDtype::U16:
      return slab ? bytes(store.slab_u16(name, *slab)) : bytes(store.flat_u16(name));
    case LaneDtype::U32:
      return slab ? bytes(store.slab_u32(name, *slab)) : bytes(store.flat_u32(name));
  }
  return std::unexpected(AlgoError::invalid_argument("unreachable"));
}

// The typed mutable view that fits the lane's dtype, as bytes.
AlgoResult<std::span<std::byte>> mutable_view(StoreWriter& writer, const LaneSpec& lane,
                                              std::optional<std::uint64_t> slab) {
  const auto bytes = [](auto result) -> AlgoResult<std::span<std::byte>> {
    if (!result) return std::unexpected(result.error());
    return std::as_writable_bytes(*result);
  };
  const std::string_view name = lane.name;
  switch (lane.dtype) {
    case LaneDtype::F32:
      return slab ? bytes(writer.slab_mut_f32(name, *slab)) : bytes(writer.flat_mut_f32(name));
    case LaneDtype::F64:
      return slab ? bytes(writer.slab_mut_f64(name, *slab)) : bytes(writer.flat_mut_f64(name));
    case LaneDtype::U16:
      return slab ? bytes(writer.slab_mut_u16(name, *slab)) : bytes(writer.flat_mut_u16(name));
    case LaneDtype::U32:
      return slab ? bytes(writer.slab_mut_u32(name, *slab)) : bytes(writer.flat_mut_u32(name));
  }
  return std::unexpected(AlgoError::invalid_argument("unreachable"));
}

// Every slab of a slab lane, or the one flat view.
std::vector<std::optional<std::uint64_t>> every_view(const LaneSpec& lane, std::uint64_t nslabs) {
  if (lane.kind.is_flat()) return {std::nullopt};
  std::vector<std::optional<std::uint64_t>> slabs;
  for (std::uint64_t s = 0; s < nslabs; ++s) slabs.emplace_back(s);
  return slabs;
}

class Corruption : public ::testing::Test {
 protected:
  // Writes `bytes`, opens them and checks the outcome; returns whether the store opened.
  bool check(const Bytes& bytes) {
    ++cases_;
    write_file(path_, bytes);
    const AlgoResult<Store> store = open(path_);
    if (!store) {
      EXPECT_EQ(store.error().kind(), AlgoError::Kind::Parse) << store.error().display();
      return false;
    }
    check_views(*store);
    return true;
  }

  void check_views(const Store& store) {
    const std::span<const std::byte> file = store.file_bytes();
    EXPECT_LE(store.layout().file_len, file.size());
    const std::uint64_t nslabs = store.schema().nslabs;
    for (const LaneSpec& lane : store.schema().lanes) {
      std::vector<std::optional<std::uint64_t>> requests = {std::nullopt};
      if (lane.kind.is_slab()) {
        requests = {0, 1, nslabs - 1, nslabs, nslabs + 1};
      }
      for (const auto& slab : requests) {
        const auto view = view_of(store, lane, slab);
        if (slab && *slab >= nslabs) {
          EXPECT_FALSE(view) << "slab " << *slab << " of " << nslabs;
        }
        if (!view) continue;
        ASSERT_GE(view->data(), file.data());
        ASSERT_LE(view->data() + view->size(), file.data() + file.size());
        unsigned char folded = 0;
        for (std::byte b : *view) folded ^= std::to_integer<unsigned char>(b);
        sink_ ^= folded;
      }
    }
  }

  ScratchDir dir_;
  std::filesystem::path path_ = dir_.file("fuzz.zts");
  std::size_t cases_ = 0;
  unsigned char sink_ = 0;
};

// A writer-made store with lanes of every dtype and kind and a nested app value.
Bytes base_store(const std::filesystem::path& path) {
  const StoreSchema schema{
      4,
      {{"ZCORN", LaneDtype::F32, LaneKind::slab(8)},
       {"COORD", LaneDtype::F64, LaneKind::flat(6)},
       {"I", LaneDtype::U16, LaneKind::slab(3)},
       {"J", LaneDtype::U32, LaneKind::flat(5)}},
      R"({"cubes":["NTG","PORO"],"kind":"k","ni":2,"nj":1,"nk":4,"x":[1.5,null,{"a":true}]})"};
  auto writer = StoreWriter::create(path, schema);
  if (!writer) return {};
  for (std::uint64_t s = 0; s < 4; ++s) {
    const std::span<float> zcorn = writer->slab_mut_f32("ZCORN", s).value();
    std::fill(zcorn.begin(), zcorn.end(), 2000.0f + static_cast<float>(s));
  }
  const std::span<double> coord = writer->flat_mut_f64("COORD").value();
  std::fill(coord.begin(), coord.end(), 12.5);
  if (!std::move(*writer).finalize()) return {};
  return testing_support::read_file(path);
}

TEST_F(Corruption, EveryTruncationFailsWithTheMessageOfWhereItCuts) {
  const Bytes full = base_store(dir_.file("base.zts"));
  ASSERT_FALSE(full.empty());
  const std::size_t schema_end = 8 + load_u32_le(full.data() + 4);
  for (std::size_t len = 0; len < full.size(); ++len) {
    write_file(path_, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len)));
    ++cases_;
    const char* expected = len < 8 ? "parse error: not a zorvaTools store (truncated header)"
                           : len < schema_end
                               ? "parse error: store header truncated"
                               : "parse error: store not finalized or partially written (file "
                                 "shorter than its schema)";
    EXPECT_ERROR_TEXT(open(path_), expected);
  }
  EXPECT_TRUE(check(full));
  std::cout << "[ cases    ] " << cases_ << " truncations\n";
  EXPECT_EQ(cases_, full.size() + 1);
}

TEST_F(Corruption, RandomByteFlipsNeverEscapeTheFile) {
  const Bytes full = base_store(dir_.file("base.zts"));
  ASSERT_FALSE(full.empty());
  const std::size_t schema_end = 8 + load_u32_le(full.data() + 4);
  Rng rng(0x5EED0001);
  std::size_t opened = 0;
  for (int n = 0; n < 3000; ++n) {
    Bytes bytes = full;
    const std::uint64_t flips = 1 + below(rng, 3);
    for (std::uint64_t f = 0; f < flips; ++f) {
      // Mostly inside the header and schema, where a flip changes the most.
      const std::size_t at = below(rng, 10) < 7 ? below(rng, schema_end) : below(rng, bytes.size());
      bytes[at] = below(rng, 2) == 0 ? std::byte(below(rng, 256))
                                     : bytes[at] ^ std::byte(1u << below(rng, 8));
    }
    if (below(rng, 8) == 0) bytes.resize(below(rng, bytes.size() + 64));
    opened += check(bytes) ? 1 : 0;
  }
  std::cout << "[ cases    ] " << cases_ << " byte flips, " << opened << " opened\n";
  EXPECT_GT(opened, 0u);
}

TEST_F(Corruption, RandomBytesOfRandomLengths) {
  Rng rng(0x5EED0002);
  for (int n = 0; n < 1000; ++n) {
    Bytes bytes(below(rng, 400));
    for (std::byte& b : bytes) b = std::byte(below(rng, 256));
    if (bytes.size() >= 8 && below(rng, 2) == 0) {
      bytes[0] = std::byte{'Z'}, bytes[1] = std::byte{'T'}, bytes[2] = std::byte{'S'};
      bytes[3] = std::byte(below(rng, 3));
      const std::uint32_t len = below(rng, 4) == 0
                                    ? static_cast<std::uint32_t>(rng())
                                    : static_cast<std::uint32_t>(below(rng, bytes.size()));
      store_u32_le(bytes.data() + 4, len);
    }
    check(bytes);
  }
  std::cout << "[ cases    ] " << cases_ << " random files\n";
}

// Schema texts from a loose grammar with wrong types, missing, unknown and repeated keys and
// extreme numbers, then sometimes edited byte by byte.
class SchemaTextGenerator {
 public:
  explicit SchemaTextGenerator(Rng& rng) : rng_(rng) {}

  std::string next() {
    std::vector<std::string> members = {key("nslabs") + either(kNslabs, kBadNumbers),
                                        key("lanes") + lanes(), key("app") + app(3)};
    maybe_vary(members, key("nslabs") + "2");
    std::string text = object(members);
    if (below(rng_, 10) < 3) edit(text);
    return text;
  }

 private:
  // Mostly a good value, now and then a bad one.
  const std::string& either(const std::vector<std::string>& good,
                            const std::vector<std::string>& bad) {
    return below(rng_, 10) == 0 ? pick(rng_, bad) : pick(rng_, good);
  }

  static std::string key(std::string_view name) { return "\"" + std::string(name) + "\":"; }

  std::string object(std::vector<std::string> members) {
    std::shuffle(members.begin(), members.end(), rng_);
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) out += (i ? "," : "") + members[i];
    return out + "}";
  }

  // Drops a member, adds an unknown one or repeats one, each now and then.
  void maybe_vary(std::vector<std::string>& members, const std::string& repeat) {
    if (below(rng_, 12) == 0) members.erase(members.begin() + below(rng_, members.size()));
    if (below(rng_, 5) == 0) members.push_back(key("extra") + app(2));
    if (below(rng_, 20) == 0) members.push_back(repeat);
  }

  std::string lanes() {
    if (below(rng_, 20) == 0) return pick(rng_, kScalars);
    std::string out = "[";
    const std::uint64_t n = below(rng_, 5);
    for (std::uint64_t i = 0; i < n; ++i) {
      const bool slab = below(rng_, 2) == 0;
      // Now and then the count key of the other kind.
      const bool count_matches = below(rng_, 15) != 0;
      std::vector<std::string> members = {
          key("name") + pick(rng_, kNames), key("dtype") + either(kDtypes, kBadDtypes),
          key("kind") + (below(rng_, 15) == 0 ? pick(rng_, kScalars)
                         : slab               ? "\"slab\""
                                              : "\"flat\""),
          key(slab == count_matches ? "elems_per_slab" : "len") + either(kCounts, kBadNumbers)};
      maybe_vary(members, key("name") + "\"B\"");
      out += (i ? "," : "") + (below(rng_, 25) == 0 ? pick(rng_, kScalars) : object(members));
    }
    return out + "]";
  }

  std::string app(int depth) {
    const std::uint64_t choice = below(rng_, depth > 0 ? 4 : 2);
    if (choice < 2) return pick(rng_, kScalars);
    std::string out = choice == 2 ? "[" : "{";
    const std::uint64_t n = below(rng_, 4);
    for (std::uint64_t i = 0; i < n; ++i) {
      if (i) out += ",";
      if (choice == 3) out += pick(rng_, kNames) + ":";
      out += app(depth - 1);
    }
    return out + (choice == 2 ? "]" : "}");
  }

  void edit(std::string& text) {
    static constexpr std::string_view kJsonBytes = "{}[]\",:0123456789-.eE \n\\tfnu";
    const std::uint64_t edits = 1 + below(rng_, 3);
    for (std::uint64_t e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = below(rng_, text.size());
      const char ch = below(rng_, 4) == 0 ? static_cast<char>(below(rng_, 256))
                                          : kJsonBytes[below(rng_, kJsonBytes.size())];
      switch (below(rng_, 3)) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), ch);
          break;
        default:
          text[at] = ch;
      }
    }
  }

  inline static const std::vector<std::string> kNslabs = {"0", "1", "2",
                                                          "3", "7", "18446744073709551615"};
  inline static const std::vector<std::string> kCounts = {"0",
                                                          "1",
                                                          "3",
                                                          "8",
                                                          "1000",
                                                          "4611686018427387904",
                                                          "2305843009213693952",
                                                          "18446744073709551615"};
  inline static const std::vector<std::string> kBadNumbers = {
      "18446744073709551616", "-1", "-0", "1.0", "2.5", "1e3", "\"1\"", "null", "true"};
  inline static const std::vector<std::string> kNames = {
      "\"A\"", "\"B\"", "\"ZCORN\"", "\"\"", "\"\xC3\xA9\"", "\"\\u0000\"", "\"A\"", "\"\\ud800\""};
  inline static const std::vector<std::string> kDtypes = {"\"f32\"", "\"f64\"", "\"u16\"",
                                                          "\"u32\""};
  inline static const std::vector<std::string> kBadDtypes = {"\"f16\"", "5", "\"F32\""};
  inline static const std::vector<std::string> kScalars = {
      "null", "true", "0", "-12", "1.5e300", "\"s\"", "[]", "{}", "1e999", "18446744073709551616"};

  Rng& rng_;
};

TEST_F(Corruption, RandomSchemaTexts) {
  Rng rng(0x5EED0003);
  SchemaTextGenerator generator(rng);
  std::size_t opened = 0;
  for (int n = 0; n < 2500; ++n) {
    const std::string text = generator.next();
    opened += check(craft_store(text, static_cast<std::uint8_t>(below(rng, 2)), 1 << 16)) ? 1 : 0;
  }
  std::cout << "[ cases    ] " << cases_ << " schema texts, " << opened << " opened\n";
  EXPECT_GT(opened, 100u);
}

// Random valid schemas, every view filled with random bytes through the typed mutable views and
// read back unchanged through the typed read-only views.
TEST_F(Corruption, RandomStoresRoundTrip) {
  Rng rng(0x5EED0004);
  const std::vector<std::string> name_parts = {"A", "ZCORN", "\xC3\xA9", "\x01", "\"", "\\", " "};
  for (int n = 0; n < 300; ++n) {
    StoreSchema schema{1 + below(rng, 5), {}, "null"};
    for (std::uint64_t i = below(rng, 5); i > 0; --i) {
      std::string name = std::to_string(i);
      for (std::uint64_t p = below(rng, 3); p > 0; --p) name += pick(rng, name_parts);
      const auto dtype = static_cast<LaneDtype>(below(rng, 4));
      const std::uint64_t count = 1 + below(rng, 20);
      schema.lanes.push_back(
          {name, dtype, below(rng, 2) == 0 ? LaneKind::slab(count) : LaneKind::flat(count)});
    }
    JsonWriter app;
    app.begin_object().member("z", -static_cast<std::int64_t>(below(rng, 1000)));
    app.member("a", static_cast<double>(rng()) / 3.0).member("m", rng()).end_object();
    schema.app_json = std::move(app).str();

    ASSERT_OK_AND_ASSIGN(StoreWriter writer, StoreWriter::create(path_, schema));
    std::vector<Bytes> written;
    for (const LaneSpec& lane : schema.lanes) {
      for (const auto slab : every_view(lane, schema.nslabs)) {
        ASSERT_OK_AND_ASSIGN(const std::span<std::byte> view, mutable_view(writer, lane, slab));
        ASSERT_EQ(view.size(), lane.kind.count() * dtype_size(lane.dtype));
        for (std::byte& b : view) b = std::byte(below(rng, 256));
        written.emplace_back(view.begin(), view.end());
      }
    }
    const StoreSchema as_written = writer.schema();
    ASSERT_OK(std::move(writer).finalize());
    ++cases_;
    ASSERT_OK_AND_ASSIGN(const Store store, open(path_));
    EXPECT_EQ(store.schema(), as_written);
    auto expected = written.begin();
    for (const LaneSpec& lane : schema.lanes) {
      for (const auto slab : every_view(lane, schema.nslabs)) {
        ASSERT_OK_AND_ASSIGN(const std::span<const std::byte> view, view_of(store, lane, slab));
        EXPECT_TRUE(std::ranges::equal(view, *expected++)) << lane.name;
      }
    }
    check_views(store);
  }
  std::cout << "[ cases    ] " << cases_ << " round trips\n";
}

}  // namespace
}  // namespace zorvatools::store
