#!/bin/sh
# Builds the example programs from source and writes their .hex and .bin:
#   stc89-blink/blink.hex, blink.bin       (sdcc, packihx, makebin)
#   stm32f103-blink/blink.hex, blink.bin   (arm-none-eabi-gcc, objcopy)
# Usage: examples/build.sh [OUTDIR]   (default: next to the sources)
# The generated files are committed, so nothing else needs these compilers.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/stc89-blink" "$out/stm32f103-blink"

# 8051: sdcc writes Intel HEX (.ihx); packihx packs it into 16-byte records.
mkdir -p "$work/stc89"
(cd "$work/stc89" && sdcc -mmcs51 --code-size 8192 "$here/stc89-blink/blink.c" -o blink.ihx >/dev/null)
packihx "$work/stc89/blink.ihx" > "$out/stc89-blink/blink.hex" 2>/dev/null
makebin -p "$work/stc89/blink.ihx" "$out/stc89-blink/blink.bin"

# STM32F103: a bare-metal ELF at 0x08000000, then HEX and raw binary.
arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -ffreestanding -nostdlib -nostartfiles \
    -ffunction-sections -fdata-sections -Wl,--gc-sections \
    -T "$here/stm32f103-blink/stm32f103.ld" "$here/stm32f103-blink/blink.c" -o "$work/blink.elf"
arm-none-eabi-objcopy -O ihex "$work/blink.elf" "$out/stm32f103-blink/blink.hex"
arm-none-eabi-objcopy -O binary "$work/blink.elf" "$out/stm32f103-blink/blink.bin"
