/* Endpoint 0: the standard requests the host's enumeration makes. */
#ifndef VELNOR_FIRMWARE_CONTROL_H
#define VELNOR_FIRMWARE_CONTROL_H

void handle_setup(void);

#endif
