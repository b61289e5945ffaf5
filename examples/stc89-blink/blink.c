/* Blink for an STC89C52 (or any STC89/90 part) at 11.0592 MHz: the LED on
 * P1.0, found on most development boards, changes state about every 500 ms.
 * Built with sdcc; see ../build.sh. */
#include <8051.h>

/* Roughly one millisecond per outer step at 11.0592 MHz (12 clocks per cycle). */
static void delay_ms(unsigned int ms)
{
    unsigned char i;
    while (ms--) {
        for (i = 0; i < 114; i++) {
            __asm__("nop");
        }
    }
}

void main(void)
{
    for (;;) {
        P1_0 = !P1_0;
        delay_ms(500);
    }
}
