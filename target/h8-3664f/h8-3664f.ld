/* The writing program as the H8/3664F runs it: loaded by the boot program at 0xF780 and
   started at its first byte; 1024 bytes at most. No static variables: all working storage is
   on the stack, which starts at 0xFF80. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300hn)
ENTRY(_start)

MEMORY
{
  image (rwx) : ORIGIN = 0xf780, LENGTH = 1024
}

SECTIONS
{
  .text : { *(.text) } > image
  .vectors : { *(.vectors) } > image
  .data : { *(.data) } > image
  .bss : { *(.bss) *(COMMON) } > image
}
