/* A C host that knows mox only through pkg-config and the flat interface. */
#include <stdio.h>

#include "vm/MoxFlatInterface.h"

static void show(const char* text) { printf("[%s]", text); }

int main(void) {
  MoxPrinterHandle printer = Mox_CreateCallbackPrinter(show);
  MoxVMHandle vm = Mox_CreateVM(printer);
  int ok = Mox_CompileTextA(vm, "main() { print(\"from C\"); return 5; }", 0, 0, NULL, NULL) &&
           Mox_ExecuteA(vm, "main", 0, NULL, 0, NULL, NULL);
  printf("\nok %d result %d\n", ok, (int)Mox_GetIntResult(vm));
  Mox_ReleaseVM(vm);
  Mox_ReleasePrinter(printer);
  return ok ? 0 : 1;
}
