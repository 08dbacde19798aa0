/* Where the recorder's kernel starts Skellan. No C library sets up the
   process: this hands the kernel's initial stack to Sys_Begin
   (SkellanMips.c), which runs main and ends the process. MIPS32 release 1. */
	.text
	.globl	__start
	.type	__start, @function
	.ent	__start
__start:
	.set	push
	.set	noreorder
	move	$4, $29		/* argc, argv and the environment */
	li	$8, -8
	and	$29, $29, $8	/* 8-byte aligned, as calls expect */
	addiu	$29, $29, -16	/* the four argument slots a callee may use */
	jal	Sys_Begin
	nop
1:	b	1b
	nop
	.set	pop
	.end	__start
	.size	__start, .-__start
