// Script and native classes, and their instances.
//
// An object's member data is a vector: element 0 holds the object's class,
// elements 1 to the data size hold the data members, those of the base
// classes first.
#ifndef MOX_CLASS_H
#define MOX_CLASS_H

#include <atomic>
#include <cstdint>

#include "core/MoxConfig.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"

// The name under which a class keeps its destructor (written ~Name in a
// script) among its methods.
constexpr MoxChar kMoxDestructorName[] = u"dtor";

class MOX_API MoxClass : public MoxRefObject {
 public:
  explicit MoxClass(MoxVirtualMachine& vm);
  // Takes counted references to name and base (either may be null).
  MoxClass(MoxVirtualMachine& vm, MoxString* name, MoxClass* base);
  // Copies a non-empty name; an empty one leaves the class unnamed.
  MoxClass(MoxVirtualMachine& vm, const MoxString& name, MoxClass* base);
  ~MoxClass() override;
  MoxClass(const MoxClass&) = delete;
  MoxClass& operator=(const MoxClass&) = delete;

  // Unsorted (declaration order): SYM_MEMBER and SYM_VARIABLE entries.
  // Taking the table counts as a change too: a data member can hide a
  // method of a base in lookups by name.
  MoxDictionary* dataMembers() const {
    methodsChanged();
    return dataMembers_;
  }
  // Sorted: SYM_METHOD and SYM_FUNCTION entries. Whoever takes the table
  // may add or remove methods, so taking it counts as a method change.
  MoxDictionary* funcMembers() const {
    methodsChanged();
    return funcMembers_;
  }
  // The own function member called name, or null (for lookups that change
  // nothing).
  MoxDictionaryEntry* findOwnFunction(const MoxString& name) const {
    return funcMembers_->find(name);
  }

  // A number that changes whenever any class gains, loses or changes a
  // method, changes its base, or dies. Method lookups cached under one
  // value stay right until it changes.
  static uint64_t methodEpoch() { return methodEpoch_.load(std::memory_order_relaxed); }
  static void methodsChanged() { methodEpoch_.fetch_add(1, std::memory_order_relaxed); }

  MoxClass* getBaseClass() const { return base_; }
  // False when a base is already set (or the new base would make a cycle);
  // true without change for null.
  bool setBaseClass(MoxClass* base);
  // True for this class or one of its bases.
  bool isSubtypeOf(const MoxClass* cls) const;
  bool isSubtypeOf(const MoxString& name) const;

  MoxString* getClassName() const { return name_; }
  // Only while the class has no name.
  bool setClassName(MoxString* name);
  bool setClassName(const MoxString& name);

  // Object data slots including all bases; stored and returned. This
  // class's own members are always recounted; a base's size is reused while
  // no class has since changed its layout (gained members or a base, or was
  // recounted to a new size), so that sizing a long chain costs only this
  // class's own members.
  int32_t computeDataSize();
  int32_t getDataSize() const { return dataSize_; }

  // Own data members, own function members, then each base in turn.
  MoxDictionaryEntry* findMember(const MoxString& name, bool searchBases) const;
  // Members looked up by the machine itself, again and again: at every
  // object's death and every comparison of objects.
  enum WellKnownMember { kDestructorMember, kCompareMember, kWellKnownMembers };
  // findMember(name, true) for a well-known member, answered from a cache
  // kept until some class changes.
  MoxDictionaryEntry* findWellKnown(WellKnownMember which) const {
    if (wellKnownEpoch_ == methodEpoch()) return wellKnown_[which];
    return findWellKnownAgain(which);
  }
  // True when the class or a base has a member named kMoxDestructorName,
  // which its objects run as they die.
  bool hasDestructor() const { return findWellKnown(kDestructorMember) != nullptr; }
  // Slot of an object data member (bases searched), or -1.
  int32_t getMemberIndex(const MoxString& name) const;

  // Each fails for an empty name or a name this class already has.
  bool addDataMember(const MoxString& name);
  bool addStaticDataMember(const MoxString& name);
  bool addStaticDataMember(const MoxString& name, const MoxValue& value);
  bool addMethod(const MoxString& name, MoxNativeFunction function);
  bool addStaticMethod(const MoxString& name, MoxNativeFunction function);

  // Numbers the own object members after the base's slots, then recomputes
  // the data size.
  void fixupDataDefs();

  void setIsNative(bool native) { native_ = native; }
  bool getIsNative() const { return native_; }

  MoxVirtualMachine& getVM() const { return vm_; }
  // Runs the dying object's script destructor through the machine.
  void notifyObjDelete(MoxObject* obj);

 private:
  bool hasOwnMember(const MoxString& name) const;
  // findWellKnown() after some class changed: looks every name up again.
  MoxDictionaryEntry* findWellKnownAgain(WellKnownMember which) const;
  // True when dataSize_ was computed since the last layout change anywhere.
  bool sizeCurrent() const;
  // dataSize_, recomputed first when it may be out of date.
  int32_t currentDataSize();
  // Stores baseSize plus the own object members as this class's size.
  int32_t storeSize(int32_t baseSize);
  // Called when this class's layout changed: sizes derived from it go stale.
  void layoutChanged();
  bool addEntry(MoxDictionary* dict, const MoxString& name, const MoxValue& value,
                MoxSymbolType type);

  static std::atomic<uint64_t> methodEpoch_;

  MoxString* name_;
  MoxClass* base_;
  MoxDictionary* dataMembers_;
  MoxDictionary* funcMembers_;
  int32_t dataSize_;
  // The layout generation dataSize_ was computed in.
  uint64_t sizeEpoch_;
  // Set once some class takes this one as its base; until then no base
  // given to this class can derive from it.
  bool hasDerived_;
  MoxVirtualMachine& vm_;
  bool native_;
  // findWellKnown()'s answers and the method epoch they were found in.
  mutable uint64_t wellKnownEpoch_ = 0;
  mutable MoxDictionaryEntry* wellKnown_[kWellKnownMembers] = {};
};

class MOX_API MoxObject : public MoxRefObject {
 public:
  // Member data of data size + 1 null values with the class in element 0;
  // no member data for a null class.
  explicit MoxObject(MoxClass* cls);
  // The same object, with its member data in its own block: one allocation
  // and one free per object instead of two, and the members next to the
  // object in memory. The member data dies with the object; nobody may keep
  // a count on it beyond the object's life.
  static MoxObject* create(MoxClass* cls);
  // The object whose block holds member data made by create().
  static MoxObject* ownerOfEmbedded(MoxVector* data);
  // Shares the other's member values (a new vector of the same elements).
  MoxObject(const MoxObject& other);
  // Runs the class's notifyObjDelete first, then releases the member data.
  ~MoxObject() override;
  MoxObject& operator=(const MoxObject&) = delete;

  // Asked by every send, so the common case is inline.
  MoxClass* getClass() const {
    if (!data_ || data_->size() == 0) return nullptr;
    const MoxValue& v = (*data_)[0];
    if (v.type() == MVT_CLASS) return static_cast<MoxClass*>(v.getRef());
    return v;
  }
  MoxVector* getMemberData() const { return data_; }

 private:
  MoxObject() : data_(nullptr) {}
  // The member data's slot count for objects of cls.
  static unsigned int slotCount(MoxClass* cls);
  // Puts the class into element 0 of fresh member data and counts it.
  void adoptMemberData(MoxVector* data, MoxClass* cls);

  MoxVector* data_;
};

#endif
