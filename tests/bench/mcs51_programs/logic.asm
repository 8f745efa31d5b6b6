; Logic, rotates and accumulator operations in every addressing form, each
; result logged with its flags.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x2f
        mov dptr, #0x1000
        mov r0, #0x40
        mov r1, #0x41
        mov 0x40, #0x5a
        mov 0x41, #0xc3
        mov r2, #0x0f
        mov r3, #0xf0
        mov r4, #0x99
        mov r5, #0x66
        mov r6, #0x81
        mov r7, #0x7e

        mov a, #0xa5
        anl a, #0x3c
        log
        mov a, #0xa5
        anl a, 0x40
        log
        mov a, #0xa5
        anl a, @r0
        log
        mov a, #0xa5
        anl a, @r1
        log
        mov a, #0xff
        anl a, r0
        anl a, r1
        log
        mov a, #0xff
        anl a, r2
        anl a, r3
        log
        mov a, #0xff
        anl a, r4
        anl a, r5
        log
        mov a, #0xff
        anl a, r6
        anl a, r7
        log

        mov a, #0x11
        orl a, #0x22
        log
        orl a, 0x41
        log
        mov a, #0
        orl a, @r0
        log
        mov a, #0
        orl a, @r1
        log
        mov a, #0
        orl a, r0
        orl a, r1
        log
        mov a, #0
        orl a, r2
        orl a, r3
        log
        mov a, #0
        orl a, r4
        orl a, r5
        log
        mov a, #0
        orl a, r6
        orl a, r7
        log

        mov a, #0x77
        xrl a, #0x0f
        log
        xrl a, 0x40
        log
        xrl a, @r0
        xrl a, @r1
        log
        xrl a, r0
        xrl a, r1
        log
        xrl a, r2
        xrl a, r3
        log
        xrl a, r4
        xrl a, r5
        log
        xrl a, r6
        xrl a, r7
        log

; Logic on direct bytes, including SFRs.
        mov 0x50, #0xf0
        mov a, #0x3c
        anl 0x50, a
        mov a, 0x50
        log
        anl 0x50, #0x30
        orl 0x50, a
        mov a, 0x50
        log
        orl 0x50, #0x0c
        mov a, 0x50
        log
        xrl 0x50, a
        mov a, 0x50
        log
        xrl 0x50, #0xa5
        mov a, 0x50
        log
        mov b, #0x55
        orl b, #0xa0
        anl b, #0xf3
        xrl b, #0x11
        mov a, b
        log
        mov p1, #0xaa
        anl p1, #0x0f
        orl p1, #0x40
        mov a, #0x03
        xrl p1, a
        mov a, p1
        log

; Accumulator operations and rotates (through the carry too).
        mov a, #0x96
        clr c
        rl a
        log
        rl a
        log
        rr a
        rr a
        rr a
        log
        setb c
        rlc a
        log
        rlc a
        log
        rrc a
        rrc a
        rrc a
        log
        swap a
        log
        cpl a
        log
        clr a
        log
        inc a
        log
        dec a
        dec a
        log
        cpl a
        log
        sjmp .
