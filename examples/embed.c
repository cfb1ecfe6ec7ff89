/* embed.c - a C host running mox through the library's plain function
 * interface: it compiles a script held in memory, calls one of its functions
 * with arguments and reads the result, and routes everything the script
 * prints through a function of its own.
 *
 * Build it against the library with any C99 compiler, for example
 *   cc -std=c99 -I<mox source folder> embed.c -L<folder of libmoxlib.so> -lmoxlib
 */
#include <stdio.h>
#include <string.h>

#include "vm/MoxFlatInterface.h"

static const char* const kScript =
    "// Multiplies two numbers given as text.\n"
    "area(width, height; a) {\n"
    "  a = int(width) * int(height);\n"
    "  print(\"área \", width, \" × \", height, \" = \", a, \"\\n\");\n"
    "  return a;\n"
    "}\n";

/* Every piece of the script's output arrives here as UTF-8 (one call per
 * printed value); it is collected and shown once the run is over. */
static char output[256];

static void collectOutput(const char* text) {
  size_t used = strlen(output);
  size_t room = sizeof output - used - 1;
  strncat(output + used, text, room);
}

int main(void) {
  static const char* const args[] = {"6", "7"};
  MoxPrinterHandle printer = Mox_CreateCallbackPrinter(collectOutput);
  MoxVMHandle vm = Mox_CreateVM(printer);
  int status = 1;

  /* Compile errors and the error text of a failed run go to the printer. */
  if (vm == NULL) {
    fputs("cannot create the virtual machine\n", stderr);
  } else if (!Mox_CompileTextA(vm, kScript, 0, 0, NULL, NULL)) {
    fprintf(stderr, "the script does not compile:\n%s", output);
  } else if (!Mox_ExecuteA(vm, "area", 2, args, 0, NULL, NULL)) {
    fprintf(stderr, "the script failed:\n%s", output);
  } else {
    printf("script printed: %s", output);
    printf("result: %ld\n", (long)Mox_GetIntResult(vm));
    status = 0;
  }

  Mox_ReleaseVM(vm);
  Mox_ReleasePrinter(printer);
  return status;
}
