; Programs and verifies one 32-byte unit of the H8/3067F/3068F flash with the chip's
; program/program-verify procedure, then sends 'S' (verified) or 'F' (attempt limit) on SCI
; channel 1 and sleeps. Runs from on-chip RAM in advanced mode, loaded at LOAD.
; Data: D[i] = i XOR 0x5A, for the unit at flash address UNIT.
; Assembly-time variants (--defsym): PULSE_LONG=n (passes of the 400 us pulse loop),
; RTS_IN_PULSE=1 (a subroutine return between the flash writes and the end of the pulse).
        .h8300h
        .section .text
        .global _start

FLMCR1  = 0xFEE030
SSR1    = 0xFFFFBC
TDR1    = 0xFFFFBB
UNIT    = 0x1000
DATA    = 0xFFF800              ; D: the data to program, 32 bytes
REPROG  = 0xFFF820              ; X: the bytes written at the next attempt, 32 bytes
SWE = 6
PSU = 4
PV  = 2
P   = 0
        .ifndef PULSE_LONG
PULSE_LONG = 1000               ; 8-state passes: 400 us at 20 MHz
        .endif
PULSE_SHORT = 300               ; 120 us
MAX_ATTEMPTS = 404

; An inline wait of \passes passes of 10 states (INC.W 2, CMP.W #imm 4, BLO 4): no return
; instruction, so it can sit inside a programming span. Uses r6.
        .macro WAIT passes
        sub.w   r6,r6
.Lw\@:  inc.w   #1,r6
        cmp.w   #\passes,r6
        blo     .Lw\@
        .endm

_start:
        mov.l   #0xFFFF00,er7
        mov.l   #DATA,er0
        mov.l   #REPROG,er1
        sub.b   r2l,r2l
fill:   mov.b   r2l,r3l
        xor.b   #0x5A,r3l
        mov.b   r3l,@er0
        mov.b   r3l,@er1
        adds    #1,er0
        adds    #1,er1
        inc.b   r2l
        cmp.b   #32,r2l
        bne     fill

        mov.l   #FLMCR1,er4
        bset    #SWE,@er4
        WAIT    20                      ; 10 us
        sub.w   e6,e6                   ; e6: attempt count n
attempt:
        inc.w   #1,e6
        sub.w   e5,e5                   ; e5: reprogram needed m
        mov.l   #REPROG,er0             ; write X to the unit
        mov.l   #UNIT,er1
        mov.w   #32,r5
write:  mov.b   @er0+,r3l
        mov.b   r3l,@er1
        adds    #1,er1
        dec.w   #1,r5
        bne     write
        .ifdef RTS_IN_PULSE
        jsr     @nothing
        .endif
        mov.w   #PULSE_SHORT,r5         ; pulse length: short for attempts 1-4
        cmp.w   #4,e6
        bls     1f
        mov.w   #PULSE_LONG,r5
1:      bset    #PSU,@er4
        WAIT    100                     ; 50 us
        sub.w   r6,r6
        bset    #P,@er4
pulse:  inc.w   #1,r6                   ; 8 states per pass
        cmp.w   r5,r6
        blo     pulse
        bclr    #P,@er4
        WAIT    20                      ; 10 us
        bclr    #PSU,@er4
        WAIT    20                      ; 10 us

        bset    #PV,@er4                ; program-verify
        WAIT    8                       ; 4 us
        mov.l   #DATA,er0
        mov.l   #UNIT,er1
        mov.l   #REPROG,er2
        mov.w   #32,r5
verify: mov.b   #0xFF,r3l
        mov.b   r3l,@er1                ; dummy write
        WAIT    4
        mov.b   @er1,r3l                ; V
        mov.b   @er0,r3h                ; D
        cmp.b   r3h,r3l
        beq     2f
        mov.w   #1,e5
2:      not.b   r3l
        or.b    r3h,r3l                 ; X = D OR NOT V
        mov.b   r3l,@er2
        adds    #1,er0
        adds    #1,er1
        adds    #1,er2
        dec.w   #1,r5
        bne     verify
        bclr    #PV,@er4
        WAIT    8

        cmp.w   #MAX_ATTEMPTS,e6
        bhs     failed
        mov.w   e5,e5
        beq     3f
        jmp     @attempt
3:      mov.b   #'S',r2l
        bra     done
failed: mov.b   #'F',r2l
done:   bclr    #SWE,@er4
        WAIT    200                     ; 100 us

        mov.l   #SSR1,er1
        mov.l   #TDR1,er0
4:      btst    #7,@er1                 ; TDRE
        beq     4b
        mov.b   r2l,@er0
        bclr    #7,@er1
5:      btst    #2,@er1                 ; TEND
        beq     5b
        sleep

nothing:
        rts
