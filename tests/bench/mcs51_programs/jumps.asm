; Jumps and calls: long, short and absolute ones (also across a 2 KiB page
; boundary), the jump table, compare-and-jump, loops and the stack.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        ljmp start

        .org 0x0040
start:  mov sp, #0x60
        mov dptr, #0x1000
        mov r7, #0

; LJMP/SJMP forward and back.
        sjmp 1$
        inc r7
1$:     ljmp 2$
        inc r7
3$:     inc r7
        sjmp 4$
2$:     inc r7
        sjmp 3$
4$:     mov a, r7
        log

; AJMP and ACALL within the page, ACALL/RET nesting.
        ajmp 5$
        inc r7
5$:     acall sub1
        mov a, r7
        log
        lcall sub1
        mov a, sp
        log

; At the end of a page AJMP/ACALL reach into the next one (see 0x07fe
; and 0x0ffe).
        ljmp page0_end
back:   mov a, r7
        log

; JMP @A+DPTR through a table of AJMPs.
        mov r6, #0
table_loop:
        push dpl
        push dph
        mov dptr, #jump_table
        mov a, r6
        rl a
        jmp @a+dptr
table_ret:
        pop dph
        pop dpl
        mov a, r5
        log
        inc r6
        cjne r6, #4, table_loop

; CJNE in every form, with the carry it leaves.
        sjmp compare
bad:    mov a, #0xee
        log
        sjmp .
compare:
        mov a, #0x40
        mov 0x30, #0x41
        mov r0, #0x30
        mov r3, #0x40
        cjne a, #0x40, bad
        log
        cjne a, #0x41, 6$
        sjmp bad
6$:     log
        cjne a, #0x3f, 7$
        sjmp bad
7$:     log
        cjne a, 0x30, 8$
        sjmp bad
8$:     log
        cjne @r0, #0x41, bad
        cjne @r0, #0x42, 9$
        sjmp bad
9$:     log
        cjne r3, #0x40, bad
        cjne r3, #0x20, 10$
        sjmp bad
10$:    log
        mov r1, #0x30
        cjne @r1, #0xff, 11$
11$:    log

; DJNZ on a register and on a direct byte; JZ/JNZ/JC/JNC.
        sjmp loops
bad2:   mov a, #0xed
        log
        sjmp .
loops:
        mov r2, #10
        mov 0x31, #3
        mov a, #0
12$:    inc a
        djnz r2, 12$
        log
13$:    inc a
        djnz 0x31, 13$
        log
        jz bad2
        jnz 14$
        sjmp bad2
14$:    clr a
        jnz bad2
        jz 15$
        sjmp bad2
15$:    clr c
        jc bad2
        jnc 16$
        sjmp bad2
16$:    setb c
        jnc bad2
        jc 17$
        sjmp bad2
17$:    mov a, #0x99
        log
        sjmp .

sub1:   inc r7
        acall sub2
        inc r7
        ret
sub2:   mov a, sp
        log
        inc r7
        ret

jump_table:
        ajmp case0
        ajmp case1
        ajmp case2
        ajmp case3
case0:  mov r5, #0x10
        ajmp table_ret
case1:  mov r5, #0x21
        ajmp table_ret
case2:  mov r5, #0x32
        ajmp table_ret
case3:  mov r5, #0x43
        ajmp table_ret

; ACALL as the last two bytes of page 0: its return address (0x0800) and
; target are in page 1. The bytes are written out because the linker
; rejects a call whose own address is in the other page. AJMP at the end of
; page 1 likewise lands in page 2.
        .org 0x07fb
page0_end:
        inc r7
        nop
        nop
        .db 0x11, 0x10              ; acall 0x0810
        ljmp page1_end
        .org 0x0810
        inc r7
        mov a, sp
        log
        ret
        .org 0x0ffe
page1_end:
        .db 0x01, 0x10              ; ajmp 0x1010
        .org 0x1010
        inc r7
        ljmp back
