// Module files: the public operations, each one pass of the writer or the
// reader over a fresh MoxDictionaryIOState.
#include "modules/MoxDictionaryIO.h"

#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "modules/MoxDictionaryIOState.h"
#include "stdlib/MoxStdCapabilities.h"
#include "vm/MoxPlatform.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

int MoxDictionaryIOState::family(MoxValueType t) {
  switch (t) {
    case MVT_BYTECODE: case MVT_VECTOR: case MVT_BYTECODEREF: case MVT_VECTORREF: return 1;
    case MVT_BUFFER: case MVT_BUFFERREF: return 2;
    case MVT_CHARBUFFER: case MVT_CHARBUFFERREF: return 3;
    case MVT_OBJECT: case MVT_OBJECTREF: return 4;
    case MVT_STRING: case MVT_STRINGREF: return 5;
    case MVT_DICTIONARY: case MVT_DICTIONARYREF: return 6;
    case MVT_CLASS: case MVT_CLASSREF: return 7;
    default: return 0;
  }
}

// Shared by both directions: forgets identifiers and releases what the
// reader held.
void MoxDictionaryIOState::clearObjectLists() {
  vars_.clear();
  refs_.clear();
  objects_.clear();
  ids_.clear();
  classesWritten_.clear();
  // First give ownerless objects an owner, while every recorded slot is
  // still alive; then drop the list's own references.
  for (Held& h : held_) {
    if (h.obj->getRefCnt() != 1) continue;
    for (Slot& slot : h.refSlots) {
      MoxValue& v = slot.get();
      if (v.getRef() == h.obj && moxIsRefType(v.getType())) {
        v = MoxValue(h.obj, MoxValueType(v.getType() - 10));
        break;
      }
    }
  }
  for (Held& h : held_) h.obj->release();
  held_.clear();
}

MoxDictionaryIO::MoxDictionaryIO(MoxVirtualMachine& vm)
    : vm_(vm), classes_(&vm.classes()), symbols_(&vm.symbols()), printer_(&vm.printer()),
      state_(new MoxDictionaryIOState(vm, vm.classes(), vm.symbols(), vm.printer())) {
  classes_->addRef();
  symbols_->addRef();
}

MoxDictionaryIO::~MoxDictionaryIO() {
  delete state_;
  classes_->release();
  symbols_->release();
}

FILE* MoxDictionaryIO::openFile(const MoxString& path, bool write) {
  FILE* f = fopen(path.a_str(), write ? "wb" : "rb");
  if (!f) (*printer_)(u"opening %s for %s failed\n", path.c_str(), write ? u"write" : u"read");
  return f;
}

bool MoxDictionaryIO::writeModule(const MoxString& path) {
  // Written beside the target and renamed over it only when complete: a
  // write that fails (a value too deep, a full disk) leaves the old module.
  mox::FileReplacement file(path.a_str());
  FILE* f = file.stream();
  if (!f) {
    (*printer_)(u"opening %s for %s failed\n", path.c_str(), u"write");
    return false;
  }
  state_->begin();
  state_->setOutput(f);
  bool ok = state_->writeDictionary(vm_.modules(), false) &&
            state_->writeDictionary(*classes_, true) && state_->writeDictionary(*symbols_, true);
  state_->setOutput(nullptr);
  if (ok) ok = file.commit() == 0;
  state_->clearObjectLists();
  return ok;
}

// The first block names the native modules; they are loaded before any
// class or symbol is read, since those may name native classes and functions.
bool MoxDictionaryIO::readNativeModules() {
  MoxDictionary natives;
  natives.addRef();  // a local table: never deleted through counting
  bool ok = state_->readDictionary(natives, true);
  for (MoxDictionaryEntry* e = natives.getFirst(); ok && e; e = e->getNext()) {
    // A machine without native modules loads none, whoever reads the file.
    if (!vm_.allows(MOX_CAP_NATIVE_MODULES)) {
      (*printer_)(u"%s\n", moxDisabledText(MOX_CAP_NATIVE_MODULES));
      ok = false;
    } else if (!vm_.loadNativeModule(e->getKey()->c_str())) {
      (*printer_)(u"loading native module %s failed\n", e->getKey()->c_str());
      ok = false;
    }
  }
  // The values of this block die with the table: nothing may patch them.
  state_->dropPending();
  natives.clear();
  return ok;
}

bool MoxDictionaryIO::readModule(const MoxString& path) {
  FILE* f = openFile(path, false);
  if (!f) return false;
  state_->begin();
  state_->setInput(f);
  bool ok = readNativeModules();
  if (ok) ok = state_->readDictionary(*classes_, true) && state_->readDictionary(*symbols_, true);
  fclose(f);
  ok = state_->dissolve(ok);
  state_->clearObjectLists();
  return ok;
}

bool MoxDictionaryIO::writeSingleValue(FILE* stream, MoxValue& value) {
  state_->begin();
  if (!stream) return false;
  state_->setOutput(stream);
  bool ok = state_->writeValue(value, false);
  state_->clearObjectLists();
  return ok;
}

bool MoxDictionaryIO::readSingleValue(FILE* stream, MoxValue& value) {
  state_->begin();
  if (!stream) return false;
  state_->setInput(stream);
  bool ok = state_->readValue(MoxDictionaryIOState::Slot::of(&value), false);
  ok = state_->dissolve(ok);
  state_->clearObjectLists();
  return ok;
}
