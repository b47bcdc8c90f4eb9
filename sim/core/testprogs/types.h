/* Fixed-width types for both builds: gcc for the H8 has 16-bit int (no -mint32) and no
   freestanding <stdint.h>. */
#ifndef TESTPROGS_TYPES_H
#define TESTPROGS_TYPES_H
#ifdef __H8300H__
typedef signed char i8;
typedef unsigned char u8;
typedef short i16;
typedef unsigned short u16;
typedef long i32;
typedef unsigned long u32;
#else
#include <stdint.h>
typedef int8_t i8;
typedef uint8_t u8;
typedef int16_t i16;
typedef uint16_t u16;
typedef int32_t i32;
typedef uint32_t u32;
#endif
void out_char(char c);
#endif
