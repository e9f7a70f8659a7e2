@ A tiny Cortex-M image: vectors and code in flash, initialised data that
@ runs in RAM but loads from flash after the code, and zeroed data.
    .syntax unified
    .cpu cortex-m3
    .thumb

    .section .isr_vector, "a"
    .word _estack
    .word Reset

    .text
    .thumb_func
    .global Reset
Reset:
    ldr r0, =_sidata
    ldr r1, =_sdata
    ldr r2, =_edata
1:  cmp r1, r2
    bhs 2f
    ldr r3, [r0], #4
    str r3, [r1], #4
    b 1b
2:  b 2b

    .data
counter:
    .word 0x11223344
table:
    .byte 1, 2, 3, 4, 5, 6, 7, 8

    .bss
buffer:
    .space 64
