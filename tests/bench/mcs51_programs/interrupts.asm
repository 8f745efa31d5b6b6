; The interrupt system: a timer overflow's latency, the polling order of
; requests of one priority, a high-priority request preempting a low one,
; the instruction that runs after RETI and after a write to IE, and timer
; 1 reloading in mode 2. Handlers log (their vector, R6) pairs from 0x70 on
; and count their calls in 0x36 (s51 takes one cycle less per call than
; the two of Intel's manual, so nothing here depends on the call's length
; but the total of cycles).
        .include "mcs51.inc"
        .area CODE (ABS)
        .org 0
        ljmp main
        .org 0x03
        ljmp isr_ie0
        .org 0x0b
        ljmp isr_t0
        .org 0x13
        ljmp isr_ie1
        .org 0x1b
        ljmp isr_t1
        .org 0x23
        ljmp isr_serial

        .org 0x50
main:   mov sp, #0x50
        mov 0x5f, #0x70
        mov r6, #0

; Timer 0 overflow: the handler records R7 at its entry.
        mov tmod, #0x01
        mov th0, #0xff
        mov tl0, #0xf8
        mov ie, #0x82
        mov r7, #0
        setb tcon.4
1$:     inc r7
        mov a, 0x30
        jz 1$
        clr tcon.4
        mov tl0, #0

; Five requests of one priority at once: taken in polling order, one main
; instruction between each RETI and the next call.
        mov ie, #0
        mov tcon, #0x05
        mov tcon, #0xaf
        setb scon.0
        mov ie, #0x9f
        inc r6
        inc r6
        inc r6
        inc r6
        inc r6
        inc r6
        inc r6
        inc r6

; A low-priority handler requests a high-priority interrupt, which runs at
; once; that one requests the low one again, which waits for both RETIs.
        mov ie, #0
        mov tcon, #0x05
        mov ip, #0x04
        mov 0x33, #1
        mov 0x34, #1
        mov ie, #0x86
        setb tcon.5
        inc r6
        inc r6
        inc r6
        inc r6

; Timer 1 in mode 2 every 64 cycles over a 400-cycle loop.
        mov ie, #0
        mov ip, #0
        mov tcon, #0
        mov tmod, #0x20
        mov th1, #0xc0
        mov tl1, #0xc0
        mov ie, #0x88
        setb tcon.6
        mov r5, #100
2$:     inc r6
        djnz r5, 2$
        clr tcon.6
        mov ie, #0
        mov tl1, #0
        sjmp .

isr_ie0:
        inc 0x36
        push acc
        mov a, #0x03
        acall event
        pop acc
        reti

isr_t0: inc 0x36
        push acc
        push psw
        mov a, #0x0b
        acall event
        inc 0x30
        mov 0x31, r7
        mov a, 0x33
        jz 1$
        dec 0x33
        setb tcon.3
        nop
        mov a, #0xb0
        acall event
1$:     pop psw
        pop acc
        reti

isr_ie1:
        inc 0x36
        push acc
        mov a, #0x13
        acall event
        mov a, 0x34
        jz 1$
        dec 0x34
        setb tcon.5
        mov a, #0x31
        acall event
1$:     pop acc
        reti

isr_t1: inc 0x35
        inc 0x36
        reti

isr_serial:
        inc 0x36
        push acc
        clr scon.0
        mov a, #0x23
        acall event
        pop acc
        reti

; Appends (A, R6) to the log.
event:  push ar0
        mov r0, 0x5f
        mov @r0, a
        inc r0
        mov @r0, ar6
        inc r0
        mov 0x5f, r0
        pop ar0
        ret
