/* A program built against an installed velnor: opens the parallel cable of
 * the virtual board, scans its chain and reads the FPGA's status.
 *   velnor_consumer VERSION */
#include <stdio.h>
#include <string.h>
#include <velnor.h>

static int fail(const char* what, uint32_t result) {
  fprintf(stderr, "%s: 0x%08X\n", what, (unsigned)result);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2 || strcmp(velnor_version(), argv[1]) != 0) {
    fprintf(stderr, "version %s, expected %s\n", velnor_version(), argc == 2 ? argv[1] : "?");
    return 1;
  }
  uint32_t result = velnor_init(VELNOR_CABLE_PARALLEL);
  if (result != VELNOR_OK) return fail("velnor_init", result);
  int32_t devices = 0;
  result = velnor_scan_chain(&devices);
  if (result != VELNOR_OK || devices != 2) return fail("velnor_scan_chain", result);
  uint32_t idcode = 0, status = 0, usercode = 0;
  result = velnor_get_status(&idcode, &status, &usercode);
  if (result != VELNOR_OK) return fail("velnor_get_status", result);
  if ((idcode & 0x0FFFFFFFu) != 0x061C093u) return fail("IDCODE", idcode);
  velnor_free();
  printf("velnor %s: %d devices, IDCODE 0x%08X, status 0x%08X\n", velnor_version(), (int)devices,
         (unsigned)idcode, (unsigned)status);
  return 0;
}
