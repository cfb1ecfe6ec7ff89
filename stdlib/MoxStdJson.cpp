// JSON text to and from values: jsonencode and jsondecode.
//
// JSON null, numbers, strings, arrays and objects map to null, integers
// (32-bit; an integral number outside that range becomes a double), doubles,
// strings, vectors and dictionaries (in the order of the text); true and
// false become 1 and 0. Reading is done by nlohmann's parser through its
// event interface, which builds the values directly; writing is done here,
// so that every string (any UTF-16, unpaired surrogates too) and every
// number has one fixed form. Both refuse nesting deeper than kMaxJsonDepth.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

#ifdef MOX_HAVE_JSON
#ifndef JSON_NOEXCEPTION
#define JSON_NOEXCEPTION
#endif
#include <nlohmann/json.hpp>
#endif

using namespace moxstd;

namespace {

#ifdef MOX_HAVE_JSON

const unsigned kMaxJsonDepth = 200;
const int32_t kMaxIndent = 16;
// Bytes of the parser's reason kept in an error text.
const size_t kMaxReason = 300;

// Units of written or read text charged as work at once.
const size_t kJsonWorkChunk = kWorkChunk;

std::u16string decimal(uint64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// ---------------------------------------------------------------------------
// Encoding

// The shortest decimal form that reads back as the same number (as the
// same float for a float), always with a '.' or an exponent so that it
// reads back as a double.
std::u16string formatNumber(double d, bool isFloat) {
  char buf[40];
  for (int prec = 1; prec <= 17; ++prec) {
    snprintf(buf, sizeof buf, "%.*g", prec, d);
    const double back = strtod(buf, nullptr);
    if (isFloat ? float(back) == float(d) : back == d) break;
  }
  // Numbers of ordinary size are written without an exponent.
  const double mag = std::fabs(d);
  if (strchr(buf, 'e') && mag >= 1e-5 && mag < 1e17) {
    char fixed[64];
    for (int decimals = 0; decimals <= 22; ++decimals) {
      snprintf(fixed, sizeof fixed, "%.*f", decimals, d);
      const double back = strtod(fixed, nullptr);
      if (isFloat ? float(back) == float(d) : back == d) {
        memcpy(buf, fixed, sizeof buf - 1);
        buf[sizeof buf - 1] = 0;
        break;
      }
    }
  }
  std::string s = buf;
  // The C library writes the locale's decimal point; JSON has '.'.
  const char point = localeconv() && localeconv()->decimal_point ? localeconv()->decimal_point[0] : '.';
  bool real = false;
  for (char& c : s) {
    if (c == point && point != '.') c = '.';
    if (c == '.' || c == 'e' || c == 'E') real = true;
  }
  if (!real) s += ".0";
  return std::u16string(s.begin(), s.end());
}

class JsonWriter {
 public:
  JsonWriter(MoxVirtualMachine* vm, int32_t indent) : vm_(vm), indent_(indent) {}

  // False with the error reported.
  bool write(const MoxValue& value, unsigned depth) {
    if (!charge(1)) return false;
    MoxValue v(value);
    v.dropDead();
    switch (v.getType()) {
      case MVT_NULL:
        out_ += u"null";
        return true;
      case MVT_INTEGER:
        out_ += v.asInt() < 0 ? u"-" + decimal(uint64_t(-int64_t(v.asInt())))
                              : decimal(uint64_t(v.asInt()));
        return true;
      case MVT_FLOAT:
      case MVT_DOUBLE: {
        const double d = v.getType() == MVT_FLOAT ? double(v.asFloat()) : v.asDouble();
        if (std::isnan(d)) return fail(vm_, u"cannot encode NaN as JSON");
        if (std::isinf(d)) return fail(vm_, u"cannot encode Infinity as JSON");
        out_ += formatNumber(d, v.getType() == MVT_FLOAT);
        return true;
      }
      case MVT_STRING:
      case MVT_STRINGREF:
        return writeString(static_cast<MoxString*>(v.getRef()));
      case MVT_VECTOR:
      case MVT_VECTORREF: {
        const MoxVector* vec = static_cast<MoxVector*>(v.getRef());
        if (!vec) {
          out_ += u"null";
          return true;
        }
        if (depth >= kMaxJsonDepth) return tooDeep();
        // The vector is kept alive by v while its elements are written.
        const unsigned n = vec->size();
        out_ += u'[';
        for (unsigned i = 0; i < n && i < vec->size(); ++i) {
          if (i > 0) out_ += u',';
          newline(depth + 1);
          if (!write((*vec)[i], depth + 1)) return false;
        }
        if (n > 0) newline(depth);
        out_ += u']';
        return true;
      }
      case MVT_DICTIONARY:
      case MVT_DICTIONARYREF: {
        const MoxDictionary* dict = static_cast<MoxDictionary*>(v.getRef());
        if (!dict) {
          out_ += u"null";
          return true;
        }
        if (depth >= kMaxJsonDepth) return tooDeep();
        out_ += u'{';
        bool first = true;
        for (MoxDictionaryEntry* e = dict->getFirst(); e; e = e->getNext()) {
          if (!first) out_ += u',';
          first = false;
          newline(depth + 1);
          if (!writeString(e->getKey())) return false;
          out_ += indent_ > 0 ? u": " : u":";
          if (!write(e->getValue(), depth + 1)) return false;
        }
        if (!first) newline(depth);
        out_ += u'}';
        return true;
      }
      default: {
        MoxString text = MoxString::format(u"cannot encode %s as JSON", getValueTypeName(v.getType()));
        return fail(vm_, text.c_str());
      }
    }
  }

  const std::u16string& text() const { return out_; }

 private:
  // Charges written units as work and bounds the text's size.
  bool charge(size_t units) {
    pending_ += units;
    if (pending_ < kJsonWorkChunk) return true;
    if (!mox::blockFits(out_.size() + pending_ + 1, sizeof(MoxChar)))
      return fail(vm_, u"not enough memory");
    const size_t n = pending_;
    pending_ = 0;
    return work(vm_, n);
  }

  bool tooDeep() {
    MoxString text = MoxString::format(u"cannot encode nesting deeper than %d as JSON",
                                       int(kMaxJsonDepth));
    return fail(vm_, text.c_str());
  }

  void newline(unsigned depth) {
    if (indent_ <= 0) return;
    out_ += u'\n';
    out_.append(size_t(depth) * size_t(indent_), u' ');
  }

  bool writeString(const MoxString* s) {
    const unsigned n = s ? s->length() : 0;
    const MoxChar* t = s ? s->c_str() : u"";
    if (!charge(n + 2)) return false;
    if (!mox::blockFits(out_.size() + size_t(n) * 6 + 3, sizeof(MoxChar)))
      return fail(vm_, u"not enough memory");
    static const char16_t kHex[] = u"0123456789abcdef";
    out_ += u'"';
    for (unsigned i = 0; i < n; ++i) {
      const MoxChar c = t[i];
      switch (c) {
        case u'"': out_ += u"\\\""; continue;
        case u'\\': out_ += u"\\\\"; continue;
        case u'\b': out_ += u"\\b"; continue;
        case u'\f': out_ += u"\\f"; continue;
        case u'\n': out_ += u"\\n"; continue;
        case u'\r': out_ += u"\\r"; continue;
        case u'\t': out_ += u"\\t"; continue;
        default: break;
      }
      bool escape = c < 0x20;
      if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 1 < n && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
          out_ += c;
          out_ += t[++i];
          continue;
        }
        escape = true;
      } else if (c >= 0xDC00 && c <= 0xDFFF) {
        escape = true;
      }
      if (escape) {
        out_ += u"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out_ += kHex[(c >> shift) & 0xF];
      } else {
        out_ += c;
      }
    }
    out_ += u'"';
    return true;
  }

  MoxVirtualMachine* vm_;
  int32_t indent_;
  std::u16string out_;
  size_t pending_ = 0;
};

// ---------------------------------------------------------------------------
// Decoding

using Json = nlohmann::json;

// Line and column (both from 1, the column in characters) of byte offset at
// of text.
void position(const std::string& text, size_t at, size_t* line, size_t* column) {
  if (at > text.size()) at = text.size();
  *line = 1;
  *column = 1;
  for (size_t i = 0; i < at; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++*line;
      *column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++*column;
    }
  }
}

// The byte offset of the bracket that opens nesting level depth + 1 in a
// text whose start up to there is well-formed; text.size() if none does.
size_t openingAtDepth(const std::string& text, unsigned depth) {
  unsigned level = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (level == depth) return i;
      ++level;
    } else if (c == ']' || c == '}') {
      if (level > 0) --level;
    }
  }
  return text.size();
}

// The byte offset of the first escape \u0000 in a string of text, which
// no string value can hold; text.size() if there is none.
size_t firstZeroEscape(const std::string& text) {
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!inString) {
      inString = c == '"';
      continue;
    }
    if (c == '"') {
      inString = false;
    } else if (c == '\\') {
      if (text.compare(i + 1, 5, "u0000") == 0) return i;
      ++i;
    }
  }
  return text.size();
}

bool holdsZero(const std::string& s) { return s.find('\0') != std::string::npos; }

class MoxJsonBuilder : public nlohmann::json_sax<Json> {
 public:
  MoxJsonBuilder(MoxVirtualMachine* vm, const std::string& text) : vm_(vm), text_(text) {}

  bool null() override { return add(MoxValue()); }
  bool boolean(bool val) override { return add(MoxValue(int32_t(val ? 1 : 0))); }
  bool number_integer(number_integer_t val) override {
    if (val >= INT32_MIN && val <= INT32_MAX) return add(MoxValue(int32_t(val)));
    return add(MoxValue(double(val)));
  }
  bool number_unsigned(number_unsigned_t val) override {
    if (val <= uint64_t(INT32_MAX)) return add(MoxValue(int32_t(val)));
    return add(MoxValue(double(val)));
  }
  bool number_float(number_float_t val, const string_t&) override { return add(MoxValue(double(val))); }
  bool string(string_t& val) override {
    if (!charge(val.size())) return false;
    if (holdsZero(val)) return zeroUnit();
    return add(MoxValue(newString(val), false));
  }
  bool binary(binary_t&) override { return add(MoxValue()); }
  bool start_object(std::size_t) override {
    if (!open()) return false;
    containers_.push_back(MoxValue(new MoxDictionary(false), false));
    keys_.emplace_back();
    return true;
  }
  bool key(string_t& val) override {
    if (!charge(val.size())) return false;
    if (holdsZero(val)) return zeroUnit();
    keys_.back().clear();
    moxUtf8Decode(val.data(), val.size(), keys_.back());
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override {
    if (!open()) return false;
    containers_.push_back(MoxValue(new MoxVector(), false, false));
    keys_.emplace_back();
    return true;
  }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception& ex) override {
    // The offset counts the byte that failed.
    std::string what = ex.what();
    const size_t bracket = what.find("] ");
    if (what.compare(0, 1, "[") == 0 && bracket != std::string::npos) what.erase(0, bracket + 2);
    if (what.compare(0, 11, "parse error") == 0) {
      const size_t colon = what.find(": ");
      if (colon != std::string::npos) what.erase(0, colon + 2);
    }
    // The text quotes what it read last, which may be a long string.
    if (what.size() > kMaxReason) {
      size_t cut = kMaxReason;
      while (cut > 0 && (static_cast<unsigned char>(what[cut]) & 0xC0) == 0x80) --cut;
      what.resize(cut);
      what += "...";
    }
    return report(at > 0 ? at - 1 : 0, what);
  }

  // Reported: the machine's error text holds why the text was refused.
  bool failed() const { return failed_; }
  const MoxValue& value() const { return root_; }

 private:
  MoxString* newString(const std::string& utf8) {
    std::u16string text;
    moxUtf8Decode(utf8.data(), utf8.size(), text);
    return new MoxString(text.c_str(), static_cast<unsigned>(text.size()));
  }

  bool report(size_t at, const std::string& why) {
    size_t line = 0, column = 0;
    position(text_, at, &line, &column);
    std::u16string message = u"invalid JSON at line " + decimal(line) + u", column " + decimal(column) + u": ";
    moxUtf8Decode(why.data(), why.size(), message);
    failed_ = true;
    return fail(vm_, message.c_str());
  }

  bool charge(size_t units) {
    pending_ += units + 1;
    if (pending_ < kJsonWorkChunk) return true;
    const size_t n = pending_;
    pending_ = 0;
    if (work(vm_, n)) return true;
    failed_ = true;
    return false;
  }

  // A string ends at a zero unit, so one that holds U+0000 is refused
  // rather than cut short.
  bool zeroUnit() { return report(firstZeroEscape(text_), "strings cannot hold U+0000"); }

  bool open() {
    if (!charge(1)) return false;
    if (containers_.size() < kMaxJsonDepth) return true;
    std::string why = "nesting deeper than " + std::to_string(kMaxJsonDepth);
    return report(openingAtDepth(text_, kMaxJsonDepth), why);
  }

  bool close() {
    MoxValue done = containers_.back();
    containers_.pop_back();
    keys_.pop_back();
    return add(done);
  }

  bool add(const MoxValue& v) {
    if (!charge(1)) return false;
    if (containers_.empty()) {
      root_ = v;
      return true;
    }
    MoxValue& top = containers_.back();
    if (top.getType() == MVT_VECTOR) {
      MoxVector* vec = static_cast<MoxVector*>(top.getRef());
      if (!mox::blockFits(size_t(vec->size()) + 1, sizeof(MoxValue))) {
        failed_ = true;
        return fail(vm_, u"not enough memory");
      }
      vec->push_back(v);
    } else {
      MoxDictionary* dict = static_cast<MoxDictionary*>(top.getRef());
      const std::u16string& k = keys_.back();
      (*dict)[MoxString(k.c_str(), static_cast<unsigned>(k.size()))].value() = v;
    }
    return true;
  }

  MoxVirtualMachine* vm_;
  const std::string& text_;
  std::vector<MoxValue> containers_;
  std::vector<std::u16string> keys_;
  MoxValue root_;
  size_t pending_ = 0;
  bool failed_ = false;
};

#endif  // MOX_HAVE_JSON

}  // namespace

bool MoxDefaultFunctions::Mox_jsonencode(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 2)) return false;
#ifndef MOX_HAVE_JSON
  (void)args;
  return fail(vm, u"JSON support is not built in");
#else
  ValPtr a = argBase(args, argc);
  int32_t indent = 0;
  if (argc == 2) {
    if (!a[2].isInt()) return fail(vm, u"invalid argument type");
    indent = a[2].asInt();
    if (indent < 0 || indent > kMaxIndent) return fail(vm, u"invalid argument");
  }
  JsonWriter writer(vm, indent);
  if (!writer.write(a[1], 0)) return false;
  const std::u16string& text = writer.text();
  return result(args, argc,
                MoxValue(new MoxString(text.c_str(), static_cast<unsigned>(text.size())), false));
#endif
}

bool MoxDefaultFunctions::Mox_jsondecode(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  if (!isString(*args)) return fail(vm, u"invalid argument type");
#ifndef MOX_HAVE_JSON
  return fail(vm, u"JSON support is not built in");
#else
  const MoxString* s = static_cast<MoxString*>(args->getRef());
  const unsigned n = s ? s->length() : 0;
  if (!mox::blockFits(size_t(n) * 3 + 1, 1)) return fail(vm, u"not enough memory");
  if (!work(vm, n)) return false;
  std::string text;
  if (s) moxUtf8Encode(s->c_str(), n, text);
  MoxJsonBuilder builder(vm, text);
  const bool ok = Json::sax_parse(text.begin(), text.end(), &builder);
  if (!ok || builder.failed()) {
    if (builder.failed()) return false;
    return fail(vm, u"invalid JSON");
  }
  return result(args, argc, builder.value());
#endif
}
