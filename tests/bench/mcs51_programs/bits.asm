; Bit operations on the bit-addressable RAM (0x20..0x2F) and on SFR bits,
; with the carry as the boolean accumulator; each result logged.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x5f
        mov dptr, #0x1000
        mov 0x20, #0x00
        mov 0x2f, #0xff

        setb 0x00
        setb 0x07
        setb 0x7a
        clr 0x7f
        cpl 0x01
        cpl 0x7e
        mov a, 0x20
        log
        mov a, 0x2f
        log

        clr c
        cpl c
        log
        cpl c
        log
        setb c
        anl c, 0x00
        log
        anl c, 0x02
        log
        setb c
        anl c, /0x02
        log
        anl c, /0x00
        log
        clr c
        orl c, 0x02
        log
        orl c, 0x7f
        log
        orl c, /0x02
        log
        clr c
        orl c, /0x00
        log
        mov c, 0x07
        log
        mov c, 0x7f
        log
        setb c
        mov 0x10, c
        clr c
        mov 0x11, c
        mov a, 0x22
        log

; SFR bits: ACC, B, PSW and a port latch.
        mov a, #0x00
        setb acc.3
        setb acc.7
        cpl acc.0
        log
        clr acc.7
        log
        mov b, #0x81
        clr b.0
        cpl b.6
        mov c, b.7
        mov b.1, c
        mov a, b
        log
        setb psw.5
        setb psw.1
        setb psw.6
        setb psw.2
        mov a, #0x01
        log
        clr psw.6
        cpl psw.2
        log
        mov p3, #0x0f
        cpl p3.7
        clr p3.0
        mov c, p3.1
        mov p3.4, c
        mov a, p3
        log

; Conditional jumps on bits, JBC clearing what it tests.
        mov r7, #0
        jb 0x00, 1$
        inc r7
1$:     jb 0x02, 2$
        inc r7
2$:     jnb 0x02, 3$
        inc r7
3$:     jnb 0x00, 4$
        inc r7
4$:     jbc 0x00, 5$
        inc r7
5$:     jbc 0x00, 6$
        inc r7
6$:     setb acc.5
        jbc acc.5, 7$
        inc r7
7$:     jb acc.5, 8$
        inc r7
8$:     mov a, r7
        log
        mov a, 0x20
        log
        sjmp .
