/* USB descriptors at the fixed addresses the host library knows. The EZ-USB
 * core sends them itself once the firmware points SUDPTRH/SUDPTRL at one. */
#include "protocol.h"

/* One descriptor field, or a group of them, a line. */
/* clang-format off */

#define LOW(x) ((x) & 0xFF)
#define HIGH(x) (((x) >> 8) & 0xFF)

__code __at(USB_JTAG_DEVICE_DESCRIPTOR) const unsigned char device_descriptor[18] = {
    18, 1,                                   /* length, DEVICE */
    0x00, 0x01,                              /* USB 1.00 */
    0x00, 0x00, 0x00,                        /* class in the interface */
    64,                                      /* endpoint 0 packet size */
    LOW(USB_JTAG_VENDOR_ID), HIGH(USB_JTAG_VENDOR_ID),
    LOW(USB_JTAG_PRODUCT_ID), HIGH(USB_JTAG_PRODUCT_ID),
    0x01, 0x00,                              /* device release 0.01 */
    1, 2, 0,                                 /* manufacturer, product, no serial */
    1,                                       /* configurations */
};

#define BULK_ENDPOINT(address) 7, 5, (address), 2, 64, 0, 0

__code __at(USB_JTAG_CONFIG_DESCRIPTOR) const unsigned char configuration_descriptor[USB_JTAG_CONFIG_TOTAL_LENGTH] = {
    9, 2, USB_JTAG_CONFIG_TOTAL_LENGTH, 0,   /* CONFIGURATION, total length */
    1, 1, 0,                                 /* interfaces, value, no string */
    0xA0, 0xFA,                              /* bus powered, remote wakeup; 500 mA */
    9, 4, 0, 0, 8, 0xFF, 0x00, 0x00, 0,      /* interface 0: 8 endpoints, vendor class */
    BULK_ENDPOINT(0x01),
    BULK_ENDPOINT(0x02),
    BULK_ENDPOINT(0x04),
    BULK_ENDPOINT(0x06),
    7, 5, 0x81, 3, 64, 0, 1,                 /* interrupt IN, interval 1 ms */
    BULK_ENDPOINT(0x82),
    BULK_ENDPOINT(0x84),
    BULK_ENDPOINT(0x86),
};

__code __at(USB_JTAG_STRING0_DESCRIPTOR) const unsigned char language_string[4] = {4, 3, 0x09, 0x04};

__code __at(USB_JTAG_STRING1_DESCRIPTOR) const unsigned char manufacturer_string[16] = {
    16, 3, 'U', 0, 'S', 0, 'B', 0, '_', 0, 'S', 0, 'P', 0, 'I', 0,
};

__code __at(USB_JTAG_STRING2_DESCRIPTOR) const unsigned char product_string[10] = {
    10, 3, 'V', 0, '0', 0, '1', 0, '0', 0,
};
/* clang-format on */
