; led.s: toggles the LED port
	.global led_toggle
led_toggle:
	ld.w %r4, [%r12]
	xor %r4, 1
	ld.w [%r12], %r4
	ret
