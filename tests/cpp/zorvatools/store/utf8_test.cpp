#include "zorvatools/store/utf8.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "zorvatools/store/schema_json.hpp"

namespace zorvatools::store {
namespace {

TEST(StoreUtf8, WellFormedSequencesOnly) {
  struct Case {
    std::string bytes;
    bool valid;
  };
  for (const Case& c :
       {Case{"plain \x7F", true}, Case{"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        Case{"\xF4\x8F\xBF\xBF", true}, Case{"\xC0\xAF", false}, Case{"\xE0\x80\xAF", false},
        Case{"\xED\xA0\x80", false}, Case{"\xF4\x90\x80\x80", false}, Case{"\xE2\x82", false},
        Case{"\x80", false}, Case{"\xFF", false}}) {
    EXPECT_EQ(is_valid_utf8(c.bytes), c.valid) << c.bytes;
  }
  EXPECT_EQ(utf8_lossy("a\xFF\xC3\xA9\xE2\x82"), "a\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD");
}

// The writer's name check must accept exactly what the schema reader accepts in a string.
TEST(StoreUtf8, AgreesWithTheJsonReader) {
  std::mt19937_64 rng(0x5EED0005);
  for (int n = 0; n < 2000; ++n) {
    std::string bytes;
    for (std::uint64_t len = rng() % 6; len > 0; --len) {
      // Bytes from 0x20 up, without the two that JSON strings escape.
      char ch = static_cast<char>(0x20 + rng() % 0xE0);
      if (ch == '"' || ch == '\\') ch = 'x';
      bytes.push_back(ch);
    }
    EXPECT_EQ(is_valid_utf8(bytes), canonical_json("\"" + bytes + "\"").has_value()) << bytes;
  }
}

}  // namespace
}  // namespace zorvatools::store
