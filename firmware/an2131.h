/* AN2131 (EZ-USB) registers this firmware uses, from the EZ-USB Technical
 * Reference Manual's register map. The chip's control registers, port
 * registers and endpoint buffers sit in external data space at 0x7B40 and
 * up; the 8051 core's extra SFRs are listed first. */
#ifndef VELNOR_FIRMWARE_AN2131_H
#define VELNOR_FIRMWARE_AN2131_H

#define XREG(address) (*(volatile __xdata unsigned char*)(address))

/* Core SFRs beyond the classic 8051. */
__sfr __at(0x8E) CKCON; /* bits 2..0: MOVX stretch cycles */
__sfr __at(0x92) MPAGE; /* high address byte of MOVX @R0/@R1 */

/* Ports A and C. */
#define PORTACFG XREG(0x7F93)
#define PORTCCFG XREG(0x7F95)
#define OUTA XREG(0x7F96)
#define OUTC XREG(0x7F98)
#define PINSC XREG(0x7F9B)
#define OEA XREG(0x7F9C)
#define OEC XREG(0x7F9E)

/* Endpoint buffers. */
#define IN0BUF_ADDRESS 0x7F00
#define IN0BUF(i) XREG(IN0BUF_ADDRESS + (i))
#define OUT2BUF_ADDRESS 0x7DC0
#define OUT4BUF_ADDRESS 0x7CC0
#define OUT6BUF_ADDRESS 0x7BC0

/* Endpoint control: BUSY is bit 1 of every INnCS/OUTnCS. */
#define EP_BUSY 0x02
#define EP0CS XREG(0x7FB4)
#define EP0_STALL 0x01
#define EP0_HSNAK 0x02
#define IN0BC XREG(0x7FB5)
#define IN2CS XREG(0x7FB8)
#define IN2BC XREG(0x7FB9)
#define OUT2CS XREG(0x7FC8)
#define OUT2BC XREG(0x7FC9)
#define OUT4CS XREG(0x7FCC)
#define OUT4BC XREG(0x7FCD)
#define OUT6CS XREG(0x7FD0)
#define OUT6BC XREG(0x7FD1)

/* USB core. */
#define USBIRQ XREG(0x7FAB)
#define USBIRQ_SUDAV 0x01
#define SUDPTRH XREG(0x7FD4)
#define SUDPTRL XREG(0x7FD5)
#define USBCS XREG(0x7FD6)
#define USBCS_RENUM 0x02
#define USBCS_DISCOE 0x04
#define USBCS_DISCON 0x08
#define USBPAIR XREG(0x7FDD)
#define USBPAIR_PR2OUT 0x08 /* OUT2 with OUT3: one double-buffered OUT2 */
#define USBPAIR_PR4OUT 0x10 /* OUT4 with OUT5 */
#define IN07VAL XREG(0x7FDE)
#define OUT07VAL XREG(0x7FDF)
#define SETUPDAT(i) XREG(0x7FE8 + (i))

/* The autopointer: AUTODATA reads or writes the byte at AUTOPTRH:AUTOPTRL
 * and then advances the pointer. */
#define AUTOPTRH XREG(0x7FE3)
#define AUTOPTRL XREG(0x7FE4)

/* Low bytes of the registers the JTAG loops reach with MOVX @R0/@R1 while
 * MPAGE holds 0x7F. */
#define PAGE_7F 0x7F

#endif
