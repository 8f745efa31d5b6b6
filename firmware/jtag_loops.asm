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
;; of A costs one more (RRC), and putting it into the reply nothing: the
;; data rotates left, so from the third cycle on the bit it drops has been
;; clocked out and RLC takes the TDO in its place (13 a cycle). The rest is
;; per byte: fetch, loop, reply. The host sends each stream byte with cycle
;; 0's bit already in bit 5, TDI's place in OUTA, and cycle k's in bit
;; (5 - k) mod 8, so no byte needs aligning here; a reply comes back with
;; cycle k's TDO in bit 7 - k. The second data pointer does not pay here:
;; selecting it and back (INC DPS) costs 4 cycles, more than the
;; autopointer and PUSH it would replace.

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
        rl      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 1: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 2: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 3: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 4: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r3           ; A = TCK high, r3 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 5: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        xch     a, r2           ; A = TCK high, r2 = TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 6: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
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

;; One byte of pipe 2, in two halves so that a fetch fits between them
;; (in the fourth cycle, while TCK is low). On entry A holds the byte, r3
;; the TCK-low level (the PINSC value read in the byte before, its TDO 7
;; in bit 0), r2 TCK high and rq the reply of the byte before, TDO 0..6 in
;; bits 6..0. The head finishes and pushes that reply. The data rotates
;; left once a cycle; from the third cycle on the bit it drops has been
;; clocked out, so RLC brings in the TDO taken the cycle before instead (C
;; stays put in between), and after the last cycle and one more RLC the
;; register holds TDO 0..6 of this byte in bits 6..0: the reply fills from
;; the bottom as the data leaves from the top, and no TDO bit is parked.
;; The tail leaves that reply in rn and the next byte, from rn, in A.
        .macro  tdo_head rq

        ; cycle 0: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rl      a               ; next bit to bit 5
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 7 of the byte before
        xch     a, rq           ; its reply
        rlc     a               ; TDO 7 in: TDO k in bit 7 - k
        push    acc
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 1: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rl      a               ; the last rotation that must wrap
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 0, kept in C
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 2: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rlc     a               ; next bit to bit 5, TDO 0 in
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 1
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 3: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rlc     a               ; next bit to bit 5, TDO 1 in
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 2
        .endm

        .macro  tdo_tail rn

        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 4: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rlc     a               ; next bit to bit 5, TDO 2 in
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 3
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 5: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rlc     a               ; next bit to bit 5, TDO 3 in
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 4
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        ; cycle 6: low level in r3, high level in r2
        movx    @r0, a          ; TDI
        rlc     a               ; next bit to bit 5, TDO 4 in
        xch     a, r3           ; A = TCK low, r3 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 5
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r2           ; A = TCK high, r2 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r3           ; A = data, r3 = TCK high
        ; cycle 7: low level in r2, high level in r3
        movx    @r0, a          ; TDI
        rlc     a               ; TDO 5 in
        xch     a, r2           ; A = TCK low, r2 keeps the data
        movx    @dptr, a        ; TCK falls
        rrc     a               ; TDO 6
        movx    a, @r1          ; PINSC: TDO, TCK low, TMS
        xch     a, r3           ; A = TCK high, r3 = next TCK low
        movx    @dptr, a        ; TCK rises
        xch     a, r2           ; A = data, r2 = TCK high
        rlc     a               ; TDO 6 in: TDO 0..6 in bits 6..0
        xch     a, rn           ; the next byte; rn keeps the reply
        .endm

        .area   DSEG    (DATA)
reply_count:
        .ds     1
reply_base:
        .ds     1
group_count:
        .ds     1

        .area   CSEG    (CODE)

;; void stream_out(unsigned char count)
;; Pipe 1: count bytes from the autopointer, each 8 TCK cycles with TDI
;; from bit 5 on, rotating left, and TMS at _tms_bits. The current bit
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
;; is low, go back as one reply byte (bit 7 - k = cycle k) into IN2BUF.
;; PINSC read while TCK is low has TCK = 0 and the TMS level in bits 1 and
;; 2, so that very value is the next cycle's TCK-low write: it rotates
;; through R2/R3 together with the constant TCK-high level, and its bit 0
;; (TDO) is taken into C one cycle later, while A still holds it after that
;; write. A cycle is 4 MOVX + 5 cycles = 13, the data register taking the
;; TDO in; a byte costs 110 with finishing and pushing the reply of the
;; byte before, and 115.75 with its share of a fetch of four bytes (in the
;; first byte of four) and of the loop: 14.45 cycles a TCK cycle within a
;; packet (415 kHz at 24 MHz). Each fetch reads one byte ahead, so the
;; last reads one byte past the packet, unused. The replies are copied to
;; IN2BUF at the end, after a dummy the first byte pushes: 15.40 over a
;; whole 64-byte packet with its handshakes (390 kHz). The caller has
;; checked IN2 is not busy and arms IN2BC.
_stream_tdo:
        mov     reply_count, dpl
        mov     reply_base, sp  ; a dummy and the replies are pushed above
        mov     r0, #OUTA_LOW
        mov     dptr, #OUTC
        mov     a, _tms_bits
        mov     r3, a           ; TCK low, TMS: the first falling edge
        orl     a, #TCK
        mov     r2, a           ; TCK high, TMS
        mov     a, reply_count
        rr      a
        rr      a
        anl     a, #0x3F
        inc     a
        mov     group_count, a  ; turns of four bytes, plus one
        mov     a, reply_count
        anl     a, #3
        mov     r7, a           ; single bytes first
        mov     r1, #AUTODATA_LOW
        movx    a, @r1          ; the first byte
        mov     r1, #PINSC_LOW
        cjne    r7, #0, 00011$
00012$:
        djnz    group_count, 00014$
        mov     a, r3           ; the last reply: TDO 7 from the last PINSC
        rrc     a
        mov     a, r4
        rlc     a
        push    acc
        mov     r0, reply_base
        inc     r0              ; below the first reply, past the dummy
        ajmp    reply_tail
00011$:
        tdo_head r4
        mov     r1, #AUTODATA_LOW
        movx    a, @r1
        mov     r4, a           ; the next byte
        mov     r1, #PINSC_LOW
        tdo_tail r4
        djnz    r7, 00011$
        sjmp    00012$
00014$:
        tdo_head r4             ; four bytes a turn, fetched in the first
        mov     r1, #AUTODATA_LOW
        movx    a, @r1
        mov     r5, a
        movx    a, @r1
        mov     r6, a
        movx    a, @r1
        mov     r7, a
        movx    a, @r1
        mov     r4, a           ; the first of the next turn
        mov     r1, #PINSC_LOW
        tdo_tail r5
        tdo_head r5
        tdo_tail r6
        tdo_head r6
        tdo_tail r7
        tdo_head r7
        tdo_tail r4
        ajmp    00012$

;; unsigned char pin_bytes(unsigned char count)
;; Pipe 3: each byte sets TDI (bit 5) and TMS (bit 2); with bit 1 clear it
;; makes one TCK cycle, TDO sampled while TCK is low; with bit 1 set TCK
;; stays high. A byte with bit 7 set is answered with TDO in bit 0 and the
;; target supply in bit 3; the others are not, so the host can send TMS
;; walks without waiting for them. Returns the number of replies left in
;; IN2BUF. TMS stays in _tms_bits for the streams. 40 cycles for a clocked
;; byte without a reply, 48 with one (150 and 125 kHz at 24 MHz); a packet
;; of eight replying bytes with its handshakes: 73.5 a byte. Not worth
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
        mov     r0, reply_base
        mov     a, reply_count
        jnz     reply_tail
        ret

;; Copies the reply_count replies pushed above R0 to IN2BUF through the
;; autopointer, drops everything pushed above reply_base and returns to the
;; routine's caller.
reply_tail:
        mov     sp, reply_base  ; interrupts are off: the bytes above stay
        mov     r1, #AUTOPTRH_LOW
        mov     a, #IN2BUF_HIGH
        movx    @r1, a
        inc     r1
        clr     a
        movx    @r1, a          ; AUTOPTRL = 0
        inc     r1              ; AUTODATA
        mov     a, reply_count
        add     a, #3
        rr      a
        rr      a
        anl     a, #0x3F
        mov     r5, a           ; turns of four, rounded up: the bytes
00033$:                         ; past the count stay unsent in IN2BUF
        inc     r0              ; 4.75 cycles a byte
        mov     a, @r0
        movx    @r1, a
        inc     r0
        mov     a, @r0
        movx    @r1, a
        inc     r0
        mov     a, @r0
        movx    @r1, a
        inc     r0
        mov     a, @r0
        movx    @r1, a
        djnz    r5, 00033$
        ret

