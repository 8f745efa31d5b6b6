; Data moves in every addressing form: MOV, MOVC (both bases), MOVX through
; DPTR and through R0/R1 (paged by MPAGE on the AN2131 and by P2 on a
; classic 8051, both set alike here), XCH/XCHD, PUSH/POP, register banks and
; indirect access to the upper 128 bytes of RAM.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x07
        mov a, #0x11
        mov r0, a
        mov r1, #0x22
        mov r2, 0x01
        mov 0x03, r0
        mov r4, #0x44
        mov a, r4
        mov r5, a
        mov r6, #0x66
        mov r7, 0x06
        mov 0x30, #0x30
        mov 0x31, 0x30
        mov 0x32, r7
        mov r0, #0x33
        mov @r0, #0x33
        mov r1, #0x34
        mov @r1, 0x31
        mov 0x35, @r1
        mov a, @r0
        mov 0x36, a
        mov @r1, a
        mov b, #0xbb
        mov 0x37, b
        mov psw, #0x08
        mov r0, #0x88
        mov r7, #0x8f
        mov psw, #0x10
        mov r0, #0x90
        mov psw, #0x18
        mov r7, #0x9f
        mov psw, #0x00

; The upper 128 bytes of RAM, only reachable indirectly; the SFRs at the
; same addresses are unaffected.
        mov r0, #0x80
        mov @r0, #0xc1
        mov r1, #0xff
        mov a, #0xc2
        mov @r1, a
        mov r0, #0xe0
        mov @r0, #0x77
        mov a, @r1
        mov 0x38, a
        inc @r0
        dec @r1
        mov r0, #0xa0
        mov @r0, 0x30
        mov r1, #0xa1
        mov @r1, b

; MOVC relative to the PC and to DPTR.
        mov a, #1
        acall pc_table
        mov 0x39, a
        mov dptr, #dptr_table
        mov a, #3
        movc a, @a+dptr
        mov 0x3a, a
        mov a, #0
        movc a, @a+dptr
        mov 0x3b, a

; MOVX through DPTR and through R0/R1 (page 0x21).
        mov dptr, #0x2010
        mov a, #0xd1
        movx @dptr, a
        inc dptr
        mov a, #0xd2
        movx @dptr, a
        mov dptr, #0x2010
        movx a, @dptr
        mov 0x3c, a
        mov p2, #0x21
        mov mpage, #0x21
        mov r0, #0x05
        mov a, #0xe5
        movx @r0, a
        mov r1, #0x06
        mov a, #0xe6
        movx @r1, a
        movx a, @r0
        mov 0x3d, a
        movx a, @r1
        mov 0x3e, a
        mov dptr, #0x2106
        movx a, @dptr
        mov 0x3f, a
        mov dptr, #0x2110
        mov 0x2f, #0x0f
        mov 0x2e, #0xf0
        mov a, #0x12
        xch a, 0x2f
        movx @dptr, a
        inc dptr
        mov r0, #0x2e
        xch a, @r0
        movx @dptr, a
        inc dptr
        mov r3, #0x3c
        xch a, r3
        movx @dptr, a
        inc dptr
        mov a, #0x5a
        mov @r0, #0xc3
        xchd a, @r0
        movx @dptr, a
        inc dptr
        mov r1, #0x2e
        xchd a, @r1
        movx @dptr, a
        inc dptr
        swap a
        movx @dptr, a

; PUSH/POP, SP included.
        mov sp, #0x40
        push acc
        push b
        push 0x30
        mov a, #0
        pop b
        pop acc
        pop 0x41
        push sp
        pop 0x42
        mov a, sp
        mov 0x43, a
        sjmp .

pc_table:
        movc a, @a+pc
        ret
        .db 0xa1, 0xa2
dptr_table:
        .db 0xb0, 0xb1, 0xb2, 0xb3
