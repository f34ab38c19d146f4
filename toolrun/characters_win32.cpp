#include <windows.h>

#include "toolrun/host_text.h"

// A lead byte at the very end of a text stands alone.
std::size_t character_size(const char* text) {
  return IsDBCSLeadByte(static_cast<BYTE>(text[0])) && text[1] != '\0' ? 2 : 1;
}
