// MoxString: UTF-16 blocks with a stored length, editing, linear-time search
// and the two formatting paths (varargs and script values).
#include "core/MoxString.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

#include "core/MoxBuffer.h"
#include "core/MoxFormat.h"
#include "core/MoxUtf8.h"
#include "core/MoxVector.h"
#include "vm/MoxPlatform.h"

namespace {

size_t unitLength(const MoxChar* s) {
  if (!s) return 0;
  const MoxChar* p = s;
  while (*p) ++p;
  return size_t(p - s);
}

// memcpy of n units that allows null pointers when n is 0.
void copyUnits(MoxChar* dst, const MoxChar* src, size_t n) {
  if (n) memcpy(dst, src, n * sizeof(MoxChar));
}

// A new block of len units plus terminator; null for len 0.
MoxChar* newBlock(const MoxChar* text, size_t len) {
  if (len == 0) return nullptr;
  MoxChar* block = static_cast<MoxChar*>(mox::allocmem((len + 1) * sizeof(MoxChar)));
  if (text) copyUnits(block, text, len);
  block[len] = 0;
  return block;
}

// Longest text a string may reach: lengths are reported as 32-bit signed
// positions, so anything longer is refused rather than wrapped.
const size_t kMaxLength = 0x7FFFFFFF;

MoxChar foldCase(MoxChar c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? MoxChar(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  wint_t low = towlower(wint_t(c));
  return low <= 0xFFFF ? MoxChar(low) : c;
}

// Finds a needle in texts in time linear in the text and the needle:
// Knuth-Morris-Pratt over code units, with a plain scan for short needles,
// whose worst case is already a small multiple of the text.
class UnitSearch {
 public:
  static const size_t kNone = size_t(-1);

  UnitSearch(const MoxChar* needle, size_t n) : needle_(needle), n_(n) {
    if (n_ <= kShort) return;
    // border_[i]: length of the longest proper border of needle[0..i].
    border_.resize(n_);
    border_[0] = 0;
    size_t k = 0;
    for (size_t i = 1; i < n_; ++i) {
      while (k > 0 && needle_[i] != needle_[k]) k = border_[k - 1];
      if (needle_[i] == needle_[k]) ++k;
      border_[i] = uint32_t(k);
    }
  }

  // First match starting at or after from in text[0, len), or kNone.
  size_t next(const MoxChar* text, size_t len, size_t from) const {
    if (from > len || len - from < n_) return kNone;
    if (n_ <= kShort) return scan(text, len, from);
    size_t k = 0;
    for (size_t i = from; i < len; ++i) {
      while (k > 0 && text[i] != needle_[k]) k = border_[k - 1];
      if (text[i] == needle_[k] && ++k == n_) return i + 1 - n_;
    }
    return kNone;
  }

 private:
  static const size_t kShort = 8;

  size_t scan(const MoxChar* text, size_t len, size_t from) const {
    const MoxChar first = needle_[0];
    for (size_t i = from; i + n_ <= len; ++i)
      if (text[i] == first && memcmp(text + i, needle_, n_ * sizeof(MoxChar)) == 0) return i;
    return kNone;
  }

  const MoxChar* needle_;
  size_t n_;
  std::vector<uint32_t> border_;
};

}  // namespace

MoxString::MoxString(const MoxChar* text) : MoxString() {
  size_t n = unitLength(text);
  adopt(newBlock(text, n), n);
}

MoxString::MoxString(const MoxChar* text, unsigned int len) : MoxString() {
  size_t n = 0;
  if (text)
    while (n < len && text[n]) ++n;
  adopt(newBlock(text, n), n);
}

MoxString::MoxString(const char* text) : MoxString() {
  if (!text || !*text) return;
  std::u16string decoded;
  moxUtf8Decode(text, strlen(text), decoded);
  // Decoding a non-empty byte string never yields a zero unit, but stop at
  // one anyway so the stored length is that of the text.
  size_t n = unitLength(decoded.c_str());
  adopt(newBlock(decoded.data(), n), n);
}

MoxString::MoxString(const MoxChar* left, unsigned int leftLen, const MoxChar* right,
                     unsigned int rightLen)
    : MoxString() {
  size_t n = size_t(leftLen) + rightLen;
  if (n > kMaxLength) n = leftLen;  // the right part would not fit
  MoxChar* block = newBlock(nullptr, n);
  if (block) {
    copyUnits(block, left, leftLen);
    copyUnits(block + leftLen, right, n - leftLen);
  }
  adopt(block, n);
}

MoxString::MoxString(const MoxString& other) : MoxString() {
  size_t n = other.length();
  adopt(newBlock(other.text_, n), n);
}

MoxString* MoxString::create(const MoxChar* left, unsigned int leftLen, const MoxChar* right,
                             unsigned int rightLen) {
  size_t n = size_t(leftLen) + rightLen;
  if (n > kMaxLength) n = leftLen;  // the right part would not fit
  if (n == 0) return new MoxString();
  // One block from the allocator of all heap objects, starting at the
  // object: release, delete and the uncounted holders of a dead object all
  // free it as a whole from there.
  static_assert(sizeof(MoxString) % alignof(MoxChar) == 0, "text must follow the object");
  char* block = static_cast<char*>(mox::allocmem(sizeof(MoxString) + (n + 1) * sizeof(MoxChar)));
  MoxString* s = ::new (block) MoxString();
  MoxChar* text = reinterpret_cast<MoxChar*>(block + sizeof(MoxString));
  copyUnits(text, left, leftLen);
  copyUnits(text + leftLen, right, n - leftLen);
  text[n] = 0;
  s->text_ = text;
  s->len_ = uint32_t(n);
  s->cap_ = uint32_t(n);
  s->inBlock_ = true;
  return s;
}

MoxString::~MoxString() {
  if (!inBlock_) mox::freemem(text_);
}

void MoxString::dropText() {
  if (!inBlock_) mox::freemem(text_);
  text_ = nullptr;
  cap_ = 0;
  inBlock_ = false;
}

void MoxString::take(MoxString& other) {
  if (other.inBlock_) {
    // That text is part of other's allocation and goes when other goes.
    size_t n = other.length();
    text_ = newBlock(other.text_, n);
    cap_ = uint32_t(n);
    len_ = uint32_t(n);
    exposed_ = false;
    other.dropText();
  } else {
    text_ = other.text_;
    len_ = other.len_;
    cap_ = other.cap_;
    exposed_ = other.exposed_;
    other.text_ = nullptr;
    other.cap_ = 0;
  }
  other.len_ = 0;
  other.exposed_ = false;
}

unsigned int MoxString::measure() const {
  size_t n = unitLength(text_);
  if (!exposed_) len_ = uint32_t(n);
  return unsigned(n);
}

void MoxString::setUnit(unsigned int i, MoxChar ch) {
  size_t len = length();
  if (i >= len) return;
  text_[i] = ch;
  if (ch == 0) setLength(i);
}

MoxChar* MoxString::exposeText() {
  exposed_ = true;
  len_ = kUnmeasured;
  return text_;
}

void MoxString::setLength(size_t n) {
  if (n == 0) {
    dropText();
  } else {
    text_[n] = 0;
  }
  len_ = exposed_ ? uint32_t(kUnmeasured) : uint32_t(n);
}

void MoxString::reserve(size_t n) {
  if (text_ && n <= cap_) return;
  size_t grown = size_t(cap_) + cap_ / 2;
  size_t cap = n > grown ? n : grown;
  if (cap > kMaxLength) cap = kMaxLength;
  size_t len = length();
  if (text_ && !inBlock_) {
    // A block of our own grows where it lies when it can; a large one is
    // moved by the system without copying its text. The block is charged
    // once this string holds it: a memory limit crossed then may add to
    // the machine's error text, which may be this string.
    size_t counted = 0;
    if (void* grown = mox::growmem(text_, (cap + 1) * sizeof(MoxChar), &counted)) {
      text_ = static_cast<MoxChar*>(grown);
      text_[len] = 0;
      cap_ = uint32_t(cap);
      mox::growCharge(grown, counted);
      return;
    }
  }
  MoxChar* block = static_cast<MoxChar*>(mox::allocmem((cap + 1) * sizeof(MoxChar)));
  copyUnits(block, text_, len);
  block[len] = 0;
  dropText();
  text_ = block;
  cap_ = uint32_t(cap);
}

void MoxString::adopt(MoxChar* block, size_t len) {
  dropText();
  text_ = block;
  cap_ = uint32_t(len);
  len_ = exposed_ ? uint32_t(kUnmeasured) : uint32_t(len);
}

void MoxString::assign(const MoxChar* text, size_t len) {
  // The new block is made before the old one goes: text may lie inside it.
  adopt(newBlock(text, len), len);
}

void MoxString::append(const MoxChar* text, size_t len) {
  if (len == 0) return;
  size_t old = length();
  if (len > kMaxLength - old) return;
  if (!text_ || old + len > cap_) {
    // The appended text may lie in our own block, which reserve replaces.
    if (text_ && text >= text_ && text <= text_ + cap_) {
      MoxString copy(text, unsigned(len));
      reserve(old + len);
      copyUnits(text_ + old, copy.text_, len);
    } else {
      reserve(old + len);
      copyUnits(text_ + old, text, len);
    }
  } else {
    memmove(text_ + old, text, len * sizeof(MoxChar));
  }
  setLength(old + len);
}

MoxString& MoxString::operator=(const MoxString& other) {
  if (this != &other) assign(other.text_, other.length());
  return *this;
}

MoxString& MoxString::operator=(MoxString&& other) noexcept {
  if (this != &other) {
    dropText();
    take(other);
  }
  return *this;
}

MoxString& MoxString::operator+=(const MoxString& other) {
  append(other.c_str(), other.length());
  return *this;
}

MoxString& MoxString::operator+=(const MoxChar* text) {
  append(text, unitLength(text));
  return *this;
}

MoxString& MoxString::operator+=(MoxChar ch) {
  // A zero unit would end the text early; it cannot be part of a string.
  if (ch != 0) append(&ch, 1);
  return *this;
}

MoxString MoxString::operator+(const MoxString& other) const {
  return MoxString(c_str(), length(), other.c_str(), other.length());
}

void MoxString::clear() { adopt(nullptr, 0); }

const char* MoxString::a_str() const {
  if (empty()) return "";
  // One buffer per thread, so machines on other threads never overwrite the
  // text a caller is still using. Its block comes from allocmem and goes
  // back through freemem like every other buffer's.
  thread_local MoxBuffer shared;
  size_t len = length();
  std::string encoded;
  moxUtf8Encode(text_, len, encoded);
  shared.setCapacity(unsigned(encoded.size() + 1));
  memcpy(shared.data(), encoded.c_str(), encoded.size() + 1);
  return reinterpret_cast<const char*>(shared.data());
}

int MoxString::compare(const MoxString& other) const {
  const MoxChar* a = c_str();
  const MoxChar* b = other.c_str();
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return int(*a) - int(*b);
}

int MoxString::icompare(const MoxString& other) const {
  const MoxChar* a = c_str();
  const MoxChar* b = other.c_str();
  while (*a && foldCase(*a) == foldCase(*b)) {
    ++a;
    ++b;
  }
  return int(foldCase(*a)) - int(foldCase(*b));
}

int32_t MoxString::find(const MoxString& s, unsigned int pos) const {
  size_t len = length();
  if (len == 0 || pos >= len) return -1;
  size_t n = s.length();
  if (n == 0) return int32_t(pos);
  UnitSearch search(s.c_str(), n);
  size_t at = search.next(text_, len, pos);
  return at == UnitSearch::kNone ? -1 : int32_t(at);
}

int32_t MoxString::find(MoxChar ch, unsigned int pos) const {
  size_t len = length();
  if (len == 0 || pos >= len) return -1;
  for (size_t i = pos; i < len; ++i)
    if (text_[i] == ch) return int32_t(i);
  return -1;
}

MoxString MoxString::substr(unsigned int pos, int32_t count) const {
  size_t len = length();
  if (pos >= len || count == 0) return MoxString();
  size_t rest = len - pos;
  size_t n = (count < 0 || size_t(count) > rest) ? rest : size_t(count);
  MoxString result;
  result.adopt(newBlock(text_ + pos, n), n);
  return result;
}

MoxString& MoxString::erase(unsigned int pos, int32_t count) {
  size_t len = length();
  if (count == 0 || len == 0 || pos >= len) return *this;
  size_t rest = len - pos;
  size_t n = (count < 0 || size_t(count) > rest) ? rest : size_t(count);
  memmove(text_ + pos, text_ + pos + n, (len - pos - n) * sizeof(MoxChar));
  setLength(len - n);
  return *this;
}

MoxString& MoxString::insert(unsigned int pos, const MoxString& s) {
  size_t len = length();
  size_t n = s.length();
  if (n == 0 || pos > len || n > kMaxLength - len) return *this;
  if (&s == this) {
    MoxString copy(s);
    return insert(pos, copy);
  }
  reserve(len + n);
  memmove(text_ + pos + n, text_ + pos, (len - pos) * sizeof(MoxChar));
  copyUnits(text_ + pos, s.text_, n);
  setLength(len + n);
  return *this;
}

MoxString& MoxString::insert(unsigned int pos, MoxChar ch, unsigned int count) {
  size_t len = length();
  if (count == 0 || pos > len || ch == 0 || count > kMaxLength - len) return *this;
  reserve(len + count);
  memmove(text_ + pos + count, text_ + pos, (len - pos) * sizeof(MoxChar));
  std::fill_n(text_ + pos, count, ch);
  setLength(len + count);
  return *this;
}

MoxString& MoxString::replace(const MoxString& from, const MoxString& to) {
  size_t n = from.length();
  size_t len = length();
  if (n == 0 || len == 0) return *this;
  // One left-to-right pass over the original text: each match is replaced
  // and the search resumes after it, so replacement text is never rescanned.
  UnitSearch search(from.c_str(), n);
  size_t at = search.next(text_, len, 0);
  if (at == UnitSearch::kNone) return *this;
  const size_t toLen = to.length();
  std::u16string result;
  result.reserve(len);
  size_t i = 0;
  while (at != UnitSearch::kNone) {
    result.append(text_ + i, at - i);
    result.append(to.c_str(), toLen);
    i = at + n;
    at = search.next(text_, len, i);
  }
  result.append(text_ + i, len - i);
  assign(result.data(), result.size() > kMaxLength ? kMaxLength : result.size());
  return *this;
}

MoxString& MoxString::replace(MoxChar from, MoxChar to) {
  size_t len = length();
  if (len == 0 || from == to) return *this;
  for (size_t i = 0; i < len; ++i)
    if (text_[i] == from) text_[i] = to;
  // A zero replacement ends the text at the first one.
  if (to == 0) setLength(unitLength(text_));
  return *this;
}

MoxString MoxString::format(const MoxChar* fmt, ...) {
  if (!fmt) return MoxString();
  std::u16string out;
  va_list args;
  va_start(args, fmt);
  moxVFormat(out, fmt, args);
  va_end(args);
  return MoxString(out.c_str(), unsigned(out.size() > kMaxLength ? kMaxLength : out.size()));
}

// ---- Formatting script values ----
//
// The format is cut into pieces at every run of '%'. The piece at the very
// start of the format is literal text; every other piece may begin with a
// conversion (flag, width, precision, size, letter), which consumes one
// argument and is formatted together with the literal text that follows it.
// Processing stops as soon as the arguments are used up.

namespace {

bool isOneOf(MoxChar c, const char* set) {
  for (; *set; ++set)
    if (c == MoxChar(*set)) return true;
  return false;
}

bool isDigit(MoxChar c) { return c >= u'0' && c <= u'9'; }

// Size prefixes the formatting engine understands; any other run of size
// characters is dropped, since the value's kind decides how it is passed.
bool keepSize(const std::u16string& size) {
  return size == u"h" || size == u"l" || size == u"ll" || size == u"L" || size == u"I64" ||
         size == u"I32" || size == u"w";
}

bool isWideSize(const std::u16string& size) { return size == u"ll" || size == u"I64"; }

// Holds the text that a formatting argument points at for as long as the
// piece is being formatted.
struct PieceArg {
  MoxFormatArg arg;
  std::u16string text16;
  std::string text8;
};

// Passes a script value the way its kind allows: numbers as numbers, text
// only from strings and buffers, everything else as a pointer. A number is
// never handed over as an address.
void makeArg(const MoxValue& v, bool wide, PieceArg& out) {
  out.arg.i64 = 0;
  switch (v.type()) {
    case MVT_INTEGER:
      if (wide) {
        out.arg.kind = MoxFormatArg::INT64;
        out.arg.i64 = v.asInt();
      } else {
        out.arg.kind = MoxFormatArg::INT32;
        out.arg.i32 = v.asInt();
      }
      break;
    case MVT_FLOAT:
      out.arg.kind = MoxFormatArg::DOUBLE;
      out.arg.d = double(v.asFloat());
      break;
    case MVT_DOUBLE:
      out.arg.kind = MoxFormatArg::DOUBLE;
      out.arg.d = v.asDouble();
      break;
    case MVT_NULL:
      out.arg.kind = MoxFormatArg::INT32;
      out.arg.i32 = 0;
      break;
    case MVT_STRING:
    case MVT_STRINGREF: {
      MoxString* s = v;
      out.arg.kind = MoxFormatArg::TEXT16;
      out.arg.text16 = s ? s->c_str() : u"";
      break;
    }
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF: {
      // The block need not hold a terminator: copy the units in use.
      MoxCharBuffer* b = v;
      if (b)
        for (unsigned i = 0; i < b->size() && (*b)[i]; ++i) out.text16.push_back((*b)[i]);
      out.arg.kind = MoxFormatArg::TEXT16;
      out.arg.text16 = out.text16.c_str();
      break;
    }
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* b = v;
      if (b)
        for (unsigned i = 0; i < b->size() && (*b)[i]; ++i) out.text8.push_back(char((*b)[i]));
      out.arg.kind = MoxFormatArg::TEXT8;
      out.arg.text8 = out.text8.c_str();
      break;
    }
    default:
      out.arg.kind = MoxFormatArg::POINTER;
      out.arg.ptr = v.ptr();
      break;
  }
}

// Scans a conversion at the start of piece [p, end). On success fills spec
// with "%" + the conversion as the engine should see it and returns the
// length of the conversion within the piece; 0 when no letter is reached.
size_t scanConversion(const MoxChar* p, const MoxChar* end, std::u16string& spec,
                      bool& wide) {
  const MoxChar* q = p;
  if (q < end && isOneOf(*q, "+-0 #")) ++q;
  while (q < end && isDigit(*q)) ++q;
  if (q < end && *q == u'.') {
    ++q;
    while (q < end && isDigit(*q)) ++q;
  }
  const MoxChar* sizeStart = q;
  while (q < end && isOneOf(*q, "whlI2346FN")) ++q;
  if (q >= end || !isOneOf(*q, "diouxXfegEGcspCSaA")) return 0;
  std::u16string size(sizeStart, q);
  wide = isWideSize(size);
  spec.assign(u"%");
  spec.append(p, sizeStart);
  if (keepSize(size)) spec.append(size);
  spec.push_back(*q);
  return size_t(q + 1 - p);
}

// Argument i of the caller's values, or null outside the vector.
const MoxValue& argAt(const ValPtr& args, unsigned int i) {
  static const MoxValue none;
  MoxVector* vec = args.vector();
  if (!vec) return none;
  int64_t index = int64_t(args.current()) + i;
  if (index < 0 || index >= int64_t(vec->size())) return none;
  return (*vec)[unsigned(index)];
}

}  // namespace

MoxString::MoxString(const MoxChar* fmt, unsigned int argc, ValPtr& args) : MoxString() {
  if (!fmt || !*fmt) return;
  std::u16string result;
  const MoxChar* p = fmt;
  unsigned int argIndex = 0;
  while (*p) {
    bool atStart = (p == fmt && *p != u'%');
    while (*p == u'%') ++p;
    if (!*p) break;
    const MoxChar* end = p;
    while (*end && *end != u'%') ++end;
    if (argIndex >= argc) break;
    if (atStart) {
      result.append(p, end);
    } else {
      std::u16string spec;
      bool wide = false;
      size_t specLen = scanConversion(p, end, spec, wide);
      if (specLen == 0) {
        result.append(p, end);
      } else {
        spec.append(p + specLen, end);
        PieceArg arg;
        makeArg(argAt(args, argIndex), wide, arg);
        ++argIndex;
        moxFormatArgs(result, spec.c_str(), &arg.arg, 1);
      }
    }
    p = end;
  }
  size_t n = unitLength(result.c_str());
  if (n > kMaxLength) n = kMaxLength;
  adopt(newBlock(result.data(), n), n);
}
