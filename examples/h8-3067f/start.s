; Start-up of the H8/3067F example (advanced mode): the reset vector, a stack at the top of the
; on-chip RAM, initialised data copied from flash, bss cleared, then main; the chip sleeps when
; main returns.
	.h8300h
	.section .vects			; (a name of 8 characters breaks this COFF toolchain)
	.long	_start			; vector 0: reset

	.section .text
	.global	_start
_start:
	mov.l	#_stack_top,er7
	mov.l	#_data_load,er0		; copy .data from flash to RAM
	mov.l	#_data_start,er1
	mov.l	#_data_end,er2
1:	cmp.l	er2,er1
	bhs	2f
	mov.b	@er0+,r3l
	mov.b	r3l,@er1
	adds	#1,er1
	bra	1b
2:	mov.l	#_bss_start,er1		; clear .bss
	mov.l	#_bss_end,er2
	sub.b	r3l,r3l
3:	cmp.l	er2,er1
	bhs	4f
	mov.b	r3l,@er1
	adds	#1,er1
	bra	3b
4:	jsr	@_main
5:	sleep
	bra	5b
	.end
