@ Entry of a flash library: the boot ROM jumps here (RAM base + 0x4000) in ARM state.
@ The stack grows down from the library's first byte into the security windows,
@ which the boot ROM has finished with by then.
    .syntax unified
    .arm
    .section .text.start, "ax"
    .global _start
_start:
    ldr     sp, =__stack_top
    ldr     r0, =__bss_start
    ldr     r1, =__bss_end
    mov     r2, #0
1:  cmp     r0, r1
    strlo   r2, [r0], #4
    blo     1b
    bl      fl_entry
    @ fl_entry hands the board back to the boot ROM; should that not take, stay put.
2:  b       2b
    .ltorg
