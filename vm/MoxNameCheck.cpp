// Walks over the procedures of a machine for name questions.
#include "vm/MoxNameCheck.h"

#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "core/MoxBuffer.h"
#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreterImpl.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxLineTable.h"
#include "vm/MoxVirtualMachine.h"

namespace {

MoxVector* procOf(const MoxValue& v) {
  return (v.type() == MVT_BYTECODE || v.type() == MVT_BYTECODEREF) ? static_cast<MoxVector*>(v.getRef())
                                                                   : nullptr;
}

// Calls visit for every procedure held by the global symbols and by the
// method tables of every class.
void forEachProcedure(MoxVirtualMachine& vm, const std::function<void(MoxVector*)>& visit) {
  for (MoxDictionaryEntry* e = vm.symbols().getFirst(); e; e = e->getNext())
    if (MoxVector* p = procOf(e->getValue())) visit(p);
  for (MoxDictionaryEntry* c = vm.classes().getFirst(); c; c = c->getNext()) {
    const MoxValue& cv = c->getValue();
    if (cv.type() != MVT_CLASS && cv.type() != MVT_CLASSREF) continue;
    MoxClass* cls = static_cast<MoxClass*>(cv.getRef());
    if (!cls || !cls->funcMembers()) continue;
    for (MoxDictionaryEntry* m = cls->funcMembers()->getFirst(); m; m = m->getNext())
      if (MoxVector* p = procOf(m->getValue())) visit(p);
  }
}

// Calls visit for every OP_REF and OP_SET of proc with the entry it names.
void forEachVariableUse(MoxVector* proc,
                        const std::function<void(uint8_t op, MoxDictionaryEntry*, uint32_t pc)>& visit) {
  MoxBuffer* code = moxProcCode(proc);
  if (!code) return;
  unsigned width = 1;
  MoxInstruction ins;
  for (size_t pc = 0; pc < code->size(); pc += ins.length) {
    if (!moxDecodeInstruction(code->data(), code->size(), pc, &width, &ins)) break;
    if (ins.opcode != OP_REF && ins.opcode != OP_SET) continue;
    if (ins.operand >= proc->size()) continue;
    const MoxValue& lit = (*proc)[ins.operand];
    if (lit.type() == MVT_VAR && lit.ptr())
      visit(ins.opcode, static_cast<MoxDictionaryEntry*>(lit.ptr()), uint32_t(pc));
  }
}

std::unordered_set<MoxDictionaryEntry*> assignedEntries(MoxVirtualMachine& vm) {
  std::unordered_set<MoxDictionaryEntry*> assigned;
  forEachProcedure(vm, [&](MoxVector* proc) {
    forEachVariableUse(proc, [&](uint8_t op, MoxDictionaryEntry* e, uint32_t) {
      if (op == OP_SET) assigned.insert(e);
    });
  });
  return assigned;
}

bool isUndefinedNull(MoxDictionaryEntry* e) {
  return e->getSymbolType() == SYM_UNDEFINED && e->getValue().type() == MVT_NULL;
}

}  // namespace

std::u16string moxProcedureName(MoxVector* proc) {
  std::u16string name;
  MoxClass* cls = moxProcClass(proc);
  if (cls && cls->getClassName()) {
    name = cls->getClassName()->c_str();
    name += u"::";
  }
  const MoxValue* n = proc && proc->size() > MOX_PROC_NAME ? &(*proc)[MOX_PROC_NAME] : nullptr;
  if (n && (n->type() == MVT_STRING || n->type() == MVT_STRINGREF) && n->getRef()) {
    const std::u16string own = static_cast<MoxString*>(n->getRef())->c_str();
    // A destructor is kept as the method "dtor"; show it as it is written.
    if (cls && cls->getClassName() && own == kMoxDestructorName)
      name += u"~" + std::u16string(cls->getClassName()->c_str());
    else
      name += own;
  } else
    name += u"<unnamed>";
  return name;
}

bool moxIsNeverAssigned(MoxVirtualMachine& vm, MoxDictionaryEntry* entry) {
  if (!entry || !isUndefinedNull(entry)) return false;
  return assignedEntries(vm).count(entry) == 0;
}

std::vector<MoxUndefinedUse> moxFindUndefinedNames(MoxVirtualMachine& vm) {
  std::unordered_set<MoxDictionaryEntry*> assigned = assignedEntries(vm);
  std::vector<MoxUndefinedUse> uses;
  std::unordered_set<std::u16string> seen;  // name + procedure, reported once
  forEachProcedure(vm, [&](MoxVector* proc) {
    forEachVariableUse(proc, [&](uint8_t op, MoxDictionaryEntry* e, uint32_t pc) {
      if (op != OP_REF || !isUndefinedNull(e) || assigned.count(e) || !e->getKey()) return;
      MoxUndefinedUse use;
      use.name = e->getKey()->c_str();
      use.function = moxProcedureName(proc);
      if (!seen.insert(use.name + u'\n' + use.function).second) return;
      const MoxChar* source = nullptr;
      use.line = 0;
      if (vm.lineTables().lookup(proc, pc, &source, &use.line)) use.source = source;
      uses.push_back(use);
    });
  });
  return uses;
}

std::vector<MoxSharedAssignment> moxFindSharedAssignments(MoxVirtualMachine& vm) {
  std::vector<MoxSharedAssignment> shared;
  // The first procedure seen assigning each undeclared global.
  std::unordered_map<MoxDictionaryEntry*, MoxVector*> firstSetter;
  std::unordered_set<MoxDictionaryEntry*> reported;
  forEachProcedure(vm, [&](MoxVector* proc) {
    forEachVariableUse(proc, [&](uint8_t op, MoxDictionaryEntry* e, uint32_t pc) {
      if (op != OP_SET || e->getSymbolType() != SYM_UNDEFINED || !e->getKey()) return;
      auto first = firstSetter.emplace(e, proc).first;
      if (first->second == proc || reported.count(e)) return;
      reported.insert(e);
      MoxSharedAssignment use;
      use.name = e->getKey()->c_str();
      use.first = moxProcedureName(first->second);
      use.second = moxProcedureName(proc);
      const MoxChar* source = nullptr;
      use.line = 0;
      if (vm.lineTables().lookup(proc, pc, &source, &use.line)) use.source = source;
      shared.push_back(use);
    });
  });
  return shared;
}

std::u16string moxNativeName(MoxVirtualMachine& vm, MoxNativeFunction fn) {
  auto same = [fn](const MoxValue& v) {
    return (v.type() == MVT_CODE || v.type() == MVT_CODEREF) && moxNativeOf(v) == fn;
  };
  for (MoxDictionaryEntry* e = vm.symbols().getFirst(); e; e = e->getNext())
    if (same(e->getValue()) && e->getKey()) return e->getKey()->c_str();
  for (MoxDictionaryEntry* c = vm.classes().getFirst(); c; c = c->getNext()) {
    const MoxValue& cv = c->getValue();
    if (cv.type() != MVT_CLASS && cv.type() != MVT_CLASSREF) continue;
    MoxClass* cls = static_cast<MoxClass*>(cv.getRef());
    if (!cls || !cls->funcMembers() || !cls->getClassName()) continue;
    for (MoxDictionaryEntry* m = cls->funcMembers()->getFirst(); m; m = m->getNext())
      if (same(m->getValue()) && m->getKey())
        return std::u16string(cls->getClassName()->c_str()) + u"::" + m->getKey()->c_str();
  }
  return std::u16string();
}
