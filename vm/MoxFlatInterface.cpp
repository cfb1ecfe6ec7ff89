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
#include "vm/MoxHost.h"
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

// The value of a global, null when there is none. (Out of the extern "C"
// block: it returns a C++ type.)
MoxValue globalOf(MoxVMHandle vm, const char* name) {
  return vm && name ? machine(vm)->getGlobal(MoxString(name).c_str()) : MoxValue();
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

int Mox_SetTranslation(MoxVMHandle vm, int on) {
  if (!vm) return 0;
  machine(vm)->setTranslation(on != 0);
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

namespace {

int typeOf(const MoxValue& v) {
  switch (v.type()) {
    case MVT_NULL: return MOX_TYPE_NULL;
    case MVT_INTEGER: return MOX_TYPE_INT;
    case MVT_FLOAT:
    case MVT_DOUBLE: return MOX_TYPE_DOUBLE;
    case MVT_STRING:
    case MVT_STRINGREF: return v.getRef() ? MOX_TYPE_STRING : MOX_TYPE_NULL;
    case MVT_VECTOR:
    case MVT_VECTORREF: return MOX_TYPE_VECTOR;
    case MVT_DICTIONARY:
    case MVT_DICTIONARYREF: return MOX_TYPE_DICTIONARY;
    case MVT_OBJECT:
    case MVT_OBJECTREF: return MOX_TYPE_OBJECT;
    default: return MOX_TYPE_OTHER;
  }
}

double doubleOf(const MoxValue& v) {
  double d = 0;
  return mox::asDouble(v, &d) ? d : 0;
}

int stringOut(const MoxValue& v, char* buffer, int size) {
  std::string text;
  if (!mox::asString(v, &text)) return -1;
  return copyOut(text, buffer, size);
}

int push(MoxVMHandle vm, const MoxValue& v) {
  if (!vm) return 0;
  machine(vm)->pendingArguments().push_back(v);
  return 1;
}

// One call of a native written in C: its arguments and what it returns.
struct HostCall {
  MoxVirtualMachine* vm;
  int argc;
  const MoxValue* args;  // argument 0 first
  MoxValue result;
  std::string failure;
  bool failed = false;
};

HostCall* hostCall(MoxCallHandle c) { return reinterpret_cast<HostCall*>(c); }

const MoxValue* argAt(MoxCallHandle c, int index) {
  HostCall* call = hostCall(c);
  if (!call || index < 0 || index >= call->argc) return nullptr;
  return &call->args[index];
}

}  // namespace

int Mox_PushInt(MoxVMHandle vm, int32_t value) { return push(vm, MoxValue(value)); }
int Mox_PushDouble(MoxVMHandle vm, double value) { return push(vm, MoxValue(value)); }
int Mox_PushStringA(MoxVMHandle vm, const char* value) { return push(vm, mox::value(value)); }
int Mox_PushNull(MoxVMHandle vm) { return push(vm, MoxValue()); }

int Mox_Call(MoxVMHandle vm, const char* name, int nargs) {
  if (!vm) return 0;
  std::vector<MoxValue>& pending = machine(vm)->pendingArguments();
  if (nargs < 0 || size_t(nargs) > pending.size()) nargs = int(pending.size());
  // Taken off the list first: the script may call back into the host, which
  // may push and call in turn.
  std::vector<MoxValue> args(pending.end() - nargs, pending.end());
  pending.resize(pending.size() - size_t(nargs));
  if (!name) return 0;
  return result(machine(vm)->executeValues(MoxString(name).c_str(), nargs, args.data()));
}

int Mox_GetResultType(MoxVMHandle vm) { return vm ? typeOf(machine(vm)->getResult()) : MOX_TYPE_NULL; }

double Mox_GetDoubleResult(MoxVMHandle vm) { return vm ? doubleOf(machine(vm)->getResult()) : 0; }

int Mox_GetStringResultA(MoxVMHandle vm, char* buffer, int size) {
  return vm ? stringOut(machine(vm)->getResult(), buffer, size) : -1;
}

int Mox_GetErrorTextA(MoxVMHandle vm, char* buffer, int size) {
  if (!vm) return 0;
  const MoxChar* text = machine(vm)->getErrorText();
  std::string narrow;
  moxUtf8Encode(text, moxStrLen(text), narrow);
  return copyOut(narrow, buffer, size);
}

int Mox_RegisterFunction(MoxVMHandle vm, const char* name, MoxHostProc proc, void* userdata) {
  if (!vm || !name || !proc) return 0;
  auto native = [proc, userdata](MoxVirtualMachine* m, int argc, ValPtr& args) {
    ValPtr base(args);
    base -= argc;
    HostCall call{m, argc, argc > 0 ? &base[1] : nullptr, MoxValue(), std::string()};
    const int ok = proc(reinterpret_cast<MoxCallHandle>(&call), userdata);
    if (!ok || call.failed) {
      return mox::detail::failWith(
          m, call.failed ? call.failure : std::string("native function failed"));
    }
    return mox::detail::finish(m, argc, args, call.result);
  };
  return result(machine(vm)->registerHostFunction(MoxString(name).c_str(), native));
}

int Mox_ArgCount(MoxCallHandle call) { return call ? hostCall(call)->argc : 0; }

int Mox_ArgType(MoxCallHandle call, int index) {
  const MoxValue* v = argAt(call, index);
  return v ? typeOf(*v) : MOX_TYPE_NULL;
}

int32_t Mox_ArgInt(MoxCallHandle call, int index) {
  const MoxValue* v = argAt(call, index);
  if (!v) return 0;
  if (v->type() == MVT_INTEGER) return static_cast<int32_t>(*v);
  const double d = doubleOf(*v);
  return d >= -2147483648.0 && d <= 2147483647.0 ? int32_t(d) : 0;
}

double Mox_ArgDouble(MoxCallHandle call, int index) {
  const MoxValue* v = argAt(call, index);
  return v ? doubleOf(*v) : 0;
}

int Mox_ArgStringA(MoxCallHandle call, int index, char* buffer, int size) {
  const MoxValue* v = argAt(call, index);
  return v ? stringOut(*v, buffer, size) : -1;
}

void Mox_ReturnInt(MoxCallHandle call, int32_t value) {
  if (call) hostCall(call)->result = MoxValue(value);
}
void Mox_ReturnDouble(MoxCallHandle call, double value) {
  if (call) hostCall(call)->result = MoxValue(value);
}
void Mox_ReturnStringA(MoxCallHandle call, const char* value) {
  if (call) hostCall(call)->result = mox::value(value);
}
void Mox_ReturnNull(MoxCallHandle call) {
  if (call) hostCall(call)->result = MoxValue();
}

int Mox_Fail(MoxCallHandle call, const char* message) {
  if (!call) return 0;
  hostCall(call)->failed = true;
  hostCall(call)->failure = message ? message : "";
  return 0;
}

int Mox_SetGlobalInt(MoxVMHandle vm, const char* name, int32_t value) {
  return vm && name && machine(vm)->setGlobal(MoxString(name).c_str(), MoxValue(value)) ? 1 : 0;
}
int Mox_SetGlobalDouble(MoxVMHandle vm, const char* name, double value) {
  return vm && name && machine(vm)->setGlobal(MoxString(name).c_str(), MoxValue(value)) ? 1 : 0;
}
int Mox_SetGlobalStringA(MoxVMHandle vm, const char* name, const char* value) {
  return vm && name && machine(vm)->setGlobal(MoxString(name).c_str(), mox::value(value)) ? 1 : 0;
}
int Mox_SetGlobalNull(MoxVMHandle vm, const char* name) {
  return vm && name && machine(vm)->setGlobal(MoxString(name).c_str(), MoxValue()) ? 1 : 0;
}

int Mox_GetGlobalType(MoxVMHandle vm, const char* name) { return typeOf(globalOf(vm, name)); }
int32_t Mox_GetGlobalInt(MoxVMHandle vm, const char* name) {
  return mox::asInt(globalOf(vm, name), int32_t(0));
}
double Mox_GetGlobalDouble(MoxVMHandle vm, const char* name) { return doubleOf(globalOf(vm, name)); }
int Mox_GetGlobalStringA(MoxVMHandle vm, const char* name, char* buffer, int size) {
  return stringOut(globalOf(vm, name), buffer, size);
}

}  // extern "C"
