; A small EZ-USB firmware for the USB model's tests. It renumerates with
; three bulk endpoints (pipe 0 = OUT 0x02, pipe 1 = OUT 0x04, pipe 2 =
; IN 0x82), strings "ECHO" and "T1", and then, polling:
;   OUT2 packets come back unchanged on IN2;
;   OUT4 bytes are pin bytes (bit 1 set: no TCK cycle; bit 2 TMS; bit 5
;   TDI), each answered on IN2 by PINSC & 0x09 (TDO, target supply) read
;   while TCK is low.
; The descriptors sit at 0x0400 so that tests can patch them.
        .include "mcs51.inc"
        .include "ezusb.inc"
        .area CODE (ABS)
        .org 0
        mov sp, #0x60
; TCK and TMS high, TDI high, then driven.
        mov dptr, #outc
        mov a, #0x06
        movx @dptr, a
        mov dptr, #oec
        movx @dptr, a
        mov dptr, #outa
        mov a, #0x20
        movx @dptr, a
        mov dptr, #oea
        movx @dptr, a
        mov dptr, #in07val
        mov a, #0x05
        movx @dptr, a
        mov dptr, #out07val
        mov a, #0x15
        movx @dptr, a
; Off the bus, RENUM, about 10 ms, back on.
        mov dptr, #usbcs
        mov a, #0x0e
        movx @dptr, a
        mov r6, #80
1$:     mov r7, #250
2$:     djnz r7, 2$
        djnz r6, 1$
        mov a, #0x06
        movx @dptr, a
        mov dptr, #out2bc
        movx @dptr, a
        mov dptr, #out4bc
        movx @dptr, a

main:   mov dptr, #usbirq
        movx a, @dptr
        jnb acc.0, 3$
        mov a, #0x01
        movx @dptr, a
        acall setup
3$:     mov dptr, #out2cs
        movx a, @dptr
        jb acc.1, 4$
        acall echo
4$:     mov dptr, #out4cs
        movx a, @dptr
        jb acc.1, main
        acall pins
        sjmp main

; Waits until the host has taken IN2's last packet.
wait_in2:
        mov dptr, #in2cs
1$:     movx a, @dptr
        jb acc.1, 1$
        ret

echo:   acall wait_in2
        mov dptr, #out2bc
        movx a, @dptr
        mov r2, a
        mov r3, a
        mov r0, #0xc0           ; OUT2BUF 0x7dc0
        mov r1, #0x00           ; IN2BUF 0x7e00
        jz 2$
1$:     mov mpage, #0x7d
        movx a, @r0
        mov mpage, #0x7e
        movx @r1, a
        inc r0
        inc r1
        djnz r2, 1$
2$:     mov dptr, #in2bc
        mov a, r3
        movx @dptr, a
        mov dptr, #out2bc
        movx @dptr, a
        ret

pins:   acall wait_in2
        mov dptr, #out4bc
        movx a, @dptr
        mov r2, a
        mov r3, a
        mov r0, #0xc0           ; OUT4BUF 0x7cc0
        mov r1, #0x00           ; IN2BUF 0x7e00
        jz 4$
1$:     mov mpage, #0x7c
        movx a, @r0
        mov r4, a
        anl a, #0x20
        mov dptr, #outa
        movx @dptr, a
        mov a, r4
        anl a, #0x04
        orl a, #0x02
        mov r5, a
        mov dptr, #outc
        movx @dptr, a
        mov a, r4
        jb acc.1, 2$
        mov a, r5
        anl a, #0xfd
        movx @dptr, a
        mov dptr, #pinsc
        movx a, @dptr
        anl a, #0x09
        mov r6, a
        mov dptr, #outc
        mov a, r5
        movx @dptr, a
        mov a, r6
        sjmp 3$
2$:     mov dptr, #pinsc
        movx a, @dptr
        anl a, #0x09
3$:     mov mpage, #0x7e
        movx @r1, a
        inc r0
        inc r1
        djnz r2, 1$
4$:     mov dptr, #in2bc
        mov a, r3
        movx @dptr, a
        mov dptr, #out4bc
        movx @dptr, a
        ret

; Endpoint 0: descriptors through SUDPTR, SET_CONFIGURATION acknowledged,
; anything else stalled.
setup:  mov dptr, #setupdat + 1
        movx a, @dptr
        cjne a, #9, 1$
        sjmp ack
1$:     cjne a, #6, stall
        mov dptr, #setupdat + 3
        movx a, @dptr
        cjne a, #1, 2$
        mov r6, #>devdesc
        mov r7, #<devdesc
        sjmp send
2$:     cjne a, #2, 3$
        mov r6, #>confdesc
        mov r7, #<confdesc
        sjmp send
3$:     cjne a, #3, stall
        mov dptr, #setupdat + 2
        movx a, @dptr
        cjne a, #0, 4$
        mov r6, #>string0
        mov r7, #<string0
        sjmp send
4$:     cjne a, #1, 5$
        mov r6, #>string1
        mov r7, #<string1
        sjmp send
5$:     cjne a, #2, stall
        mov r6, #>string2
        mov r7, #<string2
send:   mov dptr, #sudptrh
        mov a, r6
        movx @dptr, a
        mov dptr, #sudptrl
        mov a, r7
        movx @dptr, a
ack:    mov dptr, #ep0cs
        mov a, #0x02
        movx @dptr, a
        ret
stall:  mov dptr, #ep0cs
        mov a, #0x03
        movx @dptr, a
        ret

        .org 0x0400
devdesc:
        .db 18, 1, 0x00, 0x01, 0, 0, 0, 64
        .db 0x47, 0x05, 0x31, 0x21, 0x01, 0x00, 1, 2, 0, 1
confdesc:
        .db 9, 2, 39, 0, 1, 1, 0, 0x80, 50
        .db 9, 4, 0, 0, 3, 0xff, 0, 0, 0
        .db 7, 5, 0x02, 2, 64, 0, 0
        .db 7, 5, 0x04, 2, 64, 0, 0
        .db 7, 5, 0x82, 2, 64, 0, 0
string0:
        .db 4, 3, 0x09, 0x04
string1:
        .db 10, 3, 'E', 0, 'C', 0, 'H', 0, 'O', 0
string2:
        .db 6, 3, 'T', 0, '1', 0
