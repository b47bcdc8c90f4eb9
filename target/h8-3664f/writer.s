; Writing program for the H8/3664F (H8/300H normal mode, 16-bit addresses).
;
; The chip's boot program stores this image at 0xF780 in on-chip RAM and jumps to its first
; byte. From then on the program serves the host's block protocol on SCI3 until reset:
;
;   host -> chip   block number b (1 byte), 128 data bytes
;   chip -> host   0x53 "S" when the block programmed and verified, 0x46 "F" otherwise
;
; A block is one 128-byte programming unit of the flash, at b x 128. It is programmed with
; the chip's program / program-verify procedure: write the 128 bytes, pulse, read back in
; verify mode, give the bits that just took a short additional pulse (attempts 1-5), and write
; again only the bits that did not take, up to 1001 attempts. The watchdog is armed around
; every pulse, so that a runaway with P set ends in a reset. Nothing is erased; the boot
; program leaves the flash erased.
;
; No static variables: the block buffer and the procedure's data live on the stack, which
; starts at 0xFF80 (the top of on-chip RAM) and stays well clear of the image.
;
; Timing: the program runs at phi = 16 MHz, one state = 62.5 ns. Code and stack are in
; on-chip RAM (2 states per fetch or access). Every wait is a counted loop on registers only:
;   wait_passes       inc.w 2 + cmp.w #imm 4 + bcs d:8 4       = 10 states = 0.625 us per pass
;   pulse loop        inc.w 2 + cmp.w Rs 2 + bcs d:8 4          =  8 states = 0.5 us per pass
;
; Calling convention (internal): arguments in er0-er2, result in r0; the routines say which
; registers they change. Pointers are loaded as 32-bit values with the upper word 0.

        .h8300hn
        .section .text

; SCI3 (the @aa:8 area 0xFF00-0xFFFF, like every register used here).
SMR             =       0xffa8
BRR             =       0xffa9
SCR3            =       0xffaa
TDR             =       0xffab
SSR             =       0xffac
RDR             =       0xffad
SCR3_TE         =       5
SCR3_RE         =       4
SSR_TDRE        =       7
SSR_RDRF        =       6
SSR_TEND        =       2
SSR_WAIT_MASK   =       0x78            ; RDRF, OER, FER, PER: a frame has ended
SSR_CLEAR_ERRS  =       0xc7            ; AND mask: 0 in OER, FER, PER
SCR3_OFF        =       0x00            ; transmitter, receiver, interrupts off
SMR_8N1         =       0x00            ; async, 8 data bits, no parity, 1 stop, clock phi
BRR_19200       =       25              ; phi / (32 x 26) = 19231 bit/s at 16 MHz

; Flash control and the watchdog timer.
FLMCR1          =       0xff90
FLMCR1_SWE      =       6
FLMCR1_PSU      =       4
FLMCR1_PV       =       2
FLMCR1_P        =       0
TCSRWD          =       0xffc0
TCWD            =       0xffc1
TMWD            =       0xffc2
TCSRWD_UNLOCK   =       0x5a            ; TCWE, TCSRWE set: TCWD, WDON, WRST writable
TCSRWD_START    =       0xa4            ; WDON set, WRST cleared
TCSRWD_STOP     =       0xa0            ; WDON and WRST cleared
TMWD_PHI_8192   =       0xff            ; 512 us per count at 16 MHz
TCWD_14_COUNTS  =       0xf2            ; overflow (reset) after 14 counts, about 7 ms

; The block protocol and the programming procedure.
STACK_TOP       =       0xff80
BLOCK_BYTES     =       128
REPLY_OK        =       0x53            ; "S"
REPLY_FAILED    =       0x46            ; "F"
ERASED          =       0xff
SHORT_PULSE     =       30              ; attempts 1-6: 30 passes, 15 us
LONG_PULSE      =       200             ; attempts 7-1001: 200 passes, 100 us
EXTRA_PULSE     =       10              ; additional programming: 10 passes, 5 us
SHORT_ATTEMPTS  =       6
EXTRA_ATTEMPTS  =       5               ; attempts that get additional programming
LAST_ATTEMPT    =       1001

; program_block's stack frame.
FRAME_X         =       0               ; reprogram_data: written at the next attempt
FRAME_Y         =       BLOCK_BYTES     ; additional_data: written for the additional pulse
FRAME_BYTES     =       2 * BLOCK_BYTES

; Counted wait of `count` passes of 10 states (0.625 us at 16 MHz); clobbers r6. The counter
; starts at 0 and the loop runs while it is below count (count >= 1 everywhere).
        .macro  wait_passes count
        sub.w   r6,r6                   ; 2 states
.Lwait\@:
        inc.w   #1,r6                   ; 2 states
        cmp.w   #\count,r6              ; 4 states
        bcs     .Lwait\@                ; 4 states (d:8)
        .endm

; Writes the 128 bytes at er1 into the flash unit at e5, one byte write each, in address
; order. In line (no subroutine return may follow a flash write before P is clear).
; Changes er0, er1, r3, r4l.
        .macro  write_unit
        mov.w   e5,r0
        extu.l  er0
        mov.w   #BLOCK_BYTES,r3
.Lwrite\@:
        mov.b   @er1+,r4l
        mov.b   r4l,@er0
        adds    #1,er0
        dec.w   #1,r3
        bne     .Lwrite\@
        .endm

; Entry: the boot program jumps here, to the image's first byte.
        .global _start
_start:
        mov.l   #STACK_TOP,er7
        jsr     @writer_main            ; never returns

; writer_main: the block loop. Never returns.
; Keeps receive_buffer (128 bytes) on its stack: the block number in byte 0, then the data in
; bytes 0-127, then the reply byte in byte 0. A receive error anywhere in a block still takes
; the block's full 1 + 128 byte positions (so the next block starts in step with the host),
; programs nothing and answers "F".
writer_main:
        sub.l   #BLOCK_BYTES,er7
        jsr     @sci_init
next_block:
        mov.l   er7,er1
        mov.w   #1,r2
        jsr     @sci_receive
        mov.w   r0,r3                   ; r3: OR of the receive results of this block
        mov.b   @er7,r5h                ; flash address = b x 128 = (b x 256) / 2
        sub.b   r5l,r5l
        shlr.w  r5
        mov.l   er7,er1
        mov.w   #BLOCK_BYTES,r2
        jsr     @sci_receive
        or.w    r0,r3
        bne     refuse_block
        mov.w   r5,r0
        mov.l   er7,er1
        jsr     @program_block
        mov.w   r0,r0
        bne     refuse_block
        mov.b   #REPLY_OK,r0l
        bra     send_reply
refuse_block:
        mov.b   #REPLY_FAILED,r0l
send_reply:
        mov.b   r0l,@er7
        mov.l   er7,er1
        mov.w   #1,r2
        jsr     @sci_send
        bra     next_block

; sci_init: SCI3 at 19200 bit/s (nominal), 8N1, polled. TE and RE stay clear: sci_receive and
; sci_send switch them on for their own duration only. Changes r0l, r6.
sci_init:
        mov.b   #SCR3_OFF,r0l
        mov.b   r0l,@SCR3:8
        mov.b   #SMR_8N1,r0l
        mov.b   r0l,@SMR:8
        mov.b   #BRR_19200,r0l
        mov.b   r0l,@BRR:8
        wait_passes 200                 ; 200 x 10 states = 125 us: more than one bit time
        rts

; sci_receive: takes exactly r2 (signed) byte positions into the buffer at er1, with the
; receiver on for just that long. Each received byte fills one position; each receive error
; (OER, FER or PER: a frame lost or garbled) takes one position as well and leaves that
; buffer byte as it was, so the count stays in step with the bytes the host sent. A received
; byte wins over an error flag set at the same time (the byte came first); the flag then ends
; the wait for the next position, in this call or the next one. Returns r0 = 0 when every
; position got a byte, -1 when any error occurred. Changes r0, er1, r2, r4l.
sci_receive:
        sub.w   r0,r0
        bset    #SCR3_RE,@SCR3:8
.Lnext_position:
        mov.w   r2,r2
        ble     .Lreceived
.Lawait_frame:
        mov.b   @SSR:8,r4l
        and.b   #SSR_WAIT_MASK,r4l
        beq     .Lawait_frame           ; no time limit
        btst    #SSR_RDRF,r4l
        beq     .Lreceive_error
        mov.b   @RDR:8,r4l              ; reading RDR clears RDRF
        mov.b   r4l,@er1
        bra     .Lposition_taken
.Lreceive_error:
        mov.b   @SSR:8,r4l              ; clear the error flags, all others written as read
        and.b   #SSR_CLEAR_ERRS,r4l
        mov.b   r4l,@SSR:8
        mov.w   #-1,r0
.Lposition_taken:
        adds    #1,er1
        dec.w   #1,r2
        bra     .Lnext_position
.Lreceived:
        bclr    #SCR3_RE,@SCR3:8
        rts

; sci_send: sends r2 (signed) bytes from the buffer at er1 with the transmitter on for just
; that long, and waits until the last one has left the line (TEND). Changes r0l, er1, r2.
sci_send:
        bset    #SCR3_TE,@SCR3:8
.Lnext_send:
        mov.w   r2,r2
        ble     .Lawait_tend
.Lawait_tdre:
        btst    #SSR_TDRE,@SSR:8
        beq     .Lawait_tdre            ; no time limit
        mov.b   @er1+,r0l
        mov.b   r0l,@TDR:8              ; writing TDR clears TDRE
        dec.w   #1,r2
        bra     .Lnext_send
.Lawait_tend:
        btst    #SSR_TEND,@SSR:8
        beq     .Lawait_tend
        bclr    #SCR3_TE,@SCR3:8
        rts

; program_block: programs the 128 bytes at er1 into the flash unit at r0 (a multiple of 128)
; and verifies them. Returns r0 = 0 when all 128 bytes read back equal to the data at one of
; attempts 1-1000, -1 once 1001 attempts have been made (the 1001st verify result is not used).
; The flash is read only in program-verify mode. No subroutine returns from the first flash
; write of an attempt until P is clear (program_pulse returns after that), nor between a
; dummy write and its read.
; Registers: e5 flash address, e6 data pointer, e4 attempt_count (n), e3 reprogram_needed (m);
; er0 / er1 / er2 walk the flash / X / data, r3 counts bytes, r4l the verify byte V.
; The frame holds X (reprogram_data) and Y (additional_data). Changes er0-er6.
program_block:
        sub.l   #FRAME_BYTES,er7
        mov.w   r0,e5
        mov.w   r1,e6
        mov.l   er7,er2                 ; X <- D (before SWE, so that the wait after it
        mov.w   e6,r1                   ; leads straight into the writes)
        extu.l  er1
        mov.w   #BLOCK_BYTES,r3
.Lcopy:
        mov.b   @er1+,r4l
        mov.b   r4l,@er2
        adds    #1,er2
        dec.w   #1,r3
        bne     .Lcopy
        sub.w   e4,e4
        bset    #FLMCR1_SWE,@FLMCR1:8
        wait_passes 1                   ; 1 x 10 states = 0.625 us

.Lattempt:
        inc.w   #1,e4
        sub.w   e3,e3
        mov.l   er7,er1                 ; write X
        write_unit
        mov.w   #SHORT_PULSE,r0         ; the pulse: short for attempts 1-6, long after
        cmp.w   #SHORT_ATTEMPTS,e4
        ble     .Lpulse
        mov.w   #LONG_PULSE,r0
.Lpulse:
        jsr     @program_pulse

        bset    #FLMCR1_PV,@FLMCR1:8    ; program-verify, byte by byte
        wait_passes 4                   ; 4 x 10 states = 2.5 us
        mov.w   e5,r0
        extu.l  er0
        mov.l   er7,er1
        mov.w   e6,r2
        extu.l  er2
        mov.w   #BLOCK_BYTES,r3
.Lverify:
        mov.b   #ERASED,r4l
        mov.b   r4l,@er0                ; dummy write
        wait_passes 2                   ; 2 x 10 states = 1.25 us
        mov.b   @er0,r4l                ; V: the verify read
        adds    #1,er0
        mov.b   @er2+,r4h               ; D: the byte as received
        cmp.b   r4h,r4l
        beq     .Lbyte_matches
        mov.w   #1,e3
.Lbyte_matches:
        cmp.w   #EXTRA_ATTEMPTS,e4
        bgt     .Lnext_x
        mov.b   @er1,r5l                ; Y = X OR V: bits written now that read 0
        or.b    r4l,r5l
        mov.b   r5l,@(FRAME_Y,er1)
.Lnext_x:
        not.b   r4l                     ; next X = D OR (NOT V): pulse only bits still 1
        or.b    r4h,r4l
        mov.b   r4l,@er1
        adds    #1,er1
        dec.w   #1,r3
        bne     .Lverify
        bclr    #FLMCR1_PV,@FLMCR1:8
        wait_passes 2                   ; 2 x 10 states = 1.25 us

        cmp.w   #EXTRA_ATTEMPTS,e4      ; additional programming, attempts 1-5
        bgt     .Lcheck_limit
        mov.l   er7,er1
        add.l   #FRAME_Y,er1
        write_unit                      ; write Y
        mov.w   #EXTRA_PULSE,r0
        jsr     @program_pulse
.Lcheck_limit:
        cmp.w   #LAST_ATTEMPT,e4        ; the limit comes before the verify result
        bge     .Lgive_up
        mov.w   e3,e3
        beq     .Lverified
        jmp     @.Lattempt
.Lverified:
        sub.w   r4,r4
        bra     .Lend_block
.Lgive_up:
        mov.w   #-1,r4
.Lend_block:
        bclr    #FLMCR1_SWE,@FLMCR1:8
        wait_passes 100                 ; 100 x 10 states = 62.5 us
        mov.w   r4,r0
        add.l   #FRAME_BYTES,er7
        rts

; program_pulse: one programming pulse with the watchdog armed around it and P held for r0
; passes of 8 states (30: 15 us, 200: 100 us, 10: 5 us). Returns only once P and PSU are
; clear, so no return falls inside a pulse. Changes r1l, r6.
program_pulse:
        mov.b   #TCSRWD_UNLOCK,r1l
        mov.b   r1l,@TCSRWD:8
        mov.b   #TMWD_PHI_8192,r1l
        mov.b   r1l,@TMWD:8
        mov.b   #TCWD_14_COUNTS,r1l
        mov.b   r1l,@TCWD:8
        mov.b   #TCSRWD_START,r1l
        mov.b   r1l,@TCSRWD:8
        bset    #FLMCR1_PSU,@FLMCR1:8
        wait_passes 50                  ; 50 x 10 states = 31.25 us
        sub.w   r6,r6
        bset    #FLMCR1_P,@FLMCR1:8
.Lhold_p:
        inc.w   #1,r6                   ; 2 states
        cmp.w   r0,r6                   ; 2 states
        bcs     .Lhold_p                ; 4 states (d:8)
        bclr    #FLMCR1_P,@FLMCR1:8
        wait_passes 5                   ; 5 x 10 states = 3.125 us
        bclr    #FLMCR1_PSU,@FLMCR1:8
        wait_passes 5                   ; 5 x 10 states = 3.125 us
        mov.b   #TCSRWD_STOP,r1l
        mov.b   r1l,@TCSRWD:8
        rts
