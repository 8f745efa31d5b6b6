/* The USB JTAG cable's firmware: ports set up for the JTAG chain, a
 * renumeration that presents this firmware's descriptors, then one loop
 * that serves endpoint 0 and one OUT packet a turn: pipe 1's if one waits,
 * else pipe 3's, else pipe 2's, which keeps the order the host sends in
 * (protocol.h). The two stream pipes are double-buffered, so the host's
 * next packet comes in while the 8051 shifts the one before. */
#include "an2131.h"
#include "control.h"
#include "jtag.h"

/* The endpoint pairs the driver's pipes map to: IN 1,2,4,6 and OUT 1,2,4,6. */
#define USED_ENDPOINTS 0x57
/* OUT2 and OUT4 (pipes 1 and 2) each take a second buffer, OUT3's and
 * OUT5's; the 8051 goes on using OUT2 and OUT4 alone, and the core hands it
 * the buffers in turn. Pipe 3 stays single: see protocol.h on order. */
#define STREAM_PAIRS (USBPAIR_PR2OUT | USBPAIR_PR4OUT)

#define TDI_BIT 0x20 /* PA5 */
#define TCK_BIT 0x02 /* PC1 */
#define TMS_BIT 0x04 /* PC2 */

unsigned char tms_bits;

/* Long enough for the host to see the device leave the bus: about 20 ms at
 * 24 MHz (six machine cycles a microsecond). */
static void disconnected_pause(void) {
  unsigned int i;
  for (i = 0; i < 12000; ++i) {
    __asm__("nop");
  }
}

static void aim_autopointer(unsigned int address) {
  AUTOPTRH = address >> 8;
  AUTOPTRL = address & 0xFF;
}

static void wait_reply_buffer(void) {
  while (IN2CS & EP_BUSY) {
  }
}

void main(void) {
  CKCON &= ~0x07; /* MOVX without stretch: on-chip registers and RAM keep up */
  MPAGE = PAGE_7F;

  PORTACFG = 0;
  PORTCCFG = 0;
  tms_bits = TMS_BIT;
  OUTA = TDI_BIT;
  OUTC = TCK_BIT | TMS_BIT;
  OEA = TDI_BIT;
  OEC = TCK_BIT | TMS_BIT;

  IN07VAL = USED_ENDPOINTS;
  OUT07VAL = USED_ENDPOINTS;
  USBPAIR = STREAM_PAIRS;
  OUT2BC = 0;
  OUT4BC = 0;
  OUT6BC = 0;

  USBCS |= USBCS_DISCON | USBCS_DISCOE;
  USBCS |= USBCS_RENUM;
  disconnected_pause();
  USBIRQ = 0xFF;
  USBCS &= ~USBCS_DISCON;

  for (;;) {
    unsigned char count;
    if (USBIRQ & USBIRQ_SUDAV) {
      USBIRQ = USBIRQ_SUDAV;
      handle_setup();
    }
    if (!(OUT2CS & EP_BUSY)) {
      count = OUT2BC;
      if (count != 0) {
        aim_autopointer(OUT2BUF_ADDRESS);
        stream_out(count);
      }
      OUT2BC = 0;
      continue;
    }
    if (!(OUT6CS & EP_BUSY)) {
      count = OUT6BC;
      if (count != 0) {
        wait_reply_buffer();
        aim_autopointer(OUT6BUF_ADDRESS);
        count = pin_bytes(count);
        if (count != 0) {
          IN2BC = count;
        }
      }
      OUT6BC = 0;
      continue;
    }
    if (!(OUT4CS & EP_BUSY)) {
      count = OUT4BC;
      if (count != 0) {
        wait_reply_buffer();
        aim_autopointer(OUT4BUF_ADDRESS);
        stream_tdo(count);
        IN2BC = count;
      }
      OUT4BC = 0;
    }
  }
}
