; Programs and verifies one 128-byte unit of the H8/3664F flash with the chip's
; program/program-verify procedure (additional programming in attempts 1-5, the watchdog armed
; around every pulse), then sends 'S' or 'F' on SCI3 and sleeps. Normal mode, loaded at 0xF780.
; Data: D[i] = i XOR 0x5A, for the unit at flash address UNIT.
; Assembly-time variant (--defsym): RTS_IN_VERIFY=1 (a subroutine return between a dummy write
; and its verify read).
        .h8300hn
        .section .text
        .global _start

FLMCR1  = 0xFF90
SSR     = 0xFFAC
TDR     = 0xFFAB
TCSRWD  = 0xFFC0
TCWD    = 0xFFC1
TMWD    = 0xFFC2
UNIT    = 0x2000
DATA    = 0xFB80                ; D, X, Y: 128 bytes each
REPROG  = 0xFC00
ADDDATA = 0xFC80
SWE = 6
PSU = 4
PV  = 2
P   = 0
MAX_ATTEMPTS = 1000

        .macro WAIT passes
        sub.w   r6,r6
.Lw\@:  inc.w   #1,r6
        cmp.w   #\passes,r6
        blo     .Lw\@
        .endm

; One programming pulse of r5 passes of 8 states, the watchdog armed around it. Written in
; line: a subroutine's return would fall between the flash writes and the clearing of P.
        .macro PULSE
        mov.b   #0x5A,r3l
        mov.b   r3l,@TCSRWD:16
        mov.b   #0xFF,r3l
        mov.b   r3l,@TMWD:16
        mov.b   #0xF2,r3l
        mov.b   r3l,@TCWD:16
        mov.b   #0xA4,r3l
        mov.b   r3l,@TCSRWD:16
        bset    #PSU,@er4
        WAIT    50                      ; 31.25 us
        sub.w   r6,r6
        bset    #P,@er4
.Lp\@:  inc.w   #1,r6
        cmp.w   r5,r6
        blo     .Lp\@
        bclr    #P,@er4
        WAIT    5
        bclr    #PSU,@er4
        WAIT    5
        mov.b   #0xA0,r3l
        mov.b   r3l,@TCSRWD:16
        .endm

_start:
        mov.w   #0xFF80,r7
        mov.w   #DATA,r0
        mov.w   #REPROG,r1
        sub.b   r2l,r2l
fill:   mov.b   r2l,r3l
        xor.b   #0x5A,r3l
        mov.b   r3l,@er0
        mov.b   r3l,@er1
        adds    #1,er0
        adds    #1,er1
        inc.b   r2l
        cmp.b   #128,r2l
        bne     fill

        mov.w   #FLMCR1,r4
        bset    #SWE,@er4
        WAIT    1
        sub.w   e6,e6                   ; e6: attempt count n
attempt:
        inc.w   #1,e6
        sub.w   e5,e5                   ; e5: reprogram needed m
        mov.w   #REPROG,r0
        mov.w   #UNIT,r1
        mov.w   #128,r2
write:  mov.b   @er0+,r3l
        mov.b   r3l,@er1
        adds    #1,er1
        dec.w   #1,r2
        bne     write
        mov.w   #30,r5                  ; 15 us for attempts 1-6, then 100 us
        cmp.w   #6,e6
        bls     1f
        mov.w   #200,r5
1:      PULSE

        bset    #PV,@er4
        WAIT    4
        mov.w   #DATA,r0
        mov.w   #UNIT,r1
        mov.w   #REPROG,r2
        mov.w   #ADDDATA,r5
verify: mov.b   #0xFF,r3l
        mov.b   r3l,@er1                ; dummy write
        .ifdef RTS_IN_VERIFY
        jsr     @nothing
        .endif
        WAIT    2
        mov.b   @er1,r3l                ; V
        mov.b   @er0,r3h                ; D
        cmp.b   r3h,r3l
        beq     2f
        mov.w   #1,e5
2:      mov.b   @er2,r6l                ; X written in this attempt
        or.b    r3l,r6l
        mov.b   r6l,@er5                ; Y = X OR V
        not.b   r3l
        or.b    r3h,r3l
        mov.b   r3l,@er2                ; X = D OR NOT V
        adds    #1,er0
        adds    #1,er1
        adds    #1,er2
        adds    #1,er5
        cmp.w   #UNIT+128,r1
        bne     verify
        bclr    #PV,@er4
        WAIT    2

        cmp.w   #5,e6                   ; additional programming in attempts 1-5
        bhi     4f
        mov.w   #ADDDATA,r0
        mov.w   #UNIT,r1
        mov.w   #128,r2
addw:   mov.b   @er0+,r3l
        mov.b   r3l,@er1
        adds    #1,er1
        dec.w   #1,r2
        bne     addw
        mov.w   #10,r5                  ; 5 us
        PULSE
4:      cmp.w   #MAX_ATTEMPTS,e6
        bhi     failed
        mov.w   e5,e5
        beq     3f
        jmp     @attempt
3:      mov.b   #'S',r2l
        bra     done
failed: mov.b   #'F',r2l
done:   bclr    #SWE,@er4
        WAIT    100

        mov.w   #SSR,r1
5:      btst    #7,@er1                 ; TDRE
        beq     5b
        mov.b   r2l,@TDR:16             ; on SCI3 the TDR write clears TDRE
6:      btst    #2,@er1                 ; TEND
        beq     6b
        sleep

nothing:
        rts
