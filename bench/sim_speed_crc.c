/* CPU-bound load for the simulator benchmark: bitwise CRC-32 over a RAM buffer, repeated,
   then the result on the serial line. */
#include "types.h"

#ifndef PASSES
#define PASSES 400
#endif

static u8 buffer[256];

static u32 crc32(const u8 *p, u16 n, u32 crc) {
  u16 i;
  int k;
  for (i = 0; i < n; ++i) {
    crc ^= p[i];
    for (k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320UL & (u32) - (i32)(crc & 1));
  }
  return crc;
}

int main(void) {
  u16 i;
  u32 crc = 0xFFFFFFFFUL;
  int shift;
  for (i = 0; i < sizeof buffer; ++i) buffer[i] = (u8)(i * 7 + 3);
  for (i = 0; i < PASSES; ++i) crc = crc32(buffer, sizeof buffer, crc);
  for (shift = 28; shift >= 0; shift -= 4) out_char("0123456789abcdef"[(crc >> shift) & 0xF]);
  out_char('\n');
  return 0;
}
