// The standard library: the native functions every machine offers to scripts
// under fixed global names.
//
// Calling convention shared by every native function of the system:
//   bool f(MoxVirtualMachine* vm, int argc, ValPtr& args)
// args is the interpreter's own stack cursor on the last argument. Argument i
// (1-based) is args[-argc + i]; the slot args[-argc] held the called function
// and receives the result. On success a function stores its result there,
// moves args down to it and returns true. On failure it returns the result of
// MoxInterpreter::returnError (false); the stack contents then do not matter.
#ifndef MOX_DEFAULT_FUNCTIONS_H
#define MOX_DEFAULT_FUNCTIONS_H

#include "core/MoxConfig.h"
#include "core/MoxValue.h"

class MOX_API MoxDefaultFunctions {
 public:
  // Enters the whole library into vm->symbols(). Existing entries of the same
  // names are overwritten.
  static void registerFunctions(MoxVirtualMachine* vm);

  // Global variables.
  // "stdin", "stdout", "stderr" are registered by registerFiles.

  // Types and conversions.
  static bool Mox_newvector(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_newstring(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_newbuffer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_newcbuffer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_newdict(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_Vec(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_T(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_CBuf(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_int(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_float(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_double(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_string(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_buffer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_gettypename(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_gettype(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getclassname(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dynamic_cast(MoxVirtualMachine* vm, int argc, ValPtr& args);

  // Strings, vectors and dictionaries.
  static bool Mox_strlen(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strcmp(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_stricmp(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strsplit(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strfind(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strerase(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strinsert(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strreplace(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_substr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecsize(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_size(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dictcontains(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dicterase(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dictclear(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dictgetkeys(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_dictgetvalues(MoxVirtualMachine* vm, int argc, ValPtr& args);

  // Files and console.
  static bool Mox_fopen(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fclose(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_feof(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getc(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_putc(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_gets(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fgets(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fputs(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_print(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_freadval(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fwriteval(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fread(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fwrite(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getwc(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_putwc(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fgetws(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fputws(MoxVirtualMachine* vm, int argc, ValPtr& args);

  // System, time, environment, run-time compilation and mathematics.
  static bool Mox_compile(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_loadmodule(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_time(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_timer(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_sin(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_cos(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_tan(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_atan(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_sqrt(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_log(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_exp(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_abs(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_pow(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_rand(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_srand(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_ctime(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_localtime(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getargs(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getusrargs(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_argcnt(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_arg(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_getenv(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_setenv(MoxVirtualMachine* vm, int argc, ValPtr& args);

  // Native library calls.
  static bool Mox_addr(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_LoadLibrary(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_FreeLibrary(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_GetProcAddress(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_CallLibFunc(MoxVirtualMachine* vm, int argc, ValPtr& args);

  MoxDefaultFunctions& operator=(const MoxDefaultFunctions&) = default;

 private:
  static void registerFiles(MoxVirtualMachine* vm);
  static void registerIOFunctions(MoxVirtualMachine* vm);
  static void registerMathFunctions(MoxVirtualMachine* vm);
  static void registerDictFunctions(MoxVirtualMachine* vm);
};

#endif
