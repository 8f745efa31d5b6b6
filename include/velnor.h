/*
 * velnor: configures Spartan-II FPGAs and XCF01S/02S/04S configuration PROMs
 * over JTAG, and exchanges bytes with the design through the user registers.
 *
 * Every function that talks to the target returns a result word: 0 on
 * success, otherwise the OR of the error bits below.
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
#define VELNOR_ERR_DRIVER 0x80000000u /* no cable of that kind */
#define VELNOR_ERR_PROBE 0x40000000u  /* cable not open or not found */
#define VELNOR_ERR_JTAG 0x20000000u
#define VELNOR_ERR_FILE 0x10000000u       /* bitstream cannot be read */
#define VELNOR_BUSY 0x08000000u           /* an operation is still running */
#define VELNOR_ERR_NO_TARGET 0x00800000u  /* device not found on the chain */
#define VELNOR_ERR_POWER_DOWN 0x00400000u /* no target supply sensed */
#define VELNOR_ERR_FORMAT 0x00008000u     /* source given without a count */
#define VELNOR_ERR_DEVICE_MISMATCH 0x00000008u
#define VELNOR_ERR_SHUTDOWN_A 0x00000004u
#define VELNOR_ERR_SHUTDOWN_B 0x00000002u
#define VELNOR_ERR_CRC 0x00000001u /* configuration not accepted */

/* Cable selector: kind in bits 31..16, unit in bits 15..0 (USB device
 * number, or printer-port I/O base with 0 meaning 0x378). 0 tries USB
 * device 0, then the printer port at 0x378. */
#define VELNOR_CABLE_AUTO 0x00000000u
#define VELNOR_CABLE_USB 0x00010000u
#define VELNOR_CABLE_PARALLEL 0x00020000u
#define VELNOR_CABLE_KIND_SHIFT 16
#define VELNOR_CABLE_UNIT_MASK 0x0000FFFFu
#define VELNOR_DEFAULT_LPT_BASE 0x0378u

/* Bit 31 of a count word asks for the operation to run on a worker thread. */
#define VELNOR_COUNT_BACKGROUND 0x80000000u

/* jmem_access modes: 0 writes, 3 verifies, any other value reads. */
#define VELNOR_JMEM_WRITE 0
#define VELNOR_JMEM_READ 1
#define VELNOR_JMEM_VERIFY 3

/* The library's version, "MAJOR.MINOR.PATCH"; a static string. */
VELNOR_API const char* VELNOR_CALL velnor_version(void);

VELNOR_API uint32_t VELNOR_CALL velnor_init(uint32_t cable_selector);
VELNOR_API uint32_t VELNOR_CALL velnor_free(void);
/* 1 when the last chain scan found exactly two devices, else 0. */
VELNOR_API uint32_t VELNOR_CALL velnor_check_daisychain(void);
VELNOR_API uint32_t VELNOR_CALL velnor_get_status(uint32_t* idcode, uint32_t* status,
                                                  uint32_t* usercode);
VELNOR_API uint32_t VELNOR_CALL velnor_shutdown(void);
/* source: a bitstream file name, or bitstream bytes in memory. */
VELNOR_API uint32_t VELNOR_CALL velnor_config(const void* source, int32_t* count);
VELNOR_API uint32_t VELNOR_CALL velnor_spi_xfer(uint8_t channel, const uint8_t* transmit,
                                                uint8_t* receive, int32_t* count);
/* Returns 0 when the whole length was processed, 1 at the first verify
 * mismatch, or the result word of a transfer the library refused (no cable,
 * an operation still running). */
VELNOR_API uint32_t VELNOR_CALL jmem_access(uint8_t mode, uint32_t address, uint8_t* buffer,
                                            uint32_t length);
/* The PROM's address and length are signed byte counts; the address is
 * taken down to a multiple of 512. A negative value, a null buffer with a
 * length, or a range past the end of the part's memory (XCF01S 128 KiB,
 * XCF02S 256 KiB, XCF04S 512 KiB) gives VELNOR_ERR_FORMAT and touches
 * nothing. Programming writes whole 512-byte blocks only and does not erase:
 * erase first, and read back to verify. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_read(uint8_t* buffer, uint32_t address,
                                                   uint32_t length);
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_program(const uint8_t* data, uint32_t address,
                                                      uint32_t length);
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_erase(void);

/* One device of the last chain scan, nearest TDO first. */
typedef struct VelnorChainDevice {
  char name[16];       /* short part name, "" when not identified */
  uint32_t idcode;     /* as read, version nibble included */
  int32_t ir_length;   /* instruction register bits, 0 when not identified */
  uint32_t ir_capture; /* low 8 bits of the instruction-register capture */
} VelnorChainDevice;

/* Scans the chain afresh: checks target power, counts and identifies the
 * devices. Stores the count of devices on the chain in *device_count (may be
 * null) and returns a result word: VELNOR_ERR_NO_TARGET when not every
 * counted device was identified. */
VELNOR_API uint32_t VELNOR_CALL velnor_scan_chain(int32_t* device_count);
/* Copies device `index` of the last scan into *device; returns 1, or 0 when
 * there is no such device. */
VELNOR_API uint32_t VELNOR_CALL velnor_chain_device(int32_t index, VelnorChainDevice* device);

/* Finds the configuration PROM (as the PROM operations do) and reports its
 * IDCODE and memory size in bytes; each pointer may be null. */
VELNOR_API uint32_t VELNOR_CALL velnor_cfgrom_info(uint32_t* idcode, uint32_t* size_bytes);

/* The header fields of a bitstream file. */
typedef struct VelnorBitFileInfo {
  char design_name[64];
  char part_name[64];
  char date[64];
  char time[64];
  uint32_t length; /* configuration data bytes */
} VelnorBitFileInfo;

/* Reads the header of a bitstream file; VELNOR_ERR_FILE when it cannot be
 * opened or is not a bitstream file. Touches no cable. */
VELNOR_API uint32_t VELNOR_CALL velnor_bitfile_info(const char* path, VelnorBitFileInfo* info);

#ifdef __cplusplus
}
#endif

#endif /* VELNOR_H */
