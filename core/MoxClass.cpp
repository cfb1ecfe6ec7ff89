// Classes (members, slot numbering, base chain) and objects.
//
// Walks along the base chain are loops, not recursion, so a long chain read
// from a module file cannot exhaust the native stack; setBaseClass refuses
// a base that would close a cycle, so every walk ends.
#include "core/MoxClass.h"

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

}  // namespace

std::atomic<uint64_t> MoxClass::methodEpoch_{1};

MoxClass::MoxClass(MoxVirtualMachine& vm) : MoxClass(vm, static_cast<MoxString*>(nullptr), nullptr) {}

MoxClass::MoxClass(MoxVirtualMachine& vm, MoxString* name, MoxClass* base)
    : name_(name), base_(base), dataMembers_(nullptr), funcMembers_(nullptr), dataSize_(-1),
      vm_(vm), native_(false) {
  if (name_) name_->addRef();
  if (base_) base_->addRef();
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
  // A base that already derives from this class would make a cycle.
  if (base->isSubtypeOf(this)) return false;
  base->addRef();
  base_ = base;
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
  // Root first, so every class on the chain stores its own total.
  std::vector<MoxClass*> chain;
  for (MoxClass* c = this; c; c = c->base_) chain.push_back(c);
  int32_t size = 0;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    size = int32_t(uint32_t(size) + uint32_t(countObjectMembers((*it)->dataMembers_)));
    (*it)->dataSize_ = size;
  }
  return size;
}

MoxDictionaryEntry* MoxClass::findMember(const MoxString& name, bool searchBases) const {
  for (const MoxClass* c = this; c; c = searchBases ? c->base_ : nullptr) {
    if (MoxDictionaryEntry* e = c->dataMembers_->find(name)) return e;
    if (MoxDictionaryEntry* e = c->funcMembers_->find(name)) return e;
  }
  return nullptr;
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
  return addEntry(dataMembers_, name, MoxValue(), SYM_MEMBER);
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
  int32_t slot = base_ ? base_->computeDataSize() : 0;
  for (MoxDictionaryEntry* e = dataMembers_->getFirst(); e; e = e->getNext()) {
    if (e->getSymbolType() != SYM_MEMBER) continue;
    slot = int32_t(uint32_t(slot) + 1u);
    e->setValue(MoxValue(slot));
  }
  computeDataSize();
}

void MoxClass::notifyObjDelete(MoxObject* obj) { vm_.notifyObjDelete(obj); }

// ---- MoxObject ----

MoxObject::MoxObject(MoxClass* cls) : data_(nullptr) {
  if (!cls) return;
  // A class whose size was never computed still gets its class slot.
  int32_t size = cls->getDataSize();
  unsigned int slots = size > 0 ? unsigned(size) + 1 : 1;
  data_ = new MoxVector(slots, true);
  data_->addRef();
  (*data_)[0] = MoxValue(cls, false);
}

MoxObject::MoxObject(const MoxObject& other) : MoxRefObject(), data_(nullptr) {
  if (!other.data_) return;
  data_ = new MoxVector(*other.data_);
  data_->addRef();
}

MoxObject::~MoxObject() {
  if (!data_) return;
  if (data_->size() > 0) {
    MoxValueType t = (*data_)[0].type();
    MoxClass* cls = (*data_)[0];
    if (cls && (t == MVT_CLASS || t == MVT_CLASSREF)) cls->notifyObjDelete(this);
  }
  MoxVector* data = data_;
  data_ = nullptr;
  data->release();
}

MoxClass* MoxObject::getClass() const {
  if (!data_ || data_->size() == 0) return nullptr;
  return (*data_)[0];
}
