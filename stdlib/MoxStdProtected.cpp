// Protected calls (pcall) and the end of a run (exit).
#include "core/MoxString.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxVirtualMachine.h"

using namespace moxstd;

namespace {

bool isCallable(const MoxValue& v) {
  switch (v.getType()) {
    case MVT_CODE:
    case MVT_CODEREF:
    case MVT_BYTECODE:
    case MVT_BYTECODEREF:
    case MVT_OBJECT:
    case MVT_OBJECTREF:
      return v.getType() == MVT_CODE || v.getType() == MVT_CODEREF || v.getRef() != nullptr;
    default:
      return false;
  }
}

MoxValue pair(int32_t status, const MoxValue& second) {
  MoxVector* v = new MoxVector();
  v->push_back(MoxValue(status));
  v->push_back(second);
  return MoxValue(v, false, false);
}

}  // namespace

bool MoxDefaultFunctions::Mox_pcall(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, -1)) return false;
  MoxInterpreter* interp = vm->interpreter();
  // The call runs on the interpreter's own stack, above the arguments.
  if (&args != &interp->sp()) return fail(vm, u"stack corrupted", u" (pcall)");
  ValPtr a = argBase(args, argc);
  a[1].dropDead();
  if (!isCallable(a[1])) return fail(vm, u"invalid argument type");
  MoxString caught;
  switch (interp->protectedCall(argc - 1, &caught)) {
    case MoxInterpreter::kCallDone: {
      // args is on the callee's slot, which holds the result, one above ours.
      const MoxValue value(*args);
      return result(args, 1, pair(1, value));
    }
    case MoxInterpreter::kCallCaught:
      return result(args, 1, pair(0, MoxValue(new MoxString(caught), false)));
    case MoxInterpreter::kCallFailed:
    default:
      return false;
  }
}

bool MoxDefaultFunctions::Mox_exit(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 0, 1)) return false;
  int32_t code = 0;
  if (argc == 1) {
    if (!args->isInt()) return fail(vm, u"invalid argument type");
    code = args->asInt();
  }
  return vm->interpreter()->requestExit(code);
}
