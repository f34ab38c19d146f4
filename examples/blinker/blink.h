void show(const char* text);
void led_toggle(void);
void delay(int ms);
void lcd_put(char c);
