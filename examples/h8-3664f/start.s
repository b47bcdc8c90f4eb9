; Start-up of the H8/3664F example (normal mode): the reset vector, a stack at the top of the
; on-chip RAM, initialised data copied from flash, bss cleared, then main; the chip sleeps when
; main returns.
	.h8300hn
	.section .vects			; (a name of 8 characters breaks this COFF toolchain)
	.word	_start			; vector 0: reset

	.section .text
	.global	_start
_start:
	mov.w	#_stack_top,r7
	mov.w	#_data_load,r0		; copy .data from flash to RAM
	mov.w	#_data_start,r1
	mov.w	#_data_end,r2
1:	cmp.w	r2,r1
	bhs	2f
	mov.b	@er0+,r3l
	mov.b	r3l,@er1
	adds	#1,er1
	bra	1b
2:	mov.w	#_bss_start,r1		; clear .bss
	mov.w	#_bss_end,r2
	sub.b	r3l,r3l
3:	cmp.w	r2,r1
	bhs	4f
	mov.b	r3l,@er1
	adds	#1,er1
	bra	3b
4:	jsr	@_main
5:	sleep
	bra	5b
	.end
