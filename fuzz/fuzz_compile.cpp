// libFuzzer target: compiles arbitrary bytes into a fresh machine.
//
// Not part of the CMake build. Build and run from the repository root:
//   clang++ -std=c++17 -g -O1 -fno-exceptions -fsanitize=fuzzer,address,undefined \
//     -I. -DMOX_BUILDING_LIB core/*.cpp compiler/*.cpp interpreter/*.cpp vm/*.cpp \
//     modules/*.cpp debugger/*.cpp stdlib/*.cpp fuzz/fuzz_compile.cpp -ldl -o fuzz_compile
//   mkdir -p /tmp/fuzzwork && cd /tmp/fuzzwork && \
//     $OLDPWD/fuzz_compile -max_total_time=300 -dict=$OLDPWD/fuzz/compile.dict \
//       $OLDPWD/fuzz/corpus/compile
//
// The first byte chooses the source: odd values feed the rest through a
// stdio stream (the UTF-8 decoding path), even values as UTF-16 text built
// from byte pairs. Inputs that name devices or pseudo file systems (an
// include of /dev/zero never ends) or load native libraries are skipped:
// they test the host, not the compiler.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/MoxCompiler.h"
#include "fuzz/FuzzSupport.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (fuzzContains(data, size, "/dev") || fuzzContains(data, size, "/proc") ||
      fuzzContains(data, size, "/sys") || fuzzContains(data, size, "import"))
    return 0;
  MoxDummyPrinter out;
  MoxVirtualMachine vm(&out);
  MoxCompiler compiler(vm, &out);
  if (data[0] & 1) {
    FILE* f = fmemopen(const_cast<uint8_t*>(data + 1), size - 1 > 0 ? size - 1 : 1, "r");
    if (f == nullptr) return 0;
    compiler.compile(f, u"fuzz.mox");
    fclose(f);
  } else {
    std::u16string text;
    for (size_t i = 1; i + 1 < size; i += 2) text += char16_t(data[i] | (data[i + 1] << 8));
    compiler.compile(text.c_str(), u"fuzz.mox");
  }
  return 0;
}
