/* board.c: the board's ports, through the include directory of the CMake build */
#include <board.h>

#include "blink.h"

void lcd_put(char c) {
  *(volatile char *)LCD_PORT = c;
}

void delay(int ms) {
  for (volatile int i = 0; i < ms * 100; ++i) {
  }
}
