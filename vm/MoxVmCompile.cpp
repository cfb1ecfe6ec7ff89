// The machine's compile entry points and the loading of native modules.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "compiler/MoxCompiler.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

#include "debugger/MoxDebugger.h"

namespace {

std::string toNarrow(const MoxChar* text) {
  std::string out;
  moxUtf8Encode(text, moxStrLen(text), out);
  return out;
}

std::u16string toWide(const std::string& text) {
  std::u16string out;
  moxUtf8Decode(text.data(), text.size(), out);
  return out;
}

// Runs one compilation with an optional tracer for listings.
bool runCompiler(MoxVirtualMachine& vm, FILE* stream, const MoxChar* text, const MoxChar* name,
                 bool showInfo, bool debug, IMoxPrinter* outPrinter, IMoxPrinter* debugPrinter) {
  MoxCompiler compiler(vm, outPrinter);
  compiler.setShowInfo(showInfo);
  MoxDebugger* debugger = nullptr;
  if (debug) {
    debugger = new MoxDebugger(vm, debugPrinter);
    compiler.setDebugger(debugger);
  }
  bool ok = stream != nullptr ? compiler.compile(stream, name) : compiler.compile(text, name);
  delete debugger;
  return ok;
}

// Folder holding the running libmoxlib.so, with a trailing '/', or empty.
std::string libraryFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&libraryFolder), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool readable(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  fclose(f);
  return true;
}

// Opens a native module: a name with a '/' as given; otherwise each of the
// forms "name", "name.so" and "libname.so", searched along "Path"/"PATH",
// then in the library's own folder and its mox/ subfolder, and finally left
// to the dynamic loader's own search.
void* openModule(const MoxChar* name) {
  std::string narrow = toNarrow(name);
  if (narrow.empty()) return nullptr;
  if (narrow.find('/') != std::string::npos) return dlopen(narrow.c_str(), RTLD_NOW | RTLD_LOCAL);
  const std::string forms[3] = {narrow, narrow + ".so", "lib" + narrow + ".so"};
  for (const std::string& form : forms) {
    const MoxChar* found = mox::searchPath(toWide(form).c_str());
    if (found != nullptr) {
      void* h = dlopen(toNarrow(found).c_str(), RTLD_NOW | RTLD_LOCAL);
      if (h != nullptr) return h;
    }
  }
  std::string folder = libraryFolder();
  if (!folder.empty()) {
    const std::string dirs[2] = {folder, folder + "mox/"};
    for (const std::string& dir : dirs) {
      for (const std::string& form : forms) {
        std::string path = dir + form;
        if (!readable(path)) continue;
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (h != nullptr) return h;
      }
    }
  }
  for (const std::string& form : forms) {
    void* h = dlopen(form.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h != nullptr) return h;
  }
  return nullptr;
}

}  // namespace

bool MoxVirtualMachine::compileFile(const MoxChar* path, bool showInfo, bool debug,
                                    IMoxPrinter* outPrinter, IMoxPrinter* debugPrinter) {
  if (path == nullptr) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  FILE* f = fopen(toNarrow(path).c_str(), "r");
  if (f == nullptr) {
    printer()(u"error opening file %s\n", path);
    return false;
  }
  bool ok = runCompiler(*this, f, nullptr, path, showInfo, debug, outPrinter, debugPrinter);
  fclose(f);
  return ok;
}

bool MoxVirtualMachine::compileText(const MoxChar* text, bool showInfo, bool debug,
                                    IMoxPrinter* outPrinter, IMoxPrinter* debugPrinter) {
  if (text == nullptr) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  return runCompiler(*this, nullptr, text, u"", showInfo, debug, outPrinter, debugPrinter);
}

bool MoxVirtualMachine::loadNativeModule(const MoxChar* name) {
  if (name == nullptr) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  MoxString key(name);
  if (modules_.find(key) != nullptr) return true;
  void* handle = openModule(name);
  if (handle == nullptr) return false;
  // Recorded before the entry point is looked up: a library without one
  // stays loaded and is freed with the others. The handle is 64 bits wide
  // and lives in the value's pointer payload.
  MoxDictionaryEntry& entry = modules_[key];
  entry.setValue(MoxValue::fromInt64(int64_t(reinterpret_cast<intptr_t>(handle))));
  typedef int (*RegisterProc)(MoxVirtualMachine*);
  RegisterProc reg = reinterpret_cast<RegisterProc>(dlsym(handle, "RegisterNativeModule"));
  if (reg == nullptr) return false;
  reg(this);
  return true;
}
