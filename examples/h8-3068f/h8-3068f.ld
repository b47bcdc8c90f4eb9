/* H8/3068F in advanced single-chip mode: flash from 0, on-chip RAM below the I/O area. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300h)
ENTRY(_start)

MEMORY
{
  vectors : ORIGIN = 0x000000, LENGTH = 0x100
  rom     : ORIGIN = 0x000100, LENGTH = 0x5FF00
  ram     : ORIGIN = 0xFFBF20, LENGTH = 16K
}

SECTIONS
{
  .vectors : { *(.vects) } > vectors
  .text : { *(.text) *(.rodata) *(.strings) _data_load = .; } > rom
  .data : AT (_data_load) { _data_start = .; *(.data) _data_end = .; } > ram
  .bss : { _bss_start = .; *(.bss) *(COMMON) _bss_end = .; } > ram
  _stack_top = 0xFFFF20;
}
