/* A caller that binds velnor.dll the way 32-bit programs of its kind do:
 * LoadLibraryA and GetProcAddress by each function's plain name, then a
 * session on the virtual board (VELNOR_BENCH): USB cable 0, configuration
 * from the .bit file given, status, one byte through user channel 1, free.
 *   by_name_caller BITFILE */
#include <stdint.h>
#include <stdio.h>
#include <windows.h>

typedef uint32_t(__stdcall* Init)(uint32_t);
typedef uint32_t(__stdcall* NoArguments)(void);
typedef uint32_t(__stdcall* GetStatus)(uint32_t*, uint32_t*, uint32_t*);
typedef uint32_t(__stdcall* Config)(const void*, int32_t*);
typedef uint32_t(__stdcall* SpiXfer)(uint8_t, const uint8_t*, uint8_t*, int32_t*);

static const char* const export_names[] = {
    "velnor_init",        "velnor_free",           "velnor_check_daisychain", "velnor_get_status",
    "velnor_shutdown",    "velnor_config",         "velnor_spi_xfer",         "jmem_access",
    "velnor_cfgrom_read", "velnor_cfgrom_program", "velnor_cfgrom_erase",
};

/* GetProcAddress returns a generic function pointer; each is called as what
 * it is. */
#define AS(type, function) ((type)(void (*)(void))(function))

static int failures = 0;
static void check(int ok, const char* what, uint32_t value) {
  printf("%s %s (0x%08lX)\n", ok ? "ok  " : "FAIL", what, (unsigned long)value);
  if (!ok) ++failures;
}

int main(int argc, char** argv) {
  HMODULE library;
  FARPROC functions[sizeof export_names / sizeof export_names[0]];
  size_t i;
  uint32_t idcode = 0, status = 0, usercode = 0;
  int32_t count = 0;
  uint8_t transmit = 0x5A, receive = 0;
  if (argc != 2) {
    fprintf(stderr, "usage: by_name_caller BITFILE\n");
    return 2;
  }
  library = LoadLibraryA("velnor.dll");
  if (library == NULL) {
    printf("FAIL LoadLibraryA velnor.dll: error %lu\n", GetLastError());
    return 1;
  }
  for (i = 0; i < sizeof export_names / sizeof export_names[0]; ++i) {
    functions[i] = GetProcAddress(library, export_names[i]);
    check(functions[i] != NULL, export_names[i], 0);
  }
  if (failures != 0) return 1;
  check(AS(Init, functions[0])(0x00010000) == 0, "init USB cable 0", 0);
  {
    const uint32_t result = AS(Config, functions[5])(argv[1], &count);
    check(result == 0 && count == 0, "config from file", result);
  }
  {
    const uint32_t result = AS(GetStatus, functions[3])(&idcode, &status, &usercode);
    check(result == 0 && idcode != 0 && (status & 0x4000) != 0, "status, DONE set", status);
  }
  count = 1;
  {
    const uint32_t result = AS(SpiXfer, functions[6])(1, &transmit, &receive, &count);
    check(result == 0, "user channel 1, one byte", result);
  }
  check(AS(NoArguments, functions[1])() == 0, "free", 0);
  FreeLibrary(library);
  return failures == 0 ? 0 : 1;
}
