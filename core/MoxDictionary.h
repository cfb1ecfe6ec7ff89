// Symbol tables: string keys mapped to entries that hold a value and a symbol
// kind. Iteration follows a singly linked list from getFirst() along
// getNext(): insertion order for unsorted dictionaries, ascending key order
// for sorted ones. Larger dictionaries keep an index beside the list so that
// lookups do not walk it.
#ifndef MOX_DICTIONARY_H
#define MOX_DICTIONARY_H

#include "core/MoxConfig.h"
#include "core/MoxString.h"
#include "core/MoxTrackLink.h"
#include "core/MoxValue.h"

// Stored in module files: the numbers never change.
enum MoxSymbolType : int32_t {
  SYM_UNDEFINED = 0,
  SYM_CLASS = 1,
  SYM_MEMBER = 2,
  SYM_VARIABLE = 3,
  SYM_METHOD = 4,
  SYM_FUNCTION = 5
};

struct MoxDictionaryIndex;

class MOX_API MoxDictionaryEntry final {
 public:
  // Takes a reference on key (when non-null); not in any dictionary.
  MoxDictionaryEntry(MoxString* key, const MoxValue& value, MoxSymbolType type);
  MoxDictionaryEntry(const MoxDictionaryEntry& other);
  // Unlinks the entry from its dictionary first. Not virtual (the class is
  // final): a dictionary allocates an entry per key, so each word counts.
  ~MoxDictionaryEntry();
  // Entries come from the counted allocation of the value model, like the
  // keys and values they hold, so a machine's memory limit sees them.
  static void* operator new(size_t size);
  static void operator delete(void* block);

  // Takes value and kind; the key only when this entry is in no dictionary.
  MoxDictionaryEntry& operator=(const MoxDictionaryEntry& other);
  MoxDictionaryEntry& operator=(const MoxValue& value) {
    value_ = value;
    return *this;
  }

  MoxSymbolType getSymbolType() const { return type_; }
  void setSymbolType(MoxSymbolType type) { type_ = type; }
  MoxString* getKey() const { return key_; }
  const MoxValue& getValue() const { return value_; }
  // The value slot itself (an MVT_VAR value refers to it).
  MoxValue& value() { return value_; }
  void setValue(const MoxValue& value) { value_ = value; }
  MoxDictionary* getDictionary() const { return dict_; }
  MoxDictionaryEntry* getNext() const { return next_; }

 private:
  friend class MoxDictionary;
  friend struct MoxDictionaryIndex;

  MoxSymbolType type_;
  // The hash the index filed the entry under, valid while it is in an
  // indexed dictionary and has a key (exactly then it is in the index).
  uint32_t hash_;
  MoxString* key_;
  MoxValue value_;
  MoxDictionary* dict_;
  MoxDictionaryEntry* next_;
  MoxDictionaryEntry* prev_;
};

class MOX_API MoxDictionary : public MoxRefObject, public MoxTrackLink {
 public:
  explicit MoxDictionary(bool sorted = false);
  ~MoxDictionary() override;
  MoxDictionary(const MoxDictionary&) = delete;
  MoxDictionary& operator=(const MoxDictionary&) = delete;

  MoxDictionaryEntry* getFirst() const { return first_; }
  MoxDictionaryEntry* find(const MoxString& key) const;
  // The entry for key, created (key object itself, null value, kind
  // SYM_UNDEFINED) when missing; null for a null key.
  MoxDictionaryEntry* operator[](MoxString* key);
  // The same; a new entry's key is a copy of key.
  MoxDictionaryEntry& operator[](const MoxString& key);
  // False when the entry is null or not in this dictionary.
  bool erase(MoxDictionaryEntry* entry);
  bool erase(const MoxString& key) { return erase(find(key)); }
  void clear();
  unsigned int count() const { return count_; }

  bool isSorted() const { return sorted_; }
  MoxClass* getOwner() const { return owner_; }
  void setOwner(MoxClass* owner) { owner_ = owner; }

 private:
  friend class MoxDictionaryEntry;

  MoxDictionaryEntry* findLinear(const MoxChar* key) const;
  MoxDictionaryEntry* insert(const MoxChar* text, MoxString* keyObject, bool copyKey);
  void link(MoxDictionaryEntry* entry, MoxDictionaryEntry* after);
  // Removes the entry from the list and the index (does not delete it).
  void unlink(MoxDictionaryEntry* entry);
  void buildIndex();

  MoxClass* owner_;
  MoxDictionaryEntry* first_;
  bool sorted_;
  MoxDictionaryEntry* last_;
  uint32_t count_;
  MoxDictionaryIndex* index_;
};

#endif
