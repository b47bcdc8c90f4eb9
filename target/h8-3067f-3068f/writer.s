; Writing program for the H8/3067F and H8/3068F (H8/300H advanced mode).
;
; The chip's boot program stores this image in on-chip RAM and jumps to its first byte. From
; then on the program serves the host's block protocol on serial channel 1 until reset:
;
;   host -> chip   block number (2 bytes, high first), 32 data bytes
;   chip -> host   0x53 "S" when the block programmed and verified, 0x46 "F" otherwise
;
; Each block is programmed into the flash at block number x 32 with the chip's program /
; program-verify procedure: write the 32 bytes, pulse, read back in verify mode, and write
; again only the bits that did not take, up to 404 attempts. Nothing is erased; the boot
; program leaves the flash erased.
;
; One source, linked twice: at 0xFFF400 for the H8/3067F and at 0xFFC720 for the H8/3068F.
; The linker script of each chip places the RAM variables (reprogram_data, verify_data,
; attempt_count, reprogram_needed); the code and the register addresses are the same.
;
; Timing: the program runs at phi = 20 MHz, one state = 50 ns. Code and stack are in on-chip
; RAM (2 states per fetch or access). Every wait is a counted loop on registers only:
;   wait_passes       inc.w 2 + cmp.w #imm 4 + bcs d:8 4       = 10 states = 0.5 us per pass
;   pulse loop        inc.w 2 + cmp.w Rs 2 + bcs d:8 4          =  8 states = 0.4 us per pass
;   settle loop       mov.w 2 + inc.w 2 + mov.w 2 + cmp.w #imm 4 + bcs d:8 4 = 14 states
;
; Calling convention (internal): arguments in er0-er2, result in r0; a call may clobber
; er0-er2 and er6; the callers below say which other registers they keep across a call.

        .h8300h
        .section .text

; Serial channel 1 (the @aa:8 area 0xFFFF00-0xFFFFFF).
SMR1            =       0xffffb8
BRR1            =       0xffffb9
SCR1            =       0xffffba
TDR1            =       0xffffbb
SSR1            =       0xffffbc
RDR1            =       0xffffbd
SSR1_TDRE       =       7
SSR1_RDRF       =       6
SSR1_TEND       =       2
SSR1_WAIT_MASK  =       0x78            ; RDRF, ORER, FER, PER: a frame has ended
SSR1_CLEAR_ERRS =       0xc7            ; 0 in ORER, FER, PER; writing 1 changes no flag
SSR1_CLEAR_RX   =       0x87            ; 0 in RDRF, ORER, FER, PER
SCR1_OFF        =       0x00            ; transmitter, receiver, interrupts off
SCR1_TE_RE      =       0x30
SMR1_8N1        =       0x00            ; async, 8 data bits, no parity, 1 stop, clock phi
BRR1_19200      =       32              ; phi / (32 x 33) = 18939 bit/s at 20 MHz

; Watchdog timer, system control, port 4, flash control.
TCSR            =       0xffff8c
TCSR_BEFORE     =       0xc0            ; written before a pulse
TCSR_ARM        =       0x7f            ; written once SSBY is clear
TCSR_AFTER      =       0x1f            ; written after a pulse
SYSCR           =       0xfee012
SYSCR_SSBY      =       7
P4DDR           =       0xfee003
P4DDR_OUTPUTS   =       0xff
FLMCR1          =       0xfee030
FLMCR1_SWE      =       6
FLMCR1_PSU      =       4
FLMCR1_PV       =       2
FLMCR1_P        =       0

; The block protocol and the programming procedure.
STACK_TOP       =       0xffff00
BLOCK_BYTES     =       32
BLOCK_SHIFT     =       5               ; flash address = block number << 5
REPLY_OK        =       0x53            ; "S"
REPLY_FAILED    =       0x46            ; "F"
ERASED          =       0xff
SHORT_PULSE     =       150             ; n for attempts 1-4: P held 2n = 300 passes, 120 us
LONG_PULSE      =       500             ; n for attempts 5-404: 1000 passes, 400 us
SHORT_ATTEMPTS  =       4
LAST_ATTEMPT    =       404

; Counted wait of `count` passes of 10 states (0.5 us at 20 MHz); clobbers r6. The counter
; starts at 0 and the loop runs while it is below count (count >= 1 everywhere).
        .macro  wait_passes count
        sub.w   r6,r6                   ; 2 states
.Lwait\@:
        inc.w   #1,r6                   ; 2 states
        cmp.w   #\count,r6              ; 4 states
        bcs     .Lwait\@                ; 4 states (d:8)
        .endm

; Entry: the boot program jumps here, to the image's first byte.
        .global _start
_start:
        mov.l   #STACK_TOP,er7
        jsr     @writer_main            ; never returns

; writer_main: the block loop. Never returns.
; Keeps on its stack the 32-byte block buffer: block number in bytes 0-1, then the data in
; bytes 0-31, then the reply byte in byte 0. A receive error anywhere in a block still takes
; the block's full 2 + 32 byte positions (so the next block starts in step with the host),
; programs nothing and answers "F".
writer_main:
        sub.l   #BLOCK_BYTES,er7
        jsr     @sci_init
next_block:
        sub.w   r5,r5                   ; r5: OR of the receive results of this block
        mov.l   er7,er1
        mov.w   #2,r2
        jsr     @sci_receive_all
        mov.w   @er7,r4                 ; block number, high byte first (big-endian word)
        extu.l  er4
        shll.l  er4                     ; x 32: the flash address, 0x000000-0x1FFFE0
        shll.l  er4
        shll.l  er4
        shll.l  er4
        shll.l  er4
        mov.l   er7,er1
        mov.w   #BLOCK_BYTES,r2
        jsr     @sci_receive_all
        mov.w   r5,r5
        bne     refuse_block
        mov.l   er4,er0
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

; sci_init: channel 1 at 19200 bit/s (nominal), 8N1, polled; transmitter and receiver on.
sci_init:
        mov.b   #SCR1_OFF,r0l
        mov.b   r0l,@SCR1:8
        mov.b   #SMR1_8N1,r0l
        mov.b   r0l,@SMR1:8
        mov.b   #BRR1_19200,r0l
        mov.b   r0l,@BRR1:8
        wait_passes 280                 ; 280 x 10 states = 140 us: one bit time at least
        mov.b   #SCR1_TE_RE,r0l
        mov.b   r0l,@SCR1:8
        mov.b   @SSR1:8,r0l             ; drop whatever the boot program left received
        and.b   #SSR1_CLEAR_RX,r0l
        mov.b   r0l,@SSR1:8
        rts

; sci_receive_all: takes exactly r2 byte positions into the buffer at er1, going on past
; receive errors (each error takes one position). ORs each sci_receive result into r5, so r5
; is nonzero afterwards if any error occurred. Keeps er3-er5.
sci_receive_all:
        jsr     @sci_receive
        or.w    r0,r5
        mov.w   r2,r2
        bgt     sci_receive_all
        rts

; sci_receive: receives up to r2 (signed) bytes into the buffer at er1. Returns r0 = 0 once
; all r2 bytes are in, or -1 at the first receive error (ORER, FER or PER without RDRF), after
; clearing the error flags. On return er1 points past, and r2 counts down over, every byte
; position taken, the failing one included. A received byte wins over an error flag set at the
; same time; the flag then ends the wait for the next byte. r2 <= 0 returns 0 at once.
sci_receive:
        mov.w   r2,r2
        ble     .Lreceived
.Lawait_frame:
        mov.b   @SSR1:8,r0l
        and.b   #SSR1_WAIT_MASK,r0l
        beq     .Lawait_frame           ; no time limit
        btst    #SSR1_RDRF,r0l
        beq     .Lreceive_error
        mov.b   @RDR1:8,r0l
        mov.b   r0l,@er1
        bclr    #SSR1_RDRF,@SSR1:8
        adds    #1,er1
        dec.w   #1,r2
        bra     sci_receive
.Lreceive_error:
        mov.b   #SSR1_CLEAR_ERRS,r0l
        mov.b   r0l,@SSR1:8
        adds    #1,er1
        dec.w   #1,r2
        mov.w   #-1,r0
        rts
.Lreceived:
        sub.w   r0,r0
        rts

; sci_send: sends r2 (signed) bytes from the buffer at er1, then waits until the last one has
; left the line (TEND). Keeps er3-er5.
sci_send:
        mov.w   r2,r2
        ble     .Lawait_tend
.Lawait_tdre:
        btst    #SSR1_TDRE,@SSR1:8
        beq     .Lawait_tdre            ; no time limit
        mov.b   @er1+,r0l
        mov.b   r0l,@TDR1:8
        bclr    #SSR1_TDRE,@SSR1:8      ; starts the transmission
        dec.w   #1,r2
        bra     sci_send
.Lawait_tend:
        btst    #SSR1_TEND,@SSR1:8
        beq     .Lawait_tend
        rts

; program_block: programs the 32 bytes at er1 into the flash at er0 (a multiple of 32) and
; verifies them. Returns r0 = 0 when all 32 bytes read back equal to the data, -1 once 404
; attempts have been made (the 404th verify result is not used). The flash is read only in
; program-verify mode. No subroutine returns from the first flash write of an attempt until
; P is clear (program_pulse returns after that), nor between a dummy write and its read.
; Keeps on the stack: [er7] the data pointer, [er7+4] the flash address. Clobbers er0-er6.
program_block:
        push.l  er0
        push.l  er1
        mov.b   #P4DDR_OUTPUTS,r0l
        mov.b   r0l,@P4DDR:24
        mov.l   @er7,er1                ; reprogram_data <- data (before SWE, so that the
        mov.l   #reprogram_data,er2     ; wait after it leads straight into the writes)
        mov.w   #BLOCK_BYTES,e0
.Lcopy:
        mov.b   @er1+,r0l
        mov.b   r0l,@er2
        adds    #1,er2
        dec.w   #1,e0
        bne     .Lcopy
        sub.w   r0,r0
        mov.w   r0,@attempt_count:16
        mov.l   #FLMCR1,er3             ; er3 addresses FLMCR1 for the whole block
        bset    #FLMCR1_SWE,@er3
        wait_passes 20                  ; 20 x 10 states = 10 us

.Lattempt:
        mov.w   @attempt_count:16,r0
        inc.w   #1,r0
        mov.w   r0,@attempt_count:16
        sub.w   r0,r0
        mov.w   r0,@reprogram_needed:16
        mov.l   #reprogram_data,er1     ; write reprogram_data, one byte write each
        mov.l   @(4,er7),er2
        mov.w   #BLOCK_BYTES,e0
.Lwrite:
        mov.b   @er1+,r0l
        mov.b   r0l,@er2
        adds    #1,er2
        dec.w   #1,e0
        bne     .Lwrite
        mov.w   #SHORT_PULSE,r0         ; the pulse: short for attempts 1-4, long after
        mov.w   @attempt_count:16,r1
        cmp.w   #SHORT_ATTEMPTS,r1
        ble     .Lpulse
        mov.w   #LONG_PULSE,r0
.Lpulse:
        jsr     @program_pulse          ; keeps er3

        bset    #FLMCR1_PV,@er3         ; program-verify, byte by byte
        wait_passes 8                   ; 8 x 10 states = 4 us
        mov.l   #reprogram_data,er1
        mov.l   @(4,er7),er2
        mov.l   @er7,er5
        mov.w   #BLOCK_BYTES,e0
.Lverify:
        mov.b   #ERASED,r0l
        mov.b   r0l,@er2                ; dummy write
        sub.w   r6,r6                   ; settle: 4 x 14 states = 2.8 us
.Lsettle:
        mov.w   r6,e6                   ; 2 states
        inc.w   #1,e6                   ; 2 states
        mov.w   e6,r6                   ; 2 states
        cmp.w   #4,r6                   ; 4 states
        bcs     .Lsettle                ; 4 states (d:8)
        mov.b   @er2,r0l                ; V: the verify read
        adds    #1,er2
        mov.b   r0l,@verify_data:16
        mov.b   @er5+,r0h               ; D: the byte as received
        cmp.b   r0h,r0l
        beq     .Lbyte_matches
        mov.w   #1,r4
        mov.w   r4,@reprogram_needed:16
.Lbyte_matches:
        not.b   r0l                     ; next X = D OR (NOT V): pulse only bits still 1
        or.b    r0h,r0l
        mov.b   r0l,@er1
        adds    #1,er1
        dec.w   #1,e0
        bne     .Lverify
        bclr    #FLMCR1_PV,@er3
        wait_passes 8                   ; 8 x 10 states = 4 us

        mov.w   @attempt_count:16,r0    ; the limit comes before the verify result
        cmp.w   #LAST_ATTEMPT,r0
        bge     .Lgive_up
        mov.w   @reprogram_needed:16,r0
        beq     .Lverified
        jmp     @.Lattempt
.Lverified:
        sub.w   r4,r4
        bra     .Lend_block
.Lgive_up:
        mov.w   #-1,r4
.Lend_block:
        bclr    #FLMCR1_SWE,@er3
        wait_passes 200                 ; 200 x 10 states = 100 us
        mov.w   r4,r0
        adds    #4,er7
        adds    #4,er7
        rts

; program_pulse: one programming pulse with P held for 2 x r0 passes of 8 states (r0 = 150:
; 120 us, r0 = 500: 400 us). Returns only once P and PSU are clear, so no return falls inside
; a pulse. Keeps er3-er5.
program_pulse:
        mov.b   #TCSR_BEFORE,r1l
        mov.b   r1l,@TCSR:8
        mov.l   #SYSCR,er2
        bclr    #SYSCR_SSBY,@er2
        mov.b   #TCSR_ARM,r1l
        mov.b   r1l,@TCSR:8
        mov.l   #FLMCR1,er2
        add.w   r0,r0                   ; passes of the pulse loop: 2n (never 0)
        bset    #FLMCR1_PSU,@er2
        wait_passes 100                 ; 100 x 10 states = 50 us
        sub.w   r6,r6
        bset    #FLMCR1_P,@er2
.Lhold_p:
        inc.w   #1,r6                   ; 2 states
        cmp.w   r0,r6                   ; 2 states
        bcs     .Lhold_p                ; 4 states (d:8)
        bclr    #FLMCR1_P,@er2
        wait_passes 20                  ; 20 x 10 states = 10 us
        bclr    #FLMCR1_PSU,@er2
        wait_passes 20                  ; 20 x 10 states = 10 us
        mov.b   #TCSR_AFTER,r1l
        mov.b   r1l,@TCSR:8
        rts
