// libFuzzer target: arbitrary bytes run as a procedure's code twice, once
// translated and once from the bytes alone, and the two runs must end
// alike: the same success, error text and whole stack (the slots above the
// top included). Branch targets are bent forward first, so every run ends.
//
// Not part of the CMake build. Build and run from the repository root:
//   clang++ -std=c++17 -g -O1 -fno-exceptions -fsanitize=fuzzer,address,undefined \
//     -I. -DMOX_BUILDING_LIB core/*.cpp compiler/*.cpp interpreter/*.cpp vm/*.cpp \
//     modules/*.cpp debugger/*.cpp stdlib/*.cpp fuzz/fuzz_steps.cpp -ldl -o build/fuzz_steps
//   ASAN_OPTIONS=detect_leaks=0 build/fuzz_steps -max_len=255 -detect_leaks=0 fuzz/corpus/steps
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compiler/MoxCompiler.h"
#include "core/MoxBuffer.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// Numbers, null and one vector: nothing whose address could show in a
// result (strings and buffers take any value's first 32 bits, two objects
// of one kind compare by address).
MoxVector* makeProc(const std::vector<uint8_t>& code) {
  MoxVector* proc = new MoxVector();
  MoxBuffer* buf = new MoxBuffer();
  for (uint8_t b : code) buf->push_back(b);
  proc->push_back(MoxValue(buf));
  proc->push_back(MoxValue());
  proc->push_back(MoxValue(new MoxString(u"f")));
  MoxVector* v = new MoxVector();
  for (int i = 0; i < 4; ++i) v->push_back(MoxValue(int32_t(i * 10)));
  const MoxValue literals[] = {MoxValue(int32_t(0)), MoxValue(int32_t(1)), MoxValue(int32_t(-2)),
                               MoxValue(2.5),        MoxValue(),           MoxValue(v)};
  for (const MoxValue& l : literals) proc->push_back(l);
  return proc;
}

// Every byte that is a branch opcode gets a forward target within the code
// as its operand. Code is at most 255 bytes, so a target's bytes are its
// low byte (5 or more) and zeros, none of them a branch opcode that a jump
// into the operand could run.
const size_t kMaxCode = 255;

std::vector<uint8_t> forwardOnly(const uint8_t* data, size_t size) {
  std::vector<uint8_t> code(data, data + (size < kMaxCode ? size : kMaxCode));
  for (size_t pc = 0; pc < code.size(); ++pc) {
    const uint8_t op = code[pc];
    if ((op == OP_BR || op == OP_BRT || op == OP_BRF) && code.size() - pc > MOX_BRANCH_SIZE) {
      const uint32_t from = uint32_t(pc + 1 + MOX_BRANCH_SIZE);
      const uint32_t span = uint32_t(code.size()) - from + 1;
      moxWriteLE32(&code[pc + 1], from + moxReadBranch(code.data(), pc + 1) % span);
      pc += MOX_BRANCH_SIZE;
    }
  }
  return code;
}

// Runs main, which calls the procedure with three numbers, and describes
// how it ended.
std::string outcome(MoxVirtualMachine& vm, bool plain, const std::vector<uint8_t>& code) {
  MoxInterpreter* in = new MoxInterpreter(vm);
  MoxDictionaryEntry& f = vm.symbols()[MoxString(u"f")];
  f.setValue(MoxValue(makeProc(code), true));
  f.setSymbolType(SYM_FUNCTION);
  in->setTranslation(!plain);
  const bool ok = in->execute(u"main", 0, nullptr);
  std::string errors;
  moxUtf8Encode(in->errors().c_str(), in->errors().length(), errors);
  std::string s = (ok ? "ok|" : "failed|") + errors + "|";
  s += "top " + std::to_string(in->sp().current()) + "|";
  // Slots past the last non-null one are left out: the block may have
  // grown at different moments.
  int last = int(in->size()) - 1;
  while (last >= 0 && (*in)[unsigned(last)].type() == MVT_NULL) --last;
  for (int i = 0; i <= last; ++i) {
    const MoxValue& v = (*in)[unsigned(i)];
    s += std::to_string(int(v.type()));
    if (v.type() == MVT_INTEGER) s += "=" + std::to_string(int32_t(v));
    else if (v.type() == MVT_DOUBLE) s += "=" + std::to_string(double(v));
    s += " ";
  }
  delete in;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> code = forwardOnly(data, size);
  std::string seen[2];
  for (int plain = 0; plain < 2; ++plain) {
    MoxDummyPrinter quiet;
    MoxVirtualMachine vm(&quiet);
    if (!vm.compileText(u"main(;r) { r = f(7, 300, -1); return r; }")) abort();
    seen[plain] = outcome(vm, plain != 0, code);
  }
  if (seen[0] != seen[1]) {
    fprintf(stderr, "translated: %s\nbytes: %s\n", seen[0].c_str(), seen[1].c_str());
    abort();
  }
  return 0;
}
