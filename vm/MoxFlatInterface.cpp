// The plain C entry points: each is a thin wrapper around one machine
// operation or one printer constructor.
#include "vm/MoxFlatInterface.h"

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <new>
#include <type_traits>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

static_assert(std::is_same<MoxWChar, MoxChar>::value, "wide text is the library's own text");
static_assert(std::is_same<MoxDbgWaitProc, MoxVirtualMachine::WaitProc>::value,
              "the wait procedure passes through unchanged");
static_assert(std::is_same<MoxPrintProc, MoxCallbackPrinter::Callback>::value,
              "the print procedure passes through unchanged");

namespace {

MoxVirtualMachine* machine(MoxVMHandle vm) { return reinterpret_cast<MoxVirtualMachine*>(vm); }

IMoxPrinter* printer(MoxPrinterHandle p) { return reinterpret_cast<IMoxPrinter*>(p); }

MoxPrinterHandle handle(IMoxPrinter* p) { return reinterpret_cast<MoxPrinterHandle>(p); }

int result(bool ok) { return ok ? 1 : 0; }

// Private UTF-16 copies of a caller's argument words, alive for one call.
class ArgCopies {
 public:
  template <typename Text>
  ArgCopies(int argc, const Text* const* argv) : count_(argv != nullptr && argc > 0 ? argc : 0) {
    if (count_ == 0) return;
    strings_ = static_cast<MoxString*>(mox::allocmem(sizeof(MoxString) * count_));
    pointers_ = static_cast<const MoxChar**>(mox::allocmem(sizeof(MoxChar*) * count_));
    for (int i = 0; i < count_; ++i) {
      ::new (&strings_[i]) MoxString(argv[i]);  // a null word is the empty string
      pointers_[i] = strings_[i].c_str();
    }
  }
  ~ArgCopies() {
    for (int i = 0; i < count_; ++i) strings_[i].~MoxString();
    free(strings_);
    free(pointers_);
  }
  ArgCopies(const ArgCopies&) = delete;
  ArgCopies& operator=(const ArgCopies&) = delete;

  int count() const { return count_; }
  const MoxChar** words() const { return pointers_; }

 private:
  int count_;
  MoxString* strings_ = nullptr;
  const MoxChar** pointers_ = nullptr;
};

template <typename Text>
int execute(MoxVMHandle vm, const Text* name, int argc, const Text* const* argv, int trace,
            MoxPrinterHandle errorPrinter, MoxPrinterHandle tracePrinter) {
  if (!vm || !name) return 0;
  ArgCopies args(argc, argv);
  MoxString fn(name);
  return result(machine(vm)->execute(fn.c_str(), args.count(), args.words(), trace != 0,
                                     printer(errorPrinter), printer(tracePrinter)));
}

// Compiling from a file or from text differ only in the machine operation.
typedef bool (MoxVirtualMachine::*CompileOp)(const MoxChar*, bool, bool, IMoxPrinter*,
                                             IMoxPrinter*);

template <typename Text>
int compile(CompileOp op, MoxVMHandle vm, const Text* source, int showInfo, int debug,
            MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter) {
  if (!vm || !source) return 0;
  MoxString text(source);
  return result((machine(vm)->*op)(text.c_str(), showInfo != 0, debug != 0,
                                   printer(compilerPrinter), printer(debugPrinter)));
}

typedef bool (MoxVirtualMachine::*ModuleOp)(const MoxChar*);

template <typename Text>
int moduleFile(ModuleOp op, MoxVMHandle vm, const Text* path) {
  if (!vm || !path) return 0;
  MoxString p(path);
  return result((machine(vm)->*op)(p.c_str()));
}

// Copies as much of text as fits before a terminator, never cutting a
// character in two; returns the whole text's length.
template <typename Unit>
int copyOut(const std::basic_string<Unit>& text, Unit* buffer, int size) {
  if (buffer && size > 0) {
    size_t n = text.size() < size_t(size) ? text.size() : size_t(size) - 1;
    if (n < text.size()) {
      // Back off to the start of the character the cut falls in.
      if (sizeof(Unit) == 1)
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
      else if (text[n] >= 0xDC00 && text[n] <= 0xDFFF && n > 0)
        --n;
    }
    std::copy(text.begin(), text.begin() + n, buffer);
    buffer[n] = 0;
  }
  return text.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(text.size());
}

}  // namespace

extern "C" {

MoxVMHandle Mox_CreateVM(MoxPrinterHandle p) {
  return reinterpret_cast<MoxVMHandle>(new (std::nothrow) MoxVirtualMachine(printer(p)));
}

int Mox_ReleaseVM(MoxVMHandle vm) {
  if (!vm) return 0;
  delete machine(vm);
  return 1;
}

int Mox_CompileFileA(MoxVMHandle vm, const char* path, int showInfo, int debug,
                     MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter) {
  return compile(&MoxVirtualMachine::compileFile, vm, path, showInfo, debug, compilerPrinter,
                 debugPrinter);
}

int Mox_CompileFileW(MoxVMHandle vm, const MoxWChar* path, int showInfo, int debug,
                     MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter) {
  return compile(&MoxVirtualMachine::compileFile, vm, path, showInfo, debug, compilerPrinter,
                 debugPrinter);
}

int Mox_CompileTextA(MoxVMHandle vm, const char* text, int showInfo, int debug,
                     MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter) {
  return compile(&MoxVirtualMachine::compileText, vm, text, showInfo, debug, compilerPrinter,
                 debugPrinter);
}

int Mox_CompileTextW(MoxVMHandle vm, const MoxWChar* text, int showInfo, int debug,
                     MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter) {
  return compile(&MoxVirtualMachine::compileText, vm, text, showInfo, debug, compilerPrinter,
                 debugPrinter);
}

int Mox_ExecuteA(MoxVMHandle vm, const char* name, int argc, const char* const* argv, int trace,
                 MoxPrinterHandle errorPrinter, MoxPrinterHandle tracePrinter) {
  return execute(vm, name, argc, argv, trace, errorPrinter, tracePrinter);
}

int Mox_ExecuteW(MoxVMHandle vm, const MoxWChar* name, int argc, const MoxWChar* const* argv,
                 int trace, MoxPrinterHandle errorPrinter, MoxPrinterHandle tracePrinter) {
  return execute(vm, name, argc, argv, trace, errorPrinter, tracePrinter);
}

int Mox_WriteModuleA(MoxVMHandle vm, const char* path) {
  return moduleFile(&MoxVirtualMachine::writeModule, vm, path);
}

int Mox_WriteModuleW(MoxVMHandle vm, const MoxWChar* path) {
  return moduleFile(&MoxVirtualMachine::writeModule, vm, path);
}

int Mox_ReadModuleA(MoxVMHandle vm, const char* path) {
  return moduleFile(&MoxVirtualMachine::readModule, vm, path);
}

int Mox_ReadModuleW(MoxVMHandle vm, const MoxWChar* path) {
  return moduleFile(&MoxVirtualMachine::readModule, vm, path);
}

int32_t Mox_GetIntResult(MoxVMHandle vm) {
  if (!vm) return MOX_NO_INT_RESULT;
  return static_cast<int32_t>(machine(vm)->getResult());
}

void Mox_Reinit(MoxVMHandle vm) {
  if (vm) machine(vm)->reinit();
}

int Mox_SetCapabilities(MoxVMHandle vm, unsigned int caps) {
  if (!vm) return 0;
  machine(vm)->setCapabilities(caps);
  return 1;
}

unsigned int Mox_GetCapabilities(MoxVMHandle vm) { return vm ? machine(vm)->getCapabilities() : 0; }

int Mox_SetMemoryLimit(MoxVMHandle vm, uint64_t bytes) {
  if (!vm) return 0;
  machine(vm)->setMemoryLimit(bytes > SIZE_MAX ? SIZE_MAX : size_t(bytes));
  return 1;
}

uint64_t Mox_GetMemoryUsed(MoxVMHandle vm) { return vm ? machine(vm)->getMemoryUsed() : 0; }

int Mox_SetInstructionLimit(MoxVMHandle vm, uint64_t count) {
  if (!vm) return 0;
  machine(vm)->setInstructionLimit(count);
  return 1;
}

void Mox_SetBlockLimit(uint64_t bytes) {
  mox::setBlockLimit(bytes > SIZE_MAX ? SIZE_MAX : size_t(bytes));
}

int Mox_Interrupt(MoxVMHandle vm) { return vm && machine(vm)->interrupt() ? 1 : 0; }

MoxPrinterHandle Mox_CreateConsolePrinter(void) {
  return handle(new (std::nothrow) MoxFileStreamPrinter(stdout, false));
}

MoxPrinterHandle Mox_CreateCallbackPrinter(MoxPrintProc proc) {
  if (!proc) return nullptr;
  return handle(new (std::nothrow) MoxCallbackPrinter(proc));
}

int Mox_ReleasePrinter(MoxPrinterHandle p) {
  if (!p) return 0;
  delete printer(p);
  return 1;
}

MoxDbgWaitProc Mox_SetDbgWaitProc(MoxVMHandle vm, MoxDbgWaitProc proc) {
  if (!vm) return nullptr;
  return machine(vm)->setDbgWaitProc(proc);
}

int Mox_GetErrorTraceA(MoxVMHandle vm, char* buffer, int size) {
  if (!vm) return 0;
  const MoxChar* trace = machine(vm)->getErrorTrace();
  std::string text;
  moxUtf8Encode(trace, moxStrLen(trace), text);
  return copyOut(text, buffer, size);
}

int Mox_GetErrorTraceW(MoxVMHandle vm, MoxWChar* buffer, int size) {
  if (!vm) return 0;
  return copyOut(std::u16string(machine(vm)->getErrorTrace()), buffer, size);
}

}  // extern "C"
