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

  // ---- Additions: files, JSON, protected calls, ending a run.
  // Whole files (UTF-8 text) and folders; the files group of capabilities.
  static bool Mox_readfile(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_writefile(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_readlines(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fileexists(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_removefile(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_renamefile(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_listdir(MoxVirtualMachine* vm, int argc, ValPtr& args);
  // JSON text to and from values.
  static bool Mox_jsonencode(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_jsondecode(MoxVirtualMachine* vm, int argc, ValPtr& args);
  // Calls that catch run-time failures, and the end of a run.
  static bool Mox_pcall(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_exit(MoxVirtualMachine* vm, int argc, ValPtr& args);
  // ---- End of the additions: files, JSON, protected calls, ending a run.

  // ---- Additions: vectors, strings and formatting, mathematics, time.
  static bool Mox_vecpush(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecpop(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecinsert(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecremove(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecslice(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecconcat(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecfind(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecreverse(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_vecsort(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strjoin(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strtrim(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strlower(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strupper(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strstarts(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strends(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strrepeat(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strsplitall(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_format(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_floor(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_ceil(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_round(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_trunc(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_min(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_max(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_atan2(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_fmod(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_hypot(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_pi(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_isnan(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_randint(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_strftime(MoxVirtualMachine* vm, int argc, ValPtr& args);
  static bool Mox_clock(MoxVirtualMachine* vm, int argc, ValPtr& args);
  // ---- End of the additions for vectors, strings, mathematics and time.

  MoxDefaultFunctions& operator=(const MoxDefaultFunctions&) = default;

 private:
  static void registerFiles(MoxVirtualMachine* vm);
  static void registerIOFunctions(MoxVirtualMachine* vm);
  static void registerMathFunctions(MoxVirtualMachine* vm);
  static void registerDictFunctions(MoxVirtualMachine* vm);
};

#endif
