; Timers 0 and 1 in modes 0..3, counting machine cycles over fixed
; instruction sequences; each count and TCON logged.
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x60
        mov dptr, #0x1000

; Mode 1 (16 bits) on both, through an overflow of timer 0.
        mov tmod, #0x11
        mov th0, #0xff
        mov tl0, #0xf0
        mov th1, #0x12
        mov tl1, #0xfe
        setb tcon.4
        setb tcon.6
        mov r7, #10
1$:     nop
        djnz r7, 1$
        clr tcon.4
        clr tcon.6
        acall dump

; Mode 0 (13 bits: TH and the low five bits of TL).
        mov tcon, #0
        mov tmod, #0x00
        mov th0, #0xff
        mov tl0, #0x1a
        mov th1, #0x07
        mov tl1, #0x1e
        orl tcon, #0x50
        mov r7, #5
2$:     nop
        djnz r7, 2$
        anl tcon, #0xaf
        acall dump

; Mode 2 (8 bits reloaded from TH), several overflows.
        mov tcon, #0
        mov tmod, #0x22
        mov th0, #0xf0
        mov tl0, #0xf8
        mov th1, #0x80
        mov tl1, #0xfd
        orl tcon, #0x50
        mov r7, #20
3$:     nop
        djnz r7, 3$
        anl tcon, #0xaf
        acall dump

; Mode 3: TL0 runs with TR0 and sets TF0, TH0 runs with TR1 and sets TF1;
; timer 1, in mode 3 too, holds its count.
        mov tcon, #0
        mov tmod, #0x33
        mov tl0, #0xfa
        mov th0, #0xf0
        mov tl1, #0xf0
        mov th1, #0xff
        setb tcon.4
        mov r7, #4
4$:     nop
        djnz r7, 4$
        setb tcon.6
        mov r7, #10
5$:     nop
        djnz r7, 5$
        mov tcon, #0
        acall dump

; GATE with the INT0 pin high: timer 0 runs as with TR0 alone.
        mov tmod, #0x09
        mov th0, #0
        mov tl0, #0
        setb tcon.4
        nop
        nop
        clr tcon.4
        acall dump

; Reads and a write of a running timer.
        mov tmod, #0x01
        mov th0, #0
        mov tl0, #0
        setb tcon.4
        mov a, tl0
        mov r2, a
        mov r3, tl0
        mov tl0, #0x80
        mov r4, tl0
        mov th0, #0x40
        clr tcon.4
        mov r5, tl0
        mov a, r2
        log
        mov a, r3
        log
        mov a, r4
        log
        mov a, r5
        log
        acall dump
        sjmp .

dump:   mov a, tl0
        log
        mov a, th0
        log
        mov a, tl1
        log
        mov a, th1
        log
        mov a, tcon
        log
        ret
