#include "pipeline/json_array.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int deepest_nesting = 200;  // keeps the recursion well within any stack

// Appends the code point `code` to `text` in UTF-8 (a lone surrogate as three bytes, as it
// was written).
void append_utf8(std::string& text, unsigned code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | code >> 6);
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | code >> 12);
    text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | code >> 18);
    text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// A recursive descent over the grammar of RFC 8259; each method consumes one thing and
// tells whether it was there.
struct Reader {
  const std::string& text;
  std::size_t at = 0;
  int depth = 0;

  bool at_end() const { return at >= text.size(); }
  char next() const { return at_end() ? '\0' : text[at]; }
  void skip_blanks() {
    while (!at_end() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
      ++at;
    }
  }
  bool take(char c) {
    skip_blanks();
    if (at_end() || text[at] != c) return false;
    ++at;
    return true;
  }
  bool digits() {
    std::size_t start = at;
    while (next() >= '0' && next() <= '9') ++at;
    return at > start;
  }
  bool hex4(unsigned& code) {
    code = 0;
    for (int i = 0; i < 4; ++i, ++at) {
      char c = next();
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      code = code * 16 + static_cast<unsigned>(digit);
    }
    return true;
  }
  // Appends what the escape stands for to `value`, if any.
  bool escape(std::string* value) {
    const char c = next();
    ++at;
    const char* simple = std::strchr("\"\\/bfnrt", c);
    if (c != '\0' && simple != nullptr) {
      if (value != nullptr) *value += "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
      return true;
    }
    unsigned code;
    if (c != 'u' || !hex4(code)) return false;
    unsigned low;
    if (code >= 0xD800 && code < 0xDC00 && text.compare(at, 2, "\\u") == 0) {
      std::size_t pair_at = at;
      at += 2;
      if (!hex4(low)) return false;
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else {
        at = pair_at;
      }
    }
    if (value != nullptr) append_utf8(*value, code);
    return true;
  }
  // With `value`, the string's characters are appended to it; runs without an escape at once.
  bool string(std::string* value) {
    if (!take('"')) return false;
    for (;;) {
      std::size_t run_end = at;
      while (run_end < text.size() && text[run_end] != '"' && text[run_end] != '\\' &&
             static_cast<unsigned char>(text[run_end]) >= 0x20) {
        ++run_end;
      }
      if (value != nullptr) value->append(text, at, run_end - at);
      at = run_end;
      if (at_end()) return false;
      const char c = text[at++];
      if (c == '"') return true;
      if (c != '\\' || !escape(value)) return false;
    }
  }
  bool number() {
    skip_blanks();
    if (next() == '-') ++at;
    if (next() == '0') {
      ++at;
    } else if (!digits()) {
      return false;
    }
    if (next() == '.' && (++at, !digits())) return false;
    if (next() != 'e' && next() != 'E') return true;
    ++at;
    if (next() == '+' || next() == '-') ++at;
    return digits();
  }
  bool word(const char* literal) {
    if (text.compare(at, std::strlen(literal), literal) != 0) return false;
    at += std::strlen(literal);
    return true;
  }
  bool value() {
    skip_blanks();
    switch (next()) {
      case '{': {
        JsonObject ignored;
        return object(ignored);
      }
      case '[':
        return array(nullptr);
      case '"':
        return string(nullptr);
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number();
    }
  }
  // Takes the first "file" and "directory" that are strings.
  bool member(JsonObject& object) {
    std::string key;
    if (!string(&key) || !take(':')) return false;
    std::string* wanted = key == "file"        ? &object.file
                          : key == "directory" ? &object.directory
                                               : nullptr;
    skip_blanks();
    if (wanted != nullptr && wanted->empty() && next() == '"') return string(wanted);
    return value();
  }
  bool object(JsonObject& object) {
    if (++depth > deepest_nesting || !take('{')) return false;
    const std::size_t start = at - 1;
    if (!take('}')) {
      do {
        if (!member(object)) return false;
      } while (take(','));
      if (!take('}')) return false;
    }
    object.text = text.substr(start, at - start);
    --depth;
    return true;
  }
  // With `objects`, the elements must be objects and are kept.
  bool array(std::vector<JsonObject>* objects) {
    if (++depth > deepest_nesting || !take('[')) return false;
    if (!take(']')) {
      do {
        skip_blanks();
        if (objects == nullptr) {
          if (!value()) return false;
        } else if (objects->emplace_back(), !object(objects->back())) {
          return false;
        }
      } while (take(','));
      if (!take(']')) return false;
    }
    --depth;
    return true;
  }
};

}  // namespace

bool read_json_objects(const std::string& text, std::vector<JsonObject>& objects) {
  Reader reader{.text = text};
  objects.clear();
  if (!reader.array(&objects)) return false;
  reader.skip_blanks();
  return reader.at_end();
}

std::string json_string(const std::string& text) {
  std::string result = "\"";
  for (char c : text) {
    const char* special = std::strchr("\"\\\b\f\n\r\t", c);
    if (c != '\0' && special != nullptr) {
      result += '\\';
      result += "\"\\bfnrt"[special - "\"\\\b\f\n\r\t"];
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      result += escaped;
    } else {
      result += c;
    }
  }
  return result + "\"";
}

// The ranges of RFC 3629: each lead byte allows its continuation bytes only in the range
// that avoids overlong forms, surrogates and code points past U+10FFFF.
bool is_utf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = [&text](std::size_t i) {
      return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned lead = byte(at);
    const std::size_t size = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
    if (size == 0) return false;
    const unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t i = 1; i < size; ++i) {
      const unsigned next = byte(at + i);
      if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return false;
    }
    at += size;
  }
  return true;
}
