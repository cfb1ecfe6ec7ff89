// The printf engine for UTF-16 formats. One parser and one set of emitters
// serve two argument sources: a va_list (C callers) and a typed argument
// array (script values). The source only fetches a value for a parsed
// specification; the emitters decide how each value kind is printed, so a
// typed argument of an unexpected kind is printed as what it is and is
// never reinterpreted (a number is never read as an address).
#include "core/MoxFormat.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/MoxUtf8.h"

namespace {

// Widths, and precisions of numbers, beyond this are clamped: a hostile
// format must not be able to ask for gigabytes of padding. The precision of
// text is a most, never padding, and stays as written.
const int kMaxField = 1000000;

inline int clampField(int v) { return v > kMaxField ? kMaxField : v; }

enum SizePrefix { SIZE_NONE, SIZE_HH, SIZE_H, SIZE_L, SIZE_LL, SIZE_LONGDOUBLE, SIZE_W, SIZE_I32, SIZE_I64 };

struct Spec {
  bool left = false;   // '-'
  bool plus = false;   // '+'
  bool space = false;  // ' '
  bool zero = false;   // '0'
  bool alt = false;    // '#'
  int width = 0;
  int precision = -1;  // -1: none given
  SizePrefix size = SIZE_NONE;
  MoxChar letter = 0;
};

// What an argument source hands to the emitters.
struct Value {
  enum Kind { NONE, INT, DOUBLE, TEXT16, TEXT8, POINTER };
  Kind kind = NONE;
  uint64_t bits = 0;  // INT: the two's complement bits, sign-extended
  int intBits = 32;   // INT: operand width (8, 16, 32 or 64)
  double d = 0;
  const MoxChar* text16 = nullptr;
  const char* text8 = nullptr;
  const void* ptr = nullptr;
};

inline bool isSignedLetter(MoxChar c) { return c == u'd' || c == u'i'; }
inline bool isUnsignedLetter(MoxChar c) {
  return c == u'o' || c == u'u' || c == u'x' || c == u'X';
}
inline bool isIntLetter(MoxChar c) { return isSignedLetter(c) || isUnsignedLetter(c); }
inline bool isFloatLetter(MoxChar c) {
  switch (c) {
    case u'e': case u'E': case u'f': case u'F':
    case u'g': case u'G': case u'a': case u'A':
      return true;
    default:
      return false;
  }
}
inline bool isCharLetter(MoxChar c) { return c == u'c' || c == u'C'; }
inline bool isTextLetter(MoxChar c) { return c == u's' || c == u'S'; }
inline bool isNumberLetter(MoxChar c) { return isIntLetter(c) || isFloatLetter(c); }
inline bool isConversion(MoxChar c) {
  return isNumberLetter(c) || isCharLetter(c) || isTextLetter(c) || c == u'p';
}

// Narrow text for s/c: "S"/"C", or an "h" prefix; "l" and "w" mean UTF-16.
inline bool wantsNarrow(const Spec& sp) {
  if (sp.size == SIZE_H || sp.size == SIZE_HH) return true;
  if (sp.size == SIZE_L || sp.size == SIZE_W) return false;
  return sp.letter == u'S' || sp.letter == u'C';
}

// Operand width an explicit size prefix asks for; 0 when it leaves it open.
inline int prefixBits(SizePrefix s) {
  switch (s) {
    case SIZE_HH: return 8;
    case SIZE_H: return 16;
    case SIZE_LL: case SIZE_LONGDOUBLE: case SIZE_I64: return 64;
    case SIZE_I32: return 32;
    default: return 0;
  }
}

inline void appendAscii(std::u16string& out, const char* s, size_t n) {
  size_t base = out.size();
  out.resize(base + n);
  for (size_t i = 0; i < n; ++i) out[base + i] = static_cast<unsigned char>(s[i]);
}

// Pads the text appended since start to the width: blanks in front, or
// behind for '-'.
void padFrom(std::u16string& out, size_t start, const Spec& sp) {
  size_t len = out.size() - start;
  if (sp.width <= 0 || len >= static_cast<size_t>(sp.width)) return;
  size_t pad = static_cast<size_t>(sp.width) - len;
  if (sp.left)
    out.append(pad, u' ');
  else
    out.insert(start, pad, u' ');
}

// ---------------------------------------------------------------- emitters

void emitInteger(std::u16string& out, const Spec& sp, uint64_t bits, int intBits) {
  MoxChar letter = sp.letter;
  bool negative = false;
  uint64_t mag;
  uint64_t mask = intBits >= 64 ? ~0ull : ((1ull << intBits) - 1);
  if (isSignedLetter(letter)) {
    uint64_t v = bits & mask;
    if (intBits < 64 && (v >> (intBits - 1)) & 1) v |= ~mask;  // sign-extend
    negative = static_cast<int64_t>(v) < 0;
    mag = negative ? (0 - v) : v;  // unsigned negation: no overflow for INT64_MIN
  } else {
    mag = bits & mask;
  }

  // Digits, last first.
  char digits[72];
  int nd = 0;
  unsigned base = 10;
  const char* set = "0123456789abcdef";
  if (letter == u'o') base = 8;
  if (letter == u'x' || letter == u'X') base = 16;
  if (letter == u'X') set = "0123456789ABCDEF";
  for (uint64_t m = mag; m != 0; m /= base) digits[nd++] = set[m % base];

  int minDigits = sp.precision >= 0 ? clampField(sp.precision) : 1;  // precision 0 and value 0: no digits
  if (letter == u'o' && sp.alt && minDigits <= nd) minDigits = nd + 1;
  int zeros = minDigits > nd ? minDigits - nd : 0;

  char prefix[3];
  int np = 0;
  if (negative)
    prefix[np++] = '-';
  else if (isSignedLetter(letter) && sp.plus)
    prefix[np++] = '+';
  else if (isSignedLetter(letter) && sp.space)
    prefix[np++] = ' ';
  if ((letter == u'x' || letter == u'X') && sp.alt && mag != 0) {
    prefix[np++] = '0';
    prefix[np++] = letter == u'x' ? 'x' : 'X';
  }

  long total = static_cast<long>(np) + zeros + nd;
  long pad = sp.width > total ? sp.width - total : 0;
  bool zeroPad = sp.zero && !sp.left && sp.precision < 0;
  if (pad && !sp.left && !zeroPad) out.append(static_cast<size_t>(pad), u' ');
  for (int i = 0; i < np; ++i) out.push_back(static_cast<MoxChar>(prefix[i]));
  if (pad && zeroPad) out.append(static_cast<size_t>(pad), u'0');
  if (zeros) out.append(static_cast<size_t>(zeros), u'0');
  for (int i = nd - 1; i >= 0; --i) out.push_back(static_cast<MoxChar>(digits[i]));
  if (pad && sp.left) out.append(static_cast<size_t>(pad), u' ');
}

// Floating conversions take their digits from the C library.
void emitDouble(std::u16string& out, const Spec& sp, double d) {
  char spec[16];
  int n = 0;
  spec[n++] = '%';
  if (sp.left) spec[n++] = '-';
  if (sp.plus) spec[n++] = '+';
  if (sp.space) spec[n++] = ' ';
  if (sp.zero) spec[n++] = '0';
  if (sp.alt) spec[n++] = '#';
  spec[n++] = '*';
  spec[n++] = '.';
  spec[n++] = '*';
  spec[n++] = static_cast<char>(sp.letter);
  spec[n] = 0;

  const int precision = sp.precision >= 0 ? clampField(sp.precision) : -1;
  char buf[512];
  int len = snprintf(buf, sizeof buf, spec, sp.width, precision, d);
  if (len < 0) return;
  if (static_cast<size_t>(len) < sizeof buf) {
    appendAscii(out, buf, static_cast<size_t>(len));
    return;
  }
  std::string big(static_cast<size_t>(len) + 1, '\0');
  snprintf(&big[0], big.size(), spec, sp.width, precision, d);
  appendAscii(out, big.data(), static_cast<size_t>(len));
}

void emitText16(std::u16string& out, const Spec& sp, const MoxChar* s, bool usePrecision) {
  if (!s) s = u"(null)";
  size_t start = out.size();
  if (usePrecision && sp.precision >= 0) {
    // Bounded scan: the text need not be terminated within the precision.
    size_t n = 0;
    size_t limit = static_cast<size_t>(sp.precision);
    while (n < limit && s[n]) ++n;
    out.append(s, n);
  } else {
    out.append(s);
  }
  padFrom(out, start, sp);
}

void emitText8(std::u16string& out, const Spec& sp, const char* s, bool usePrecision) {
  if (!s) s = "(null)";
  size_t start = out.size();
  size_t limit = usePrecision && sp.precision >= 0 ? static_cast<size_t>(sp.precision) : SIZE_MAX;
  moxUtf8DecodeZ(s, limit, out);
  padFrom(out, start, sp);
}

void emitUnit(std::u16string& out, const Spec& sp, MoxChar unit) {
  size_t start = out.size();
  out.push_back(unit);
  padFrom(out, start, sp);
}

void emitPointer(std::u16string& out, const Spec& sp, const void* p) {
  // Sixteen upper-case hexadecimal digits, like the original runtime.
  uint64_t v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
  size_t start = out.size();
  const char* set = "0123456789ABCDEF";
  for (int shift = 60; shift >= 0; shift -= 4) out.push_back(static_cast<MoxChar>(set[(v >> shift) & 15]));
  padFrom(out, start, sp);
}

// Integer conversion of a double for an integer letter: truncation toward
// zero, saturating, NaN as 0.
int64_t doubleToInt(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775807.0) return INT64_MAX;
  if (d <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

// A number printed for a text letter: its plain decimal form, padded.
void emitNumberAsText(std::u16string& out, const Spec& sp, const Value& v) {
  size_t start = out.size();
  Spec plain;
  if (v.kind == Value::INT) {
    plain.letter = u'd';
    emitInteger(out, plain, v.bits, v.intBits);
  } else if (v.kind == Value::DOUBLE) {
    plain.letter = u'g';
    emitDouble(out, plain, v.d);
  } else {
    emitPointer(out, plain, v.ptr);
  }
  padFrom(out, start, sp);
}

// Prints one conversion with the value a source fetched for it.
void emitValue(std::u16string& out, const Spec& sp, const Value& v) {
  MoxChar c = sp.letter;
  if (v.kind == Value::NONE) return;
  if (c == u'p') {
    if (v.kind == Value::POINTER) return emitPointer(out, sp, v.ptr);
    if (v.kind == Value::TEXT16) return emitPointer(out, sp, v.text16);
    if (v.kind == Value::TEXT8) return emitPointer(out, sp, v.text8);
    if (v.kind == Value::INT) return emitPointer(out, sp, reinterpret_cast<const void*>(static_cast<uintptr_t>(v.bits)));
    return emitNumberAsText(out, sp, v);
  }
  // Text values print as text whatever the letter; precision truncates them
  // only for a text letter, where it means a maximum length.
  if (v.kind == Value::TEXT16) return emitText16(out, sp, v.text16, isTextLetter(c));
  if (v.kind == Value::TEXT8) return emitText8(out, sp, v.text8, isTextLetter(c));
  if (isTextLetter(c)) return emitNumberAsText(out, sp, v);
  if (v.kind == Value::POINTER) {
    if (isIntLetter(c)) return emitInteger(out, sp, reinterpret_cast<uintptr_t>(v.ptr), 64);
    return emitNumberAsText(out, sp, v);
  }
  if (isIntLetter(c)) {
    if (v.kind == Value::DOUBLE) return emitInteger(out, sp, static_cast<uint64_t>(doubleToInt(v.d)), 64);
    return emitInteger(out, sp, v.bits, v.intBits);
  }
  if (isFloatLetter(c)) {
    if (v.kind == Value::DOUBLE) return emitDouble(out, sp, v.d);
    // An integer for a floating letter: its value as a double.
    uint64_t mask = v.intBits >= 64 ? ~0ull : ((1ull << v.intBits) - 1);
    uint64_t b = v.bits & mask;
    if (v.intBits < 64 && (b >> (v.intBits - 1)) & 1) b |= ~mask;
    return emitDouble(out, sp, static_cast<double>(static_cast<int64_t>(b)));
  }
  if (isCharLetter(c)) {
    uint64_t code = v.kind == Value::DOUBLE ? static_cast<uint64_t>(doubleToInt(v.d)) : v.bits;
    MoxChar unit = wantsNarrow(sp) ? static_cast<MoxChar>(code & 0xFF) : static_cast<MoxChar>(code & 0xFFFF);
    return emitUnit(out, sp, unit);
  }
}

// ---------------------------------------------------------------- sources

// Fetches from a va_list exactly the C type that the conversion names.
class VaSource {
 public:
  explicit VaSource(va_list args) { va_copy(args_, args); }
  ~VaSource() { va_end(args_); }
  VaSource(const VaSource&) = delete;
  VaSource& operator=(const VaSource&) = delete;

  bool star(int& v) {
    v = va_arg(args_, int);
    return true;
  }

  void skipPointer() { (void)va_arg(args_, void*); }

  Value fetch(const Spec& sp) {
    Value v;
    MoxChar c = sp.letter;
    if (isIntLetter(c)) {
      v.kind = Value::INT;
      int pb = prefixBits(sp.size);
      if (pb == 64) {
        v.bits = va_arg(args_, unsigned long long);
        v.intBits = 64;
      } else {
        // h, hh and the plain and "l" forms all arrive as int.
        unsigned int u = va_arg(args_, unsigned int);
        v.bits = isSignedLetter(c) ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(u))) : u;
        v.intBits = pb ? pb : 32;
      }
    } else if (isFloatLetter(c)) {
      v.kind = Value::DOUBLE;
      v.d = va_arg(args_, double);  // "L" also takes a double, as long double was double
    } else if (isCharLetter(c)) {
      v.kind = Value::INT;
      v.bits = static_cast<unsigned int>(va_arg(args_, int));
      v.intBits = 32;
    } else if (isTextLetter(c)) {
      if (wantsNarrow(sp)) {
        v.kind = Value::TEXT8;
        v.text8 = va_arg(args_, const char*);
      } else {
        v.kind = Value::TEXT16;
        v.text16 = va_arg(args_, const MoxChar*);
      }
    } else if (c == u'p') {
      v.kind = Value::POINTER;
      v.ptr = va_arg(args_, const void*);
    }
    return v;
  }

 private:
  va_list args_;
};

// Hands out the typed arguments in order; never past argc.
class TypedSource {
 public:
  TypedSource(const MoxFormatArg* args, size_t argc) : args_(args), argc_(args ? argc : 0) {}

  // '*' takes an integer argument when one is next; anything else is left
  // for the conversion and the field stays open.
  bool star(int& v) {
    if (next_ >= argc_) return false;
    const MoxFormatArg& a = args_[next_];
    if (a.kind == MoxFormatArg::INT32) {
      v = a.i32;
    } else if (a.kind == MoxFormatArg::INT64) {
      v = a.i64 > INT_MAX ? INT_MAX : a.i64 < -INT_MAX ? -INT_MAX : static_cast<int>(a.i64);
    } else {
      return false;
    }
    ++next_;
    return true;
  }

  void skipPointer() {
    if (next_ < argc_) ++next_;
  }

  Value fetch(const Spec& sp) {
    Value v;
    if (next_ >= argc_) return v;
    const MoxFormatArg& a = args_[next_++];
    int pb = prefixBits(sp.size);
    switch (a.kind) {
      case MoxFormatArg::INT32:
        v.kind = Value::INT;
        v.bits = static_cast<uint64_t>(static_cast<int64_t>(a.i32));
        v.intBits = pb ? pb : 32;
        break;
      case MoxFormatArg::INT64:
        v.kind = Value::INT;
        v.bits = static_cast<uint64_t>(a.i64);
        v.intBits = (pb && pb < 64) ? pb : 64;
        break;
      case MoxFormatArg::DOUBLE:
        v.kind = Value::DOUBLE;
        v.d = a.d;
        break;
      case MoxFormatArg::TEXT16:
        v.kind = Value::TEXT16;
        v.text16 = a.text16;
        break;
      case MoxFormatArg::TEXT8:
        v.kind = Value::TEXT8;
        v.text8 = a.text8;
        break;
      case MoxFormatArg::POINTER:
        v.kind = Value::POINTER;
        v.ptr = a.ptr;
        break;
    }
    return v;
  }

 private:
  const MoxFormatArg* args_;
  size_t argc_;
  size_t next_ = 0;
};

// ---------------------------------------------------------------- parser

// One more digit of a width or precision, saturating at INT_MAX.
inline int addDigit(int v, MoxChar c) {
  int d = c - u'0';
  return v > (INT_MAX - d) / 10 ? INT_MAX : v * 10 + d;
}

inline bool takesPrefix(MoxChar c) {
  if (c == 0) return false;
  return std::strchr("diouxXeEfFgGaAcCsSpnhlLwIjztN", static_cast<char>(c)) != nullptr && c < 128;
}

// Parses the size prefix at p; returns the position after it.
const MoxChar* parseSize(const MoxChar* p, Spec& sp) {
  for (;;) {
    switch (*p) {
      case u'h':
        sp.size = sp.size == SIZE_H ? SIZE_HH : SIZE_H;
        ++p;
        continue;
      case u'l':
        sp.size = sp.size == SIZE_L ? SIZE_LL : SIZE_L;
        ++p;
        continue;
      case u'L': case u'j': case u'z': case u't':
        sp.size = *p == u'L' ? SIZE_LONGDOUBLE : SIZE_LL;
        ++p;
        continue;
      case u'w':
        sp.size = SIZE_W;
        ++p;
        continue;
      case u'F': case u'N':
        // Old far and near pointer marks, without meaning here; "F" is also
        // a conversion letter when nothing that takes a prefix follows.
        if (!takesPrefix(p[1])) return p;
        ++p;
        continue;
      case u'I':
        if (p[1] == u'6' && p[2] == u'4') {
          sp.size = SIZE_I64;
          p += 3;
        } else if (p[1] == u'3' && p[2] == u'2') {
          sp.size = SIZE_I32;
          p += 3;
        } else {
          sp.size = SIZE_I64;  // pointer-sized
          ++p;
        }
        continue;
      default:
        return p;
    }
  }
}

template <class Source>
size_t runEngine(std::u16string& out, const MoxChar* format, Source& src) {
  if (!format) return 0;
  size_t start = out.size();
  const MoxChar* p = format;
  while (*p) {
    if (*p != u'%') {
      const MoxChar* q = p;
      while (*q && *q != u'%') ++q;
      out.append(p, static_cast<size_t>(q - p));
      p = q;
      continue;
    }
    const MoxChar* specStart = p++;
    Spec sp;
    for (;; ++p) {
      if (*p == u'-') sp.left = true;
      else if (*p == u'+') sp.plus = true;
      else if (*p == u' ') sp.space = true;
      else if (*p == u'0') sp.zero = true;
      else if (*p == u'#') sp.alt = true;
      else break;
    }
    if (*p == u'*') {
      int w = 0;
      if (src.star(w)) {
        if (w < 0) {
          sp.left = true;
          w = w == INT_MIN ? INT_MAX : -w;
        }
        sp.width = clampField(w);
      }
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') sp.width = addDigit(sp.width, *p++);
      sp.width = clampField(sp.width);
    }
    if (*p == u'.') {
      ++p;
      sp.precision = 0;
      if (*p == u'*') {
        int pr = 0;
        if (src.star(pr)) sp.precision = pr < 0 ? -1 : pr;
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') sp.precision = addDigit(sp.precision, *p++);
      }
    }
    p = parseSize(p, sp);
    sp.letter = *p;
    if (sp.letter == 0) {
      // A specification cut off by the end of the format stays as text.
      out.append(specStart, static_cast<size_t>(p - specStart));
      break;
    }
    ++p;
    switch (sp.letter) {
      case u'%':
        out.push_back(u'%');
        break;
      case u'n':
        src.skipPointer();  // never written through
        break;
      case u'd': case u'i': case u'o': case u'u': case u'x': case u'X':
      case u'e': case u'E': case u'f': case u'F': case u'g': case u'G': case u'a': case u'A':
      case u'c': case u'C': case u's': case u'S': case u'p':
        emitValue(out, sp, src.fetch(sp));
        break;
      default:
        // Unknown conversion: the letter itself, and no argument is taken.
        out.push_back(sp.letter);
        break;
    }
  }
  return out.size() - start;
}

}  // namespace

unsigned moxIntText(int32_t v, MoxChar buf[kMoxIntTextUnits]) {
  // Digits from the right into a scratch area; the magnitude as unsigned,
  // so that the smallest integer needs no special case.
  MoxChar digits[kMoxIntTextUnits];
  unsigned n = 0;
  uint32_t m = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
  do {
    digits[n++] = MoxChar(u'0' + m % 10u);
    m /= 10u;
  } while (m);
  unsigned len = 0;
  if (v < 0) buf[len++] = u'-';
  while (n) buf[len++] = digits[--n];
  return len;
}

size_t moxVFormat(std::u16string& out, const MoxChar* format, va_list args) {
  if (!format) return 0;
  VaSource src(args);
  return runEngine(out, format, src);
}

size_t moxFormatArgs(std::u16string& out, const MoxChar* format, const MoxFormatArg* args,
                     size_t argc) {
  TypedSource src(args, argc);
  return runEngine(out, format, src);
}

uint64_t moxFormatFieldUnits(const MoxChar* format, bool* beyond) {
  uint64_t units = 0;
  if (beyond) *beyond = false;
  if (!format) return 0;
  // Every '%' may start a conversion, a doubled one too: callers that cut
  // formats into pieces see conversions the engine itself would not.
  for (const MoxChar* start = format; *start; ++start) {
    if (*start != u'%') continue;
    const MoxChar* p = start + 1;
    Spec sp;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'0' || *p == u'#') ++p;
    while (*p >= u'0' && *p <= u'9') sp.width = addDigit(sp.width, *p++);
    int precision = 0;
    if (*p == u'.') {
      ++p;
      while (*p >= u'0' && *p <= u'9') precision = addDigit(precision, *p++);
    }
    // The letter as the engine reads the size prefix, and as a caller may
    // that drops any run of size characters.
    const MoxChar c1 = *parseSize(p, sp);
    while (*p && *p < 128 && std::strchr("hlLwIjztFN0123456789", static_cast<char>(*p))) ++p;
    const MoxChar c2 = *p;
    if (!isConversion(c1) && !isConversion(c2)) continue;
    // The precision of text is a most, not an amount of output.
    if (!isNumberLetter(c1) && !isNumberLetter(c2)) precision = 0;
    units += static_cast<uint64_t>(sp.width) + static_cast<uint64_t>(precision);
    if (beyond && (sp.width > kMaxField || precision > kMaxField)) *beyond = true;
  }
  return units;
}

int moxVFormatLength(const MoxChar* format, va_list args) {
  if (!format) return -1;
  // One scratch string per thread keeps its capacity between calls.
  thread_local std::u16string scratch;
  scratch.clear();
  size_t n = moxVFormat(scratch, format, args);
  if (scratch.capacity() > 65536) std::u16string().swap(scratch);  // do not hoard a huge block
  return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}
