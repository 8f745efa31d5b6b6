/* The JTAG loops (jtag_loops.asm). Each takes its bytes from the
 * autopointer, which the caller aims at the endpoint buffer; stream_tdo
 * leaves one reply byte per byte in IN2BUF, pin_bytes one per byte that asks
 * for it and returns how many. count is 1..64. */
#ifndef VELNOR_FIRMWARE_JTAG_H
#define VELNOR_FIRMWARE_JTAG_H

/* TMS as OUTC bit 2: set by pin bytes, held by the byte streams. */
extern unsigned char tms_bits;

void stream_out(unsigned char count);
void stream_tdo(unsigned char count);
unsigned char pin_bytes(unsigned char count);

#endif
