; Arithmetic over every operand pair. For each first operand A the sweep
; over all 256 second operands leaves two bytes in external data memory:
; the sum of the results and a rotating hash of the flags.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x2f

        mov dptr, #0x2000
        mov r7, #0
add_a:  mov r4, #0
        mov r5, #0
        mov r6, #0
add_b:  mov a, r7
        add a, r6
        acall fold
        djnz r6, add_b
        acall store
        djnz r7, add_a

        mov dptr, #0x2200
        mov r7, #0
addc_a: mov r4, #0
        mov r5, #0
        mov r6, #0
addc_b: mov a, r7
        setb c
        addc a, r6
        acall fold
        djnz r6, addc_b
        acall store
        djnz r7, addc_a

        mov dptr, #0x2400
        mov r7, #0
subb_a: mov r4, #0
        mov r5, #0
        mov r6, #0
subb_b: mov a, r7
        clr c
        subb a, r6
        acall fold
        djnz r6, subb_b
        acall store
        djnz r7, subb_a

        mov dptr, #0x2600
        mov r7, #0
sbc_a:  mov r4, #0
        mov r5, #0
        mov r6, #0
sbc_b:  mov a, r7
        setb c
        subb a, r6
        acall fold
        djnz r6, sbc_b
        acall store
        djnz r7, sbc_a

; MUL and DIV (divide by zero included): B joins the sum.
        mov dptr, #0x2800
        mov r7, #0
mul_a:  mov r4, #0
        mov r5, #0
        mov r6, #0
mul_b:  mov a, r7
        mov b, r6
        mul ab
        acall fold_b
        djnz r6, mul_b
        acall store
        djnz r7, mul_a

        mov dptr, #0x2a00
        mov r7, #0
div_a:  mov r4, #0
        mov r5, #0
        mov r6, #0
div_b:  mov a, r7
        mov b, r6
        div ab
        acall fold_b
        djnz r6, div_b
        acall store
        djnz r7, div_a

; DA A on every value with each AC and CY, logged one by one.
        mov dptr, #0x2c00
        mov r7, #0
da_a:   mov r6, #4
da_f:   mov a, r6
        rr a
        rr a
        anl a, #0xc0
        mov psw, a
        mov a, r7
        da a
        log
        djnz r6, da_f
        djnz r7, da_a
        sjmp .

; r4 += A; r5 = rl(r5 ^ PSW), with the flags of the operation just done.
fold:   mov r3, psw
        add a, r4
        mov r4, a
        mov a, r3
        xrl a, r5
        rl a
        mov r5, a
        ret

; As fold, with B added to the sum.
fold_b: mov r3, psw
        add a, r4
        add a, b
        mov r4, a
        mov a, r3
        xrl a, r5
        rl a
        mov r5, a
        ret

store:  mov a, r4
        movx @dptr, a
        inc dptr
        mov a, r5
        movx @dptr, a
        inc dptr
        ret
