#include "toolrun/host_text.h"

#include <cstring>

bool copy_text(char* dest, std::size_t size, const char* src) {
  std::size_t length = std::strlen(src);
  if (length >= size) return false;
  std::memcpy(dest, src, length + 1);
  return true;
}

bool append_text(char* dest, std::size_t size, std::initializer_list<const char*> parts) {
  std::size_t used = std::strlen(dest);
  std::size_t total = used;
  for (const char* part : parts) total += std::strlen(part);
  if (total >= size) return false;
  for (const char* part : parts) {
    std::size_t length = std::strlen(part);
    std::memcpy(dest + used, part, length);
    used += length;
  }
  dest[used] = '\0';
  return true;
}

bool TextList::append(std::initializer_list<const char*> parts) {
  std::size_t total = text_.size();
  for (const char* part : parts) total += std::strlen(part);
  if (total >= limit_) return false;
  for (const char* part : parts) text_ += part;
  return true;
}

bool TextList::assign(const char* text) {
  if (std::strlen(text) >= limit_) return false;
  text_ = text;
  return true;
}
