/* show.c: •\Ž¦ helpers */
#include "blink.h"

void show(const char *text) {
  while (*text) lcd_put(*text++);
}
