// Text operations, container sizes and dictionary operations.
#include <cstdint>
#include <string>

#include "core/MoxBuffer.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

const MoxChar kStringExpected[] = u"invalid argument type - string expected";

MoxString* stringArg(const MoxValue& v) { return isString(v) ? static_cast<MoxString*>(v) : nullptr; }

MoxDictionary* dictArg(const MoxValue& v) {
  return v.getType() == MVT_DICTIONARY || v.getType() == MVT_DICTIONARYREF ? static_cast<MoxDictionary*>(v)
                                                                             : nullptr;
}

// The separator units of strsplit: a bit for each ASCII unit, the others
// in a list.
class Separators {
 public:
  explicit Separators(const MoxChar* units) {
    for (; *units; ++units) {
      if (*units < 128) ascii_[*units >> 6] |= uint64_t(1) << (*units & 63);
      else others_.push_back(*units);
    }
  }
  bool operator()(MoxChar c) const {
    if (c < 128) return (ascii_[c >> 6] >> (c & 63)) & 1;
    return others_.find(c) != std::u16string::npos;
  }

 private:
  uint64_t ascii_[2] = {0, 0};
  std::u16string others_;
};

MoxValue intValue(int32_t n) { return MoxValue(n); }

MoxChar charArg(const MoxValue& v) { return static_cast<MoxChar>(static_cast<int32_t>(v) & 0xFFFF); }

bool compareStrings(MoxVirtualMachine* vm, int argc, ValPtr& args, bool ignoreCase) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* x = stringArg(a[1]);
  MoxString* y = stringArg(a[2]);
  if (!x || !y) return fail(vm, u"invalid argument type");
  return result(args, argc, intValue(ignoreCase ? x->icompare(*y) : x->compare(*y)));
}

}  // namespace

bool MoxDefaultFunctions::Mox_strlen(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxString* s = stringArg(*args);
  if (!s) return fail(vm, u"invalid argument type");
  return result(args, argc, intValue(static_cast<int32_t>(s->length())));
}

bool MoxDefaultFunctions::Mox_strcmp(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return compareStrings(vm, argc, args, false);
}

bool MoxDefaultFunctions::Mox_stricmp(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return compareStrings(vm, argc, args, true);
}

bool MoxDefaultFunctions::Mox_strsplit(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  MoxString* delims = stringArg(a[2]);
  if (!s || !delims) return fail(vm, u"invalid argument type");
  const Separators cut(delims->c_str());
  const MoxChar* const text = s->c_str();
  // The words are counted first, so that the vector is made once at its
  // final size: grown by doubling, it cleared and copied about twice as
  // many slots as the text has words.
  unsigned words = 0;
  bool inWord = false;
  unsigned n = 0;
  for (const MoxChar* p = text; *p; ++p) {
    if (++n == kWorkChunk) {
      if (!work(vm, n)) return false;
      n = 0;
    }
    const bool sep = cut(*p);
    words += !sep && !inWord;
    inWord = !sep;
  }
  MoxVector* v = new MoxVector();
  MoxValue made(v, false, false);
  if (words) v->setCapacity(words);
  // Each word is copied once, from where it lies in the text, into a string
  // made in one block with its text.
  const MoxChar* word = text;
  for (const MoxChar* p = text;; ++p) {
    if (++n == kWorkChunk) {
      if (!work(vm, n)) return false;
      n = 0;
    }
    const MoxChar c = *p;
    if (c != 0 && !cut(c)) continue;
    if (p > word) v->push_back(MoxValue(MoxString::create(word, unsigned(p - word)), false));
    if (c == 0) break;
    word = p + 1;
  }
  return result(args, argc, made);
}

bool MoxDefaultFunctions::Mox_strfind(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s) return fail(vm, kStringExpected);
  const unsigned start = argc == 3 ? static_cast<unsigned>(static_cast<int32_t>(a[3])) : 0;
  int32_t pos;
  if (MoxString* pattern = stringArg(a[2])) {
    pos = s->find(*pattern, start);
  } else {
    MoxChar ch = charArg(a[2]);
    if (!ch) return fail(vm, u"invalid argument - string or character expected");
    pos = s->find(ch, start);
  }
  return result(args, argc, intValue(pos));
}

bool MoxDefaultFunctions::Mox_strerase(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s) return fail(vm, kStringExpected);
  const int32_t pos = static_cast<int32_t>(a[2]);
  const int32_t count = argc == 3 ? static_cast<int32_t>(a[3]) : -1;
  // A negative position lies beyond every end once taken as unsigned.
  if (pos >= 0) s->erase(static_cast<unsigned>(pos), count);
  return result(args, argc, MoxValue(s, false));
}

bool MoxDefaultFunctions::Mox_strinsert(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 3, 4)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s) return fail(vm, kStringExpected);
  const int32_t pos = static_cast<int32_t>(a[2]);
  if (pos < 0) return fail(vm, u"invalid insertion position");
  if (MoxString* t = stringArg(a[3])) {
    if (argc == 4) return fail(vm, u"too many arguments");
    if (t == s) {
      MoxString copy(*t);
      s->insert(static_cast<unsigned>(pos), copy);
    } else {
      s->insert(static_cast<unsigned>(pos), *t);
    }
  } else {
    const int32_t count = argc == 4 ? static_cast<int32_t>(a[4]) : 1;
    if (count > 0) s->insert(static_cast<unsigned>(pos), charArg(a[3]), static_cast<unsigned>(count));
  }
  return result(args, argc, MoxValue(s, false));
}

bool MoxDefaultFunctions::Mox_strreplace(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 3, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s) return fail(vm, kStringExpected);
  if (MoxString* from = stringArg(a[2])) {
    MoxString* to = stringArg(a[3]);
    if (!to) return fail(vm, kStringExpected);
    // Copies keep the operands intact when they share the changed string.
    MoxString f(*from), t(*to);
    const uint64_t len = s->length();
    if (!work(vm, len)) return false;
    if (t.length() > f.length() && f.length() > 0) {
      // A text that grows is measured first: one that would not fit is
      // refused instead of exhausting memory.
      uint64_t matches = 0;
      for (int32_t at = s->find(f, 0); at >= 0; at = s->find(f, static_cast<unsigned>(at) + f.length()))
        ++matches;
      const uint64_t grown = len + matches * (t.length() - f.length());
      if (!mox::blockFits(grown + 1, sizeof(MoxChar))) return fail(vm, u"not enough memory");
      if (!work(vm, grown)) return false;
    }
    s->replace(f, t);
  } else {
    if (!work(vm, s->length())) return false;
    s->replace(charArg(a[2]), charArg(a[3]));
  }
  return result(args, argc, MoxValue(s, false));
}

bool MoxDefaultFunctions::Mox_substr(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* s = stringArg(a[1]);
  if (!s) return fail(vm, kStringExpected);
  const int32_t start = static_cast<int32_t>(a[2]);
  if (start < 0) return fail(vm, u"invalid start index");
  const int32_t length = argc == 3 ? static_cast<int32_t>(a[3]) : -1;
  return result(args, argc, MoxValue(new MoxString(s->substr(static_cast<unsigned>(start), length)), false));
}

bool MoxDefaultFunctions::Mox_vecsize(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxVector* v = static_cast<MoxVector*>(*args);
  if (!v) return fail(vm, u"invalid argument type");
  return result(args, argc, intValue(static_cast<int32_t>(v->size())));
}

bool MoxDefaultFunctions::Mox_size(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  const MoxValue& v = *args;
  int32_t n;
  switch (v.getType()) {
    case MVT_VECTOR:
    case MVT_VECTORREF:
    case MVT_BYTECODE:
    case MVT_BYTECODEREF: {
      MoxVector* p = static_cast<MoxVector*>(v);
      if (!p) return fail(vm, u"invalid argument type");
      n = static_cast<int32_t>(p->size());
      break;
    }
    case MVT_BUFFER:
    case MVT_BUFFERREF: {
      MoxBuffer* p = static_cast<MoxBuffer*>(v);
      if (!p) return fail(vm, u"invalid argument type");
      n = static_cast<int32_t>(p->size());
      break;
    }
    case MVT_CHARBUFFER:
    case MVT_CHARBUFFERREF: {
      MoxCharBuffer* p = static_cast<MoxCharBuffer*>(v);
      if (!p) return fail(vm, u"invalid argument type");
      n = static_cast<int32_t>(p->size());
      break;
    }
    case MVT_DICTIONARY:
    case MVT_DICTIONARYREF: {
      MoxDictionary* p = static_cast<MoxDictionary*>(v);
      if (!p) return fail(vm, u"invalid argument type");
      n = static_cast<int32_t>(p->count());
      break;
    }
    default:
      return fail(vm, u"invalid argument type");
  }
  return result(args, argc, intValue(n));
}

bool MoxDefaultFunctions::Mox_dictcontains(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxDictionary* d = dictArg(a[1]);
  MoxString* key = stringArg(a[2]);
  if (!d || !key) return fail(vm, u"invalid argument type");
  return result(args, argc, intValue(d->find(*key) ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_dicterase(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxDictionary* d = dictArg(a[1]);
  MoxString* key = stringArg(a[2]);
  if (!d || !key) return fail(vm, u"invalid argument type");
  // The key may be held only by the entry being erased.
  MoxString k(*key);
  return result(args, argc, intValue(d->erase(k) ? 1 : 0));
}

bool MoxDefaultFunctions::Mox_dictclear(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxDictionary* d = dictArg(*args);
  if (!d) return fail(vm, u"invalid argument type");
  // Keep the dictionary alive while its entries go, whatever they hold.
  MoxValue keep(*args);
  d->clear();
  return resultNull(args, argc);
}

namespace {

bool dictList(MoxVirtualMachine* vm, int argc, ValPtr& args, bool keys) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxDictionary* d = dictArg(*args);
  if (!d) return fail(vm, u"invalid argument type");
  MoxVector* v = new MoxVector(d->count(), false);
  for (MoxDictionaryEntry* e = d->getFirst(); e; e = e->getNext()) {
    if (keys)
      v->push_back(MoxValue(new MoxString(e->getKey() ? e->getKey()->c_str() : u""), false));
    else
      v->push_back(e->getValue());
  }
  return result(args, argc, MoxValue(v, false, false));
}

}  // namespace

bool MoxDefaultFunctions::Mox_dictgetkeys(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return dictList(vm, argc, args, true);
}

bool MoxDefaultFunctions::Mox_dictgetvalues(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return dictList(vm, argc, args, false);
}
