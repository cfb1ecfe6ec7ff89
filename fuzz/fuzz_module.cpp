// libFuzzer target: arbitrary bytes read as a module file, then "main" run
// when the module defines one; the same bytes are also read as a single
// value from a stream of unknown length.
//
// Build by hand from the repository root (clang with libFuzzer):
//   clang++ -std=c++17 -g -O1 -fno-exceptions -fsanitize=fuzzer,address,undefined \
//     -DMOX_BUILDING_LIB -I. core/*.cpp compiler/*.cpp interpreter/*.cpp vm/*.cpp \
//     modules/*.cpp debugger/*.cpp stdlib/*.cpp fuzz/fuzz_module.cpp -ldl -o build/fuzz_module
// Run (leak detection off: a module may legitimately hold reference cycles,
// such as an object whose member refers to itself, which counting never
// frees; the unit tests cover the reader's own releases):
//   build/fuzz_module -max_len=4096 -timeout=5 -detect_leaks=0 fuzz/corpus/module
//
// The machine's symbol table is emptied before reading, so a module can
// reach no native function: the run exercises the reader, the interpreter
// and the tracer, never the file system or native libraries. Code with a
// backward branch is not run (it may loop forever, which is a property of
// the program, not a fault).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "interpreter/MoxOpCodes.h"
#include "modules/MoxDictionaryIO.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// True when the code of proc never branches backwards.
bool onlyForwardBranches(MoxVector* proc) {
  if (!proc || proc->size() == 0) return true;
  MoxBuffer* code = (*proc)[0];
  if (!code) return true;
  unsigned width = 1;
  size_t pc = 0;
  while (pc < code->size()) {
    MoxInstruction ins;
    if (!moxDecodeInstruction(code->data(), code->size(), pc, &width, &ins)) return true;
    if (ins.kind == MOK_TARGET && ins.operand <= pc) return false;
    pc += ins.length;
  }
  return true;
}

// Walks everything reachable from a value (bounded in depth, each object
// once) and answers whether every procedure met is loop-free.
class RunnableCheck {
 public:
  bool value(const MoxValue& v, int depth) {
    if (depth > 64) return false;
    MoxRefObject* ref = v.getRef();
    if (!ref || v.getType() == MVT_VAR) {
      if (v.getType() != MVT_VAR) return true;
      MoxDictionaryEntry* e = v;
      return !e || value(e->getValue(), depth + 1);
    }
    if (v.getType() < MVT_BYTECODE || v.getType() == MVT_CODEREF) return true;
    for (const void* p : seen_)
      if (p == ref) return true;
    if (seen_.size() > 100000) return false;
    seen_.push_back(ref);
    switch (v.getType()) {
      case MVT_BYTECODE: case MVT_BYTECODEREF: case MVT_VECTOR: case MVT_VECTORREF: {
        MoxVector* vec = v;
        if ((v.getType() == MVT_BYTECODE || v.getType() == MVT_BYTECODEREF) && !onlyForwardBranches(vec))
          return false;
        // A vector's first element may be run as code too.
        if (vec->size() > 0 && !onlyForwardBranches(vec)) return false;
        for (unsigned i = 0; i < vec->size(); ++i)
          if (!value((*vec)[i], depth + 1)) return false;
        return true;
      }
      case MVT_CLASS: case MVT_CLASSREF: {
        MoxClass* cls = v;
        return dict(cls->dataMembers(), depth + 1) && dict(cls->funcMembers(), depth + 1);
      }
      case MVT_OBJECT: case MVT_OBJECTREF: {
        MoxObject* obj = v;
        MoxVector* data = obj->getMemberData();
        if (!data) return true;
        for (unsigned i = 0; i < data->size(); ++i)
          if (!value((*data)[i], depth + 1)) return false;
        return true;
      }
      case MVT_DICTIONARY: case MVT_DICTIONARYREF:
        return dict(static_cast<MoxDictionary*>(v), depth + 1);
      default:
        return true;
    }
  }
  bool dict(MoxDictionary* d, int depth) {
    if (!d) return true;
    for (MoxDictionaryEntry* e = d->getFirst(); e; e = e->getNext())
      if (!value(e->getValue(), depth)) return false;
    return true;
  }

 private:
  std::vector<const void*> seen_;
};

const std::string& inputPath() {
  static const std::string path = "/tmp/mox_fuzz_module_" + std::to_string(getpid()) + ".mxm";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = fopen(inputPath().c_str(), "wb");
  if (!f) return 0;
  if (size) fwrite(data, 1, size, f);
  fclose(f);

  MoxDummyPrinter quiet;
  MoxVirtualMachine vm(&quiet);
  vm.symbols().clear();
  MoxString path(inputPath().c_str());
  bool ok = vm.readModule(path.c_str());
  // Procedures reachable from anywhere (functions, methods, values held in
  // variables) must be loop-free before anything runs.
  RunnableCheck check;
  if (ok && vm.symbols().find(MoxString(u"main")) && check.dict(&vm.symbols(), 0) &&
      check.dict(&vm.classes(), 0)) {
    MoxDummyPrinter errors;
    vm.execute(u"main", 0, nullptr, false, &errors, &errors);
  }
  // Writing back what was read must work on whatever the reader accepted.
  if (ok) {
    vm.writeModule(path.c_str());
  }
  // The same bytes as one value, from a stream of unknown length.
  if (size) {
    FILE* mem = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (mem) {
      MoxDictionaryIO io(vm);
      MoxValue value;
      io.readSingleValue(mem, value);
      fclose(mem);
    }
  }
  return 0;
}
