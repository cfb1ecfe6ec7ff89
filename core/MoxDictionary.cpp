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
#include <unordered_map>

namespace {

// Dictionaries up to this size are searched along the list.
const uint32_t kIndexThreshold = 8;

typedef std::u16string_view KeyView;

KeyView viewOf(const MoxString& s) { return KeyView(s.c_str(), s.length()); }

}  // namespace

struct MoxDictionaryIndex {
  explicit MoxDictionaryIndex(bool sortedIndex) : sorted(sortedIndex) {}
  ~MoxDictionaryIndex() {
    // Only an empty dictionary drops its index; nothing is left to free.
  }

  MoxDictionaryEntry* find(KeyView key) const {
    if (sorted) {
      auto it = tree.find(key);
      return it == tree.end() ? nullptr : it->second;
    }
    auto it = hash.find(key);
    return it == hash.end() ? nullptr : it->second;
  }

  // Returns the stored text that the entry is indexed under, or null when
  // another entry already holds that text (possible only after a key string
  // was edited in place); such an entry is reached along the list only.
  const std::u16string* add(KeyView key, MoxDictionaryEntry* entry) {
    std::u16string* text = new std::u16string(key);
    bool added = sorted ? tree.emplace(KeyView(*text), entry).second
                        : hash.emplace(KeyView(*text), entry).second;
    if (!added) {
      delete text;
      return nullptr;
    }
    return text;
  }

  void remove(const std::u16string* text) {
    KeyView key(*text);
    if (sorted)
      tree.erase(key);
    else
      hash.erase(key);
    delete text;
  }

  // Sorted only: the entry with the largest key below key (null for none).
  MoxDictionaryEntry* predecessor(KeyView key) const {
    auto it = tree.lower_bound(key);
    if (it == tree.begin()) return nullptr;
    --it;
    return it->second;
  }

  bool sorted;
  std::unordered_map<KeyView, MoxDictionaryEntry*> hash;
  std::map<KeyView, MoxDictionaryEntry*> tree;
};

// ---- MoxDictionaryEntry ----

MoxDictionaryEntry::MoxDictionaryEntry(MoxString* key, const MoxValue& value, MoxSymbolType type)
    : type_(type), key_(key), value_(value), dict_(nullptr), next_(nullptr), prev_(nullptr),
      indexKey_(nullptr) {
  if (key_) key_->addRef();
}

MoxDictionaryEntry::MoxDictionaryEntry(const MoxDictionaryEntry& other)
    : type_(other.type_), key_(other.key_), value_(other.value_), dict_(nullptr),
      next_(nullptr), prev_(nullptr), indexKey_(nullptr) {
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
      index_(nullptr) {}

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
  if (index_ && entry->key_) entry->indexKey_ = index_->add(viewOf(*entry->key_), entry);
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
  if (entry->indexKey_) {
    index_->remove(static_cast<const std::u16string*>(entry->indexKey_));
    entry->indexKey_ = nullptr;
  }
  entry->next_ = nullptr;
  entry->prev_ = nullptr;
  entry->dict_ = nullptr;
  --count_;
}

void MoxDictionary::buildIndex() {
  index_ = new MoxDictionaryIndex(sorted_);
  for (MoxDictionaryEntry* e = first_; e; e = e->next_)
    if (e->key_) e->indexKey_ = index_->add(viewOf(*e->key_), e);
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
