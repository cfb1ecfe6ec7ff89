// Text helpers: joining, trimming, case mapping, prefix and suffix tests,
// repetition, splitting at a separator string, and printf-style formatting
// of script values.
#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cwctype>
#include <locale.h>
#include <string>
#include <string_view>
#include <wctype.h>

#include "core/MoxFormat.h"
#include "core/MoxString.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

MoxString* stringArg(const MoxValue& v) { return isString(v) ? static_cast<MoxString*>(v) : nullptr; }

MoxValue newString(const std::u16string& text) {
  return MoxValue(new MoxString(text.c_str(), static_cast<unsigned>(text.size())), false);
}

bool isNumber(const MoxValue& v) {
  return v.getType() == MVT_INTEGER || v.getType() == MVT_FLOAT || v.getType() == MVT_DOUBLE;
}

// A number's text as string() gives it.
std::u16string numberText(const MoxValue& v) {
  if (v.getType() == MVT_INTEGER) {
    MoxChar text[kMoxIntTextUnits];
    return std::u16string(text, moxIntText(v.asInt(), text));
  }
  MoxString s = MoxString::format(u"%f", static_cast<double>(v));
  return std::u16string(s.c_str(), s.length());
}

// The text of any value: strings as they are, numbers as string() gives
// them, objects through their toString method, anything else as print
// shows it. False (reported) when a toString failed, or with strict for
// anything but strings, numbers and objects that have a toString.
bool valueText(MoxVirtualMachine* vm, const MoxValue& value, std::u16string& out, bool strict = false) {
  if (MoxString* s = stringArg(value)) {
    out.assign(s->c_str(), s->length());
    return true;
  }
  if (isNumber(value)) {
    out = numberText(value);
    return true;
  }
  if (value.getType() == MVT_OBJECT || value.getType() == MVT_OBJECTREF) {
    MoxInterpreter* in = vm->interpreter();
    const unsigned before = in->errors().length();
    const unsigned base = in->size();
    MoxValue copy(value);
    MoxString* s = in->getStringFromValue(copy);
    if (s) out.assign(s->c_str(), s->length());
    // The call's slots above the stack go again (one at a time, the cursor
    // below them), so that a long run of objects does not grow the stack.
    const ValPtr saved = in->sp();
    in->trimTo(base);
    in->sp() = saved;
    if (s) return true;
    if (in->errors().length() != before) return false;
  }
  if (strict) return fail(vm, u"invalid argument type");
  MoxString shown = MoxString::format(u"(%s:%p)", getValueTypeName(value.getType()), value.ptr());
  out.assign(shown.c_str(), shown.length());
  return true;
}

bool isSpace(MoxChar c) {
  return (c >= 9 && c <= 13) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// The case tables of the C.UTF-8 locale, opened once per thread; the C
// locale's own maps only ASCII. Null when no such locale is installed.
struct CaseLocale {
  locale_t loc;
  CaseLocale() : loc(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
    if (!loc) loc = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
  }
  ~CaseLocale() {
    if (loc) freelocale(loc);
  }
  CaseLocale(const CaseLocale&) = delete;
  CaseLocale& operator=(const CaseLocale&) = delete;
};

MoxChar mapCase(MoxChar c, bool upper) {
  if (c < 0x80) {
    if (upper) return c >= u'a' && c <= u'z' ? MoxChar(c - 32) : c;
    return c >= u'A' && c <= u'Z' ? MoxChar(c + 32) : c;
  }
  // Surrogates stay as they are: the mapping covers the basic plane.
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  thread_local CaseLocale tables;
  if (!tables.loc) return c;
  const wint_t m = upper ? towupper_l(wint_t(c), tables.loc) : towlower_l(wint_t(c), tables.loc);
  return m <= 0xFFFF && !(m >= 0xD800 && m <= 0xDFFF) ? MoxChar(m) : c;
}

bool mapString(MoxVirtualMachine* vm, int argc, ValPtr& args, bool upper) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxString* s = stringArg(*args);
  if (!s) return fail(vm, u"invalid argument type");
  std::u16string text(s->c_str(), s->length());
  if (!inChunks(vm, text.size(), [](unsigned) {})) return false;
  for (MoxChar& c : text) c = mapCase(c, upper);
  return result(args, argc, newString(text));
}

bool affix(MoxVirtualMachine* vm, int argc, ValPtr& args, bool atEnd) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  MoxString* p = stringArg(a[2]);
  if (!s || !p) return fail(vm, u"invalid argument type");
  // Compared where they lie: a long text is not copied for a short part.
  const std::u16string_view text(s->c_str(), s->length()), part(p->c_str(), p->length());
  const bool match = part.size() <= text.size() &&
                     text.compare(atEnd ? text.size() - part.size() : 0, part.size(), part) == 0;
  return result(args, argc, MoxValue(int32_t(match ? 1 : 0)));
}

// One conversion of format(), as parsed.
struct Conversion {
  std::u16string written;  // as in the format, "%" included
  std::u16string flags;
  bool hasWidth = false, widthStar = false;
  int64_t width = 0;
  bool hasPrecision = false, precisionStar = false;
  int64_t precision = 0;
  MoxChar letter = 0;
};

// Parses the conversion starting after the '%' at p[i]; false when it is
// incomplete or its letter unknown.
bool parseConversion(const std::u16string& f, size_t& i, Conversion& c) {
  const size_t start = i - 1;
  while (i < f.size() && std::u16string(u"-+ #0").find(f[i]) != std::u16string::npos) c.flags += f[i++];
  auto number = [&](int64_t& out) {
    out = 0;
    while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
      if (out < 100000000) out = out * 10 + (f[i] - u'0');
      ++i;
    }
  };
  if (i < f.size() && f[i] == u'*') {
    c.hasWidth = c.widthStar = true;
    ++i;
  } else if (i < f.size() && f[i] >= u'1' && f[i] <= u'9') {
    c.hasWidth = true;
    number(c.width);
  }
  if (i < f.size() && f[i] == u'.') {
    ++i;
    c.hasPrecision = true;
    if (i < f.size() && f[i] == u'*') {
      c.precisionStar = true;
      ++i;
    } else {
      number(c.precision);
    }
  }
  // Length modifiers change nothing: every integer is 32 bits.
  while (i < f.size() && std::u16string(u"hlLqjzt").find(f[i]) != std::u16string::npos) ++i;
  if (i >= f.size()) return false;
  c.letter = f[i++];
  c.written = f.substr(start, i - start);
  return std::u16string(u"diuxXocsfFeEgGaA").find(c.letter) != std::u16string::npos;
}

}  // namespace

bool MoxDefaultFunctions::Mox_strjoin(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxValue list(a[1]);
  MoxVector* v = static_cast<MoxVector*>(list);
  MoxString* sepString = stringArg(a[2]);
  if (!v || !sepString) return fail(vm, u"invalid argument type");
  const std::u16string sep(sepString->c_str(), sepString->length());
  std::u16string out, piece;
  for (unsigned i = 0; i < v->size(); ++i) {
    const MoxValue element((*v)[i]);
    if (!valueText(vm, element, piece, true)) return false;
    const uint64_t grown = uint64_t(out.size()) + piece.size() + (i ? sep.size() : 0);
    if (!mox::blockFits(grown + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
    if (!work(vm, grown - out.size() + 1)) return false;
    if (i) out += sep;
    out += piece;
  }
  return result(args, argc, newString(out));
}

bool MoxDefaultFunctions::Mox_strtrim(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  MoxString* set = argc == 2 ? stringArg(a[2]) : nullptr;
  if (!s || (argc == 2 && !set)) return fail(vm, u"invalid argument type");
  const std::u16string text(s->c_str(), s->length());
  const std::u16string chars = set ? std::u16string(set->c_str(), set->length()) : std::u16string();
  auto strip = [&](MoxChar c) { return set ? chars.find(c) != std::u16string::npos : isSpace(c); };
  if (!work(vm, text.size())) return false;
  size_t from = 0, to = text.size();
  while (from < to && strip(text[from])) ++from;
  while (to > from && strip(text[to - 1])) --to;
  return result(args, argc, newString(text.substr(from, to - from)));
}

bool MoxDefaultFunctions::Mox_strlower(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return mapString(vm, argc, args, false);
}

bool MoxDefaultFunctions::Mox_strupper(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return mapString(vm, argc, args, true);
}

bool MoxDefaultFunctions::Mox_strstarts(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return affix(vm, argc, args, false);
}

bool MoxDefaultFunctions::Mox_strends(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return affix(vm, argc, args, true);
}

bool MoxDefaultFunctions::Mox_strrepeat(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s || a[2].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  const int32_t n = a[2].asInt();
  if (n < 0) return fail(vm, u"invalid argument");
  const std::u16string text(s->c_str(), s->length());
  const uint64_t total = uint64_t(text.size()) * uint64_t(n);
  if (total >= UINT32_MAX || !mox::blockFits(total + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
  std::u16string out;
  out.reserve(total);
  if (!text.empty() &&
      !inChunks(vm, total, [&out, &text](unsigned k) {
        // k units more, going on in the copy where the last chunk stopped.
        const size_t end = out.size() + k;
        while (out.size() < end) {
          const size_t at = out.size() % text.size();
          out.append(text, at, std::min(text.size() - at, end - out.size()));
        }
      }))
    return false;
  return result(args, argc, newString(out));
}

bool MoxDefaultFunctions::Mox_strsplitall(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  MoxString* sepString = stringArg(a[2]);
  if (!s || !sepString) return fail(vm, u"invalid argument type");
  const std::u16string text(s->c_str(), s->length()), sep(sepString->c_str(), sepString->length());
  if (sep.empty()) return fail(vm, u"invalid argument");
  if (!work(vm, text.size())) return false;
  MoxVector* v = new MoxVector();
  MoxValue made(v, false, false);
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(sep, from);
    v->push_back(newString(text.substr(from, at == std::u16string::npos ? std::u16string::npos : at - from)));
    if (at == std::u16string::npos) break;
    from = at + sep.size();
  }
  v->shrink();
  return result(args, argc, made);
}

bool MoxDefaultFunctions::Mox_format(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, -1)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* fs = stringArg(a[1]);
  if (!fs) return fail(vm, u"invalid argument type");
  // Copies throughout: a toString method may change any string or grow the
  // stack under the arguments.
  const std::u16string f(fs->c_str(), fs->length());
  std::u16string out;
  int next = 2;
  const uint64_t kNumberUnits = 330;  // "%f" of the largest double, sign and point
  for (size_t i = 0; i < f.size();) {
    if (f[i] != u'%') {
      const size_t end = f.find(u'%', i);
      const size_t stop = end == std::u16string::npos ? f.size() : end;
      if (!work(vm, stop - i)) return false;
      out.append(f, i, stop - i);
      i = stop;
      continue;
    }
    ++i;
    if (i < f.size() && f[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    Conversion c;
    if (!parseConversion(f, i, c)) return fail(vm, u"invalid argument");
    const std::u16string& name = c.written;
    auto take = [&](MoxValue& v) {
      if (next > argc) return fail(vm, u"missing argument for ", name.c_str());
      v = a[next++];
      return true;
    };
    if (c.widthStar) {
      MoxValue w;
      if (!take(w)) return false;
      if (w.getType() != MVT_INTEGER) return fail(vm, u"invalid argument type for ", name.c_str());
      c.width = w.asInt();
      // A negative width is the '-' flag and its size.
      if (c.width < 0) {
        c.flags += u'-';
        c.width = -c.width;
      }
    }
    if (c.precisionStar) {
      MoxValue p;
      if (!take(p)) return false;
      if (p.getType() != MVT_INTEGER) return fail(vm, u"invalid argument type for ", name.c_str());
      c.precision = p.asInt();
      // A negative precision counts as none.
      if (c.precision < 0) c.hasPrecision = false;
    }
    MoxValue v;
    if (!take(v)) return false;
    std::u16string text;
    MoxFormatArg arg;
    MoxChar letter = c.letter == u'i' ? u'd' : c.letter;
    bool precisionApplies = true;
    switch (c.letter) {
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
      case u'o':
        if (v.getType() != MVT_INTEGER) return fail(vm, u"invalid argument type for ", name.c_str());
        arg.kind = MoxFormatArg::INT32;
        arg.i32 = v.asInt();
        break;
      case u'c': {
        if (v.getType() != MVT_INTEGER) return fail(vm, u"invalid argument type for ", name.c_str());
        const int32_t code = v.asInt();
        if (code < 0 || code > 0x10FFFF) return fail(vm, u"invalid argument");
        if (code > 0xFFFF) {
          text += MoxChar(0xD800 + ((code - 0x10000) >> 10));
          text += MoxChar(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
          text += MoxChar(code);
        }
        letter = u's';
        precisionApplies = false;
        arg.kind = MoxFormatArg::TEXT16;
        break;
      }
      case u's':
        if (!valueText(vm, v, text)) return false;
        arg.kind = MoxFormatArg::TEXT16;
        break;
      default:
        if (!isNumber(v)) return fail(vm, u"invalid argument type for ", name.c_str());
        arg.kind = MoxFormatArg::DOUBLE;
        arg.d = static_cast<double>(v);
        break;
    }
    // The conversion again, with the stars' values written in.
    std::u16string piece = u"%" + c.flags;
    MoxChar digits[kMoxIntTextUnits];
    if (c.hasWidth)
      piece.append(digits, moxIntText(int32_t(c.width > INT32_MAX ? INT32_MAX : c.width), digits));
    if (c.hasPrecision && precisionApplies) {
      piece += u'.';
      piece.append(digits, moxIntText(int32_t(c.precision), digits));
    }
    piece += letter;
    bool beyond = false;
    const uint64_t units = moxFormatFieldUnits(piece.c_str(), &beyond) + text.size() + kNumberUnits;
    if (beyond || !mox::blockFits(out.size() + units + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
    if (!work(vm, units)) return false;
    if (arg.kind == MoxFormatArg::TEXT16) arg.text16 = text.c_str();
    // A text holding a zero unit would end early through the engine.
    if (arg.kind == MoxFormatArg::TEXT16 && text.find(MoxChar(0)) != std::u16string::npos) {
      std::u16string field = text;
      if (c.hasPrecision && precisionApplies && uint64_t(c.precision) < field.size()) field.resize(size_t(c.precision));
      const size_t width = c.hasWidth ? size_t(c.width) : 0;
      const std::u16string pad(width > field.size() ? width - field.size() : 0, u' ');
      out += c.flags.find(u'-') != std::u16string::npos ? field + pad : pad + field;
    } else {
      moxFormatArgs(out, piece.c_str(), &arg, 1);
    }
  }
  return result(args, argc, newString(out));
}
