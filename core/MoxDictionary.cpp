// Dictionaries: a linked list of entries that fixes the iteration order,
// plus, once a dictionary holds more than a few entries, an index from key
// text to entry (hashed for every indexed dictionary, and ordered as well for
// sorted ones) so that lookup, insertion and removal do not walk the list.
//
// The ordered index keeps its own copy of each key's text, made when the
// entry was indexed, so it stays sound even if a key string is edited in
// place later.
#include "core/MoxDictionary.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "vm/MoxMemory.h"
#include "vm/MoxPlatform.h"

// A dictionary allocates an entry per key: on 64-bit targets it should stay
// within the heap's 64-byte chunk.
static_assert(sizeof(void*) != 8 || sizeof(MoxDictionaryEntry) <= 56,
              "dictionary entries outgrow their heap chunk");

namespace {

// The address that marks a removed entry in a slot that has no spare bits.
const char kRemovedMarker = 0;

// Dictionaries up to this size are searched along the list.
const uint32_t kIndexThreshold = 8;

typedef std::u16string_view KeyView;

KeyView viewOf(const MoxString& s) { return KeyView(s.c_str(), s.length()); }

uint32_t hashOf(KeyView key) {
  uint32_t h = 2166136261u;  // FNV-1a over the code units
  for (MoxChar c : key) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

// The entry's current key text equals key.
bool keyEquals(const MoxDictionaryEntry* e, KeyView key) {
  const MoxString* k = e->getKey();
  if (!k) return false;
  const MoxChar* t = k->c_str();
  for (size_t i = 0; i < key.size(); ++i)
    if (t[i] != key[i]) return false;
  return t[key.size()] == 0;
}

// The standard containers of the index take their memory where entries do,
// so that the memory limit counts the index too.
template <class T>
struct CountedAllocator {
  typedef T value_type;
  CountedAllocator() = default;
  template <class U>
  CountedAllocator(const CountedAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(mox::allocmem(n * sizeof(T))); }
  void deallocate(T* p, size_t) { mox::freemem(p); }
  template <class U>
  bool operator==(const CountedAllocator<U>&) const { return true; }
  template <class U>
  bool operator!=(const CountedAllocator<U>&) const { return false; }
};

}  // namespace

// Hash lookup for every indexed dictionary; sorted ones also keep an ordered
// index over copies of the key texts to find where a new key belongs.
struct MoxDictionaryIndex {
  // A hash slot on 64-bit targets, in one word: the entry's address with
  // the top 16 bits of its hash above it, so that a probe passes over
  // nearly every other entry without reading it. User-space addresses leave
  // those bits clear; an address that does not is kept whole, marked in its
  // low bits, and compared by the hash stored in the entry. Entries are
  // aligned, so neither 0 (free) nor 1 (removed) is an address.
  class TaggedSlot {
   public:
    TaggedSlot() : bits_(0) {}
    TaggedSlot(MoxDictionaryEntry* e, uint32_t h) {
      const uint64_t a = uint64_t(reinterpret_cast<uintptr_t>(e));
      bits_ = (a >> kTagShift) == 0 ? a | (uint64_t(h >> 16) << kTagShift) : a | kWhole;
    }
    static TaggedSlot removed() {
      TaggedSlot s;
      s.bits_ = kRemoved;
      return s;
    }
    bool isFree() const { return bits_ == 0; }
    bool isRemoved() const { return bits_ == kRemoved; }
    bool isUsed() const { return bits_ > kRemoved; }
    MoxDictionaryEntry* entry() const {
      const uint64_t a = (bits_ & kWhole) ? bits_ & ~kLowBits : bits_ & kAddressBits;
      return reinterpret_cast<MoxDictionaryEntry*>(uintptr_t(a));
    }
    // For a slot that is not free: whether it may hold an entry with hash h.
    bool mayHold(uint32_t h) const {
      if ((bits_ & kLowBits) == 0) return (bits_ >> kTagShift) == (h >> 16);
      return (bits_ & kWhole) && entry()->hash_ == h;
    }

   private:
    static const int kTagShift = 48;
    static const uint64_t kAddressBits = (uint64_t(1) << kTagShift) - 1;
    static const uint64_t kRemoved = 1;
    static const uint64_t kWhole = 2;
    static const uint64_t kLowBits = 3;
    uint64_t bits_;
  };

  // A hash slot elsewhere: the whole hash beside the address, which is as
  // small on 32-bit targets.
  class PairSlot {
   public:
    PairSlot() : hash_(0), entry_(nullptr) {}
    PairSlot(MoxDictionaryEntry* e, uint32_t h) : hash_(h), entry_(e) {}
    static PairSlot removed() { return PairSlot(marker(), 0); }
    bool isFree() const { return !entry_; }
    bool isRemoved() const { return entry_ == marker(); }
    bool isUsed() const { return entry_ && entry_ != marker(); }
    MoxDictionaryEntry* entry() const { return entry_; }
    bool mayHold(uint32_t h) const { return hash_ == h && entry_ != marker(); }

   private:
    // Only the address is used; nothing is ever written there.
    static MoxDictionaryEntry* marker() {
      return reinterpret_cast<MoxDictionaryEntry*>(const_cast<char*>(&kRemovedMarker));
    }
    uint32_t hash_;
    MoxDictionaryEntry* entry_;
  };

  static_assert(alignof(MoxDictionaryEntry) >= 4, "slots keep marks in the low address bits");
  typedef std::conditional<sizeof(void*) == 8, TaggedSlot, PairSlot>::type Slot;

  // Open addressing with linear probing. Entries are found by their key
  // text and removed by identity, from the hash stored in the entry, so an
  // edited key string can only make its entry unfindable, never leave a
  // stale slot behind.
  class HashIndex {
   public:
    HashIndex() : slots_(16), used_(0), removed_(0) {}

    MoxDictionaryEntry* find(KeyView key, uint32_t h) const {
      const size_t mask = slots_.size() - 1;
      for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot s = slots_[i];
        if (s.isFree()) return nullptr;
        if (s.mayHold(h) && keyEquals(s.entry(), key)) return s.entry();
      }
    }

    void add(MoxDictionaryEntry* e, uint32_t h) {
      if ((used_ + removed_ + 1) * 4 > slots_.size() * 3) rehash();
      place(Slot(e, h), h);
      ++used_;
    }

    void remove(MoxDictionaryEntry* e, uint32_t h) {
      const size_t mask = slots_.size() - 1;
      for (size_t i = h & mask; !slots_[i].isFree(); i = (i + 1) & mask) {
        if (slots_[i].isUsed() && slots_[i].entry() == e) {
          slots_[i] = Slot::removed();
          --used_;
          ++removed_;
          return;
        }
      }
    }

   private:
    void place(Slot s, uint32_t h) {
      const size_t mask = slots_.size() - 1;
      size_t i = h & mask;
      while (slots_[i].isUsed()) i = (i + 1) & mask;
      if (slots_[i].isRemoved()) --removed_;
      slots_[i] = s;
    }

    // At most half full afterwards.
    void rehash() {
      size_t size = slots_.size();
      while ((used_ + 1) * 2 > size) size *= 2;
      std::vector<Slot, CountedAllocator<Slot>> old(size);
      old.swap(slots_);
      removed_ = 0;
      // A slot may keep only part of the hash: the entry has all of it.
      for (const Slot& s : old)
        if (s.isUsed()) place(s, s.entry()->hash_);
    }

    std::vector<Slot, CountedAllocator<Slot>> slots_;
    size_t used_;
    size_t removed_;
  };

  // The copies of the key texts count too: a text longer than a string's
  // inline room takes its own block.
  typedef std::basic_string<char16_t, std::char_traits<char16_t>, CountedAllocator<char16_t>>
      KeyText;
  typedef std::map<KeyText, MoxDictionaryEntry*, std::less<>,
                   CountedAllocator<std::pair<const KeyText, MoxDictionaryEntry*>>>
      Tree;

  explicit MoxDictionaryIndex(bool sortedIndex) : sorted(sortedIndex), hintValid(false) {}

  MoxDictionaryEntry* find(KeyView key) const { return hash.find(key, hashOf(key)); }

  void add(MoxDictionaryEntry* e) {
    if (!e->key_) return;
    KeyView key = viewOf(*e->key_);
    const uint32_t h = hashOf(key);
    e->hash_ = h;
    hash.add(e, h);
    if (!sorted) return;
    // The position found by predecessor() for this very key saves a second
    // descent; emplace_hint stays correct whatever the hint.
    auto at = hintValid ? hint : tree.lower_bound(key);
    hintValid = false;
    const size_t before = tree.size();
    auto it = tree.emplace_hint(at, KeyText(key.data(), key.size()), e);
    if (tree.size() != before) {
      places.emplace(e, it);
    } else if (!keyEquals(it->second, key)) {
      // The text is filed for an entry whose key string was edited in place
      // since. The entry that has the text now takes the place over, or
      // keys inserted next to it would be ordered as if it were missing
      // once the edited one goes.
      places.erase(it->second);
      it->second = e;
      places.emplace(e, it);
    }
    // Otherwise two entries have this text (one key string was edited to
    // equal another's); the second stays out of the ordered index.
  }

  void remove(MoxDictionaryEntry* e) {
    hintValid = false;
    if (e->key_) hash.remove(e, e->hash_);
    if (!sorted) return;
    auto at = places.find(e);
    if (at == places.end()) return;
    tree.erase(at->second);
    places.erase(at);
  }

  // Sorted only: the entry with the largest key below key (null for none).
  MoxDictionaryEntry* predecessor(KeyView key) {
    auto it = tree.lower_bound(key);
    hint = it;
    hintValid = true;
    if (it == tree.begin()) return nullptr;
    --it;
    return it->second;
  }

  bool sorted;
  HashIndex hash;
  // Sorted only: the ordered index, and where each entry in it was filed
  // (its key may no longer hold that text).
  Tree tree;
  std::unordered_map<const MoxDictionaryEntry*, Tree::iterator,
                     std::hash<const MoxDictionaryEntry*>,
                     std::equal_to<const MoxDictionaryEntry*>,
                     CountedAllocator<std::pair<const MoxDictionaryEntry* const, Tree::iterator>>>
      places;
  Tree::iterator hint;
  bool hintValid;
};

// ---- MoxDictionaryEntry ----

void* MoxDictionaryEntry::operator new(size_t size) { return mox::allocmem(size); }
void MoxDictionaryEntry::operator delete(void* block) { mox::freemem(block); }

MoxDictionaryEntry::MoxDictionaryEntry(MoxString* key, const MoxValue& value, MoxSymbolType type)
    : type_(type), hash_(0), key_(key), value_(value), dict_(nullptr), next_(nullptr),
      prev_(nullptr) {
  if (key_) key_->addRef();
}

MoxDictionaryEntry::MoxDictionaryEntry(const MoxDictionaryEntry& other)
    : type_(other.type_), hash_(0), key_(other.key_), value_(other.value_), dict_(nullptr),
      next_(nullptr), prev_(nullptr) {
  if (key_) key_->addRef();
}

MoxDictionaryEntry::~MoxDictionaryEntry() {
  if (dict_) dict_->unlink(this);
  MoxString* key = key_;
  key_ = nullptr;
  if (key) key->release();
}

MoxDictionaryEntry& MoxDictionaryEntry::operator=(const MoxDictionaryEntry& other) {
  if (this == &other) return *this;
  // The key decides an entry's place in its dictionary, so only a free
  // entry takes the other's key.
  if (!dict_ && key_ != other.key_) {
    if (other.key_) other.key_->addRef();
    MoxString* old = key_;
    key_ = other.key_;
    if (old) old->release();
  }
  value_ = other.value_;
  type_ = other.type_;
  return *this;
}

// ---- MoxDictionary ----

MoxDictionary::MoxDictionary(bool sorted)
    : owner_(nullptr), first_(nullptr), sorted_(sorted), last_(nullptr), count_(0),
      index_(nullptr) {
  MoxMemoryLedger::track(this);
}

MoxDictionary::~MoxDictionary() { clear(); }

MoxDictionaryEntry* MoxDictionary::findLinear(const MoxChar* key) const {
  for (MoxDictionaryEntry* e = first_; e; e = e->next_) {
    if (!e->key_) continue;
    const MoxChar* a = e->key_->c_str();
    const MoxChar* b = key;
    while (*a && *a == *b) {
      ++a;
      ++b;
    }
    if (*a == *b) return e;
    if (sorted_ && *a > *b) return nullptr;
  }
  return nullptr;
}

MoxDictionaryEntry* MoxDictionary::find(const MoxString& key) const {
  if (index_) return index_->find(viewOf(key));
  return findLinear(key.c_str());
}

MoxDictionaryEntry* MoxDictionary::operator[](MoxString* key) {
  if (!key) return nullptr;
  return insert(key->c_str(), key, false);
}

MoxDictionaryEntry& MoxDictionary::operator[](const MoxString& key) {
  return *insert(key.c_str(), const_cast<MoxString*>(&key), true);
}

MoxDictionaryEntry* MoxDictionary::insert(const MoxChar* text, MoxString* keyObject,
                                          bool copyKey) {
  MoxDictionaryEntry* after = nullptr;
  if (index_) {
    KeyView key = viewOf(*keyObject);
    if (MoxDictionaryEntry* found = index_->find(key)) return found;
    after = sorted_ ? index_->predecessor(key) : last_;
  } else {
    // The walk of the list: equal returns, a sorted walk stops before the
    // first greater key, an unsorted one runs to the end.
    for (MoxDictionaryEntry* e = first_; e; e = e->next_) {
      if (!e->key_) {
        after = e;
        continue;
      }
      const MoxChar* a = e->key_->c_str();
      const MoxChar* b = text;
      while (*a && *a == *b) {
        ++a;
        ++b;
      }
      if (*a == *b) return e;
      if (sorted_ && *a > *b) break;
      after = e;
    }
  }
  MoxString* key =
      copyKey ? MoxString::create(keyObject->c_str(), keyObject->length()) : keyObject;
  MoxDictionaryEntry* entry = new MoxDictionaryEntry(key, MoxValue(), SYM_UNDEFINED);
  link(entry, after);
  if (!index_ && count_ > kIndexThreshold) buildIndex();
  return entry;
}

void MoxDictionary::link(MoxDictionaryEntry* entry, MoxDictionaryEntry* after) {
  entry->dict_ = this;
  entry->prev_ = after;
  entry->next_ = after ? after->next_ : first_;
  if (after)
    after->next_ = entry;
  else
    first_ = entry;
  if (entry->next_)
    entry->next_->prev_ = entry;
  else
    last_ = entry;
  ++count_;
  if (index_) index_->add(entry);
}

void MoxDictionary::unlink(MoxDictionaryEntry* entry) {
  if (entry->prev_)
    entry->prev_->next_ = entry->next_;
  else
    first_ = entry->next_;
  if (entry->next_)
    entry->next_->prev_ = entry->prev_;
  else
    last_ = entry->prev_;
  if (index_) index_->remove(entry);
  entry->next_ = nullptr;
  entry->prev_ = nullptr;
  entry->dict_ = nullptr;
  --count_;
}

void MoxDictionary::buildIndex() {
  index_ = new MoxDictionaryIndex(sorted_);
  for (MoxDictionaryEntry* e = first_; e; e = e->next_)
    index_->add(e);
}

bool MoxDictionary::erase(MoxDictionaryEntry* entry) {
  if (!entry || !first_ || entry->dict_ != this) return false;
  unlink(entry);
  delete entry;
  return true;
}

void MoxDictionary::clear() {
  // Deleting an entry releases its value, which may run code that changes
  // this dictionary; each entry is unlinked before it is deleted.
  while (first_) {
    MoxDictionaryEntry* e = first_;
    unlink(e);
    delete e;
  }
  delete index_;
  index_ = nullptr;
}
