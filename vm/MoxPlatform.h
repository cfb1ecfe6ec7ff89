// Platform services used throughout the library: allocation that ends the
// process on failure, file search along directory lists, the persistent
// environment store, calendar time and formatted length.
//
// They live in namespace mox because several names (time, localtime) are
// also C library functions and both must stay usable.
//
// Every function may be called from several threads at once. A text or
// record handed back lives in a buffer of the calling thread. The process
// environment, the store and standard input are the process's: the
// library's own uses of them take turns.
#ifndef MOX_PLATFORM_H
#define MOX_PLATFORM_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/MoxConfig.h"

namespace mox {

// Ends the process with the given exit code through the normal exit path.
[[noreturn]] MOX_API void errorExit(int code);

// malloc that never returns null: exhaustion ends the process with code 1.
MOX_API void* allocmem(size_t size);
// realloc with the same guarantee.
MOX_API void* reallocmem(void* block, size_t size);
// calloc with the same guarantee: zeroed memory that costs nothing until it
// is touched.
MOX_API void* callocmem(size_t count, size_t unit);
// realloc that calls nobody back, for an owner whose state is not whole
// until it holds the new block: null when the system refuses (the block is
// unchanged then). *counted receives what growCharge needs.
MOX_API void* growmem(void* block, size_t size, size_t* counted);
// Charges the block growmem returned to the machine at work, once its owner
// holds it again: crossing a memory limit calls the machine back.
MOX_API void growCharge(void* block, size_t counted);
// Frees a block of the three above (null is ignored). Every block they give
// is counted by the machine at work on the thread (see MoxMemory.h), so it
// must come back through here, not through free().
MOX_API void freemem(void* block);

// Largest block a script may ask for at once by a count ("newvector",
// "newbuffer", ...): a count beyond it is a run-time error instead of the
// end of the process. The bound is the smaller of physical memory and
// 1 GiB unless set (0 restores that default). The bound is the process's;
// a request must also fit the memory limit of the machine at work.
MOX_API void setBlockLimit(size_t bytes);
MOX_API size_t getBlockLimit();
// True when count elements of unit bytes stay within the bound.
MOX_API bool blockFits(size_t count, size_t unit);

// Full path of the first readable file "dir/name" for the directories of a
// list separated by ';' or ':'. Null when nothing matches or an argument is
// null. The result lives in a buffer overwritten by the next search on the
// same thread.
MOX_API const MoxChar* searchDirList(const MoxChar* dirList, const MoxChar* fileName);
// The same along the directory list held in an environment variable.
MOX_API const MoxChar* searchEnv(const MoxChar* varName, const MoxChar* fileName);
// The same along "Path", then "PATH".
MOX_API const MoxChar* searchPath(const MoxChar* fileName);

// fopen for a UTF-16 path and mode: the path as UTF-8, the mode without "t"
// (Linux has no text mode, so "rt" reads). Null for a null argument.
MOX_API FILE* _wfopen(const MoxChar* path, const MoxChar* mode);

// The persistent store behind _tgetenv and _tputenv is the file named by
// $MOX_ENVIRONMENT, else $XDG_CONFIG_HOME/mox/environment, else
// $HOME/.config/mox/environment: one "name=value" line (UTF-8) per variable,
// replaced as a whole (temporary file, fsync, rename) on every write.
//
// The variable's value: from the process environment when set there, else
// from the persistent store, else an empty text. Never null; overwritten by
// the next call on the same thread.
MOX_API const MoxChar* _tgetenv(const MoxChar* name);
// "name=value": stores the variable persistently and in the process
// environment; an empty value removes it. 0 on success, an errno value on
// failure (EINVAL for an empty name or a line break in the text, which the
// store could not hold), -1 without "=". A failed store write leaves the
// process environment unchanged.
MOX_API int _tputenv(const MoxChar* assignment);

// A file written beside its target and put in its place only when every
// byte is on disk: readers, and a process that dies meanwhile, see the old
// file or the new one, never a part of it. A replacement that is not
// committed leaves the target untouched and no file behind.
class MOX_API FileReplacement {
 public:
  // Opens a temporary file in the target's folder (following a link to the
  // file it names). mode gives the new file's permissions; -1 keeps the
  // target's, or for a new file what a plain create would give.
  explicit FileReplacement(const char* path, int mode = -1);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Where to write; null when the temporary file could not be made.
  FILE* stream() const { return stream_; }
  // The errno value of the last failure; 0 without one.
  int error() const { return err_; }
  // Flushes the file to disk and renames it over the target: 0, or an
  // errno value with the target untouched and the temporary file removed.
  int commit();

 private:
  FILE* stream_ = nullptr;
  std::string target_;
  std::string temp_;
  int err_ = 0;
};

// Local-time record: month 1 to 12, full year, day of year and daylight flag
// always -1.
struct MoxTm {
  int32_t sec;
  int32_t min;
  int32_t hour;
  int32_t mday;
  int32_t mon;
  int32_t year;
  int32_t wday;
  int32_t yday;
  int32_t isdst;
};

// Seconds since 1970-01-01 00:00:00 UTC, also stored through t when non-null.
MOX_API uint32_t time(uint32_t* t);
// "Thu Jan 01 00:00:10 1970\n" in local time; null for a null pointer or a
// failed conversion. Overwritten by the next call on the same thread.
MOX_API const MoxChar* _tctime(const uint32_t* t);
// The local-time record of t; null for a null pointer or a failed conversion.
// Overwritten by the next call on the same thread.
MOX_API const MoxTm* localtime(const uint32_t* t);

// One UTF-16 unit read from standard input and echoed. Callers on several
// threads take turns; the second unit of a pair goes to the next caller.
MOX_API MoxChar _gettche();

// Number of UTF-16 units (bytes for the narrow form) the format produces.
MOX_API int _vscwprintf(const MoxChar* format, va_list args);
MOX_API int _vscprintf(const char* format, va_list args);

}  // namespace mox

#endif
