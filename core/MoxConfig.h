// Basic types and the export macro shared by every part of moxlib.
#ifndef MOX_CONFIG_H
#define MOX_CONFIG_H

#include <cstddef>
#include <cstdint>

// Every text inside the library is UTF-16. wchar_t is 32 bits on Linux, so it
// is never used for library text.
typedef char16_t MoxChar;

// Classes and functions marked MOX_API are the library's public interface;
// everything else stays hidden inside libmoxlib.so.
#if defined(MOX_BUILDING_LIB)
#define MOX_API __attribute__((visibility("default")))
#else
#define MOX_API
#endif

// For the small helpers of the interpreter's loop: the loop is one function
// larger than GCC inlines into on its own.
#define MOX_ALWAYS_INLINE __attribute__((always_inline)) inline
// For the loop's rarer paths, kept out of its code.
#define MOX_NOINLINE __attribute__((noinline))

class MoxVirtualMachine;
class MoxValue;
class MoxRefObject;
class MoxString;
class MoxVector;
class ValPtr;
class MoxBuffer;
class MoxCharBuffer;
class MoxDictionary;
class MoxDictionaryEntry;
class MoxClass;
class MoxObject;
class MoxInterpreter;
class MoxDebugger;
class MoxCompiler;
class IMoxPrinter;

// The one signature through which native code meets scripts: args is the
// interpreter's stack cursor on the last argument; argument i is
// args[-argc + i] and the result goes into args[-argc].
typedef bool (*MoxNativeFunction)(MoxVirtualMachine* vm, int argc, ValPtr& args);

#endif
