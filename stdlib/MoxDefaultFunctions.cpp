// Registration of the standard library into a machine's global symbols.
#include "stdlib/MoxDefaultFunctions.h"

#include <cstdio>

#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "vm/MoxVirtualMachine.h"

namespace {

struct FunctionEntry {
  const MoxChar* name;
  MoxNativeFunction function;
};

void enter(MoxVirtualMachine* vm, const MoxChar* name, const MoxValue& value, MoxSymbolType kind) {
  MoxDictionaryEntry& entry = vm->symbols()[MoxString(name)];
  entry.setValue(value);
  entry.setSymbolType(kind);
}

void enterAll(MoxVirtualMachine* vm, const FunctionEntry* table, size_t count) {
  for (size_t i = 0; i < count; ++i) enter(vm, table[i].name, MoxValue(table[i].function), SYM_FUNCTION);
}

typedef MoxDefaultFunctions F;

const FunctionEntry kConstructors[] = {
    {u"newvector", F::Mox_newvector},
    {u"newstring", F::Mox_newstring},
    {u"newbuffer", F::Mox_newbuffer},
    {u"newcbuffer", F::Mox_newcbuffer},
};

const FunctionEntry kIOFunctions[] = {
    {u"fopen", F::Mox_fopen},     {u"fclose", F::Mox_fclose},       {u"feof", F::Mox_feof},
    {u"getc", F::Mox_getc},       {u"putc", F::Mox_putc},           {u"gets", F::Mox_gets},
    {u"fgets", F::Mox_fgets},     {u"fputs", F::Mox_fputs},         {u"print", F::Mox_print},
    {u"freadval", F::Mox_freadval}, {u"fwriteval", F::Mox_fwriteval}, {u"fread", F::Mox_fread},
    {u"fwrite", F::Mox_fwrite},   {u"getwc", F::Mox_getwc},         {u"putwc", F::Mox_putwc},
    {u"fgetws", F::Mox_fgetws},   {u"fputws", F::Mox_fputws},
};

const FunctionEntry kStringAndTypeFunctions[] = {
    {u"strlen", F::Mox_strlen},
    {u"strcmp", F::Mox_strcmp},
    {u"stricmp", F::Mox_stricmp},
    {u"strsplit", F::Mox_strsplit},
    {u"strfind", F::Mox_strfind},
    {u"strerase", F::Mox_strerase},
    {u"strinsert", F::Mox_strinsert},
    {u"strreplace", F::Mox_strreplace},
    {u"substr", F::Mox_substr},
    {u"vecsize", F::Mox_vecsize},
    {u"size", F::Mox_size},
    {u"Vec", F::Mox_Vec},
    {u"T", F::Mox_T},
    {u"CBuf", F::Mox_CBuf},
    {u"compile", F::Mox_compile},
    {u"loadmodule", F::Mox_loadmodule},
    {u"int", F::Mox_int},
    {u"float", F::Mox_float},
    {u"double", F::Mox_double},
    {u"string", F::Mox_string},
    {u"buffer", F::Mox_buffer},
    {u"gettypename", F::Mox_gettypename},
    {u"gettype", F::Mox_gettype},
    {u"getclassname", F::Mox_getclassname},
    {u"dynamic_cast", F::Mox_dynamic_cast},
    {u"time", F::Mox_time},
    {u"timer", F::Mox_timer},
};

const FunctionEntry kMathFunctions[] = {
    {u"sin", F::Mox_sin},   {u"cos", F::Mox_cos}, {u"tan", F::Mox_tan},
    {u"atan", F::Mox_atan}, {u"sqrt", F::Mox_sqrt}, {u"log", F::Mox_log},
    {u"exp", F::Mox_exp},   {u"abs", F::Mox_abs}, {u"pow", F::Mox_pow},
};

const FunctionEntry kSystemFunctions[] = {
    {u"rand", F::Mox_rand},
    {u"srand", F::Mox_srand},
    {u"ctime", F::Mox_ctime},
    {u"localtime", F::Mox_localtime},
    {u"getargs", F::Mox_getargs},
    {u"getusrargs", F::Mox_getusrargs},
    {u"argcnt", F::Mox_argcnt},
    {u"arg", F::Mox_arg},
    {u"addr", F::Mox_addr},
    {u"getenv", F::Mox_getenv},
    {u"setenv", F::Mox_setenv},
    {u"LoadLibrary", F::Mox_LoadLibrary},
    {u"FreeLibrary", F::Mox_FreeLibrary},
    {u"GetProcAddress", F::Mox_GetProcAddress},
    {u"CallLibFunc", F::Mox_CallLibFunc},
};

const FunctionEntry kDictFunctions[] = {
    {u"newdict", F::Mox_newdict},         {u"dictcontains", F::Mox_dictcontains},
    {u"dicterase", F::Mox_dicterase},     {u"dictclear", F::Mox_dictclear},
    {u"dictgetkeys", F::Mox_dictgetkeys}, {u"dictgetvalues", F::Mox_dictgetvalues},
};

template <size_t N>
void enterAll(MoxVirtualMachine* vm, const FunctionEntry (&table)[N]) {
  enterAll(vm, table, N);
}

// Additions beyond the classic library, registered after it: vectors,
// strings, formatting, math, time.
const FunctionEntry kAdditionsCommon[] = {
    {u"vecpush", F::Mox_vecpush},
    {u"vecpop", F::Mox_vecpop},
    {u"vecinsert", F::Mox_vecinsert},
    {u"vecremove", F::Mox_vecremove},
    {u"vecslice", F::Mox_vecslice},
    {u"vecconcat", F::Mox_vecconcat},
    {u"vecfind", F::Mox_vecfind},
    {u"vecreverse", F::Mox_vecreverse},
    {u"vecsort", F::Mox_vecsort},
    {u"strjoin", F::Mox_strjoin},
    {u"strtrim", F::Mox_strtrim},
    {u"strlower", F::Mox_strlower},
    {u"strupper", F::Mox_strupper},
    {u"strstarts", F::Mox_strstarts},
    {u"strends", F::Mox_strends},
    {u"strrepeat", F::Mox_strrepeat},
    {u"strsplitall", F::Mox_strsplitall},
    {u"format", F::Mox_format},
    {u"floor", F::Mox_floor},
    {u"ceil", F::Mox_ceil},
    {u"round", F::Mox_round},
    {u"trunc", F::Mox_trunc},
    {u"min", F::Mox_min},
    {u"max", F::Mox_max},
    {u"atan2", F::Mox_atan2},
    {u"fmod", F::Mox_fmod},
    {u"hypot", F::Mox_hypot},
    {u"pi", F::Mox_pi},
    {u"isnan", F::Mox_isnan},
    {u"randint", F::Mox_randint},
    {u"strftime", F::Mox_strftime},
    {u"clock", F::Mox_clock},
};

// Additions: files, JSON, protected calls, ending a run.
const FunctionEntry kAdditionsSystem[] = {
    {u"readfile", MoxDefaultFunctions::Mox_readfile},
    {u"writefile", MoxDefaultFunctions::Mox_writefile},
    {u"readlines", MoxDefaultFunctions::Mox_readlines},
    {u"fileexists", MoxDefaultFunctions::Mox_fileexists},
    {u"removefile", MoxDefaultFunctions::Mox_removefile},
    {u"renamefile", MoxDefaultFunctions::Mox_renamefile},
    {u"listdir", MoxDefaultFunctions::Mox_listdir},
    {u"jsonencode", MoxDefaultFunctions::Mox_jsonencode},
    {u"jsondecode", MoxDefaultFunctions::Mox_jsondecode},
    {u"pcall", MoxDefaultFunctions::Mox_pcall},
    {u"exit", MoxDefaultFunctions::Mox_exit},
};

void enterAdditions(MoxVirtualMachine* vm, const FunctionEntry* table, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (table[i].function) enter(vm, table[i].name, MoxValue(table[i].function), SYM_FUNCTION);
}

}  // namespace

void MoxDefaultFunctions::registerFunctions(MoxVirtualMachine* vm) {
  if (!vm) return;
  registerFiles(vm);
  enterAll(vm, kConstructors);
  registerIOFunctions(vm);
  enterAll(vm, kStringAndTypeFunctions);
  registerMathFunctions(vm);
  enterAll(vm, kSystemFunctions);
  registerDictFunctions(vm);
  enterAdditions(vm, kAdditionsCommon, sizeof kAdditionsCommon / sizeof kAdditionsCommon[0]);
  enterAdditions(vm, kAdditionsSystem, sizeof kAdditionsSystem / sizeof kAdditionsSystem[0]);
}

void MoxDefaultFunctions::registerFiles(MoxVirtualMachine* vm) {
  enter(vm, u"stdin", MoxValue(static_cast<void*>(stdin)), SYM_VARIABLE);
  enter(vm, u"stdout", MoxValue(static_cast<void*>(stdout)), SYM_VARIABLE);
  enter(vm, u"stderr", MoxValue(static_cast<void*>(stderr)), SYM_VARIABLE);
}

void MoxDefaultFunctions::registerIOFunctions(MoxVirtualMachine* vm) { enterAll(vm, kIOFunctions); }

void MoxDefaultFunctions::registerMathFunctions(MoxVirtualMachine* vm) { enterAll(vm, kMathFunctions); }

void MoxDefaultFunctions::registerDictFunctions(MoxVirtualMachine* vm) { enterAll(vm, kDictFunctions); }

bool MoxDefaultFunctions::Mox_Vec(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return Mox_T(vm, argc, args);
}
