// The printf-style formatting engine for UTF-16 format strings. It serves
// MoxString::format, the script-value formatting constructor of MoxString,
// the printers and the formatted-length service.
//
// Conversions: flags "-+ #0", width and precision (digits or '*' in the
// va_list form), size prefixes h, l, ll, L, I64, I32, w, and the letters
// d i o u x X e E f F g G a A c C s S p n(ignored) %.
//   %s %c   take UTF-16 text (const MoxChar*) and a unit passed as int;
//   %S %C   take narrow UTF-8 text (const char*) and a byte passed as int;
//   %d etc. take 32-bit arguments, with "ll" or "I64" 64-bit ones;
//   width and precision of %s count UTF-16 units;
//   "h" makes s/c narrow, "l" and "w" make them UTF-16; "L" takes a double;
//   %p prints 16 upper-case hexadecimal digits; a null %s prints "(null)";
//   an unknown letter is printed itself and takes no argument; a
//   specification cut off by the end of the format is kept as text.
// Widths, and the precisions of numbers, are clamped to one million
// (moxFormatFieldUnits tells beforehand); the precision of text is a most.
#ifndef MOX_FORMAT_H
#define MOX_FORMAT_H

#include <cstdarg>
#include <cstdint>
#include <string>

#include "core/MoxConfig.h"

// One argument of the typed form, for callers that have values rather than a
// va_list (the formatting constructor hands script values over this way).
struct MoxFormatArg {
  enum Kind { INT32, INT64, DOUBLE, TEXT16, TEXT8, POINTER };
  Kind kind;
  union {
    int32_t i32;
    int64_t i64;
    double d;
    const MoxChar* text16;
    const char* text8;
    const void* ptr;
  };
};

// Formats into out (appending); returns the number of UTF-16 units appended.
MOX_API size_t moxVFormat(std::u16string& out, const MoxChar* format, va_list args);

// The same over a typed argument list. A conversion that finds no argument
// left, or an argument of a kind that does not fit its letter, never reads
// anything else: a text letter with a number prints the number, a numeric
// letter with text prints the text, a pointer is never read through, and
// numbers convert between the integer and floating letters (a double for %d
// is truncated and saturated). '*' takes an integer argument when the next
// one is an integer.
MOX_API size_t moxFormatArgs(std::u16string& out, const MoxChar* format,
                             const MoxFormatArg* args, size_t argc);

// Units the widths and precisions written in format (in digits) ask for
// together, as written; the precision of text counts nothing, since it only
// limits. *beyond (when given) tells whether one of them goes past the
// clamp, so that the text would come out shorter than asked. A caller
// formatting a format it does not trust measures it first and refuses it
// instead of making a cut or huge text.
MOX_API uint64_t moxFormatFieldUnits(const MoxChar* format, bool* beyond);

// Number of UTF-16 units the format would produce.
MOX_API int moxVFormatLength(const MoxChar* format, va_list args);

// The decimal text of v, as "%ld" formats it, written to buf without a
// terminator; returns its length. For the conversions that run in loops
// (string(i), "k" + string(i)), which need none of the engine above.
const unsigned kMoxIntTextUnits = 11;
MOX_API unsigned moxIntText(int32_t v, MoxChar buf[kMoxIntTextUnits]);

#endif
