/*
 * velnor: configures Spartan-II FPGAs (XC2S15 .. XC2S200) and XCF01S/02S/04S
 * configuration PROMs over JTAG, and exchanges bytes with the design inside
 * the FPGA through its JTAG user registers.
 *
 * Build against it with `pkg-config --cflags --libs velnor`, or with CMake's
 * find_package(velnor) and the target velnor::velnor.
 *
 * Result words. Every function that talks to the target returns an unsigned
 * 32-bit result word: 0 (VELNOR_OK) on success, otherwise the OR of the
 * error bits below; several bits may be set at once. Each function's comment
 * lists the bits it can return. Exceptions: velnor_version returns a string,
 * velnor_free always 0, velnor_check_daisychain and velnor_chain_device 1 or
 * 0, jmem_access 0, 1 or a result word.
 *
 * One session per process. The library holds one state for the whole
 * process: one open cable, the chain behind it, the FPGA and PROM found on
 * it, and one worker slot. velnor_init opens a cable (closing any open one
 * first) and forgets the devices found before, since the cable may now lead
 * to another board; velnor_free closes it. Every FPGA or PROM operation
 * first checks that the device found before still answers at its chain
 * position with its IDCODE (a device that answers is powered); when it does
 * not, the operation senses the target supply (VELNOR_ERR_POWER_DOWN
 * without it) and scans the chain afresh (VELNOR_ERR_NO_TARGET when the
 * device is gone). Whenever an operation scans the chain, both remembered
 * positions are forgotten, so alternating between FPGA and PROM operations
 * rescans at each switch. A long operation (configuration, PROM read or
 * program) senses the supply between its pieces and stops with
 * VELNOR_ERR_POWER_DOWN when it went away. Any failed exchange with the
 * cable (a lost USB reply, a cable pulled out) adds VELNOR_ERR_PROBE to the
 * operation's result; data an exchange failed to bring back read as zeros.
 *
 * The gate. Every function that talks to the target (velnor_get_status,
 * velnor_shutdown, velnor_config, velnor_spi_xfer, jmem_access, the
 * velnor_cfgrom_* functions, velnor_scan_chain) first passes the worker
 * slot's gate: while an operation runs on the worker thread the call returns
 * VELNOR_BUSY at once and touches nothing; with no cable open it returns
 * VELNOR_ERR_PROBE; otherwise it does its work. velnor_version, velnor_init,
 * velnor_free, velnor_check_daisychain, velnor_chain_device,
 * velnor_bitfile_info, velnor_add_part and velnor_set_message_callback do
 * not pass the gate.
 *
 * Background operations. velnor_config and velnor_spi_xfer take a pointer
 * to a count word that the caller owns. Bit 31 of it
 * (VELNOR_COUNT_BACKGROUND, e.g. count = (int32_t)(VELNOR_COUNT_BACKGROUND
 * | n)) asks for the operation to run on the library's one worker thread:
 * the call clears the bit, starts the thread and returns VELNOR_BUSY as soon
 * as data starts to move, or the operation's own result when it failed or
 * ended before that. While it runs, the worker thread lowers the count word
 * to the number of bytes still to go, in steps of at most 4096, down to 0;
 * the caller may read it, with an atomic load such as
 * __atomic_load_n(&count, __ATOMIC_RELAXED), but must not write it. The
 * result goes only to the operation's own poll, exactly once:
 * velnor_config(NULL, NULL) for a configuration, velnor_spi_xfer(channel,
 * NULL, NULL, NULL) for a transfer. A poll returns VELNOR_BUSY while the
 * operation runs, then its result (0 on success); a poll with nothing
 * pending returns VELNOR_ERR_FORMAT. Once the operation has ended, other
 * calls work normally, but a new background start returns VELNOR_BUSY until
 * the result has been polled. Until the result is collected the source, the
 * buffers and the count word must stay valid and unchanged. velnor_init and
 * velnor_free wait for a running operation to end; its result stays for its
 * poll.
 *
 * Threads. The exports may be called from any thread: one call at a time
 * works on the cable and the others wait for it (a call made while an
 * operation runs on the worker thread returns VELNOR_BUSY). Besides the
 * callers' threads, the library runs at most one worker thread (background
 * operations, above) and, while the USB cable is open, that cable's reader
 * thread; only the message callback is called from them.
 *
 * Buffers. Every buffer, file name and count word belongs to the caller; the
 * library uses it only during the call (or, for a background operation,
 * until its result is collected) and keeps no pointer after that. Strings
 * the library returns are static.
 *
 * Messages. Some calls print one-line texts for the person at the bench on
 * the standard output, e.g. "No Probe" (no parallel cable found), "Setup
 * EZ-USB Firmware" with progress marks (the USB cable's open), "status read
 * error", "Verify error 00012345".
 *
 * Bit order. Bytes sent to and received from the target (bitstreams, user
 * channel data, PROM data) travel most significant bit first.
 */
#ifndef VELNOR_H
#define VELNOR_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(VELNOR_BUILDING_LIBRARY)
/* velnor.def names the exports, undecorated; a dllexport here would add the
 * decorated stdcall names ("velnor_init@4") beside them on 32-bit. */
#define VELNOR_API
#else
#define VELNOR_API __declspec(dllimport)
#endif
#define VELNOR_CALL __stdcall
#else
#define VELNOR_API __attribute__((visibility("default")))
#define VELNOR_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result words. */
#define VELNOR_OK 0x00000000u
#define VELNOR_ERR_DRIVER 0x80000000u          /* velnor_init: no cable of that kind */
#define VELNOR_ERR_PROBE 0x40000000u           /* cable not found (velnor_init) or not open */
#define VELNOR_ERR_JTAG 0x20000000u            /* never returned; kept for callers that decode it */
#define VELNOR_ERR_FILE 0x10000000u            /* bitstream cannot be opened or read */
#define VELNOR_BUSY 0x08000000u                /* an operation is running on the worker thread */
#define VELNOR_ERR_NO_TARGET 0x00800000u       /* the device is not found on the chain */
#define VELNOR_ERR_POWER_DOWN 0x00400000u      /* no target supply sensed */
#define VELNOR_ERR_FORMAT 0x00008000u          /* arguments the call refuses */
#define VELNOR_ERR_DEVICE_MISMATCH 0x00000008u /* never returned; kept for decoders */
#define VELNOR_ERR_SHUTDOWN_A 0x00000004u      /* never returned; kept for decoders */
#define VELNOR_ERR_SHUTDOWN_B 0x00000002u      /* never returned; kept for decoders */
#define VELNOR_ERR_CRC 0x00000001u             /* configuration not accepted */

/* Cable selector: kind in bits 31..16, unit in bits 15..0 (USB device
 * number, or printer-port I/O base with 0 meaning 0x378). 0 tries USB
 * device 0, then the printer port at 0x378. On Linux the printer port at
 * 0x378 is /dev/parport0, 0x278 /dev/parport1 and 0x3BC /dev/parport2
 * (VELNOR_PARPORT_MAP, e.g. "0x378=/dev/parport3", changes that). */
#define VELNOR_CABLE_AUTO 0x00000000u
#define VELNOR_CABLE_USB 0x00010000u
#define VELNOR_CABLE_PARALLEL 0x00020000u
#define VELNOR_CABLE_KIND_SHIFT 16
#define VELNOR_CABLE_UNIT_MASK 0x0000FFFFu
#define VELNOR_DEFAULT_LPT_BASE 0x0378u

/* Bit 31 of a count word asks for the operation to run on a worker thread
 * (see "Background operations" above). */
#define VELNOR_COUNT_BACKGROUND 0x80000000u

/* jmem_access modes: 0 writes, 3 verifies, any other value reads. */
#define VELNOR_JMEM_WRITE 0
#define VELNOR_JMEM_READ 1
#define VELNOR_JMEM_VERIFY 3

/* The library's version, "MAJOR.MINOR.PATCH"; a static string. May be
 * called at any time. */
VELNOR_API const char* VELNOR_CALL velnor_version(void);

/* Opens the cable the selector names (see the cable selector above), after
 * closing any open cable (velnor_free). Returns 0 with the cable open;
 * VELNOR_ERR_DRIVER when the kind is neither USB (1) nor parallel (2);
 * VELNOR_ERR_PROBE when the cable cannot be opened (no printer-port access,
 * no cable on the port: "No Probe"; no EZ-USB device, or its firmware
 * download failed). VELNOR_CABLE_AUTO returns the parallel port's result
 * when USB device 0 cannot be opened. Opening the USB cable downloads its
 * firmware into the EZ-USB and waits for the device to reconnect. */
VELNOR_API uint32_t VELNOR_CALL velnor_init(uint32_t cable_selector);
/* Closes the open cable, if any, after waiting for a running background
 * operation to end (its result stays for its poll). Returns 0. */
VELNOR_API uint32_t VELNOR_CALL velnor_free(void);
/* 1 when a cable is open and the last chain scan counted exactly two
 * devices, else 0. Runs no scan and touches no cable: the chain is scanned
 * by velnor_scan_chain and by the first FPGA or PROM operation (see "One
 * session per process"), so right after velnor_init, before any of those,
 * the answer is 0 even on a two-device chain, and after velnor_free. */
VELNOR_API uint32_t VELNOR_CALL velnor_check_daisychain(void);
/* Finds and selects the FPGA, then reads its IDCODE (version nibble
 * included), configuration status word and USERCODE into the words given;
 * each pointer may be null, and with all three null the call only finds
 * the FPGA. Returns 0; the gate's result; VELNOR_ERR_POWER_DOWN when no
 * target supply is sensed; VELNOR_ERR_NO_TARGET when the chain cannot be
 * scanned, holds no XC2S15 .. XC2S200, or the FPGA's IDCODE does not read
 * back as scanned; VELNOR_ERR_PROBE when an exchange with the cable failed.
 * After a failure the words given hold no answer.
 *
 * The status word, bit by bit:
 *   0      CRC_ERROR: the last configuration data failed its CRC check
 *   6      GTS_CFG: 1 while the I/Os are held in high impedance
 *   7      GWE_B: 1 while flip-flops and block RAM are write-protected
 *   8      GSR_B: 0 while global set/reset is asserted
 *   9      GHIGH_B: 0 while the interconnect is held high
 *   12..10 the mode pins M2, M1, M0 (101: boundary scan, 000: master
 *          serial, 111: slave serial)
 *   13     INIT: the level of the INIT pin, which falls on a CRC error
 *   14     DONE: the FPGA is configured and in user mode
 *   31..16 zero on a working chain (e.g. 0xFFFFFFFF: nothing answers)
 * An FPGA running its design reads e.g. 0x00006300, one just shut down
 * 0x000020C0 (mode pins 000). Reading it resets the TAP, which ends an open
 * user-channel frame (see velnor_spi_xfer). */
VELNOR_API uint32_t VELNOR_CALL velnor_get_status(uint32_t* idcode, uint32_t* status,
                                                  uint32_t* usercode);
/* Shuts the FPGA down: it stops its design and ends unconfigured (DONE
 * clear). Returns 0, the gate's result, VELNOR_ERR_POWER_DOWN or
 * VELNOR_ERR_NO_TARGET (as velnor_get_status). */
VELNOR_API uint32_t VELNOR_CALL velnor_shutdown(void);
/* Configures the FPGA. source is a bitstream file name (a NUL-terminated
 * path to a .bit file), or bitstream bytes in memory; count points at the
 * caller's count word and is required whenever source is given.
 *
 * The source is taken as bytes in memory exactly when the count (bits
 * 30..0) is not 0 and the first byte at source is 0xFF: in-memory data must
 * be the configuration data itself, which begins with 0xFF padding (the
 * data part of a .bit file after its header, or a raw .bin image), and the
 * count gives its length. Anything else is a file name: a .bit file's bytes
 * in memory, which begin with its header, are not accepted (they give
 * VELNOR_ERR_FILE). With a file name, the count is 0, or bounds the name
 * (which must end within count bytes); the call sets the count word to the
 * file's data length, then lowers it as the data go.
 *
 * A file is checked first: one that cannot be opened, is not a regular
 * file, or holds less data than its header says is refused before the FPGA
 * is touched. The FPGA is then found as by velnor_get_status; a configured
 * FPGA is shut down first. With bit 31 of the count set the configuration
 * continues on the worker thread (see "Background operations"); source and
 * count must then stay valid until the result is collected.
 * velnor_config(NULL, NULL) (or a null source with any count) starts
 * nothing and polls a background configuration: VELNOR_BUSY while it runs,
 * then once its result; VELNOR_ERR_FORMAT when none is pending. A
 * configuration cut off in its data phase (cable or supply lost) prints
 * "configuration interrupted: pulse PROGRAM or cycle the power before the
 * next": the FPGA's configuration logic then waits inside a packet, and only
 * its PROGRAM pin or a power cycle brings it back.
 *
 * Returns 0 once the FPGA runs the new design (DONE set); the gate's
 * result; VELNOR_ERR_POWER_DOWN, VELNOR_ERR_NO_TARGET as velnor_get_status;
 * VELNOR_ERR_FORMAT for a source without a count pointer; VELNOR_BUSY when
 * an operation occupies the worker slot (or its result waits for its poll),
 * or when the configuration went on on the worker thread; VELNOR_ERR_FILE
 * when the file cannot be opened, is not a .bit file or is shorter than its
 * header says (the count word is left as it was, the FPGA untouched);
 * VELNOR_ERR_CRC when the status word cannot be read before the start
 * (upper half not zero; "status read error" is printed), or after the data
 * the FPGA reports a CRC error or DONE stays clear (for instance a
 * bitstream for another part, or no data at all); VELNOR_ERR_PROBE when an
 * exchange with the cable failed. */
VELNOR_API uint32_t VELNOR_CALL velnor_config(const void* source, int32_t* count);
/* Exchanges bytes with the design in the configured FPGA through a user
 * channel: channel 1 is the FPGA's USER1 register, channel 2 USER2. It
 * always addresses the FPGA, whatever the last call selected: a frame still
 * open goes on without touching the TAP; otherwise the FPGA is checked as
 * every operation checks its device.
 *
 * With count null: opens the channel's frame (1 or 2: loads its instruction
 * and sends the start bit), or, with channel 0, closes the open channel:
 * the TAP is reset, ending the frame. While a background transfer is pending,
 * transmit, receive and count all null poll it instead (see "Background
 * operations").
 *
 * With count given: sends the count's bits 30..0 bytes from transmit (zeros
 * when transmit is null) and stores as many received bytes in receive
 * (none when receive is null); channel must be 1 or 2. transmit and receive
 * must hold count bytes each; the library never reads or writes beyond
 * them. A channel that is not open gets a start bit of 1 before the data
 * (the design waits for it). When no device sits between TDI and the
 * FPGA, and, for a transfer with a receive buffer, none between the FPGA
 * and TDO (on a chain of the FPGA alone, always), the frame then stays open
 * across transfers: the next transfer on the same channel continues it with
 * its data only, until the channel is closed (channel 0, count null) or any
 * other operation resets the TAP, after which the next transfer opens it
 * again. Otherwise every transfer is a whole frame of its own, padded so
 * that its bits reach the FPGA. The count word falls to 0 in steps of at
 * most 4096 bytes; with bit 31 set the transfer continues on the worker
 * thread (see "Background operations") and the buffers must stay valid
 * until its result is collected.
 *
 * Returns 0; the gate's result (VELNOR_ERR_PROBE, VELNOR_BUSY); the target
 * check's (VELNOR_ERR_POWER_DOWN, VELNOR_ERR_NO_TARGET); VELNOR_ERR_FORMAT
 * for a channel other than 1 and 2 (0 only to close); VELNOR_BUSY when the
 * transfer went on on the worker thread; VELNOR_ERR_PROBE when an exchange
 * with the cable failed. The design itself reports nothing: whatever it
 * answers is in receive. */
VELNOR_API uint32_t VELNOR_CALL velnor_spi_xfer(uint8_t channel, const uint8_t* transmit,
                                                uint8_t* receive, int32_t* count);
/* Reads, writes or verifies length bytes of the memory of a design that
 * speaks the library's memory-access protocol on user channel 1, starting
 * at address. buffer holds length bytes: the data to write (mode 0), the
 * place for the data read (mode 1, or any mode but 0 and 3), or the data
 * expected (mode 3). Addresses the FPGA as velnor_spi_xfer does; runs on
 * the caller's thread, in passes of at most 8190 bytes that never cross a
 * 64 KiB page of the design's memory.
 *
 * Returns 0 when the whole length was processed (also for length 0); 1 at
 * the first verify mismatch ("Verify error AAAAAAAA" with its address is
 * printed; earlier passes stay done); VELNOR_ERR_FORMAT for a null buffer
 * with a length; or a result word: the gate's, the target check's,
 * VELNOR_ERR_PROBE when an exchange with the cable failed. */
VELNOR_API uint32_t VELNOR_CALL jmem_access(uint8_t mode, uint32_t address, uint8_t* buffer,
                                            uint32_t length);
/* The PROM calls work on the first XCF01S, XCF02S or XCF04S on the chain
 * (any IDCODE version), found and checked as the FPGA is (see "One session
 * per process"). They run on the caller's thread, synchronously,
 * after the gate; none uses the worker slot.
 *
 * The PROM's address and length are signed byte counts; the address is
 * taken down to a multiple of 512. A negative value (e.g. 0x80000000 and
 * above), a null buffer with a length, or a range past the end of the
 * part's memory (XCF01S 128 KiB, XCF02S 256 KiB, XCF04S 512 KiB) gives
 * VELNOR_ERR_FORMAT and touches nothing. Programming writes whole 512-byte
 * blocks only and does not erase: erase first, and read back to verify.
 *
 * Each returns 0; the gate's result; VELNOR_ERR_POWER_DOWN when no target
 * supply is sensed (also when it goes away during the operation, which then
 * stops); VELNOR_ERR_NO_TARGET when the chain holds no accepted PROM or its
 * IDCODE does not read back as scanned; VELNOR_ERR_FORMAT as above;
 * VELNOR_ERR_PROBE when an exchange with the cable failed (a read then
 * returns no data). The PROM itself reports nothing: a failed erase or
 * program shows only when the data are read back.
 *
 * velnor_cfgrom_read fills buffer (length bytes) from the PROM. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_read(uint8_t* buffer, uint32_t address,
                                                   uint32_t length);
/* Writes data's first length bytes, rounded down to whole 512-byte blocks,
 * into the erased PROM from address on; a rest of 1 to 511 bytes is not
 * written. Takes 14 ms per page on real hardware. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_program(const uint8_t* data, uint32_t address,
                                                      uint32_t length);
/* Erases the whole PROM (all bytes read 0xFF afterwards). Takes about 15
 * seconds on real hardware, on the caller's thread. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_erase(void);

/* One device of the last chain scan, nearest TDO first. */
typedef struct VelnorChainDevice {
  char name[16];       /* short part name, "" when not identified */
  uint32_t idcode;     /* as read, version nibble included, identified or not */
  int32_t ir_length;   /* instruction register bits; for a device not identified,
                        * what the others leave of the measured total when it is
                        * the only such device, else 0 */
  uint32_t ir_capture; /* low 8 bits of the instruction-register capture */
} VelnorChainDevice;

/* Scans the chain afresh: checks target power, counts and identifies the
 * devices. Stores the count of devices on the chain in *device_count (may be
 * null; 0 when none answers) and returns a result word: 0; the gate's
 * result; VELNOR_ERR_POWER_DOWN (nothing scanned, *device_count untouched);
 * VELNOR_ERR_NO_TARGET when not every counted device was identified (only
 * the devices before the first unknown one are listed reliably; that one
 * has the name ""). The FPGA and PROM positions the other operations
 * remember stay as they were. */
VELNOR_API uint32_t VELNOR_CALL velnor_scan_chain(int32_t* device_count);
/* Copies device `index` of the last scan into *device; returns 1, or 0 when
 * there is no such device, no cable is open, or device is null. Touches no
 * cable. */
VELNOR_API uint32_t VELNOR_CALL velnor_chain_device(int32_t index, VelnorChainDevice* device);

/* Finds the configuration PROM (as the PROM operations do) and reports its
 * IDCODE as read (version nibble included) and memory size in bytes; each
 * pointer may be null. Returns 0 or a result word as the PROM operations. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_info(uint32_t* idcode, uint32_t* size_bytes);

/* The header fields of a bitstream file, each NUL-terminated and cut at 63
 * characters. */
typedef struct VelnorBitFileInfo {
  char design_name[64];
  char part_name[64];
  char date[64];
  char time[64];
  uint32_t length; /* configuration data bytes */
} VelnorBitFileInfo;

/* Reads the header of a bitstream file into *info; VELNOR_ERR_FILE when
 * path or info is null, or the file cannot be opened or is not a bitstream
 * file. Touches no cable and passes no gate. */
VELNOR_API uint32_t VELNOR_CALL velnor_bitfile_info(const char* path, VelnorBitFileInfo* info);

/* Adds a part for the chain scan to know, searched after the built-in table
 * of Xilinx parts in the order added (up to 16): a CPLD or another maker's
 * device beside the FPGA and PROM, so that the chain is identified and the
 * FPGA and PROM on it can be used. name: up to 15 characters, copied, shown
 * by velnor_chain_device; idcode: its IDCODE, the version nibble (bits
 * 31..28) ignored; ir_length: its instruction register's length, 2 to 32
 * bits. Returns VELNOR_ERR_FORMAT, adding nothing, for a null, empty or
 * longer name, an IDCODE whose bit 0 is 0 or whose other bits are all ones,
 * an IR length out of range or a full list. The parts stay for the process;
 * the next chain scan uses them. Touches no cable. */
VELNOR_API uint32_t VELNOR_CALL velnor_add_part(const char* name, uint32_t idcode,
                                                int32_t ir_length);

/* Receives each of the library's messages (diagnostic lines such as
 * "No Probe\n", and the USB cable's progress marks, which end without a line
 * end) as a NUL-terminated text, on whichever thread prints it. */
typedef void (*VelnorMessageCallback)(const char* text, void* context);
/* Sends the library's messages to callback, with context, from now on; a
 * null callback restores the default, the standard output (flushed after
 * each message). May be called at any time from any thread: each message
 * goes whole to either the old or the new callback. */
VELNOR_API void VELNOR_CALL velnor_set_message_callback(VelnorMessageCallback callback,
                                                        void* context);

#ifdef __cplusplus
}
#endif

#endif /* VELNOR_H */
