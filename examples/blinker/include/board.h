/* board.h: the blinker board's ports, from the include directory the build names */
#define LED_PORT 0x40000
#define LCD_PORT 0x40010
