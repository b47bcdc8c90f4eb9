/* out_char on the chip: polled transmission on the chip's serial channel. SCI_BASE is the
   address of its SMR (SCI channel 1: 0xFFFFB8; SCI3: 0xFFA8); SCI3 clears TDRE by the TDR write
   itself, channel 1 needs TDRE written 0. */
#include "types.h"

#define SMR (*(volatile u8 *)(SCI_BASE + 0))
#define SCR (*(volatile u8 *)(SCI_BASE + 2))
#define TDR (*(volatile u8 *)(SCI_BASE + 3))
#define SSR (*(volatile u8 *)(SCI_BASE + 4))
#define SSR_TDRE 0x80
#define SSR_TEND 0x04
#define SCR_TE 0x20

static u8 ready;

void out_char(char c) {
  if (!ready) {
    SMR = 0;
    SCR = SCR_TE;
    ready = 1;
  }
  while (!(SSR & SSR_TDRE)) {
  }
  TDR = (u8)c;
#ifndef SCI3
  SSR &= (u8)~SSR_TDRE;
#endif
  while (!(SSR & SSR_TEND)) {
  }
}
