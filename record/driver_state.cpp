#include "record/driver_state.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "record/console.h"
#include "toolrun/platform_host.h"

DriverState state;

const char* debug_option_text() {
  return state.debug_info ? "-g " : "";
}

// Read forwards, a character at a time: on Windows the byte before a separator may be the
// second half of a double-byte character. The last '.' after the last separator or ':' wins.
std::size_t find_extension(const char* name) {
  std::size_t length = std::strlen(name);
  std::size_t extension = length;
  for (std::size_t i = character_size(name); i < length; i += character_size(name + i)) {
    if (name[i] == '.') extension = i;
    if (name[i] == directory_separator || name[i] == ':') extension = length;
  }
  return extension;
}

// Read forwards for the same reason; '/' separates on every host.
std::size_t find_file_name(const char* name) {
  std::size_t length = std::strlen(name);
  std::size_t file_name = 0;
  for (std::size_t i = 0; i < length; i += character_size(name + i)) {
    if (name[i] == '/' || name[i] == directory_separator || name[i] == ':') file_name = i + 1;
  }
  return file_name;
}

const char* make_slot_name(int slot, const char* name, const char* extension) {
  char* text = state.slots[slot].text;
  std::size_t stem = find_extension(name);
  std::size_t extension_length = std::strlen(extension);
  if (stem + extension_length >= name_size) {
    text[0] = '\0';
    return nullptr;
  }
  std::memcpy(text, name, stem);
  std::memcpy(text + stem, extension, extension_length + 1);
  return text;
}

void refuse(const char* message, const char* word) {
  print_err(message, word);
  if (state.status == 0) state.status = 1;
}

void refuse_on_stdout(const char* message, const char* word) {
  print_out(message, word);
  if (state.status == 0) state.status = 1;
}

void refuse_full_list(const char* word) {
  refuse("Too many options or files, list full at '%s'\n", word);
}

void refuse_too_long(const char* word) {
  refuse("Name or value too long '%s'\n", word);
}

bool read_whole_file(const char* name, std::string& text) {
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return false;
  char block[4096];
  std::size_t count;
  while ((count = std::fread(block, 1, sizeof block, file)) > 0) text.append(block, count);
  bool read = std::ferror(file) == 0;
  std::fclose(file);
  return read;
}

TextFile read_text_file(const char* name, std::string& text) {
  if (!read_whole_file(name, text)) {
    std::error_code error;
    return std::filesystem::exists(name, error) ? TextFile::unreadable : TextFile::absent;
  }
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) return TextFile::utf16;
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  return TextFile::read;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}
