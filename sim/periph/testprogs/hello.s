; Sends the byte 'K' on the chip's serial channel, as the boot program left it set up, and
; sleeps: shows that a program transferred in boot mode lands at its load address and starts.
; --defsym SSR=..., TDR=... select the channel; ADVANCED=1 selects advanced mode.
        .ifdef ADVANCED
        .h8300h
        .else
        .h8300hn
        .endif
        .section .text
        .global _start
_start:
        mov.l   #SSR,er1
        mov.l   #TDR,er0
1:      btst    #7,@er1                 ; TDRE
        beq     1b
        mov.b   #'K',r2l
        mov.b   r2l,@er0                ; SCI3: the TDR write clears TDRE and starts the frame
        .ifdef ADVANCED
        bclr    #7,@er1                 ; SCI: clearing TDRE starts the frame
        .endif
2:      btst    #2,@er1                 ; TEND
        beq     2b
        sleep
