/* The writing program as the H8/3067F runs it: loaded by the boot program at 0xFFF400 and
   started at its first byte; 1024 bytes at most. RAM variables above the image. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300h)
ENTRY(_start)

MEMORY
{
  image (rwx) : ORIGIN = 0xfff400, LENGTH = 1024
}

reprogram_data    = 0xfff800;  /* 32 bytes */
verify_data       = 0xfff820;  /* 8 bits */
byte_index        = 0xfff822;  /* 16 bits; reserved: the loops count in registers */
attempt_count     = 0xfff824;  /* 16 bits */
reprogram_needed  = 0xfff826;  /* 16 bits */

SECTIONS
{
  .text : { *(.text) } > image
  .vectors : { *(.vectors) } > image
  .data : { *(.data) } > image
  .bss : { *(.bss) *(COMMON) } > image
}
