/* The writing program as the H8/3068F runs it: loaded by the boot program at 0xFFC720 and
   started at its first byte; 1024 bytes at most. RAM variables above the image. */
OUTPUT_FORMAT("coff-h8300")
OUTPUT_ARCH(h8300h)
ENTRY(_start)

MEMORY
{
  image (rwx) : ORIGIN = 0xffc720, LENGTH = 1024
}

reprogram_data    = 0xfffb40;  /* 32 bytes */
verify_data       = 0xfffb60;  /* 8 bits */
byte_index        = 0xfffb62;  /* 16 bits; reserved: the loops count in registers */
attempt_count     = 0xfffb64;  /* 16 bits */
reprogram_needed  = 0xfffb66;  /* 16 bits */

SECTIONS
{
  .text : { *(.text) } > image
  .vectors : { *(.vectors) } > image
  .data : { *(.data) } > image
  .bss : { *(.bss) *(COMMON) } > image
}
