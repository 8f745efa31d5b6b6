; Every register form (@R0, @R1, R0..R7) of every operation that has one,
; and AJMP/ACALL with each of their eight opcodes (address bits 10..8),
; each result logged with its flags.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x60
        mov dptr, #0x1000
        mov 0x40, #0x5a
        mov 0x41, #0xa5
        mov 0x51, #0x3e
        acall setup

        mov a, #0x80
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        add a, x
        log
        .endm
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        setb c
        addc a, x
        log
        .endm
        addc a, #0x70
        log
        addc a, 0x41
        log
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        subb a, x
        log
        .endm
        subb a, #0x13
        log
        subb a, 0x40
        log
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov a, #0x3c
        orl a, x
        log
        anl a, x
        log
        xrl a, x
        log
        mov a, x
        log
        .endm
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov a, #0x34
        cjne x, #0x34, .+3
        log
        mov 0x50, x
        mov a, 0x50
        log
        .endm

        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov a, #0x99
        xch a, x
        log
        .endm
        acall setup
        mov a, #0x12
        xchd a, @r0
        log
        xchd a, @r1
        log
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        inc x
        .endm
        acall record
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        dec x
        .endm
        acall record
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov x, 0x51
        .endm
        acall record
        mov a, #0x77
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov x, a
        .endm
        acall record
        .irp x, @r0, @r1, r0, r1, r2, r3, r4, r5, r6, r7
        mov x, #0x66
        .endm
        acall record
        .irp x, r0, r1, r2, r3, r4, r5, r6, r7
        djnz x, .+2
        .endm
        acall record

        ljmp calls
done:   mov a, r7
        log
        mov a, r6
        log
        sjmp .

; R0/R1 point at 0x40/0x41; R2..R7 hold distinct values.
setup:  mov r0, #0x40
        mov r1, #0x41
        mov r2, #0x12
        mov r3, #0x23
        mov r4, #0x34
        mov r5, #0x45
        mov r6, #0x56
        mov r7, #0x67
        ret

; Logs R0..R7 and the two bytes they pointed at, then sets them up again.
record: mov a, 0x40
        log
        mov a, 0x41
        log
        .irp x, r0, r1, r2, r3, r4, r5, r6, r7
        mov a, x
        log
        .endm
        mov 0x40, #0x5a
        mov 0x41, #0xa5
        ajmp setup

; Page 4 (0x2000..0x27ff): a call to 0x2000 + 0x100 * k uses opcode
; 0x11 + 0x20 * k; a chain of jumps through 0x2080 + 0x100 * k uses each
; AJMP opcode.
        .org 0x2780
j7:     inc r6
        ljmp done
calls:  mov r7, #0
        mov r6, #0
        acall c0
        acall c1
        acall c2
        acall c3
        acall c4
        acall c5
        acall c6
        acall c7
        ajmp j0
        .org 0x2000
c0:     inc r7
        ret
        .org 0x2080
j0:     inc r6
        ajmp j1
        .org 0x2100
c1:     inc r7
        ret
        .org 0x2180
j1:     inc r6
        ajmp j2
        .org 0x2200
c2:     inc r7
        ret
        .org 0x2280
j2:     inc r6
        ajmp j3
        .org 0x2300
c3:     inc r7
        ret
        .org 0x2380
j3:     inc r6
        ajmp j4
        .org 0x2400
c4:     inc r7
        ret
        .org 0x2480
j4:     inc r6
        ajmp j5
        .org 0x2500
c5:     inc r7
        ret
        .org 0x2580
j5:     inc r6
        ajmp j6
        .org 0x2600
c6:     inc r7
        ret
        .org 0x2680
j6:     inc r6
        ajmp j7
        .org 0x2700
c7:     inc r7
        ret
