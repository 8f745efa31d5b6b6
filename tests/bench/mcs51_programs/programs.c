/* Compiled C: what SDCC's code generator and runtime library make of
   integer arithmetic, pointers, tables and calls. */
#include <stdint.h>

__xdata uint8_t results[32];

static uint16_t crc16(const uint8_t* data, uint8_t length) {
  uint16_t crc = 0xFFFF;
  while (length--) {
    crc ^= (uint16_t)*data++ << 8;
    for (uint8_t i = 0; i < 8; i++) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
  }
  return crc;
}

static void sort(__xdata uint8_t* items, uint8_t count) {
  for (uint8_t i = 1; i < count; i++) {
    uint8_t item = items[i];
    uint8_t j = i;
    while (j > 0 && items[j - 1] > item) {
      items[j] = items[j - 1];
      j--;
    }
    items[j] = item;
  }
}

void main(void) {
  static const uint8_t message[] = "123456789";
  uint16_t crc = crc16(message, 9);
  uint32_t x = 123456789UL;
  int16_t s = -12345;
  results[0] = crc >> 8;
  results[1] = crc;
  x = x / 1000 * 7 + x % 97;
  results[2] = x >> 24;
  results[3] = x >> 16;
  results[4] = x >> 8;
  results[5] = x;
  s = s / 7 * 3 - s % 11;
  results[6] = (uint16_t)s >> 8;
  results[7] = s;
  for (uint8_t i = 0; i < 16; i++) results[16 + i] = (uint8_t)(i * 37 + 11);
  sort(results + 16, 16);
  for (;;) {
  }
}
