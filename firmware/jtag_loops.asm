;; The JTAG inner loops of the USB cable, hand-scheduled for the AN2131's
;; 8051 (4 clocks a machine cycle; MOVX takes 2 cycles with CKCON's stretch
;; at 0, which main() sets). Port writes go through MOVX: R0 -> OUTA (TDI on
;; PA5) and DPTR -> OUTC (TCK on PC1, TMS on PC2), MPAGE = 0x7F. Packet
;; bytes come through the autopointer (AUTODATA), which the caller aims at
;; the endpoint buffer. TCK is high on entry and on return.
;;
;; Cycle figures are machine cycles as the bench's Mcs51 counts them
;; (tests/firmware measures them); a machine cycle is 1/6 us on a 24 MHz
;; part. What bounds the loops: every TCK cycle needs a MOVX to OUTA (TDI),
;; two to OUTC (TCK down, TCK up) and, with TDO, one from PINSC, 2 cycles
;; each; all of them go through A, so A must hold four different values a
;; cycle (data, TCK low, PINSC, TCK high) and the data must be rotated,
;; which costs at least four one-cycle instructions. Taking a TDO bit out
;; of A into a reply byte costs 3 more (RRC, MOV bit,C): 15 a cycle. The
;; rest is per byte: fetch, loop, reply. The host sends each stream byte
;; with cycle 0's bit already in bit 5, TDI's place in OUTA, so no byte
;; needs aligning here.

        .module jtag_loops
        .globl  _stream_out
        .globl  _stream_tdo
        .globl  _pin_bytes
        .globl  _tms_bits

        OUTA_LOW     = 0x96
        PINSC_LOW    = 0x9B
        AUTOPTRH_LOW = 0xE3
        AUTODATA_LOW = 0xE5
        OUTC         = 0x7F98
        IN2BUF_HIGH  = 0x7E
        TCK          = 0x02
        REPLY_BITS   = 0x09     ; TDO (PC0) and target supply (PC3)

;; One byte of pipe 1 in A, cycle 0's bit already in bit 5 as the host
;; sends it; TCK levels in r2 (low) and r3 (high).
        .macro  out_byte

        ; cycle 0: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 1: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 2: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 3: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 4: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 5: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 6: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 7: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        mov     r3, a           ; levels back in r2 (low) and r3 (high)
        .endm

;; One byte of pipe 2 in A, R1 on PINSC, r3 the next TCK-low level (TMS
;; included), r2 TCK high; pushes the byte's reply.
        .macro  tdo_byte

        ; cycle 0: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 1: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF0, c        ; B.0
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 2: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF1, c        ; B.1
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 3: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF2, c        ; B.2
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 4: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF3, c        ; B.3
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 5: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF4, c        ; B.4
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 6: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rr      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF5, c        ; B.5
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 7: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO of the cycle before
        mov     0xF6, c        ; B.6
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        mov     r2, a           ; TCK high back in r2, r3 = next TCK low
        mov     a, r3
        rrc     a
        mov     0xF7, c         ; B.7: TDO of cycle 7
        push    b
        .endm

        .area   DSEG    (DATA)
reply_count:
        .ds     1
reply_base:
        .ds     1

        .area   CSEG    (CODE)

;; void stream_out(unsigned char count)
;; Pipe 1: count bytes from the autopointer, each 8 TCK cycles with TDI
;; from bit 5 on, rotating right, and TMS at _tms_bits. The current bit
;; sits in bit 5, the TDI pin's place in OUTA; TCK's two levels (with TMS)
;; live in R2/R3 and trade places with the data through XCH, so each cycle
;; is 3 MOVX + 4 one-cycle instructions = 10 cycles; a byte costs 82 with
;; its fetch and a loop turn shared by eight bytes: 10.2 cycles a TCK cycle
;; within a packet (588 kHz TCK at 24 MHz), 10.4 over a whole 64-byte
;; packet with its handshakes (576 kHz); with the host's next packet
;; already in the endpoint pair's other buffer, a long stream keeps that
;; rate (10.47 over an XC2S200 configuration with its pin bytes).
_stream_out:
        mov     r6, dpl
        mov     r0, #OUTA_LOW
        mov     r1, #AUTODATA_LOW
        mov     dptr, #OUTC
        mov     a, _tms_bits
        mov     r2, a           ; TCK low, TMS
        orl     a, #TCK
        mov     r3, a           ; TCK high, TMS
        mov     a, r6
        anl     a, #7
        jz      00002$
        mov     r7, a           ; single bytes first
00001$:
        movx    a, @r1
        out_byte
        djnz    r7, 00001$
00002$:
        mov     a, r6
        swap    a
        rl      a
        anl     a, #0x1F
        jnz     00005$
        ret
00005$:
        mov     r7, a           ; then eight bytes a turn
00003$:
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        movx    a, @r1
        out_byte
        djnz    r7, 00006$      ; the loop is beyond a relative jump
        ret
00006$:
        ajmp    00003$

;; void stream_tdo(unsigned char count)
;; Pipe 2: as stream_out, and each byte's eight TDO bits, sampled while TCK
;; is low, go back as one reply byte (bit k = cycle k) into IN2BUF. PINSC
;; read while TCK is low has TCK = 0 and the TMS level in bits 1 and 2, so
;; that very value is the next cycle's TCK-low write: it rotates through
;; R2/R3 together with the constant TCK-high level, and its bit 0 (TDO) is
;; taken into B one cycle later, while A still holds it after that write.
;; A cycle is 4 MOVX + 7 cycles = 15 cycles (12 for a byte's first); a
;; byte costs 128 with its last TDO, the reply push, its share of a fetch
;; of four bytes through the autopointer (R1 borrowed from PINSC) and of
;; the loop: 16.0 cycles a TCK cycle within a packet (375 kHz at 24 MHz).
;; The replies are copied to IN2BUF at the end: 17.0 over a whole 64-byte
;; packet (352 kHz). The caller has checked IN2 is not busy and arms
;; IN2BC.
_stream_tdo:
        mov     reply_count, dpl
        mov     reply_base, sp  ; replies are pushed above this
        mov     r0, #OUTA_LOW
        mov     dptr, #OUTC
        mov     a, _tms_bits
        mov     r3, a           ; TCK low, TMS: the first falling edge
        orl     a, #TCK
        mov     r2, a           ; TCK high, TMS
        mov     a, reply_count
        anl     a, #3
        jz      00012$
        mov     r7, a           ; single bytes first
00011$:
        mov     r1, #AUTODATA_LOW
        movx    a, @r1
        mov     r1, #PINSC_LOW
        tdo_byte
        djnz    r7, 00011$
00012$:
        mov     a, reply_count
        rr      a
        rr      a
        anl     a, #0x3F
        jnz     00014$
        ajmp    reply_tail
00014$:
        mov     r7, a           ; then four bytes a turn, fetched together
00013$:
        mov     r1, #AUTODATA_LOW
        movx    a, @r1
        mov     r4, a
        movx    a, @r1
        mov     r5, a
        movx    a, @r1
        mov     r6, a
        movx    a, @r1
        mov     r1, #PINSC_LOW
        xch     a, r4           ; the first byte; r4 keeps the fourth
        tdo_byte
        mov     a, r5
        tdo_byte
        mov     a, r6
        tdo_byte
        mov     a, r4
        tdo_byte
        djnz    r7, 00015$      ; the loop is beyond a relative jump
        ajmp    reply_tail
00015$:
        ajmp    00013$

;; unsigned char pin_bytes(unsigned char count)
;; Pipe 3: each byte sets TDI (bit 5) and TMS (bit 2); with bit 1 clear it
;; makes one TCK cycle, TDO sampled while TCK is low; with bit 1 set TCK
;; stays high. A byte with bit 7 set is answered with TDO in bit 0 and the
;; target supply in bit 3; the others are not, so the host can send TMS
;; walks without waiting for them. Returns the number of replies left in
;; IN2BUF. TMS stays in _tms_bits for the streams. 40 cycles for a clocked
;; byte without a reply, 48 with one (150 and 125 kHz at 24 MHz); a packet
;; of eight replying bytes with its handshakes: 74 a byte. Not worth
;; unrolling: the host sends short walks and the last cycles of a shift.
_pin_bytes:
        mov     r7, dpl
        mov     reply_count, #0
        mov     reply_base, sp
        mov     r1, #AUTODATA_LOW
        mov     dptr, #OUTC
00021$:
        movx    a, @r1          ; pin byte
        mov     r3, a           ; bit 7: a reply is wanted
        mov     r0, #OUTA_LOW
        movx    @r0, a          ; TDI
        anl     a, #0x06
        mov     r2, a           ; TMS, and bit 1: levels only
        anl     a, #0x04
        mov     _tms_bits, a
        mov     a, r2
        mov     r0, #PINSC_LOW
        jb      acc.1, 00022$
        movx    @dptr, a        ; TCK falls with the new TMS
        movx    a, @r0          ; TDO while TCK is low
        xch     a, r2
        orl     a, #TCK
        movx    @dptr, a        ; TCK rises
        sjmp    00023$
00022$:
        movx    @dptr, a        ; TMS only, TCK stays high
        movx    a, @r0
        xch     a, r2
00023$:
        mov     a, r3
        jnb     acc.7, 00024$
        mov     a, r2
        anl     a, #REPLY_BITS
        push    acc
        inc     reply_count
00024$:
        djnz    r7, 00021$
        mov     dpl, reply_count
        mov     a, reply_count
        jnz     reply_tail
        ret

;; Copies the reply_count replies pushed above reply_base to IN2BUF through
;; the autopointer, drops them from the stack and returns to the routine's
;; caller.
reply_tail:
        mov     r1, #AUTOPTRH_LOW
        mov     a, #IN2BUF_HIGH
        movx    @r1, a
        inc     r1
        clr     a
        movx    @r1, a          ; AUTOPTRL = 0
        inc     r1              ; AUTODATA
        mov     a, reply_base
        mov     r0, a
        mov     sp, a           ; interrupts are off: the bytes above stay
        mov     a, reply_count
        clr     c
        rrc     a
        mov     r5, a           ; pairs to copy
        jnc     00032$
        inc     r0              ; an odd count: one byte first
        mov     a, @r0
        movx    @r1, a
        mov     a, r5
        jz      00033$
00032$:
        inc     r0              ; two bytes a turn: 5.5 cycles a byte
        mov     a, @r0
        movx    @r1, a
        inc     r0
        mov     a, @r0
        movx    @r1, a
        djnz    r5, 00032$
00033$:
        ret

