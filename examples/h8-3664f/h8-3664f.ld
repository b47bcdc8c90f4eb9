/* H8/3664F in normal mode: 32 KB flash from 0 (vectors up to 0x33), 2 KB RAM at 0xF780. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300hn)
ENTRY(_start)

MEMORY
{
  vectors : ORIGIN = 0x0000, LENGTH = 0x34
  rom     : ORIGIN = 0x0034, LENGTH = 0x8000 - 0x34
  ram     : ORIGIN = 0xF780, LENGTH = 0x800
}

SECTIONS
{
  .vectors : { *(.vects) } > vectors
  .text : { *(.text) *(.rodata) *(.strings) _data_load = .; } > rom
  .data : AT (_data_load) { _data_start = .; *(.data) _data_end = .; } > ram
  .bss : { _bss_start = .; *(.bss) *(COMMON) _bss_end = .; } > ram
  _stack_top = 0xFF80;
}
