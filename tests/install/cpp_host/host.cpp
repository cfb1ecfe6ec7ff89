// Compiles a script, runs it, and reads its result, using only the
// installed headers and library.
#include <cstdio>

#include "MoxVersion.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

int main() {
  MoxFileStreamPrinter out(stdout, false);
  int result = -1;
  {
    MoxVirtualMachine vm(&out);
    if (!vm.compileText(u"main() { print(\"host runs mox\\n\"); return 6 * 7; }")) return 1;
    if (!vm.execute(u"main")) return 1;
    result = static_cast<int32_t>(vm.getResult());
  }
  std::printf("result %d, version %s\n", result, MOX_VERSION);
  return 0;
}
