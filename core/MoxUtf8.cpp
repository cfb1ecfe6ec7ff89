// UTF-8 <-> UTF-16 conversion with a lossless byte fallback on input and
// WTF-8 style output for unpaired surrogates.
#include "core/MoxUtf8.h"

namespace {

inline bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed sequence that starts at s[0], with its scalar
// value in cp; 0 when the bytes there are not a well-formed sequence.
// Three-byte encodings of surrogates are accepted so that text written by
// moxUtf8Encode reads back unchanged.
size_t decodeOne(const unsigned char* s, size_t left, uint32_t& cp) {
  unsigned char b0 = s[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 < 0xC2) return 0;  // stray continuation or overlong two-byte lead
  if (b0 < 0xE0) {
    if (left < 2 || !isContinuation(s[1])) return 0;
    cp = ((b0 & 0x1Fu) << 6) | (s[1] & 0x3Fu);
    return 2;
  }
  if (b0 < 0xF0) {
    if (left < 3 || !isContinuation(s[1]) || !isContinuation(s[2])) return 0;
    if (b0 == 0xE0 && s[1] < 0xA0) return 0;  // overlong
    cp = ((b0 & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
    return 3;
  }
  if (b0 < 0xF5) {
    if (left < 4 || !isContinuation(s[1]) || !isContinuation(s[2]) || !isContinuation(s[3]))
      return 0;
    if (b0 == 0xF0 && s[1] < 0x90) return 0;  // overlong
    if (b0 == 0xF4 && s[1] > 0x8F) return 0;  // beyond U+10FFFF
    cp = ((b0 & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    return 4;
  }
  return 0;
}

inline bool isHighSurrogate(MoxChar c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool isLowSurrogate(MoxChar c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

void moxUtf8Decode(const char* s, size_t len, std::u16string& out) {
  if (!s) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  out.reserve(out.size() + len);
  size_t i = 0;
  while (i < len) {
    // ASCII runs are the common case: widened some units at a time.
    if (p[i] < 0x80) {
      MoxChar run[128];
      size_t n = 0;
      while (n < 128 && i < len && p[i] < 0x80) run[n++] = static_cast<MoxChar>(p[i++]);
      out.append(run, n);
      continue;
    }
    uint32_t cp = 0;
    size_t n = decodeOne(p + i, len - i, cp);
    if (n == 0) {
      out.push_back(static_cast<MoxChar>(p[i]));  // byte fallback
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<MoxChar>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<MoxChar>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<MoxChar>(cp));
    }
    i += n;
  }
}

size_t moxUtf8DecodeZ(const char* s, size_t maxUnits, std::u16string& out) {
  if (!s) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  size_t units = 0;
  size_t i = 0;
  while (units < maxUnits && p[i] != 0) {
    uint32_t cp = 0;
    // decodeOne stops at the first byte that is not a continuation, so the
    // terminator is never passed even with an unbounded length.
    size_t n = decodeOne(p + i, SIZE_MAX, cp);
    if (n == 0) {
      out.push_back(static_cast<MoxChar>(p[i]));
      ++units;
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      if (maxUnits - units < 2) break;
      cp -= 0x10000;
      out.push_back(static_cast<MoxChar>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<MoxChar>(0xDC00 + (cp & 0x3FF)));
      units += 2;
    } else {
      out.push_back(static_cast<MoxChar>(cp));
      ++units;
    }
    i += n;
  }
  return units;
}

void moxUtf8Encode(const MoxChar* s, size_t len, std::string& out) {
  if (!s) return;
  out.reserve(out.size() + len);
  for (size_t i = 0; i < len; ++i) {
    uint32_t c = s[i];
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (isHighSurrogate(s[i]) && i + 1 < len && isLowSurrogate(s[i + 1])) {
      uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00u);
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
      ++i;
    } else {
      // Also the path for an unpaired surrogate: its plain 3-byte form.
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

size_t moxUtf8EncodedLength(const MoxChar* s, size_t len) {
  if (!s) return 0;
  size_t n = 0;
  for (size_t i = 0; i < len; ++i) {
    MoxChar c = s[i];
    if (c < 0x80) {
      n += 1;
    } else if (c < 0x800) {
      n += 2;
    } else if (isHighSurrogate(c) && i + 1 < len && isLowSurrogate(s[i + 1])) {
      n += 4;
      ++i;
    } else {
      n += 3;
    }
  }
  return n;
}

size_t moxStrLen(const MoxChar* s) {
  if (!s) return 0;
  const MoxChar* p = s;
  while (*p) ++p;
  return static_cast<size_t>(p - s);
}
