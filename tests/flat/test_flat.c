/* The plain function interface driven from C, the way a C host uses it:
 * every function, null handles, narrow and wide variants, the printers each
 * call routes to, module files, reinit and the single-step wait procedure. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "vm/MoxFlatInterface.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

#define CHECK_TEXT(actual, expected)                                                  \
  do {                                                                                \
    if (strcmp((actual), (expected)) != 0) {                                          \
      fprintf(stderr, "%s:%d: text differs\n  expected: [%s]\n  actual:   [%s]\n", __FILE__, \
              __LINE__, (expected), (actual));                                        \
      ++failures;                                                                     \
    }                                                                                 \
  } while (0)

/* Callbacks carry no context, so each collecting printer has its own text. */
#define TEXT_SIZE 8192
static char mainText[TEXT_SIZE];
static char otherText[TEXT_SIZE];

static void append(char* text, const char* piece) {
  size_t used = strlen(text);
  strncat(text + used, piece, TEXT_SIZE - used - 1);
}
static void toMain(const char* piece) { append(mainText, piece); }
static void toOther(const char* piece) { append(otherText, piece); }
static void clearTexts(void) {
  mainText[0] = 0;
  otherText[0] = 0;
}

/* UTF-16 form of ASCII text, in a buffer owned by the caller. */
static const MoxWChar* wide(MoxWChar* out, size_t size, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != 0 && i + 1 < size; ++i) out[i] = (MoxWChar)(unsigned char)ascii[i];
  out[i] = 0;
  return out;
}

static int waitCalls = 0;
static bool keepStepping(void) {
  ++waitCalls;
  return true;
}
static bool stopStepping(void) {
  ++waitCalls;
  return false;
}

static const char* tempPath(char* out, size_t size, const char* name) {
  const char* dir = getenv("TMPDIR");
  snprintf(out, size, "%s/mox_flat_%ld_%s", dir != NULL && *dir ? dir : "/tmp", (long)getpid(),
           name);
  return out;
}

static void testNullHandles(void) {
  MoxWChar w[8];
  const char* argv[1] = {"x"};
  CHECK(Mox_ReleaseVM(NULL) == 0);
  CHECK(Mox_CompileFileA(NULL, "f.mox", 1, 1, NULL, NULL) == 0);
  CHECK(Mox_CompileFileW(NULL, wide(w, 8, "f.mox"), 1, 1, NULL, NULL) == 0);
  CHECK(Mox_CompileTextA(NULL, "f() {}", 0, 0, NULL, NULL) == 0);
  CHECK(Mox_CompileTextW(NULL, wide(w, 8, "f() {}"), 0, 0, NULL, NULL) == 0);
  CHECK(Mox_ExecuteA(NULL, "f", 1, argv, 0, NULL, NULL) == 0);
  CHECK(Mox_ExecuteW(NULL, wide(w, 8, "f"), 0, NULL, 0, NULL, NULL) == 0);
  CHECK(Mox_WriteModuleA(NULL, "m.mxm") == 0);
  CHECK(Mox_WriteModuleW(NULL, wide(w, 8, "m.mxm")) == 0);
  CHECK(Mox_ReadModuleA(NULL, "m.mxm") == 0);
  CHECK(Mox_ReadModuleW(NULL, wide(w, 8, "m.mxm")) == 0);
  CHECK(Mox_GetIntResult(NULL) == MOX_NO_INT_RESULT);
  CHECK(Mox_GetIntResult(NULL) == (int32_t)0x80000000u);
  Mox_Reinit(NULL);
  CHECK(Mox_SetDbgWaitProc(NULL, keepStepping) == NULL);
  CHECK(Mox_CreateCallbackPrinter(NULL) == NULL);
  CHECK(Mox_ReleasePrinter(NULL) == 0);
}

/* Null texts on a real machine fail quietly as well. */
static void testNullTexts(void) {
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  clearTexts();
  CHECK(Mox_CompileFileA(vm, NULL, 0, 0, NULL, NULL) == 0);
  CHECK(Mox_CompileFileW(vm, NULL, 0, 0, NULL, NULL) == 0);
  CHECK(Mox_CompileTextA(vm, NULL, 0, 0, NULL, NULL) == 0);
  CHECK(Mox_CompileTextW(vm, NULL, 0, 0, NULL, NULL) == 0);
  CHECK(Mox_ExecuteA(vm, NULL, 0, NULL, 0, NULL, NULL) == 0);
  CHECK(Mox_ExecuteW(vm, NULL, 0, NULL, 0, NULL, NULL) == 0);
  CHECK(Mox_WriteModuleA(vm, NULL) == 0);
  CHECK(Mox_WriteModuleW(vm, NULL) == 0);
  CHECK(Mox_ReadModuleA(vm, NULL) == 0);
  CHECK(Mox_ReadModuleW(vm, NULL) == 0);
  CHECK_TEXT(mainText, "");
  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(p) == 1);
}

static const char* const kArgsScript =
    "count(; i, s) {\n"
    "  s = \"\";\n"
    "  for (i = 0; i < argcnt(); i++) s = s + \"[\" + arg(i) + \"]\";\n"
    "  print(argcnt(), \" \", s, \"\\n\");\n"
    "  return argcnt() * 10;\n"
    "}\n"
    "sum(a, b) { return int(a) + int(b); }\n"
    "half(x) { return double(x) / 2.0; }\n"
    "broken() { return undefinedFunction(1); }\n";

/* Compiling text, running with and without arguments, reading results. */
static void testCompileAndExecute(void) {
  const char* args[3] = {"4", "38", NULL};
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  clearTexts();
  CHECK(Mox_CompileTextA(vm, kArgsScript, 0, 0, NULL, NULL) == 1);
  CHECK_TEXT(mainText, "");

  CHECK(Mox_ExecuteA(vm, "sum", 2, args, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 42);

  CHECK(Mox_ExecuteA(vm, "count", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 0);
  /* A null argv or a negative count runs without arguments. */
  CHECK(Mox_ExecuteA(vm, "count", 2, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_ExecuteA(vm, "count", -1, args, 0, NULL, NULL) == 1);
  /* A null word arrives as the empty string. */
  CHECK(Mox_ExecuteA(vm, "count", 3, args, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 30);
  CHECK_TEXT(mainText, "0 \n0 \n0 \n3 [4][38][]\n");

  /* A double result is truncated to an integer. */
  args[0] = "-7";
  CHECK(Mox_ExecuteA(vm, "half", 1, args, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == -3);

  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(p) == 1);
}

/* Each call's own printers get its output; the machine's printer the rest. */
static void testPrinterRouting(void) {
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxPrinterHandle q = Mox_CreateCallbackPrinter(toOther);
  MoxVMHandle vm = Mox_CreateVM(p);
  CHECK(p != NULL && q != NULL && vm != NULL);
  clearTexts();

  CHECK(Mox_CompileTextA(vm, kArgsScript, 1, 0, q, NULL) == 1);
  CHECK(strstr(otherText, "function sum\n") != NULL);
  CHECK_TEXT(mainText, "");

  clearTexts();
  CHECK(Mox_CompileTextA(vm, "lst() { return 1; }\n", 0, 1, NULL, q) == 1);
  CHECK(strstr(otherText, "lst") != NULL);
  CHECK_TEXT(mainText, "");

  clearTexts();
  CHECK(Mox_CompileTextA(vm, "bad( { \n", 0, 0, q, NULL) == 0);
  CHECK(strstr(otherText, "-->") != NULL);
  CHECK_TEXT(mainText, "");

  /* The error text of a failed run goes to the error printer. */
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "broken", 0, NULL, 0, q, NULL) == 0);
  CHECK(otherText[0] != 0);
  CHECK_TEXT(mainText, "");
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "broken", 0, NULL, 0, NULL, NULL) == 0);
  CHECK(mainText[0] != 0);
  CHECK(Mox_ExecuteA(vm, "noSuchFunction", 0, NULL, 0, NULL, NULL) == 0);

  /* The trace of a traced run goes to the trace printer. */
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "lst", 0, NULL, 1, NULL, q) == 1);
  CHECK(otherText[0] != 0);
  CHECK_TEXT(mainText, "");

  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(q) == 1);
  CHECK(Mox_ReleasePrinter(p) == 1);
}

/* Text is compiled as source, never opened as a file name, and the wide
 * variants see the same text as the narrow ones. */
static void testWideVariants(void) {
  /* "twice(s) { return s + s; }" and the argument "ü😀" in UTF-16. */
  static const MoxWChar word[] = {0x00FC, 0xD83D, 0xDE00, 0};
  const MoxWChar* argv[1];
  MoxWChar src[64], name[16], body[64];
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  clearTexts();
  CHECK(Mox_CompileTextW(vm, wide(src, 64, "twice(s) { print(s + s, \"\\n\"); return 2; }"), 0,
                         0, NULL, NULL) == 1);
  CHECK_TEXT(mainText, "");
  argv[0] = word;
  CHECK(Mox_ExecuteW(vm, wide(name, 16, "twice"), 1, argv, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 2);
  /* Surrogate pairs reach the callback as one 4-byte UTF-8 sequence. */
  CHECK_TEXT(mainText, "\xC3\xBC\xF0\x9F\x98\x80\xC3\xBC\xF0\x9F\x98\x80\n");

  clearTexts();
  CHECK(Mox_ExecuteW(vm, wide(name, 16, "twice"), 0, NULL, 0, NULL, NULL) == 0);
  CHECK(mainText[0] != 0);

  /* Narrow text is UTF-8 as well. */
  clearTexts();
  CHECK(Mox_CompileTextA(vm, "greet() { print(\"gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\\n\"); }", 0, 0,
                         NULL, NULL) == 1);
  CHECK(Mox_ExecuteA(vm, "greet", 0, NULL, 0, NULL, NULL) == 1);
  CHECK_TEXT(mainText, "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC\n");

  /* A source text that happens to name no file still compiles as text. */
  clearTexts();
  CHECK(Mox_CompileTextW(vm, wide(body, 64, "x() { return 7; }"), 0, 0, NULL, NULL) == 1);
  CHECK(Mox_ExecuteA(vm, "x", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 7);
  CHECK(strstr(mainText, "error opening file") == NULL);

  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(p) == 1);
}

/* Source files, module files written and read back, reinit. */
static void testFilesAndReinit(void) {
  char source[512], module[512], missing[512];
  MoxWChar wsource[512], wmodule[512], name[16];
  FILE* f;
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  MoxVMHandle other = Mox_CreateVM(NULL);
  tempPath(source, sizeof source, "src.mox");
  tempPath(module, sizeof module, "mod.mxm");
  tempPath(missing, sizeof missing, "missing.mox");

  f = fopen(source, "w");
  CHECK(f != NULL);
  if (f == NULL) return;
  fputs("answer() { return 42; }\n", f);
  fclose(f);

  clearTexts();
  CHECK(Mox_CompileFileA(vm, missing, 0, 0, NULL, NULL) == 0);
  CHECK(strncmp(mainText, "error opening file ", 19) == 0 && strstr(mainText, missing) != NULL);
  clearTexts();
  CHECK(Mox_CompileFileW(vm, wide(wsource, 512, missing), 0, 0, NULL, NULL) == 0);
  CHECK(strstr(mainText, "error opening file ") != NULL);

  CHECK(Mox_CompileFileA(vm, source, 0, 0, NULL, NULL) == 1);
  CHECK(Mox_CompileFileW(other, wide(wsource, 512, source), 0, 0, NULL, NULL) == 1);
  CHECK(Mox_ExecuteW(other, wide(name, 16, "answer"), 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(other) == 42);

  CHECK(Mox_WriteModuleA(vm, module) == 1);
  Mox_Reinit(vm);
  /* Gone after reinit, while the last result stays. */
  CHECK(Mox_ExecuteA(vm, "answer", 0, NULL, 0, NULL, NULL) == 0);
  CHECK(Mox_ReadModuleW(vm, wide(wmodule, 512, module)) == 1);
  CHECK(Mox_ExecuteA(vm, "answer", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 42);
  CHECK(Mox_ExecuteA(vm, "noSuchFunction", 0, NULL, 0, NULL, NULL) == 0);
  Mox_Reinit(vm);
  CHECK(Mox_ReadModuleA(vm, module) == 1);
  CHECK(Mox_WriteModuleW(vm, wide(wmodule, 512, module)) == 1);
  CHECK(Mox_ReadModuleA(vm, missing) == 0);

  remove(source);
  remove(module);
  CHECK(Mox_ReleaseVM(other) == 1);
  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(p) == 1);
}

/* The wait procedure is asked after each stepped instruction, survives
 * reinit, and swapping returns the previous one. */
static void testWaitProc(void) {
  MoxVMHandle vm = Mox_CreateVM(NULL);
  CHECK(Mox_SetDbgWaitProc(vm, keepStepping) == NULL);
  CHECK(Mox_CompileTextA(vm, "step() { TRSTEP; 1; 2; 3; return 4; }\n", 0, 0, NULL, NULL) == 1);
  waitCalls = 0;
  CHECK(Mox_ExecuteA(vm, "step", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 4);
  CHECK(waitCalls > 1);

  Mox_Reinit(vm);
  CHECK(Mox_SetDbgWaitProc(vm, stopStepping) == keepStepping);
  CHECK(Mox_CompileTextA(vm, "step() { TRSTEP; 1; 2; 3; return 4; }\n", 0, 0, NULL, NULL) == 1);
  waitCalls = 0;
  CHECK(Mox_ExecuteA(vm, "step", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(waitCalls == 1);
  CHECK(Mox_SetDbgWaitProc(vm, NULL) == stopStepping);
  CHECK(Mox_SetDbgWaitProc(vm, NULL) == NULL);
  CHECK(Mox_ReleaseVM(vm) == 1);
}

/* The console printer writes UTF-8 to standard output and leaves it open. */
static void testConsolePrinter(void) {
  char path[512], got[64] = {0};
  int saved, fd;
  FILE* f;
  MoxPrinterHandle console = Mox_CreateConsolePrinter();
  MoxVMHandle vm = Mox_CreateVM(console);
  CHECK(console != NULL && vm != NULL);
  tempPath(path, sizeof path, "stdout.txt");

  fflush(stdout);
  saved = dup(1);
  f = fopen(path, "w");
  CHECK(f != NULL && saved >= 0);
  if (f == NULL || saved < 0) return;
  fd = fileno(f);
  dup2(fd, 1);
  CHECK(Mox_CompileTextA(vm, "hi() { print(\"h\xC3\xA9llo\\n\"); return 1; }", 0, 0, NULL, NULL));
  CHECK(Mox_ExecuteA(vm, "hi", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_ReleaseVM(vm) == 1);
  CHECK(Mox_ReleasePrinter(console) == 1);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  fclose(f);

  f = fopen(path, "r");
  CHECK(f != NULL);
  if (f == NULL) return;
  CHECK(fgets(got, sizeof got, f) != NULL);
  fclose(f);
  remove(path);
  CHECK_TEXT(got, "h\xC3\xA9llo\n");
  /* Standard output still works after its printer is gone. */
  CHECK(fputs("", stdout) >= 0);
}

static void testErrorTrace(void) {
  char small[12];
  char whole[256];
  MoxWChar wideTrace[256];
  MoxPrinterHandle out = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(out);
  int length;
  CHECK(Mox_GetErrorTraceA(NULL, whole, sizeof whole) == 0);
  CHECK(Mox_GetErrorTraceW(NULL, wideTrace, 256) == 0);
  CHECK(Mox_CompileTextA(vm, "inner(z) { return 1 / z; }\nouter() {\n  return inner(0);\n}\n"
                             "fine() { return 1; }\n",
                         0, 0, NULL, NULL) == 1);
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "outer", 0, NULL, 0, NULL, NULL) == 0);
  CHECK_TEXT(mainText, "divide 0 error\n");
  length = Mox_GetErrorTraceA(vm, NULL, 0);
  CHECK(Mox_GetErrorTraceA(vm, whole, sizeof whole) == length);
  CHECK_TEXT(whole, "<text>:1: in inner\n<text>:3: in outer\n");
  CHECK(length == (int)strlen(whole));
  /* A short buffer gets what fits, terminated. */
  CHECK(Mox_GetErrorTraceA(vm, small, sizeof small) == length);
  CHECK_TEXT(small, "<text>:1: i");
  CHECK(Mox_GetErrorTraceW(vm, wideTrace, 256) == length);
  CHECK(wideTrace[0] == '<' && wideTrace[length] == 0);
  /* The next run clears it. */
  CHECK(Mox_ExecuteA(vm, "fine", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetErrorTraceA(vm, whole, sizeof whole) == 0);
  CHECK_TEXT(whole, "");
  Mox_ReleaseVM(vm);
  Mox_ReleasePrinter(out);
}

/* The controls for scripts a host does not trust: capabilities kept across
 * reinit, a memory limit the machine survives, the instruction limit, and
 * an interrupt that keeps nothing for a later run. */
static void testHostControls(void) {
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  const char* source =
      "opens() { return fopen(\"/etc/hostname\", \"r\"); }\n"
      "hog(;v, i) { v = newvector(10000); for (i = 0; i < 10000; i++) v[i] = newstring(1000, 'x');"
      " return 0; }\n"
      "spin(;i) { i = 0; while (1) i++; return 0; }\n"
      "small() { return strlen(\"four\"); }\n";
  CHECK(Mox_GetCapabilities(vm) == MOX_CAP_ALL);
  CHECK(Mox_SetCapabilities(vm, MOX_CAP_ALL & ~MOX_CAP_FILES) == 1);
  Mox_Reinit(vm);
  CHECK(Mox_GetCapabilities(vm) == (MOX_CAP_ALL & ~MOX_CAP_FILES));
  CHECK(Mox_CompileTextA(vm, source, 0, 0, NULL, NULL) == 1);
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "opens", 0, NULL, 0, NULL, NULL) == 0);
  CHECK_TEXT(mainText, "file access is disabled\n");

  CHECK(Mox_SetMemoryLimit(vm, 4000000) == 1);
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "hog", 0, NULL, 0, NULL, NULL) == 0);
  CHECK_TEXT(mainText, "not enough memory\n");
  CHECK(Mox_GetMemoryUsed(vm) < 4000000);
  CHECK(Mox_ExecuteA(vm, "small", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 4);

  CHECK(Mox_SetInstructionLimit(vm, 10000) == 1);
  clearTexts();
  CHECK(Mox_ExecuteA(vm, "spin", 0, NULL, 0, NULL, NULL) == 0);
  CHECK_TEXT(mainText, "instruction limit exceeded\n");

  CHECK(Mox_Interrupt(vm) == 0);
  CHECK(Mox_ExecuteA(vm, "small", 0, NULL, 0, NULL, NULL) == 1);
  /* The bytes alone give the same result. */
  CHECK(Mox_SetTranslation(vm, 0) == 1);
  CHECK(Mox_ExecuteA(vm, "small", 0, NULL, 0, NULL, NULL) == 1);
  CHECK(Mox_GetIntResult(vm) == 4);
  CHECK(Mox_SetTranslation(vm, 1) == 1 && Mox_SetTranslation(NULL, 1) == 0);

  Mox_SetInstructionLimit(vm, 0);
  Mox_SetMemoryLimit(vm, 0);
  Mox_SetBlockLimit(1000);
  clearTexts();
  CHECK(Mox_CompileTextA(vm, "big() { return newbuffer(2000); }", 0, 0, NULL, NULL) == 1);
  CHECK(Mox_ExecuteA(vm, "big", 0, NULL, 0, NULL, NULL) == 0);
  CHECK_TEXT(mainText, "not enough memory\n");
  Mox_SetBlockLimit(0);
  CHECK(Mox_ExecuteA(vm, "big", 0, NULL, 0, NULL, NULL) == 1);

  CHECK(Mox_SetCapabilities(NULL, 0) == 0 && Mox_GetCapabilities(NULL) == 0);
  CHECK(Mox_SetMemoryLimit(NULL, 1) == 0 && Mox_GetMemoryUsed(NULL) == 0);
  CHECK(Mox_SetInstructionLimit(NULL, 1) == 0 && Mox_Interrupt(NULL) == 0);
  Mox_ReleaseVM(vm);
  Mox_ReleasePrinter(p);
}

/* A native written in C: clamp(x, lo, hi) over numbers, failing on others. */
static int clampProc(MoxCallHandle call, void* userdata) {
  int* calls = (int*)userdata;
  double x, lo, hi;
  int i;
  ++*calls;
  if (Mox_ArgCount(call) != 3) return Mox_Fail(call, "clamp takes 3 numbers");
  for (i = 0; i < 3; ++i)
    if (Mox_ArgType(call, i) != MOX_TYPE_INT && Mox_ArgType(call, i) != MOX_TYPE_DOUBLE)
      return Mox_Fail(call, "clamp: number expected");
  x = Mox_ArgDouble(call, 0);
  lo = Mox_ArgDouble(call, 1);
  hi = Mox_ArgDouble(call, 2);
  if (Mox_ArgType(call, 0) == MOX_TYPE_INT)
    Mox_ReturnInt(call, (int32_t)(x < lo ? lo : x > hi ? hi : x));
  else
    Mox_ReturnDouble(call, x < lo ? lo : x > hi ? hi : x);
  return 1;
}

static int shoutProc(MoxCallHandle call, void* userdata) {
  char text[64];
  int n = Mox_ArgStringA(call, 0, text, (int)sizeof text);
  (void)userdata;
  if (n < 0) return Mox_Fail(call, "shout: string expected");
  strcat(text, "!");
  Mox_ReturnStringA(call, text);
  return 1;
}

/* Natives from C, typed calls and results, globals, and errors both ways. */
static void testHostFunctions(void) {
  int calls = 0;
  char text[64];
  MoxPrinterHandle p = Mox_CreateCallbackPrinter(toMain);
  MoxVMHandle vm = Mox_CreateVM(p);
  CHECK(Mox_RegisterFunction(vm, "clamp", clampProc, &calls) == 1);
  CHECK(Mox_RegisterFunction(vm, "clamp", clampProc, &calls) == 0);
  CHECK(Mox_RegisterFunction(vm, "strlen", clampProc, &calls) == 0);
  CHECK(Mox_RegisterFunction(vm, "shout", shoutProc, NULL) == 1);
  CHECK(Mox_CompileTextA(vm,
                         "scale(n, f, s) { return Vec(clamp(n, 0, 10), clamp(f, 0.0, 1.0), shout(s)); }\n"
                         "twice(x) { return x + x; }\n"
                         "bad() { return clamp(\"x\", 1, 2); }\n"
                         "level() { return LEVEL * 2; }\n",
                         0, 0, NULL, NULL) == 1);
  Mox_PushInt(vm, 12);
  Mox_PushDouble(vm, 0.25);
  Mox_PushStringA(vm, "h\xc3\xa9");
  CHECK(Mox_Call(vm, "scale", 3) == 1);
  CHECK(Mox_GetResultType(vm) == MOX_TYPE_VECTOR);
  CHECK(calls == 2);

  Mox_PushInt(vm, 21);
  CHECK(Mox_Call(vm, "twice", 1) == 1);
  CHECK(Mox_GetResultType(vm) == MOX_TYPE_INT && Mox_GetIntResult(vm) == 42);
  Mox_PushDouble(vm, 1.25);
  CHECK(Mox_Call(vm, "twice", 1) == 1);
  CHECK(Mox_GetResultType(vm) == MOX_TYPE_DOUBLE && Mox_GetDoubleResult(vm) == 2.5);
  Mox_PushStringA(vm, "ab");
  CHECK(Mox_Call(vm, "twice", 1) == 1);
  CHECK(Mox_GetResultType(vm) == MOX_TYPE_STRING);
  CHECK(Mox_GetStringResultA(vm, NULL, 0) == 4);
  CHECK(Mox_GetStringResultA(vm, text, 3) == 4);
  CHECK_TEXT(text, "ab");
  CHECK(Mox_GetStringResultA(vm, text, (int)sizeof text) == 4);
  CHECK_TEXT(text, "abab");
  Mox_PushNull(vm);
  CHECK(Mox_Call(vm, "scale", 0) == 0); /* too few: the pushed null stays */
  CHECK(Mox_Call(vm, "twice", 1) == 0); /* null + null */

  /* A native's failure is the script's error, readable with its trace. */
  clearTexts();
  CHECK(Mox_Call(vm, "bad", 0) == 0);
  CHECK_TEXT(mainText, "clamp: number expected\n");
  CHECK(Mox_GetErrorTextA(vm, text, (int)sizeof text) > 0);
  CHECK_TEXT(text, "clamp: number expected\n");
  CHECK(Mox_GetErrorTraceA(vm, text, (int)sizeof text) > 0);
  CHECK(strstr(text, "in clamp") != NULL);
  /* ... and the machine goes on. */
  CHECK(Mox_SetGlobalInt(vm, "LEVEL", 4) == 1);
  CHECK(Mox_Call(vm, "level", 0) == 1 && Mox_GetIntResult(vm) == 8);
  CHECK(Mox_GetErrorTextA(vm, text, (int)sizeof text) == 0);
  CHECK(Mox_SetGlobalDouble(vm, "LEVEL", 0.5) == 1);
  CHECK(Mox_GetGlobalType(vm, "LEVEL") == MOX_TYPE_DOUBLE && Mox_GetGlobalDouble(vm, "LEVEL") == 0.5);
  CHECK(Mox_SetGlobalStringA(vm, "NAME", "mox") == 1);
  CHECK(Mox_GetGlobalStringA(vm, "NAME", text, (int)sizeof text) == 3);
  CHECK_TEXT(text, "mox");
  CHECK(Mox_SetGlobalInt(vm, "N", 7) == 1 && Mox_GetGlobalInt(vm, "N") == 7);
  CHECK(Mox_SetGlobalNull(vm, "N") == 1 && Mox_GetGlobalType(vm, "N") == MOX_TYPE_NULL);
  CHECK(Mox_SetGlobalInt(vm, "twice", 1) == 0);
  CHECK(Mox_GetGlobalType(vm, "twice") == MOX_TYPE_NULL);
  CHECK(Mox_GetGlobalStringA(vm, "missing", text, (int)sizeof text) == -1);

  /* reinit forgets the natives; they can be registered again. */
  Mox_Reinit(vm);
  CHECK(Mox_RegisterFunction(vm, "clamp", clampProc, &calls) == 1);
  CHECK(Mox_RegisterFunction(NULL, "x", clampProc, NULL) == 0 && Mox_PushInt(NULL, 1) == 0);
  CHECK(Mox_Call(NULL, "x", 0) == 0 && Mox_GetResultType(NULL) == MOX_TYPE_NULL);
  Mox_ReleaseVM(vm);
  Mox_ReleasePrinter(p);
}

int main(void) {
  testNullHandles();
  testHostFunctions();
  testHostControls();
  testErrorTrace();
  testNullTexts();
  testCompileAndExecute();
  testPrinterRouting();
  testWideVariants();
  testFilesAndReinit();
  testWaitProc();
  testConsolePrinter();
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  puts("all flat interface checks passed");
  return 0;
}
