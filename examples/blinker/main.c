/* blinker: 表示ソフト (Shift_JIS comments and strings) */
#include "blink.h"

static const char title[] = "表示";
static const char ready[] = "準備完了";

int main(void) {
  show(title);
  for (;;) {
    led_toggle();
    delay(500); /* ミリ秒 */
  }
  return 0;
}
