// Dictionaries: a linked list of entries that fixes the iteration order,
// plus, once a dictionary holds more than a few entries, an index from key
// text to entry (hashed for unsorted dictionaries, ordered for sorted ones)
// so that lookup, insertion and removal do not walk the list.
//
// The index keeps its own copy of each key's text, made when the entry was
// indexed, so it stays sound even if a key string is edited in place later.
#include "core/MoxDictionary.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vm/MoxMemory.h"

namespace {

// The address that marks a removed entry in the index.
const char kTombMarker = 0;

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

// Open addressing with linear probing over (hash, entry) slots. Entries are
// found by their key text and removed by identity, from the hash stored in
// the entry, so an edited key string can only make its entry unfindable,
// never leave a stale slot behind.
class HashIndex {
 public:
  HashIndex() : slots_(16), used_(0), tombs_(0) {}

  MoxDictionaryEntry* find(KeyView key, uint32_t h) const {
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (!s.entry) return nullptr;
      if (s.entry != tomb() && s.hash == h && keyEquals(s.entry, key)) return s.entry;
    }
  }

  void add(MoxDictionaryEntry* e, uint32_t h) {
    if ((used_ + tombs_ + 1) * 4 > slots_.size() * 3) rehash();
    size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    while (slots_[i].entry && slots_[i].entry != tomb()) i = (i + 1) & mask;
    if (slots_[i].entry == tomb()) --tombs_;
    slots_[i].entry = e;
    slots_[i].hash = h;
    ++used_;
  }

  void remove(MoxDictionaryEntry* e, uint32_t h) {
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask; slots_[i].entry; i = (i + 1) & mask) {
      if (slots_[i].entry == e) {
        slots_[i].entry = tomb();
        --used_;
        ++tombs_;
        return;
      }
    }
  }

 private:
  struct Slot {
    Slot() : hash(0), entry(nullptr) {}
    uint32_t hash;
    MoxDictionaryEntry* entry;
  };

  // A slot's marker for a removed entry: only its address is used, and it
  // is never written.
  static MoxDictionaryEntry* tomb() {
    return reinterpret_cast<MoxDictionaryEntry*>(const_cast<char*>(&kTombMarker));
  }

  void rehash() {
    size_t size = slots_.size();
    while ((used_ + 1) * 2 > size) size *= 2;
    std::vector<Slot> old(size);
    old.swap(slots_);
    used_ = 0;
    tombs_ = 0;
    for (const Slot& s : old)
      if (s.entry && s.entry != tomb()) add(s.entry, s.hash);
  }

  std::vector<Slot> slots_;
  size_t used_;
  size_t tombs_;
};

}  // namespace

// Hash lookup for every indexed dictionary; sorted ones also keep an ordered
// index over copies of the key texts to find where a new key belongs.
struct MoxDictionaryIndex {
  explicit MoxDictionaryIndex(bool sortedIndex) : sorted(sortedIndex), hintValid(false) {}
  ~MoxDictionaryIndex() {
    // Only an empty dictionary drops its index; free whatever is left anyway.
    for (auto& item : tree) delete item.second.text;
  }

  MoxDictionaryEntry* find(KeyView key) const { return hash.find(key, hashOf(key)); }

  void add(MoxDictionaryEntry* e) {
    if (!e->getKey()) return;
    KeyView key = viewOf(*e->getKey());
    uint32_t h = hashOf(key);
    hash.add(e, h);
    e->hash_ = h;
    e->hashed_ = true;
    if (!sorted) return;
    // A second entry with the same text exists only after a key string was
    // edited in place; it stays out of the ordered index.
    std::u16string* text = new std::u16string(key);
    size_t before = tree.size();
    // The position found by predecessor() for this very key saves a second
    // descent; emplace_hint stays correct whatever the hint.
    auto at = hintValid ? hint : tree.lower_bound(KeyView(*text));
    hintValid = false;
    tree.emplace_hint(at, KeyView(*text), Node{e, text});
    if (tree.size() != before)
      e->indexKey_ = text;
    else
      delete text;
  }

  void remove(MoxDictionaryEntry* e) {
    hintValid = false;
    if (e->hashed_) hash.remove(e, e->hash_);
    e->hashed_ = false;
    if (e->indexKey_) {
      const std::u16string* text = static_cast<const std::u16string*>(e->indexKey_);
      tree.erase(KeyView(*text));
      delete text;
      e->indexKey_ = nullptr;
    }
  }

  // Sorted only: the entry with the largest key below key (null for none).
  MoxDictionaryEntry* predecessor(KeyView key) {
    auto it = tree.lower_bound(key);
    hint = it;
    hintValid = true;
    if (it == tree.begin()) return nullptr;
    --it;
    return it->second.entry;
  }

  struct Node {
    MoxDictionaryEntry* entry;
    std::u16string* text;
  };

  bool sorted;
  HashIndex hash;
  std::map<KeyView, Node> tree;
  std::map<KeyView, Node>::iterator hint;
  bool hintValid;
};

// ---- MoxDictionaryEntry ----

MoxDictionaryEntry::MoxDictionaryEntry(MoxString* key, const MoxValue& value, MoxSymbolType type)
    : type_(type), key_(key), value_(value), dict_(nullptr), next_(nullptr), prev_(nullptr),
      hash_(0), hashed_(false), indexKey_(nullptr) {
  if (key_) key_->addRef();
}

MoxDictionaryEntry::MoxDictionaryEntry(const MoxDictionaryEntry& other)
    : type_(other.type_), key_(other.key_), value_(other.value_), dict_(nullptr),
      next_(nullptr), prev_(nullptr), hash_(0), hashed_(false), indexKey_(nullptr) {
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
  MoxString* key = copyKey ? new MoxString(*keyObject) : keyObject;
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
