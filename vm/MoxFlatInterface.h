/*
 * Plain function interface of libmoxlib for hosts that cannot use the C++
 * classes: C programs, other languages through their foreign function
 * interfaces. This header is C99 and C++ alike and includes nothing of the
 * library's C++ headers.
 *
 * A host creates a printer (or passes NULL to discard the machine's own
 * output), creates a machine on it, compiles, reads or writes modules, runs
 * functions, reads the integer result, and finally releases the machine and
 * then the printer: a printer must outlive every machine that uses it.
 *
 * Boolean arguments are int (any non-zero value is true); boolean results are
 * 1 for success and 0 for failure. A NULL machine handle makes every function
 * return 0 (or nothing) without doing anything else; Mox_GetIntResult(NULL)
 * gives MOX_NO_INT_RESULT.
 *
 * Text: the A functions take UTF-8, the W functions UTF-16 (MoxWChar units,
 * native byte order, zero-terminated). Every text is copied for the duration
 * of the call only.
 */
#ifndef MOX_FLAT_INTERFACE_H
#define MOX_FLAT_INTERFACE_H

#include <stdbool.h>
#include <stdint.h>

#include "vm/MoxCapabilities.h"

/* The library is built with hidden visibility; these functions are its
 * exported C entry points. */
#if defined(MOX_BUILDING_LIB) && defined(__GNUC__)
#define MOX_FLAT_API __attribute__((visibility("default")))
#else
#define MOX_FLAT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit. It is char16_t for C++ callers, so u"..." literals
 * and std::u16string::c_str() pass unchanged; C callers see the 16-bit
 * unsigned integer of the same size and alignment. */
#ifdef __cplusplus
typedef char16_t MoxWChar;
#else
typedef uint16_t MoxWChar;
#endif

/* Opaque handles: a virtual machine and an output printer. */
typedef struct MoxVMHandle_* MoxVMHandle;
typedef struct MoxPrinterHandle_* MoxPrinterHandle;

/* Receives each piece of output as zero-terminated UTF-8 text, valid only
 * during the call. */
typedef void (*MoxPrintProc)(const char* text);

/* Asked by the instruction trace after each step when single-stepping;
 * true continues. */
typedef bool (*MoxDbgWaitProc)(void);

/* Mox_GetIntResult for a NULL machine: the smallest 32-bit integer. */
#define MOX_NO_INT_RESULT ((int32_t)(-2147483647 - 1))

/* A new machine printing on printer (NULL discards its output); NULL when
 * memory runs out. */
MOX_FLAT_API MoxVMHandle Mox_CreateVM(MoxPrinterHandle printer);
/* Destroys the machine: 1, or 0 for NULL. */
MOX_FLAT_API int Mox_ReleaseVM(MoxVMHandle vm);

/* Compiles a source file. Compiler messages go to compilerPrinter, the
 * procedure listings made when debug is set to debugPrinter; NULL printers
 * mean the machine's printer. */
MOX_FLAT_API int Mox_CompileFileA(MoxVMHandle vm, const char* path, int showInfo, int debug,
                                  MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter);
MOX_FLAT_API int Mox_CompileFileW(MoxVMHandle vm, const MoxWChar* path, int showInfo, int debug,
                                  MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter);

/* Compiles source text held in memory, with the same printers. */
MOX_FLAT_API int Mox_CompileTextA(MoxVMHandle vm, const char* text, int showInfo, int debug,
                                  MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter);
MOX_FLAT_API int Mox_CompileTextW(MoxVMHandle vm, const MoxWChar* text, int showInfo, int debug,
                                  MoxPrinterHandle compilerPrinter, MoxPrinterHandle debugPrinter);

/* Runs the global function name with argc string arguments taken from argv
 * (argc below 1 or a NULL argv runs it without arguments; a NULL element is
 * the empty string). The error text of a failed run goes to errorPrinter, the
 * instruction trace (when trace is set) to tracePrinter; NULL printers mean
 * the machine's printer. C does not convert char** to const char* const*
 * implicitly: a C host forwarding the argv of main casts it. */
MOX_FLAT_API int Mox_ExecuteA(MoxVMHandle vm, const char* name, int argc, const char* const* argv,
                              int trace, MoxPrinterHandle errorPrinter,
                              MoxPrinterHandle tracePrinter);
MOX_FLAT_API int Mox_ExecuteW(MoxVMHandle vm, const MoxWChar* name, int argc,
                              const MoxWChar* const* argv, int trace,
                              MoxPrinterHandle errorPrinter, MoxPrinterHandle tracePrinter);

/* Writes everything compiled into the machine to a module file. */
MOX_FLAT_API int Mox_WriteModuleA(MoxVMHandle vm, const char* path);
MOX_FLAT_API int Mox_WriteModuleW(MoxVMHandle vm, const MoxWChar* path);

/* Adds the contents of a module file to the machine. */
MOX_FLAT_API int Mox_ReadModuleA(MoxVMHandle vm, const char* path);
MOX_FLAT_API int Mox_ReadModuleW(MoxVMHandle vm, const MoxWChar* path);

/* The value the last run returned, converted to a 32-bit integer. */
MOX_FLAT_API int32_t Mox_GetIntResult(MoxVMHandle vm);

/* Forgets every compiled or loaded definition; the printer, the last result
 * and the wait procedure stay. */
MOX_FLAT_API void Mox_Reinit(MoxVMHandle vm);

/* A printer writing to the process's standard output (which it never
 * closes); NULL when memory runs out. */
MOX_FLAT_API MoxPrinterHandle Mox_CreateConsolePrinter(void);
/* A printer handing its output to proc; NULL for a NULL proc. */
MOX_FLAT_API MoxPrinterHandle Mox_CreateCallbackPrinter(MoxPrintProc proc);
/* Frees a printer made by one of the two functions above: 1, or 0 for NULL. */
MOX_FLAT_API int Mox_ReleasePrinter(MoxPrinterHandle printer);

/* Installs the single-step wait procedure; returns the one it replaces
 * (NULL for a NULL machine). */
MOX_FLAT_API MoxDbgWaitProc Mox_SetDbgWaitProc(MoxVMHandle vm, MoxDbgWaitProc proc);

/* The call trace of the last run that failed (innermost call first, one line
 * a call, "file:line: in name"), copied into buffer as zero-terminated text:
 * UTF-8 for A, UTF-16 for W. At most size - 1 bytes or units are copied,
 * never a part of a character; the result is the length of the whole trace
 * (so a host can ask with size 0 and then allocate), 0 when the last run
 * succeeded or for a NULL machine. buffer may be NULL when size is 0. */
MOX_FLAT_API int Mox_GetErrorTraceA(MoxVMHandle vm, char* buffer, int size);
MOX_FLAT_API int Mox_GetErrorTraceW(MoxVMHandle vm, MoxWChar* buffer, int size);

/* Controls for scripts a host does not trust. */

/* What the machine's scripts may reach: MOX_CAP_... flags of
 * vm/MoxCapabilities.h (MOX_CAP_ALL when the machine is made; Mox_Reinit
 * keeps the choice). 1; 0 for a NULL machine. */
MOX_FLAT_API int Mox_SetCapabilities(MoxVMHandle vm, unsigned int caps);
/* The flags in force; 0 for a NULL machine. */
MOX_FLAT_API unsigned int Mox_GetCapabilities(MoxVMHandle vm);
/* Most bytes the machine's values may hold together (0: no bound). A run
 * that needs more fails with "not enough memory" and the machine stays
 * usable. 1; 0 for a NULL machine. */
MOX_FLAT_API int Mox_SetMemoryLimit(MoxVMHandle vm, uint64_t bytes);
/* Bytes the machine's values hold now, measured only while a limit is in
 * force; 0 for a NULL machine. */
MOX_FLAT_API uint64_t Mox_GetMemoryUsed(MoxVMHandle vm);
/* Most instructions one Mox_Execute may run (0: no bound). A run that needs
 * more fails with "instruction limit exceeded". 1; 0 for a NULL machine. */
MOX_FLAT_API int Mox_SetInstructionLimit(MoxVMHandle vm, uint64_t count);
/* 1: runs use the translated form of procedures (the default); 0: they
 * decode the bytes one instruction at a time, with the same results but
 * slower. 1; 0 for a NULL machine. */
MOX_FLAT_API int Mox_SetTranslation(MoxVMHandle vm, int on);
/* The largest single block a script may ask for by a count (newvector,
 * newbuffer, ...), for the whole process: 0 restores the default, the
 * smaller of physical memory and 1 GiB. */
MOX_FLAT_API void Mox_SetBlockLimit(uint64_t bytes);
/* Stops the machine's run in progress, from any thread: it fails at its next
 * instruction with "execution interrupted". 1 when a run was in progress,
 * 0 otherwise (nothing is kept for a later run) or for a NULL machine. */
MOX_FLAT_API int Mox_Interrupt(MoxVMHandle vm);

/* Values across the boundary, without the value model. */

/* Kinds of a value as the functions below report them. */
#define MOX_TYPE_NULL 0
#define MOX_TYPE_INT 1
#define MOX_TYPE_DOUBLE 2
#define MOX_TYPE_STRING 3
#define MOX_TYPE_VECTOR 4
#define MOX_TYPE_DICTIONARY 5
#define MOX_TYPE_OBJECT 6
#define MOX_TYPE_OTHER 7

/* Calling a script function with typed arguments: push them in order, then
 * Mox_Call takes the last nargs pushed (all of them, usually) and runs the
 * function, as Mox_ExecuteA does: 1 or 0, the error text on the machine's
 * printer and in Mox_GetErrorTextA. Each push gives 1, or 0 for a NULL
 * machine. */
MOX_FLAT_API int Mox_PushInt(MoxVMHandle vm, int32_t value);
MOX_FLAT_API int Mox_PushDouble(MoxVMHandle vm, double value);
MOX_FLAT_API int Mox_PushStringA(MoxVMHandle vm, const char* value);
MOX_FLAT_API int Mox_PushNull(MoxVMHandle vm);
MOX_FLAT_API int Mox_Call(MoxVMHandle vm, const char* name, int nargs);

/* The result of the last run: its kind (MOX_TYPE_...), and the value as a
 * double (integers too; 0 for other kinds) or as UTF-8 text copied into
 * buffer (at most size - 1 bytes, never part of a character; the result is
 * the whole text's length, so a host can ask with size 0 first; -1 when the
 * result is not a string). */
MOX_FLAT_API int Mox_GetResultType(MoxVMHandle vm);
MOX_FLAT_API double Mox_GetDoubleResult(MoxVMHandle vm);
MOX_FLAT_API int Mox_GetStringResultA(MoxVMHandle vm, char* buffer, int size);
/* The error text of the last run that failed, as printed ("divide 0
 * error\n"), copied like Mox_GetStringResultA; 0 after a success. */
MOX_FLAT_API int Mox_GetErrorTextA(MoxVMHandle vm, char* buffer, int size);

/* Native functions written in C. The callback receives the call (valid only
 * during the callback) and the userdata given at registration; it reads its
 * arguments (0 is the first), sets a result with one of the Mox_Return
 * functions (none: null) and returns 1, or returns Mox_Fail(call, text),
 * whose text becomes the script's run-time error. */
typedef struct MoxCallHandle_* MoxCallHandle;
typedef int (*MoxHostProc)(MoxCallHandle call, void* userdata);
/* 1, or 0 when the name is already defined, or the machine holds 256 such
 * functions already. Mox_Reinit forgets them. */
MOX_FLAT_API int Mox_RegisterFunction(MoxVMHandle vm, const char* name, MoxHostProc proc,
                                      void* userdata);
MOX_FLAT_API int Mox_ArgCount(MoxCallHandle call);
/* MOX_TYPE_...; MOX_TYPE_NULL for an index outside the arguments. */
MOX_FLAT_API int Mox_ArgType(MoxCallHandle call, int index);
/* An integer argument, or a double's integer part; 0 for other kinds. */
MOX_FLAT_API int32_t Mox_ArgInt(MoxCallHandle call, int index);
/* A number argument as a double; 0 for other kinds. */
MOX_FLAT_API double Mox_ArgDouble(MoxCallHandle call, int index);
/* A string argument as UTF-8, copied like Mox_GetStringResultA; -1 when
 * the argument is not a string. */
MOX_FLAT_API int Mox_ArgStringA(MoxCallHandle call, int index, char* buffer, int size);
MOX_FLAT_API void Mox_ReturnInt(MoxCallHandle call, int32_t value);
MOX_FLAT_API void Mox_ReturnDouble(MoxCallHandle call, double value);
MOX_FLAT_API void Mox_ReturnStringA(MoxCallHandle call, const char* value);
MOX_FLAT_API void Mox_ReturnNull(MoxCallHandle call);
/* Makes message (UTF-8) the call's run-time error; returns 0, what the
 * callback then returns. */
MOX_FLAT_API int Mox_Fail(MoxCallHandle call, const char* message);

/* Global variables by name: setting one creates or overwrites it (1; 0 when
 * the name is a function or class, or for a NULL machine); reading gives its
 * kind and value like the result functions (MOX_TYPE_NULL, 0 and -1 for a
 * name that is not a variable). */
MOX_FLAT_API int Mox_SetGlobalInt(MoxVMHandle vm, const char* name, int32_t value);
MOX_FLAT_API int Mox_SetGlobalDouble(MoxVMHandle vm, const char* name, double value);
MOX_FLAT_API int Mox_SetGlobalStringA(MoxVMHandle vm, const char* name, const char* value);
MOX_FLAT_API int Mox_SetGlobalNull(MoxVMHandle vm, const char* name);
MOX_FLAT_API int Mox_GetGlobalType(MoxVMHandle vm, const char* name);
MOX_FLAT_API int32_t Mox_GetGlobalInt(MoxVMHandle vm, const char* name);
MOX_FLAT_API double Mox_GetGlobalDouble(MoxVMHandle vm, const char* name);
MOX_FLAT_API int Mox_GetGlobalStringA(MoxVMHandle vm, const char* name, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
