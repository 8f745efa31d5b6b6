/* The wire protocol between the library and the USB cable's 8051 firmware,
 * byte by byte. Shared by the host (C++) and the firmware (SDCC C), so it
 * holds plain constants only.
 *
 * The cable is an EZ-USB AN2131 whose port pins drive the JTAG chain:
 *   PC1 = TCK, PA5 = TDI, PC2 = TMS (outputs), PC0 = TDO, PC3 = target
 *   supply sense (inputs).
 *
 * Pipes are numbered as the EZ-USB general-purpose driver numbers them: by
 * the position of the endpoint in the firmware's one interface.
 *
 *   pipe  endpoint        use
 *   0     0x01 OUT bulk   not used
 *   1     0x02 OUT bulk   byte stream, no reply (double-buffered)
 *   2     0x04 OUT bulk   byte stream, one TDO byte back per byte on pipe 5
 *                         (double-buffered)
 *   3     0x06 OUT bulk   pin bytes, a reply byte back on pipe 5 for each
 *                         byte that asks for one
 *   4     0x81 IN  intr   not used
 *   5     0x82 IN  bulk   every reply
 *   6     0x84 IN  bulk   not used
 *   7     0x86 IN  bulk   not used
 *
 * Byte stream: one byte is eight TCK cycles with TMS held at the level the
 * last pin byte set; TDI of the k-th cycle is the byte's bit (5 - k) mod 8,
 * so cycle 0's bit arrives where PA5 sits in OUTA and the firmware rotates
 * the byte left once a cycle. A reply byte holds the TDO of the k-th cycle
 * in bit 7 - k: the firmware's rotation takes each TDO in at the bottom as
 * the clocked bits leave at the top. Host bytes held first cycle in the
 * most significant bit thus go out rotated right by two and come back as
 * they are.
 *
 * Pin byte: bit 1 (TCK) clear makes one TCK cycle with the TMS and TDI
 * levels of bits 2 and 5; bit 1 set only sets the levels, TCK stays high and
 * no cycle occurs. A pin byte with bit 7 set is answered by one reply byte:
 * TDO of that cycle in bit 0, the target supply in bit 3; the replies of one
 * packet come back as one packet. Bytes without bit 7 get no answer, so the
 * host sends them whenever it next writes and never waits for them.
 *
 * Double-buffered: the endpoints of pipes 1 and 2 are paired with OUT3 and
 * OUT5 (USBPAIR), so each holds a second packet while the firmware shifts
 * the first; pipe 3 holds one.
 *
 * Order: the firmware serves one packet at a time, the first waiting one of
 * pipe 1, else of pipe 3, else of pipe 2. The host starts a transfer only
 * when the one before has completed. A packet of pipe 3 or 2 sent after
 * pipe-1 packets thus waits until pipe 1 is empty; pipe-2 packets after pin
 * bytes wait for them; and after a pipe-2 transfer the host waits for its
 * replies, which come once everything before is shifted. What the firmware
 * cannot tell apart: pin bytes sent, without a reply, while pipe 1 may
 * still hold packets, and then more pipe-1 packets, which would overtake
 * them. So before a pipe-1 transfer that follows such pin bytes (or goes
 * out with them) the host asks a reply on the last pin byte, or on a byte
 * that only sets the levels again, and waits for it. Pin bytes sent to a
 * firmware with nothing else to do are taken within microseconds, before
 * the next transfer's first packet (at least 53 us on the wire) is in.
 *
 * TDO is sampled in each cycle after TCK has fallen and before it rises,
 * as the printer-port cable samples it.
 */
#ifndef VELNOR_FIRMWARE_PROTOCOL_H
#define VELNOR_FIRMWARE_PROTOCOL_H

#define USB_JTAG_VENDOR_ID 0x0547
#define USB_JTAG_PRODUCT_ID 0x2131
#define USB_JTAG_MANUFACTURER "USB_SPI"
#define USB_JTAG_PRODUCT "V010"

/* Pipes of the general-purpose driver. */
#define USB_JTAG_PIPE_STREAM 1
#define USB_JTAG_PIPE_STREAM_TDO 2
#define USB_JTAG_PIPE_PINS 3
#define USB_JTAG_PIPE_REPLY 5

/* Pin byte bits, written by the host. */
#define USB_JTAG_PIN_NO_CLOCK 0x02 /* PC1: set = levels only, no TCK cycle */
#define USB_JTAG_PIN_TMS 0x04      /* PC2 */
#define USB_JTAG_PIN_TDI 0x20      /* PA5 */
#define USB_JTAG_PIN_REPLY 0x80    /* answer this byte */

/* Reply byte bits, read by the host. */
#define USB_JTAG_REPLY_TDO 0x01  /* PC0 */
#define USB_JTAG_REPLY_TVCC 0x08 /* PC3 */

/* The pin bytes the host sends: levels only, TMS low or high; the target
 * supply query sets TMS high and asks for the reply. */
#define USB_JTAG_SET_TMS_LOW (USB_JTAG_PIN_NO_CLOCK)
#define USB_JTAG_SET_TMS_HIGH (USB_JTAG_PIN_NO_CLOCK | USB_JTAG_PIN_TMS)
#define USB_JTAG_POWER_QUERY (USB_JTAG_SET_TMS_HIGH | USB_JTAG_PIN_REPLY)

/* The firmware image: a flat copy of the 8051's on-chip memory from 0, of
 * which the first part is downloaded; the rest is fill. The descriptors sit
 * at fixed places. */
#define USB_JTAG_IMAGE_SIZE 8192
#define USB_JTAG_DOWNLOAD_SIZE 4096
#define USB_JTAG_IMAGE_FILL 0xAA
#define USB_JTAG_DEVICE_DESCRIPTOR 0x07D4
#define USB_JTAG_CONFIG_DESCRIPTOR 0x07E6
#define USB_JTAG_CONFIG_TOTAL_LENGTH 74
#define USB_JTAG_STRING0_DESCRIPTOR 0x0830
#define USB_JTAG_STRING1_DESCRIPTOR 0x0834
#define USB_JTAG_STRING2_DESCRIPTOR 0x0844

#endif
