// The text rules beneath the platform layer, which it and everything above it use: the
// bounded copy and append that fill fixed-size fields, and the size of a character in the
// host's code page. They need nothing but the C library (and, on Windows, the code page).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

// Bounded copy and append: they change nothing and return false when the result would not
// fit in `size` bytes with its terminating zero.
bool copy_text(char* dest, std::size_t size, const char* src);
bool append_text(char* dest, std::size_t size, std::initializer_list<const char*> parts);

template <std::size_t N>
bool copy_text(char (&dest)[N], const char* src) {
  return copy_text(dest, N, src);
}
template <std::size_t N>
bool append_text(char (&dest)[N], std::initializer_list<const char*> parts) {
  return append_text(dest, N, parts);
}

// A list of words or lines that grows as it is appended to, up to `limit` bytes with its
// terminating zero; an append or copy past that changes nothing and fails, as for a fixed
// field. Appends take time for what they add only.
class TextList {
 public:
  static constexpr std::size_t no_limit = static_cast<std::size_t>(-1);
  TextList() = default;
  explicit TextList(std::size_t limit) : limit_(limit) {}
  const char* c_str() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }
  void clear() { text_.clear(); }
  bool append(std::initializer_list<const char*> parts);
  bool assign(const char* text);

 private:
  std::string text_;
  std::size_t limit_ = no_limit;
};

inline bool copy_text(TextList& dest, const char* src) {
  return dest.assign(src);
}
inline bool append_text(TextList& dest, std::initializer_list<const char*> parts) {
  return dest.append(parts);
}

// The number of bytes of the character that begins at `text`. On Windows a double-byte
// character of the active code page (code page 932, say) is two, and its second byte may be
// 0x5C, the backslash: whoever looks for a separator, blank or quote in a name steps over
// whole characters. POSIX names are bytes.
#ifdef _WIN32
std::size_t character_size(const char* text);
#else
constexpr std::size_t character_size(const char*) {
  return 1;
}
#endif
