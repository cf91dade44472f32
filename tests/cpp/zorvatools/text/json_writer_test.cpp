#include "zorvatools/text/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "zorvatools/text/str_cat.hpp"

namespace zorvatools {
namespace {

TEST(JsonWriter, NestedContainersAreCompactWithKeysInWrittenOrder) {
  JsonWriter w;
  w.begin_object().member("b", 1.0).key("a").begin_array();
  w.value(std::uint64_t{3}).value(-2).value(true).null().value(std::nan(""));
  w.begin_object().end_object().begin_array().end_array();
  w.end_array().member("s", "x").member("f", 0.1f).end_object();
  EXPECT_EQ(w.str(), R"({"b":1.0,"a":[3,-2,true,null,null,{},[]],"s":"x","f":0.1})");
}

TEST(JsonWriter, StringsAreEscaped) {
  JsonWriter w;
  w.value(std::string_view("q\"b\\n\n\t\x01\x1f é"));
  EXPECT_EQ(w.str(), "\"q\\\"b\\\\n\\n\\t\\u0001\\u001f é\"");
}

TEST(JsonWriter, OptionalDoubleWritesNullWhenAbsent) {
  JsonWriter w;
  w.begin_array().value(std::optional<double>{}).value(std::optional<double>{-1.0}).end_array();
  EXPECT_EQ(w.str(), "[null,-1.0]");
}

TEST(StrCat, MixesTextIntegersAndMessageNumbers) {
  EXPECT_EQ(str_cat("got ", 2.0, " and ", std::size_t{7}, ",", -3, " ", std::nan("")),
            "got 2 and 7,-3 NaN");
}

}  // namespace
}  // namespace zorvatools
