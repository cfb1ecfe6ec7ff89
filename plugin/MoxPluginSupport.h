// Helpers shared by the plug-in's classes: the receiving object, argument
// counts that leave the receiver out, member slots and class registration.
//
// Method calling convention (through the interpreter's send): argc counts the
// receiver and the script arguments; args[-argc] is the result slot (it holds
// the receiver when the method starts), args[-argc + 1] the receiver and
// args[-argc + 2] the first script argument.
#ifndef MOX_PLUGIN_SUPPORT_H
#define MOX_PLUGIN_SUPPORT_H

#include "core/MoxClass.h"
#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxVirtualMachine.h"

namespace moxplugin {

// Argument i of a method call (0 is the result slot, 1 the receiver).
inline MoxValue& arg(ValPtr& args, int argc, int i) { return args[i - argc]; }

// Number of script arguments (the receiver left out).
inline int scriptArgs(int argc) { return argc - 1; }

// The receiving object, or null after reporting "invalid 'this' pointer".
inline MoxObject* receiver(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!moxstd::haveInterpreter(vm)) return nullptr;
  if (argc >= 1) {
    const MoxValue& self = arg(args, argc, 1);
    if ((self.type() == MVT_OBJECT || self.type() == MVT_OBJECTREF) && self.getRef())
      return static_cast<MoxObject*>(self.getRef());
  }
  moxstd::fail(vm, u"invalid 'this' pointer");
  return nullptr;
}

// The member slot of obj named name, or null when its class has no such data
// member or the object's data is too short for it. The position is looked up
// in the object's own class on every call: a class registered in another
// machine, a derived class or a module loaded again can never make a kept
// position point at the wrong slot.
inline MoxValue* memberSlot(MoxObject* obj, const MoxString& name) {
  MoxClass* cls = obj ? obj->getClass() : nullptr;
  MoxVector* data = obj ? obj->getMemberData() : nullptr;
  if (!cls || !data) return nullptr;
  const int32_t index = cls->getMemberIndex(name);
  if (index < 1 || uint32_t(index) >= data->size()) return nullptr;
  return &(*data)[uint32_t(index)];
}

// The heap object of a member that must be of kind want (or its uncounted
// twin). Reports badType with the member's kind (MVT_NULL when missing) and
// gives null otherwise. holder keeps the object alive while script code that
// the method calls may replace the member.
inline MoxRefObject* memberOfKind(MoxVirtualMachine* vm, MoxObject* obj, const MoxString& name,
                                  MoxValueType want, MoxValue& holder) {
  MoxValue* slot = memberSlot(obj, name);
  const MoxValueType kind = slot ? slot->type() : MVT_NULL;
  if ((kind == want || kind == MoxValueType(want + 10)) && slot->getRef()) {
    holder = *slot;
    return holder.getRef();
  }
  return vm->interpreter()->badType(kind, want), nullptr;
}

// The method returns the receiver: the cursor moves down to the result slot,
// which still holds it.
inline bool resultSelf(ValPtr& args, int argc) {
  args -= argc;
  return true;
}

// The text of argument i (a string, or an object answering "toString"),
// copied at once; reports badType(kind, MVT_STRING) when there is none.
inline bool textArg(MoxVirtualMachine* vm, ValPtr& args, int argc, int i, MoxString& out) {
  MoxInterpreter* interp = vm->interpreter();
  MoxString* text = interp->getStringFromValue(arg(args, argc, i));
  // The stack may have grown meanwhile: read the argument again.
  if (!text) return interp->badType(arg(args, argc, i).type(), MVT_STRING);
  out = *text;
  return true;
}

// Argument i as an integer; checkType reports a wrong kind.
inline bool intArg(MoxVirtualMachine* vm, ValPtr& args, int argc, int i, int32_t& out) {
  const MoxValue& v = arg(args, argc, i);
  if (!vm->interpreter()->checkType(v, MVT_INTEGER)) return false;
  out = v.asInt();
  return true;
}

struct MethodDef {
  const MoxChar* name;
  MoxNativeFunction function;
};

// Registers a native class: the class is entered under name, and only then
// gains its data members, its methods and its member numbering. A class that
// cannot be entered (the name is taken) is released again.
inline bool registerClass(MoxVirtualMachine& vm, const MoxChar* name, const MoxChar* const* members,
                          int memberCount, const MethodDef* methods, int methodCount) {
  MoxClass* cls = new MoxClass(vm);
  MoxValue holder(cls, false);
  if (!vm.registerNativeClass(name, cls)) return false;
  bool ok = true;
  for (int i = 0; i < memberCount; ++i) ok = cls->addDataMember(MoxString(members[i])) && ok;
  for (int i = 0; i < methodCount; ++i)
    ok = cls->addMethod(MoxString(methods[i].name), methods[i].function) && ok;
  cls->fixupDataDefs();
  return ok;
}

}  // namespace moxplugin

#endif
