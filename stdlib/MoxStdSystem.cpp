// Clock and calendar, random numbers, command and script arguments, the
// environment, run-time compilation, mathematics and native library calls.
#include <dlfcn.h>
#include <time.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "compiler/MoxCompiler.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

MoxString* stringArg(const MoxValue& v) { return isString(v) ? static_cast<MoxString*>(v) : nullptr; }

MoxValue newString(const MoxChar* text) { return MoxValue(new MoxString(text ? text : u""), false); }

std::string utf8(const MoxString& s) {
  std::string out;
  moxUtf8Encode(s.c_str(), s.length(), out);
  return out;
}

bool math1(MoxVirtualMachine* vm, int argc, ValPtr& args, double (*f)(double)) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  double x = static_cast<double>(*args);
  if (x == DBL_MAX) return fail(vm, u"invalid argument type");
  return result(args, argc, MoxValue(f(x)));
}

// A library handle or address carried in an integer value: the whole payload.
void* addressOf(const MoxValue& v) { return v.ptr(); }

// The native word for one script value: an integer that carries an address
// keeps its 64 bits, any other integer is sign-extended; numbers are
// truncated; other kinds pass their pointer payload.
uintptr_t wordOf(const MoxValue& v) {
  switch (v.getType()) {
    case MVT_NULL:
      return 0;
    case MVT_INTEGER: {
      uint64_t raw = reinterpret_cast<uintptr_t>(v.ptr());
      if (raw >> 32) return static_cast<uintptr_t>(raw);
      return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(v)));
    }
    case MVT_FLOAT:
    case MVT_DOUBLE:
      return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(v)));
    default:
      return reinterpret_cast<uintptr_t>(v.ptr());
  }
}

MoxValue addressValue(const void* p) { return MoxValue::fromInt64(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p))); }

}  // namespace

bool MoxDefaultFunctions::Mox_time(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 0)) return false;
  return result(args, argc, MoxValue(static_cast<int32_t>(mox::time(nullptr))));
}

bool MoxDefaultFunctions::Mox_timer(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 0)) return false;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return result(args, argc, MoxValue(static_cast<int32_t>(static_cast<uint32_t>(ms))));
}

bool MoxDefaultFunctions::Mox_rand(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 0, 0)) return false;
  return result(args, argc, MoxValue(static_cast<int32_t>(rand() & 0x7FFF)));
}

bool MoxDefaultFunctions::Mox_srand(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, 1)) return false;
  const unsigned seed = static_cast<unsigned>(static_cast<int32_t>(*args));
  srand(seed);
  moxSeedRandInt(seed);
  return resultNull(args, argc);
}

bool MoxDefaultFunctions::Mox_ctime(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  uint32_t t = static_cast<uint32_t>(static_cast<int32_t>(*args));
  return result(args, argc, newString(mox::_tctime(&t)));
}

bool MoxDefaultFunctions::Mox_localtime(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  uint32_t t = static_cast<uint32_t>(static_cast<int32_t>(*args));
  const mox::MoxTm* tm = mox::localtime(&t);
  if (!tm) return resultNull(args, argc);
  const int32_t fields[9] = {tm->sec, tm->min, tm->hour, tm->mday, tm->mon, tm->year, tm->wday, tm->yday, tm->isdst};
  MoxVector* v = new MoxVector(9, false);
  for (int32_t f : fields) v->push_back(MoxValue(f));
  return result(args, argc, MoxValue(v, false, false));
}

bool MoxDefaultFunctions::Mox_getargs(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 0, 0)) return false;
  MoxVector* v = new MoxVector();
  MoxChar** argv = vm->cmdargv();
  for (int i = 0; argv && i < vm->cmdargc(); ++i) v->push_back(newString(argv[i]));
  return result(args, argc, MoxValue(v, false, false));
}

bool MoxDefaultFunctions::Mox_getusrargs(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 0, 0)) return false;
  MoxVector* v = new MoxVector();
  MoxChar** argv = vm->cmdargv();
  bool taking = false;
  for (int i = 0; argv && i < vm->cmdargc(); ++i) {
    const MoxChar* word = argv[i] ? argv[i] : u"";
    if (taking) {
      v->push_back(newString(word));
    } else if (word[0] == u'#') {
      taking = true;
      if (word[1]) v->push_back(newString(word + 1));
    }
  }
  return result(args, argc, MoxValue(v, false, false));
}

bool MoxDefaultFunctions::Mox_argcnt(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 0, 0)) return false;
  MoxProcInfo* info = vm->interpreter()->getProcInfo();
  return result(args, argc, MoxValue(static_cast<int32_t>(info ? info->getNargs() : -1)));
}

bool MoxDefaultFunctions::Mox_arg(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  int32_t i = static_cast<int32_t>(*args);
  MoxProcInfo* info = vm->interpreter()->getProcInfo();
  if (!info || i < 0 || i >= info->getNargs()) return fail(vm, u"invalid index");
  return result(args, argc, MoxValue(info->bp()[i + 1]));
}

bool MoxDefaultFunctions::Mox_getenv(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_ENV_READ) || !checkCount(vm, argc, 1, 1)) return false;
  MoxString* name = stringArg(*args);
  if (!name) return fail(vm, u"invalid argument type - string expected");
  return result(args, argc, newString(mox::_tgetenv(name->c_str())));
}

bool MoxDefaultFunctions::Mox_setenv(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_ENV_WRITE) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* name = stringArg(a[1]);
  MoxString* value = stringArg(a[2]);
  if (!name || !value) return fail(vm, u"invalid argument type - string expected");
  if (name->empty()) return result(args, argc, MoxValue(0));
  MoxString assignment(*name);
  assignment += u'=';
  assignment += *value;
  return result(args, argc, MoxValue(mox::_tputenv(assignment.c_str()) == 0 ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_compile(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* name = nullptr;
  if (argc == 2) {
    name = stringArg(a[2]);
    if (!name) return fail(vm, u"invalid argument type");
  }
  const MoxChar* sourceName = name ? name->c_str() : u"";
  const MoxValue& source = a[1];
  bool ok = false;
  if (source.getType() == MVT_FILE) {
    // Compiling a stream reads it: a machine without files compiles text only.
    if (!allowed(vm, MOX_CAP_FILES, source.ptr())) return false;
    FILE* f = static_cast<FILE*>(source.ptr());
    MoxCompiler compiler(*vm);
    ok = f && compiler.compile(f, sourceName);
  } else if (isString(source)) {
    MoxString* text = static_cast<MoxString*>(source);
    if (text) {
      // The text may be released by what the compile replaces.
      MoxString copy(*text);
      MoxCompiler compiler(*vm);
      ok = compiler.compile(copy.c_str(), sourceName);
    }
  } else {
    return fail(vm, u"invalid argument type");
  }
  return result(args, argc, MoxValue(ok ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_loadmodule(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!allowed(vm, MOX_CAP_MODULES) || !checkCount(vm, argc, 1, 1)) return false;
  MoxString* path = stringArg(*args);
  if (!path) return fail(vm, u"invalid argument type");
  MoxString copy(*path);
  return result(args, argc, MoxValue(vm->readModule(copy.c_str()) ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_sin(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::sin); }
bool MoxDefaultFunctions::Mox_cos(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::cos); }
bool MoxDefaultFunctions::Mox_tan(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::tan); }
bool MoxDefaultFunctions::Mox_atan(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::atan); }
bool MoxDefaultFunctions::Mox_sqrt(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::sqrt); }
bool MoxDefaultFunctions::Mox_log(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::log); }
bool MoxDefaultFunctions::Mox_exp(MoxVirtualMachine* vm, int argc, ValPtr& args) { return math1(vm, argc, args, ::exp); }

bool MoxDefaultFunctions::Mox_abs(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (argc == 1 && args->getType() == MVT_INTEGER) {
    uint32_t x = static_cast<uint32_t>(static_cast<int32_t>(*args));
    int32_t n = static_cast<int32_t>(x);
    if (n < 0) n = static_cast<int32_t>(0u - x);
    return result(args, argc, MoxValue(n));
  }
  return math1(vm, argc, args, ::fabs);
}

bool MoxDefaultFunctions::Mox_pow(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  double x = static_cast<double>(a[1]);
  double y = static_cast<double>(a[2]);
  if (x == DBL_MAX || y == DBL_MAX) return fail(vm, u"invalid argument type");
  return result(args, argc, MoxValue(exp(log(x) * y)));
}

bool MoxDefaultFunctions::Mox_addr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_NATIVE_CALLS) || !checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() == MVT_NULL) return fail(vm, u"argument is NULL");
  // addr() marks a string's text as exposed to native writes.
  return result(args, argc, addressValue(args->addr()));
}

bool MoxDefaultFunctions::Mox_LoadLibrary(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_NATIVE_CALLS) || !checkCount(vm, argc, 1, 1)) return false;
  MoxString* path = stringArg(*args);
  if (!path) return fail(vm, u"invalid argument type");
  std::string name = utf8(*path);
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && name.find('/') == std::string::npos) {
    handle = dlopen((name + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) handle = dlopen(("lib" + name + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  return result(args, argc, handle ? addressValue(handle) : MoxValue(0));
}

bool MoxDefaultFunctions::Mox_FreeLibrary(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_NATIVE_CALLS) || !checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  void* handle = addressOf(*args);
  return result(args, argc, MoxValue(handle && dlclose(handle) == 0 ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_GetProcAddress(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_NATIVE_CALLS) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* name = stringArg(a[2]);
  if (a[1].getType() != MVT_INTEGER || !name) return fail(vm, u"invalid argument type");
  void* handle = addressOf(a[1]);
  MoxString copy(*name);
  copy.replace(u'?', u'W');
  void* fn = handle ? dlsym(handle, utf8(copy).c_str()) : nullptr;
  return result(args, argc, fn ? addressValue(fn) : MoxValue(0));
}

bool MoxDefaultFunctions::Mox_CallLibFunc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !allowed(vm, MOX_CAP_NATIVE_CALLS) || !checkCount(vm, argc, 1, 17)) return false;
  ValPtr a = argBase(args, argc);
  if (a[1].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  void* fn = addressOf(a[1]);
  uintptr_t w[16] = {0};
  for (int i = 2; i <= argc; ++i) w[i - 2] = wordOf(a[i]);
  if (!fn) return result(args, argc, MoxValue(0));
  // Integer arguments go in registers and then on the stack in the same
  // order whatever their number, so passing all sixteen words serves every
  // function of up to sixteen word arguments.
  typedef uintptr_t (*Fn16)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                            uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                            uintptr_t, uintptr_t);
  Fn16 call = reinterpret_cast<Fn16>(fn);
  uintptr_t r = call(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9], w[10], w[11], w[12], w[13],
                     w[14], w[15]);
  return result(args, argc, MoxValue::fromInt64(static_cast<int64_t>(r)));
}
