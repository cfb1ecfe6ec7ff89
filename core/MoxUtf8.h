// Conversion between the library's UTF-16 text and the UTF-8 used at the
// platform boundary (file names, command-line words, narrow output).
//
// Decoding never rejects anything: each byte of an ill-formed sequence
// becomes the code unit of the same value. Encoding writes an unpaired
// surrogate in its 3-byte form.
#ifndef MOX_UTF8_H
#define MOX_UTF8_H

#include <string>

#include "core/MoxConfig.h"

// Appends the UTF-16 form of len bytes of s to out.
MOX_API void moxUtf8Decode(const char* s, size_t len, std::u16string& out);
// Appends the UTF-8 form of len units of s to out.
MOX_API void moxUtf8Encode(const MoxChar* s, size_t len, std::string& out);
// The UTF-8 form of s, and the UTF-16 form of s, as new strings.
inline std::string moxToUtf8(const std::u16string& s) {
  std::string out;
  moxUtf8Encode(s.c_str(), s.size(), out);
  return out;
}
inline std::u16string moxFromUtf8(const std::string& s) {
  std::u16string out;
  moxUtf8Decode(s.data(), s.size(), out);
  return out;
}
// Appends the UTF-16 form of the zero-terminated s, stopping before the
// character that would make the appended units exceed maxUnits. Never reads
// beyond the terminator or beyond the bytes of the last character taken.
// Returns the number of units appended.
MOX_API size_t moxUtf8DecodeZ(const char* s, size_t maxUnits, std::u16string& out);
// Bytes that moxUtf8Encode produces for len units of s.
MOX_API size_t moxUtf8EncodedLength(const MoxChar* s, size_t len);
// Units before the terminating zero; 0 for null.
MOX_API size_t moxStrLen(const MoxChar* s);

#endif
