/* Endpoint 0 after renumeration: the core acknowledges SET_ADDRESS and sends
 * descriptors through SUDPTR; the firmware decides everything else. */
#include "control.h"

#include "an2131.h"
#include "protocol.h"

#define GET_STATUS 0
#define SET_ADDRESS 5
#define GET_DESCRIPTOR 6
#define GET_CONFIGURATION 8
#define SET_CONFIGURATION 9
#define GET_INTERFACE 10
#define SET_INTERFACE 11

#define DEVICE_DESCRIPTOR 1
#define CONFIGURATION_DESCRIPTOR 2
#define STRING_DESCRIPTOR 3

static unsigned char configuration;

static __code const unsigned int string_descriptors[] = {
    USB_JTAG_STRING0_DESCRIPTOR,
    USB_JTAG_STRING1_DESCRIPTOR,
    USB_JTAG_STRING2_DESCRIPTOR,
};

/* Returns 0 when the request is not one this device has. */
static unsigned char send_descriptor(void) {
  unsigned int address;
  const unsigned char index = SETUPDAT(2);
  switch (SETUPDAT(3)) {
    case DEVICE_DESCRIPTOR:
      address = USB_JTAG_DEVICE_DESCRIPTOR;
      break;
    case CONFIGURATION_DESCRIPTOR:
      if (index != 0) return 0;
      address = USB_JTAG_CONFIG_DESCRIPTOR;
      break;
    case STRING_DESCRIPTOR:
      if (index >= sizeof string_descriptors / sizeof string_descriptors[0]) return 0;
      address = string_descriptors[index];
      break;
    default:
      return 0;
  }
  SUDPTRH = address >> 8;
  SUDPTRL = address & 0xFF; /* the core sends it now */
  return 1;
}

static void send_bytes(unsigned char first, unsigned char count) {
  IN0BUF(0) = first;
  IN0BUF(1) = 0;
  IN0BC = count;
}

/* Returns 0 to stall. */
static unsigned char answer(void) {
  const unsigned char value = SETUPDAT(2);
  const unsigned char index = SETUPDAT(4);
  switch (SETUPDAT(1)) {
    case GET_DESCRIPTOR:
      return send_descriptor();
    case SET_CONFIGURATION:
      if (value > 1) return 0;
      configuration = value;
      return 1;
    case GET_CONFIGURATION:
      send_bytes(configuration, 1);
      return 1;
    case SET_INTERFACE:
      return index == 0 && value == 0;
    case GET_INTERFACE:
      if (index != 0) return 0;
      send_bytes(0, 1);
      return 1;
    case GET_STATUS:
      send_bytes(0, 2); /* bus powered, no remote wakeup armed, not halted */
      return 1;
    case SET_ADDRESS:
      return 1; /* the core has done it */
    default:
      return 0;
  }
}

void handle_setup(void) {
  if (answer()) {
    EP0CS = EP0_HSNAK; /* let the status stage complete */
  } else {
    EP0CS = EP0_STALL | EP0_HSNAK;
  }
}
