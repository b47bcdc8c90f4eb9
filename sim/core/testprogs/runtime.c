/* The run-time helpers gcc calls for H8/300H code (Debian's libgcc for this target is built
   for the plain H8/300): 32-bit multiply, divide and modulo, and memcpy/memset. Written with
   shifts and adds only, so they call nothing themselves. */
#include "types.h"

u32 __mulsi3(u32 a, u32 b) {
  u32 r = 0;
  while (b) {
    if (b & 1) r += a;
    a <<= 1;
    b >>= 1;
  }
  return r;
}

static u32 udivmod(u32 n, u32 d, u32 *rem) {
  u32 q = 0, r = 0;
  int i;
  for (i = 31; i >= 0; --i) {
    r = (r << 1) | ((n >> i) & 1);
    if (r >= d) {
      r -= d;
      q |= (u32)1 << i;
    }
  }
  *rem = r;
  return q;
}

u32 __udivsi3(u32 n, u32 d) {
  u32 r;
  return udivmod(n, d, &r);
}

u32 __umodsi3(u32 n, u32 d) {
  u32 r;
  udivmod(n, d, &r);
  return r;
}

i32 __divsi3(i32 n, i32 d) {
  u32 r;
  int negative = (n < 0) != (d < 0);
  u32 q = udivmod(n < 0 ? -(u32)n : (u32)n, d < 0 ? -(u32)d : (u32)d, &r);
  return negative ? -(i32)q : (i32)q;
}

i32 __modsi3(i32 n, i32 d) {
  u32 r;
  udivmod(n < 0 ? -(u32)n : (u32)n, d < 0 ? -(u32)d : (u32)d, &r);
  return n < 0 ? -(i32)r : (i32)r;
}

void *memcpy(void *dst, const void *src, __SIZE_TYPE__ n) {
  u8 *d = dst;
  const u8 *s = src;
  while (n--) *d++ = *s++;
  return dst;
}

void *memset(void *dst, int c, __SIZE_TYPE__ n) {
  u8 *d = dst;
  while (n--) *d++ = (u8)c;
  return dst;
}
