/* Behaviour checks: the same source runs natively and in the simulator, and both must print
   the same text. Every result goes out as "name value" in hex; volatile inputs keep the
   compiler from folding the arithmetic away. */
#include "types.h"

static void out_str(const char *s) {
  while (*s) out_char(*s++);
}

static void out_hex(u32 v, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  int i;
  for (i = digits - 1; i >= 0; --i) out_char(kDigits[(v >> (4 * i)) & 0xF]);
}

static void show(const char *name, u32 value) {
  out_str(name);
  out_char(' ');
  out_hex(value, 8);
  out_char('\n');
}

static volatile u8 vu8[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x5A};
static volatile i8 vi8[] = {0, 1, 127, -128, -1, -7};
static volatile u16 vu16[] = {0x0000, 0x0001, 0x7FFF, 0x8000, 0xFFFF, 0x1234};
static volatile i16 vi16[] = {0, 1, 32767, -32768, -1, -300};
static volatile u32 vu32[] = {0, 1, 0x7FFFFFFFUL, 0x80000000UL, 0xFFFFFFFFUL, 0x12345678UL};
static volatile i32 vi32[] = {0, 1, 0x7FFFFFFFL, -0x7FFFFFFFL - 1, -1, -100000L};
#define N 6

static void arithmetic(void) {
  int i, j;
  u32 acc8 = 0, acc16 = 0, acc32 = 0;
  for (i = 0; i < N; ++i) {
    for (j = 0; j < N; ++j) {
      u8 a8 = vu8[i], b8 = vu8[j];
      u16 a16 = vu16[i], b16 = vu16[j];
      u32 a32 = vu32[i], b32 = vu32[j];
      acc8 = acc8 * 31 + (u8)(a8 + b8) + ((u32)(u8)(a8 - b8) << 8) + ((u32)(u8)(a8 * b8) << 16);
      acc16 = acc16 * 31 + (u16)(a16 + b16) + ((u32)(u16)(a16 - b16) << 16);
      acc16 = acc16 * 31 + (u16)(a16 * b16);
      acc32 = acc32 * 31 + (a32 + b32) + (a32 - b32) * 3 + (a32 ^ b32) + (a32 * b32);
      acc32 = acc32 * 31 + (u32)((a32 & b32) | (~a32 & 0x00FF00FFUL));
    }
  }
  show("arith8", acc8);
  show("arith16", acc16);
  show("arith32", acc32);
}

static void compares(void) {
  int i, j;
  u32 bits = 0, bits2 = 0;
  for (i = 0; i < N; ++i) {
    for (j = 0; j < N; ++j) {
      bits = (bits << 1 | (bits >> 31)) ^ ((vi8[i] < vi8[j]) | (vu8[i] < vu8[j]) << 1 |
                                            (vi16[i] <= vi16[j]) << 2 | (vu16[i] <= vu16[j]) << 3 |
                                            (vi32[i] > vi32[j]) << 4 | (vu32[i] > vu32[j]) << 5);
      bits2 = bits2 * 7 + ((vi32[i] >= vi32[j]) | (vu32[i] >= vu32[j]) << 1 |
                           (vi16[i] == vi16[j]) << 2 | (vu8[i] != vu8[j]) << 3);
    }
  }
  show("compare", bits);
  show("compare2", bits2);
}

static void shifts(void) {
  int i, n;
  u32 acc = 0;
  for (i = 0; i < N; ++i) {
    for (n = 0; n < 32; n += 3) {
      acc = acc * 33 + (vu32[i] << n) + (vu32[i] >> n) + (u32)(vi32[i] >> n);
      if (n < 16) acc = acc * 33 + (u16)(vu16[i] << n) + (vu16[i] >> n) + (u16)(vi16[i] >> n);
      if (n < 8) acc = acc * 33 + (u8)(vu8[i] << n) + (vu8[i] >> n) + (u8)(vi8[i] >> n);
    }
  }
  show("shifts", acc);
}

static void muldiv(void) {
  int i, j;
  u32 acc = 0;
  for (i = 0; i < N; ++i) {
    for (j = 0; j < N; ++j) {
      if (vu8[j]) acc = acc * 31 + (u8)(vu8[i] / vu8[j]) + (u8)(vu8[i] % vu8[j]);
      if (vi8[j] && !(vi8[i] == -128 && vi8[j] == -1)) acc = acc * 31 + (u8)(vi8[i] / vi8[j]) + (u8)(vi8[i] % vi8[j]);
      if (vu16[j]) acc = acc * 31 + (u16)(vu16[i] / vu16[j]) + (u16)(vu16[i] % vu16[j]);
      if (vi16[j] && !(vi16[i] == -32768 && vi16[j] == -1)) acc = acc * 31 + (u16)(vi16[i] / vi16[j]) + (u16)(vi16[i] % vi16[j]);
      if (vu32[j]) acc = acc * 31 + vu32[i] / vu32[j] + vu32[i] % vu32[j];
      if (vi32[j] && !(vi32[i] == -0x7FFFFFFFL - 1 && vi32[j] == -1)) acc = acc * 31 + (u32)(vi32[i] / vi32[j]) + (u32)(vi32[i] % vi32[j]);
      acc = acc * 31 + (u32)((i32)vi16[i] * vi16[j]) + (u32)vu16[i] * vu16[j];
    }
  }
  show("muldiv", acc);
}

static volatile u8 flags[8];

static void bit_ops(void) {
  int i;
  u32 acc = 0;
  for (i = 0; i < 8; ++i) {
    flags[i & 7] |= (u8)(1 << i);
    flags[(i + 3) & 7] &= (u8)~(1 << (i ^ 5));
    flags[(i + 5) & 7] ^= 0x81;
    if (flags[i] & 0x10) acc = acc * 3 + 1;
    if (flags[i] & (1 << (i & 7))) acc = acc * 5 + 2;
  }
  for (i = 0; i < 8; ++i) acc = acc * 257 + flags[i];
  show("bits", acc);
}

static u32 classify(u16 v) {
  switch (v) {
    case 0: return 0x11;
    case 1: return 0x22;
    case 2: return 0x33;
    case 3: return 0x44;
    case 4: return 0x55;
    case 5: return 0x66;
    case 6: return 0x77;
    case 7: return 0x88;
    case 9: return 0x99;
    case 100: return 0xAA;
    default: return v * 2u;
  }
}

static u32 add_op(u32 a, u32 b) { return a + b; }
static u32 sub_op(u32 a, u32 b) { return a - b; }
static u32 xor_op(u32 a, u32 b) { return a ^ b; }
static u32 (*const kOps[])(u32, u32) = {add_op, sub_op, xor_op};

static u32 fib(u16 n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); }

static u32 ackermann(u16 m, u16 n) {
  if (m == 0) return n + 1u;
  if (n == 0) return ackermann(m - 1, 1);
  return ackermann(m - 1, (u16)ackermann(m, n - 1));
}

struct point {
  i16 x, y;
  u8 tag;
  u32 weight;
};

static struct point mirror(struct point p) {
  struct point q = p;
  q.x = (i16)-p.x;
  q.weight = p.weight * 2 + p.tag;
  return q;
}

static void control(void) {
  u16 v;
  u32 acc = 0;
  struct point pts[3] = {{1, -2, 3, 40000UL}, {-300, 7, 9, 5}, {32767, -32768, 255, 0xFFFFFFFFUL}};
  for (v = 0; v < 12; ++v) acc = acc * 17 + classify(v);
  acc = acc * 17 + classify(100);
  show("switch", acc);
  acc = 0;
  for (v = 0; v < 9; ++v) acc = kOps[v % 3](acc * 3, 0x01234567UL + v);
  show("fnptr", acc);
  show("fib", fib(15));
  show("ackermann", ackermann(2, 3));
  acc = 0;
  for (v = 0; v < 3; ++v) {
    struct point q = mirror(pts[v]);
    acc = acc * 31 + (u16)q.x + ((u32)(u16)q.y << 16) + q.tag + q.weight;
  }
  show("structs", acc);
}

int main(void) {
  arithmetic();
  compares();
  shifts();
  muldiv();
  bit_ops();
  control();
  out_str("done\n");
  return 0;
}
