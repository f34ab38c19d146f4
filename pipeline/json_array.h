// Just enough JSON for the compilation database: reading an array of objects whose texts
// are kept as they were written, and writing strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One object of the array: its text from '{' to '}', byte for byte, and the values of its
// "file" and "directory" strings, unescaped (empty when it has none).
struct JsonObject {
  std::string text;
  std::string file;
  std::string directory;
};

// Reads `text` as a JSON array whose elements are all objects (of any content). False when
// it is anything else, or nests deeper than a database ever would.
bool read_json_objects(const std::string& text, std::vector<JsonObject>& objects);

// `text` (UTF-8) as a JSON string, quotes included: quotes, backslashes and control
// characters escaped.
std::string json_string(const std::string& text);

// Whether `text` is well-formed UTF-8: no stray or missing continuation byte, no overlong
// form, no surrogate, nothing past U+10FFFF.
bool is_utf8(std::string_view text);
