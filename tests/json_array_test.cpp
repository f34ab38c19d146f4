#include "pipeline/json_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What a compilation database may hold: any JSON array of objects, each kept as written,
// with its "file" and "directory" read through the escapes. Anything else is refused.
TEST(JsonArray, ReadsAnyArrayOfObjectsAndNothingElse) {
  std::vector<JsonObject> objects;
  ASSERT_TRUE(read_json_objects(
      "\t[ {\"file\":\"a\\\\b\\u00e9\\ud83d\\ude00\\/\\u00A9\\u00fF\\u07ff\\u0800\\uFFFF\","
      "\"directory\" : \"d\", "
      "\"x\": [-0.5E+2, "
      "{}, [], true, false, null, \"\\\"\"]} ,{\"file\": 1, \"directory\": \"\\n\"}]\r\n",
      objects));
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0].file,
            "a\\b\xC3\xA9\xF0\x9F\x98\x80/\xC2\xA9\xC3\xBF\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(objects[0].directory, "d");
  EXPECT_EQ(objects[1].text, "{\"file\": 1, \"directory\": \"\\n\"}");
  EXPECT_EQ(objects[1].file, "");
  EXPECT_TRUE(read_json_objects("[]", objects) && objects.empty());
  const std::string deep = "[{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}]";
  for (const std::string& refused : std::vector<std::string>{
           "", "{}", "[", "[{}", "[{},]", "[1]", "[{}] x", "[{\"a\":01}]", "[{\"a\":1.}]",
           "[{\"a\":1e}]", "[{\"a\":\"\\x\"}]", "[{\"a\":\"\\u12\"}]", "[{\"a\":\"\x01\"}]",
           "[{\"a\" 1}]", "[{a:1}]", "[{\"a\":tru}]", "[{\"a\":[1,]}]", "\xEF\xBB\xBF[]", deep}) {
    EXPECT_FALSE(read_json_objects(refused, objects)) << refused;
  }
}

// Only what RFC 3629 allows: no overlong form, surrogate, code point past U+10FFFF, stray
// or missing continuation byte.
TEST(JsonArray, TellsUtf8FromOtherBytes) {
  for (const char* text : {"", "a.c", "\xC2\x80", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80",
                           "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xE8\xA1\xA8.c"}) {
    EXPECT_TRUE(is_utf8(text)) << text;
  }
  for (const char* text :
       {"\xFF", "\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xC2", "\xE8\xA1", "\xE8\xA1x", "a\xC2\xC2\x80"}) {
    EXPECT_FALSE(is_utf8(text)) << text;
  }
}

TEST(JsonArray, WritesStringsEscaped) {
  EXPECT_EQ(json_string("C:\\a \"b\"\t\x01\x7F\xC3\xA9"),
            "\"C:\\\\a \\\"b\\\"\\t\\u0001\x7F\xC3\xA9\"");
}

}  // namespace
