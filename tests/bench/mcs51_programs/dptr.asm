; The AN2131's two data pointers: DPS bit 0 selects the one that MOV DPTR,
; INC DPTR, MOVX, MOVC and JMP @A+DPTR use. On the classic 8052 the same
; program runs with one pointer, 84h..86h being plain bytes.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x60
        mov dptr, #0x2000
        inc dps
        mov dptr, #0x3000
        mov r7, #8
1$:     dec dps
        movx a, @dptr
        inc dptr
        inc dps
        add a, r7
        movx @dptr, a
        inc dptr
        djnz r7, 1$
        mov 0x30, dpl
        mov 0x31, dph
        mov 0x32, dpl1
        mov 0x33, dph1
        dec dps
        mov 0x34, dpl
        mov 0x35, dph
        mov dptr, #0x20ff
        inc dptr
        mov a, #0x77
        movx @dptr, a
        inc dps
        mov dptr, #table
        mov a, #2
        movc a, @a+dptr
        mov 0x36, a
        mov a, #0
        mov dptr, #jumps
        jmp @a+dptr
back:   mov 0x38, dps
        mov dps, #0
        mov dptr, #0x3100
        mov a, #0x55
        movx @dptr, a
        sjmp .
jumps:  mov 0x37, #0x99
        sjmp back
table:  .db 0x10, 0x20, 0x30, 0x40
