; Sends one byte, 'K', on the chip's serial channel as the boot program left it set up, and
; sleeps. The byte is read from the program's own image by its absolute address, so the right
; byte goes out only if the program was stored at the address it was linked for.
; --defsym SSR=..., TDR=... select the channel; ADVANCED=1 selects advanced mode and the SCI
; (where clearing TDRE starts the frame) instead of SCI3 (where the TDR write does).
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
        mov.b   @message,r2l
        mov.b   r2l,@er0
        .ifdef ADVANCED
        bclr    #7,@er1
        .endif
2:      btst    #2,@er1                 ; TEND
        beq     2b
        sleep
message:
        .byte   'K'
