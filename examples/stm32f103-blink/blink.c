/* Blink for an STM32F103 (e.g. the "blue pill" board): the LED on PC13
 * changes state about every 500 ms with the 8 MHz internal clock after reset.
 * No libraries: the vector table, start-up and registers are defined here.
 * Built with arm-none-eabi-gcc; see ../build.sh. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))
#define RCC_APB2ENR REG(0x40021018u)
#define GPIOC_CRH REG(0x40011004u)
#define GPIOC_ODR REG(0x4001100Cu)
#define RCC_APB2ENR_IOPCEN (1u << 4)

extern uint32_t _sidata, _sdata, _edata, _sbss, _ebss, _estack;

int main(void);

void Reset_Handler(void)
{
    uint32_t *src = &_sidata;
    for (uint32_t *dst = &_sdata; dst < &_edata;)
        *dst++ = *src++;
    for (uint32_t *dst = &_sbss; dst < &_ebss;)
        *dst++ = 0;
    main();
    for (;;) {
    }
}

void Default_Handler(void)
{
    for (;;) {
    }
}

/* Initial stack pointer, reset and the fault handlers of the Cortex-M3. */
__attribute__((section(".isr_vector"), used)) static void (*const vectors[16])(void) = {
    (void (*)(void))&_estack, Reset_Handler, Default_Handler, Default_Handler,
    Default_Handler, Default_Handler, Default_Handler, 0, 0, 0, 0,
    Default_Handler, Default_Handler, 0, Default_Handler, Default_Handler,
};

static void delay(volatile uint32_t count)
{
    while (count--) {
    }
}

int main(void)
{
    RCC_APB2ENR |= RCC_APB2ENR_IOPCEN;
    /* PC13: general-purpose push-pull output, 2 MHz (CNF 00, MODE 10). */
    GPIOC_CRH = (GPIOC_CRH & ~(0xFu << 20)) | (0x2u << 20);
    for (;;) {
        GPIOC_ODR ^= 1u << 13;
        delay(400000);
    }
}
