; Start-up for the compiled test programs: the reset vector, the stack, .data copied from
; flash to RAM and .bss cleared, then main(); SLEEP ends the simulated run.
	.text
	.global	_start
vectors:
	.if	VECTOR_LONG
	.long	_start
	.else
	.word	_start
	.endif
_start:
	mov.l	#__stack,er7
	mov.l	#__data_load,er5	; .data: flash image to RAM
	mov.l	#__data_start,er6
	mov.l	#__data_end,er0
copy:
	cmp.l	er0,er6
	bhs	copied
	mov.b	@er5+,r1l
	mov.b	r1l,@er6
	inc.l	#1,er6
	bra	copy
copied:
	mov.l	#__bss_start,er6
	mov.l	#__bss_end,er0
	sub.b	r1l,r1l
clear:
	cmp.l	er0,er6
	bhs	cleared
	mov.b	r1l,@er6
	inc.l	#1,er6
	bra	clear
cleared:
	jsr	@_main
	sleep
