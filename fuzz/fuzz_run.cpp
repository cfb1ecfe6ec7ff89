// libFuzzer target: compiles arbitrary bytes (UTF-8 source) and runs "main"
// under an instruction budget.
//
// Not part of the CMake build. Build and run from the repository root:
//   clang++ -std=c++17 -g -O1 -fno-exceptions -fsanitize=fuzzer,address,undefined \
//     -I. -DMOX_BUILDING_LIB core/*.cpp compiler/*.cpp interpreter/*.cpp vm/*.cpp \
//     modules/*.cpp debugger/*.cpp stdlib/*.cpp fuzz/fuzz_run.cpp -ldl -o build/fuzz_run
//   ASAN_OPTIONS=detect_leaks=0 build/fuzz_run -max_len=4096 -timeout=10 -detect_leaks=0 \
//     -dict=fuzz/compile.dict fuzz/corpus/run
// (leaks are off for the same reason as for fuzz_module: counted cycles.)
//
// The script reaches no file, stream, environment, compiler or native
// library function: those names are bound to a stub that fails the call, so
// programs that use them still compile and run up to that point.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compiler/MoxCompiler.h"
#include "fuzz/FuzzSupport.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "interpreter/MoxInterpreter.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Enough for loops of some thousand rounds, small enough for a fast run.
const uint64_t kBudget = 200000;

const MoxChar* const kBlocked[] = {
    u"fopen", u"fclose", u"feof", u"getc", u"putc", u"gets", u"fgets", u"fputs",
    u"freadval", u"fwriteval", u"fread", u"fwrite", u"getwc", u"putwc", u"fgetws",
    u"fputws", u"getenv", u"setenv", u"compile", u"loadmodule", u"addr",
    u"LoadLibrary", u"FreeLibrary", u"GetProcAddress", u"CallLibFunc"};
const MoxChar* const kStreams[] = {u"stdin", u"stdout", u"stderr"};

bool blocked(MoxVirtualMachine* vm, int, ValPtr&) {
  return vm->interpreter()->returnError(u"not available in the fuzz run", nullptr);
}

void sandbox(MoxVirtualMachine& vm) {
  for (const MoxChar* name : kBlocked) vm.symbols()[MoxString(name)].setValue(MoxValue(blocked));
  for (const MoxChar* name : kStreams) vm.symbols()[MoxString(name)].setValue(MoxValue());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An include reads files at compile time; that is the compile target's
  // business, not this one's.
  if (size == 0 || fuzzContains(data, size, "include") || fuzzContains(data, size, "import")) return 0;
  // Counts beyond a few megabytes are refused like absurd ones, so a run
  // never trips the fuzzer's own memory limit.
  mox::setBlockLimit(size_t(64) << 20);
  MoxDummyPrinter out;
  MoxVirtualMachine vm(&out);
  sandbox(vm);
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  MoxCompiler compiler(vm, &out);
  const bool compiled = compiler.compile(f, u"fuzz.mox");
  fclose(f);
  if (!compiled) return 0;
  vm.setInstructionLimit(kBudget);
  const MoxChar* argv[] = {u"fuzz", u"1"};
  vm.execute(u"main", 2, argv, false, &out, &out);
  return 0;
}
