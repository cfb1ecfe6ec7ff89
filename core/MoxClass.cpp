// Classes (members, slot numbering, base chain) and objects.
//
// Walks along the base chain are loops, not recursion, so a long chain read
// from a module file cannot exhaust the native stack; setBaseClass refuses
// a base that would close a cycle, so every walk ends.
#include "core/MoxClass.h"

#include <atomic>
#include <new>
#include <vector>

#include "vm/MoxVirtualMachine.h"

namespace {

MoxDictionary* newMemberTable(bool sorted, MoxClass* owner) {
  MoxDictionary* dict = new MoxDictionary(sorted);
  dict->addRef();
  dict->setOwner(owner);
  return dict;
}

int32_t countObjectMembers(const MoxDictionary* dict) {
  int32_t n = 0;
  for (MoxDictionaryEntry* e = dict->getFirst(); e; e = e->getNext())
    if (e->getSymbolType() == SYM_MEMBER) ++n;
  return n;
}

// Advanced whenever a class whose size may have been used by derived
// classes changes its layout. Starts above every class's initial epoch.
std::atomic<uint64_t> gLayoutEpoch{1};

}  // namespace

std::atomic<uint64_t> MoxClass::methodEpoch_{1};

MoxClass::MoxClass(MoxVirtualMachine& vm) : MoxClass(vm, static_cast<MoxString*>(nullptr), nullptr) {}

MoxClass::MoxClass(MoxVirtualMachine& vm, MoxString* name, MoxClass* base)
    : name_(name), base_(base), dataMembers_(nullptr), funcMembers_(nullptr), dataSize_(-1),
      sizeEpoch_(0), hasDerived_(false), vm_(vm), native_(false) {
  if (name_) name_->addRef();
  if (base_) {
    base_->addRef();
    base_->hasDerived_ = true;
  }
  dataMembers_ = newMemberTable(false, this);
  funcMembers_ = newMemberTable(true, this);
}

MoxClass::MoxClass(MoxVirtualMachine& vm, const MoxString& name, MoxClass* base)
    : MoxClass(vm, name.empty() ? nullptr : new MoxString(name), base) {}

MoxClass::~MoxClass() {
  // A new class may be made at this address.
  methodsChanged();
  if (name_) name_->release();
  if (base_) base_->release();
  name_ = nullptr;
  base_ = nullptr;
  dataMembers_->setOwner(nullptr);
  funcMembers_->setOwner(nullptr);
  dataMembers_->release();
  funcMembers_->release();
}

bool MoxClass::setBaseClass(MoxClass* base) {
  if (!base) return true;
  if (base_) return false;
  // A base that already derives from this class would make a cycle; only
  // a class that something derives from needs the walk.
  if (hasDerived_ ? base->isSubtypeOf(this) : base == this) return false;
  base->addRef();
  base->hasDerived_ = true;
  base_ = base;
  layoutChanged();
  methodsChanged();
  return true;
}

bool MoxClass::isSubtypeOf(const MoxClass* cls) const {
  for (const MoxClass* c = this; c; c = c->base_)
    if (c == cls) return true;
  return false;
}

bool MoxClass::isSubtypeOf(const MoxString& name) const {
  for (const MoxClass* c = this; c; c = c->base_) {
    if (!c->name_) return false;
    if (c->name_->compare(name) == 0) return true;
  }
  return false;
}

bool MoxClass::setClassName(MoxString* name) {
  if (name_ || !name) return false;
  name->addRef();
  name_ = name;
  return true;
}

bool MoxClass::setClassName(const MoxString& name) {
  if (name_ || name.empty()) return false;
  name_ = new MoxString(name);
  name_->addRef();
  return true;
}

int32_t MoxClass::computeDataSize() {
  // Bases whose stored size may be out of date, nearest first; they are
  // recomputed root first, from the nearest base that is current.
  std::vector<MoxClass*> stale;
  MoxClass* c = base_;
  for (; c && !c->sizeCurrent(); c = c->base_) stale.push_back(c);
  int32_t size = c ? c->dataSize_ : 0;
  for (auto it = stale.rbegin(); it != stale.rend(); ++it) size = (*it)->storeSize(size);
  return storeSize(size);
}

bool MoxClass::sizeCurrent() const { return dataSize_ >= 0 && sizeEpoch_ == gLayoutEpoch; }

int32_t MoxClass::currentDataSize() { return sizeCurrent() ? dataSize_ : computeDataSize(); }

int32_t MoxClass::storeSize(int32_t baseSize) {
  int32_t size = int32_t(uint32_t(baseSize) + uint32_t(countObjectMembers(dataMembers_)));
  if (size != dataSize_) layoutChanged();
  dataSize_ = size;
  sizeEpoch_ = gLayoutEpoch;
  return size;
}

void MoxClass::layoutChanged() {
  // A class never sized cannot have lent its size to a derived class.
  if (dataSize_ >= 0) gLayoutEpoch.fetch_add(1);
}

MoxDictionaryEntry* MoxClass::findMember(const MoxString& name, bool searchBases) const {
  for (const MoxClass* c = this; c; c = searchBases ? c->base_ : nullptr) {
    if (MoxDictionaryEntry* e = c->dataMembers_->find(name)) return e;
    if (MoxDictionaryEntry* e = c->funcMembers_->find(name)) return e;
  }
  return nullptr;
}

MoxDictionaryEntry* MoxClass::findWellKnownAgain(WellKnownMember which) const {
  static const MoxString kNames[kWellKnownMembers] = {MoxString(kMoxDestructorName),
                                                      MoxString(u"compare")};
  const uint64_t now = methodEpoch();
  for (int i = 0; i < kWellKnownMembers; ++i) wellKnown_[i] = findMember(kNames[i], true);
  wellKnownEpoch_ = now;
  return wellKnown_[which];
}

int32_t MoxClass::getMemberIndex(const MoxString& name) const {
  MoxDictionaryEntry* e = findMember(name, true);
  if (!e || e->getSymbolType() != SYM_MEMBER) return -1;
  return int32_t(e->getValue());
}

bool MoxClass::hasOwnMember(const MoxString& name) const {
  return dataMembers_->find(name) || funcMembers_->find(name);
}

bool MoxClass::addEntry(MoxDictionary* dict, const MoxString& name, const MoxValue& value,
                        MoxSymbolType type) {
  if (name.empty() || hasOwnMember(name)) return false;
  if (dict == funcMembers_) methodsChanged();
  MoxDictionaryEntry& entry = (*dict)[name];
  entry.setValue(value);
  entry.setSymbolType(type);
  return true;
}

bool MoxClass::addDataMember(const MoxString& name) {
  if (!addEntry(dataMembers_, name, MoxValue(), SYM_MEMBER)) return false;
  layoutChanged();
  return true;
}

bool MoxClass::addStaticDataMember(const MoxString& name) {
  return addEntry(dataMembers_, name, MoxValue(), SYM_VARIABLE);
}

bool MoxClass::addStaticDataMember(const MoxString& name, const MoxValue& value) {
  return addEntry(dataMembers_, name, value, SYM_VARIABLE);
}

bool MoxClass::addMethod(const MoxString& name, MoxNativeFunction function) {
  if (!function) return false;
  return addEntry(funcMembers_, name, MoxValue(function), SYM_METHOD);
}

bool MoxClass::addStaticMethod(const MoxString& name, MoxNativeFunction function) {
  if (!function) return false;
  return addEntry(funcMembers_, name, MoxValue(function), SYM_FUNCTION);
}

void MoxClass::fixupDataDefs() {
  int32_t slot = base_ ? base_->currentDataSize() : 0;
  for (MoxDictionaryEntry* e = dataMembers_->getFirst(); e; e = e->getNext()) {
    if (e->getSymbolType() != SYM_MEMBER) continue;
    slot = int32_t(uint32_t(slot) + 1u);
    e->setValue(MoxValue(slot));
  }
  computeDataSize();
}

void MoxClass::notifyObjDelete(MoxObject* obj) { vm_.notifyObjDelete(obj); }

// ---- MoxObject ----

unsigned int MoxObject::slotCount(MoxClass* cls) {
  // A class whose size was never computed still gets its class slot.
  const int32_t size = cls->getDataSize();
  return size > 0 ? unsigned(size) + 1 : 1;
}

void MoxObject::adoptMemberData(MoxVector* data, MoxClass* cls) {
  data_ = data;
  data_->addRef();
  // Fresh member data holds null values only, so element 0 takes the class
  // without an assignment: there is nothing to let go.
  ::new (static_cast<void*>(&(*data_)[0])) MoxValue(static_cast<MoxRefObject*>(cls), MVT_CLASS);
}

MoxObject::MoxObject(MoxClass* cls) : data_(nullptr) {
  if (cls) adoptMemberData(MoxVector::newFilled(slotCount(cls)), cls);
}

static_assert(sizeof(MoxObject) % alignof(MoxVector) == 0,
              "member data placed behind an object must be aligned");

MoxObject* MoxObject::create(MoxClass* cls) {
  if (!cls) return new MoxObject(nullptr);
  const unsigned int slots = slotCount(cls);
  // [object][member vector][slots]: freed as a whole by MoxRefObject's
  // operator delete, like any object made by new.
  char* block = static_cast<char*>(
      MoxRefObject::operator new(sizeof(MoxObject) + MoxVector::filledBytes(slots)));
  MoxObject* obj = ::new (block) MoxObject();
  obj->adoptMemberData(MoxVector::placeEmbedded(block + sizeof(MoxObject), slots), cls);
  return obj;
}

MoxObject* MoxObject::ownerOfEmbedded(MoxVector* data) {
  return reinterpret_cast<MoxObject*>(reinterpret_cast<char*>(data) - sizeof(MoxObject));
}

MoxObject::MoxObject(const MoxObject& other) : MoxRefObject(), data_(nullptr) {
  if (!other.data_) return;
  data_ = new MoxVector(*other.data_);
  data_->addRef();
}

MoxObject::~MoxObject() {
  if (!data_) return;
  // Only a class with a destructor has anything to run.
  MoxClass* cls = getClass();
  if (cls && cls->hasDestructor()) cls->notifyObjDelete(this);
  MoxVector* data = data_;
  data_ = nullptr;
  if (data->isEmbedded())
    data->endEmbedded();
  else
    data->release();
}

