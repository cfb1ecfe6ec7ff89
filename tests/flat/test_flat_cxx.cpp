// A C++ host of the plain function interface: u"" literals and u16string
// text pass to the W functions as they are, without casts.
#include <cstdio>
#include <string>

#include "vm/MoxFlatInterface.h"

int main() {
  int failures = 0;
  const std::u16string name = u"pick";
  const char16_t* argv[] = {u"\u00e9t\u00e9", u"x"};
  MoxVMHandle vm = Mox_CreateVM(nullptr);
  if (Mox_CompileTextW(vm, u"pick(a, b) { return strlen(a) * 10 + strlen(b); }", 0, 0, nullptr,
                       nullptr) != 1)
    ++failures;
  if (Mox_ExecuteW(vm, name.c_str(), 2, argv, 0, nullptr, nullptr) != 1) ++failures;
  if (Mox_GetIntResult(vm) != 31) ++failures;
  if (Mox_ReleaseVM(vm) != 1) ++failures;
  if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}
