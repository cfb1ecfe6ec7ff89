// Message dispatch, type checks and the error text.
#include <utility>

#include "core/MoxClass.h"
#include "core/MoxDictionary.h"
#include "core/MoxString.h"
#include "interpreter/MoxInterpreter.h"
#include "interpreter/MoxInterpreterImpl.h"
#include "vm/MoxVirtualMachine.h"

namespace {

bool startsWithBC(const MoxChar* s) { return s[0] == u'B' && s[1] == u'C' && s[2] == u'_'; }

bool isObjectKind(MoxValueType k) { return k == MVT_OBJECT || k == MVT_OBJECTREF; }

}  // namespace

// ---------------------------------------------------------------------------
// Errors and type checks

bool MoxInterpreter::returnError(const MoxChar* message, const MoxChar* detail) {
  if (message) errors_ += message;
  if (detail) errors_ += detail;
  errors_ += MoxChar(u'\n');
  return false;
}

bool MoxInterpreter::noMethod(const MoxChar* name) {
  return returnError(u"no method for name ", name);
}

bool MoxInterpreter::badType(MoxValueType actual, MoxValueType expected) {
  MoxString text = MoxString::format(u"invalid value type %s, %s expected",
                                     getValueTypeName(actual), getValueTypeName(expected));
  if (text.length() > 99) text = text.substr(0, 99);
  return returnError(text.c_str(), nullptr);
}

bool MoxInterpreter::checkType(const MoxValue& value, MoxValueType expected) {
  const MoxValueType k = value.type();
  if (k == expected) return true;
  if (value.isDeadRef()) return badType(MVT_NULL, expected);
  switch (expected) {
    case MVT_CODE:
    case MVT_BYTECODE:
    case MVT_BUFFER:
    case MVT_CHARBUFFER:
    case MVT_CLASS:
    case MVT_OBJECT:
    case MVT_VECTOR:
    case MVT_DICTIONARY:
      if (k == MoxValueType(expected + 10)) return true;
      break;
    default:
      break;
  }
  return badType(k, expected);
}

// ---------------------------------------------------------------------------
// Sends

void MoxInterpreter::finishSendSlow(int base) {
  if (base < 0) base = 0;
  if (unsigned(base) >= size()) {
    // Only reachable when native code trimmed the stack below the send.
    ValPtr p(this, int(size()) - 1);
    p += base - p.current();
  }
  MoxValue* top = sp_.get();
  if (top && sp_.current() > base && moxReleaseIsQuiet(data()[base])) {
    // The top slot is released below anyway: the result moves.
    data()[base] = std::move(*top);
  } else if (top && sp_.current() != base) {
    MoxValue result(*top);
    sp_ = ValPtr(this, base);
    moxSafeStore(data() + base, result);
  }
  trimTo(unsigned(base) + 1);
  sp_ = ValPtr(this, base);
}

bool MoxInterpreter::finishCall(int base) {
  const int cur = sp_.current();
  if (cur > base) {
    finishSend(base);
    return true;
  }
  if (cur == base) return true;
  // A native function moved the cursor below its function slot. The cursor
  // is kept on a real slot so that whoever reads the top finds one.
  if (cur < 0 || unsigned(cur) >= size()) sp_ = ValPtr(this, base);
  return returnError(u"stack corrupted", nullptr);
}

MoxDictionaryEntry* MoxInterpreter::findMethod(MoxClass* cls, MoxClass* bcClass,
                                              const MoxChar** wantedp,
                                              const MoxString* selectorString) {
  // A "BC_" selector sent from a method starts at the base of that method's
  // class, so chained destructors and base calls of any depth reach each
  // level once.
  const MoxChar* wanted = *wantedp;
  MoxClass* c = cls;
  if (bcClass && startsWithBC(wanted)) {
    wanted += 3;
    c = bcClass->getBaseClass();
  }
  MoxString keyCopy;
  const MoxString* key = selectorString;
  if (!key || wanted != selectorString->c_str()) {
    keyCopy = MoxString(wanted);
    key = &keyCopy;
  }
  MoxDictionaryEntry* entry = nullptr;
  while (c) {
    entry = c->findOwnFunction(*key);
    if (entry) break;
    if (startsWithBC(wanted)) {
      wanted += 3;
      keyCopy = MoxString(wanted);
      key = &keyCopy;
    }
    c = c->getBaseClass();
  }
  *wantedp = wanted;
  return entry;
}

MoxDictionaryEntry* MoxInterpreter::findMethodCached(SendSite* site, MoxClass* cls,
                                                    MoxClass* bcClass, const MoxChar** wantedp,
                                                    const MoxString* selectorString) {
  if (site->holds(cls, bcClass, *wantedp)) {
    *wantedp += site->skipped;
    return site->entry;
  }
  const uint64_t epoch = MoxClass::methodEpoch();
  const MoxChar* start = *wantedp;
  MoxDictionaryEntry* entry = findMethod(cls, bcClass, wantedp, selectorString);
  // Only found methods are kept; a miss is an error or a missing destructor.
  if (entry) {
    site->epoch = epoch;
    site->cls = cls;
    site->bcClass = bcClass;
    site->selector.assign(start);
    site->skipped = unsigned(*wantedp - start);
    site->entry = entry;
  }
  return entry;
}

MoxVector* MoxInterpreter::cachedSendTarget(const MoxVector* proc, uint32_t pc, int basei,
                                           int argc) {
  if (argc < 1) return nullptr;
  MoxClass* bcClass = moxProcClass(const_cast<MoxVector*>(proc));
  MoxValue* receiver = data() + basei;
  MoxValue* selector = receiver + 1;
  if (receiver->type() != MVT_OBJECT || !receiver->getRef() || selector->type() != MVT_STRING ||
      !selector->getRef())
    return nullptr;
  MoxClass* cls = static_cast<MoxObject*>(receiver->getRef())->getClass();
  const MoxString* text = static_cast<const MoxString*>(selector->getRef());
  const SendSite* site = sendSiteFor(proc, pc);
  if (!cls) return nullptr;
  if (!site->holds(cls, bcClass, text)) {
    SendSite* other = classSiteFor(proc, pc, cls);
    if (!other->holds(cls, bcClass, text)) {
      other = partnerOf(other);
      if (!other->holds(cls, bcClass, text)) return nullptr;
    }
    site = other;
  }
  const MoxDictionaryEntry* entry = site->entry;
  if (entry->getSymbolType() == SYM_FUNCTION) return nullptr;  // static: the slow path
  const MoxValue& method = entry->getValue();
  if ((method.type() != MVT_BYTECODE && method.type() != MVT_BYTECODEREF) || !method.getRef())
    return nullptr;
  // The selector's slot takes the receiver. Releasing a string runs no
  // script code, so the plain store is safe.
  *selector = *receiver;
  return static_cast<MoxVector*>(method.getRef());
}

MoxInterpreter::SendSetup MoxInterpreter::prepareSend(int argc, const MoxChar* selector,
                                                      MoxClass* bcClass, MoxValue* method,
                                                      int* methodArgc, const MoxChar** name,
                                                      MoxValue* nameHolder, SendSite* site) {
  const int top = sp_.current();
  if (argc < 0 || top - argc < 0 || unsigned(top) >= size()) {
    returnError(u"stack corrupted", u" (send)");
    return kSendFailed;
  }
  const int base = top - argc;
  {
    MoxValue& receiver = data()[base];
    receiver.dropDead();
    if (!checkType(receiver, MVT_OBJECT)) return kSendFailed;
    if (!receiver.getRef()) {
      returnError(u"MoxInterpreter::send : object expected\n", nullptr);
      return kSendFailed;
    }
  }
  MoxObject* obj = static_cast<MoxObject*>(data()[base].getRef());
  MoxClass* cls = obj->getClass();

  // The selector: given, or the string above the receiver.
  MoxString* selectorString = nullptr;
  if (selector) {
    *name = selector;
  } else {
    if (argc < 1) {
      returnError(u"MoxInterpreter::send : selector expected", nullptr);
      return kSendFailed;
    }
    const MoxValue& sv = data()[base + 1];
    if (!checkType(sv, MVT_STRING)) return kSendFailed;
    if (!sv.getRef()) {
      returnError(u"MoxInterpreter::send : selector is NULL", nullptr);
      return kSendFailed;
    }
    *nameHolder = sv;
    selectorString = static_cast<MoxString*>(nameHolder->getRef());
    *name = selectorString->c_str();
  }

  const MoxChar* wanted = *name;
  MoxDictionaryEntry* entry =
      site ? findMethodCached(site, cls, bcClass, &wanted, selectorString)
           : findMethod(cls, bcClass, &wanted, selectorString);

  const bool isStatic = entry && entry->getSymbolType() == SYM_FUNCTION;
  if (!entry) {
    if (!moxSameText(wanted, kMoxDestructorName)) {
      // wanted points into *name's text, which stays alive until we return.
      noMethod(wanted);
      return kSendFailed;
    }
  } else {
    *method = entry->getValue();
  }

  // Stack set-up. The method's function slot ends up methodArgc slots below
  // the top: the receiver for methods, the slot above it for static ones.
  if (selector) {
    if (isStatic) {
      *methodArgc = argc;
    } else {
      ++sp_;  // may grow the stack
      const int newTop = sp_.current();
      moxSafeClear(data() + newTop);
      MoxValue* s = data();
      for (int i = newTop; i > base + 1; --i) s[i] = std::move(s[i - 1]);
      s[base + 1] = s[base];
      *methodArgc = argc + 1;
    }
  } else {
    if (isStatic) {
      *methodArgc = argc - 1;
    } else {
      moxSafeStore(data() + base + 1, MoxValue(data()[base]));
      *methodArgc = argc;
    }
  }
  return entry ? kSendCall : kSendNothing;
}

bool MoxInterpreter::invokeMethod(const MoxValue& method, const MoxChar* name, int methodArgc) {
  switch (method.type()) {
    case MVT_CODE:
    case MVT_CODEREF: {
      MoxNativeFunction f = moxNativeOf(method);
      if (!f) return returnError(name, u" : NULL pointer to native function\n");
      if (!checkNativeStack()) return false;
      ++codeEpoch_;
      return f(&vm_, methodArgc, sp_);
    }
    case MVT_BYTECODE:
    case MVT_BYTECODEREF: {
      MoxVector* proc = static_cast<MoxVector*>(method.getRef());
      if (!proc) return returnError(name, u" : NULL pointer to bytecode\n");
      return call(methodArgc, proc);
    }
    default:
      return returnError(name, u"has no method implementation\n");
  }
}

bool MoxInterpreter::sendFrom(int argc, const MoxChar* selector, MoxClass* bcClass) {
  if (!checkNativeStack()) return false;
  const int base = sp_.current() - argc;
  // A name given here (an operator's method, compare, toString, a
  // destructor) is looked up through a send site of its own, keyed by the
  // name's address and the receiver's class, as a script's send site is.
  SendSite* site = nullptr;
  if (selector && base >= 0 && unsigned(base) < size()) {
    const MoxValue& receiver = data()[base];
    const MoxClass* cls = receiver.type() == MVT_OBJECT && receiver.getRef()
                              ? static_cast<MoxObject*>(receiver.getRef())->getClass()
                              : nullptr;
    site = classSiteFor(reinterpret_cast<const MoxVector*>(selector), 0, cls);
  }
  MoxValue method;
  MoxValue nameHolder;
  int methodArgc = 0;
  const MoxChar* name = nullptr;
  const SendSetup setup =
      prepareSend(argc, selector, bcClass, &method, &methodArgc, &name, &nameHolder, site);
  if (setup == kSendFailed) return false;
  bool ok = true;
  if (setup == kSendCall) ok = invokeMethod(method, name, methodArgc);
  finishSend(base);
  return ok;
}

bool MoxInterpreter::send(int argc, const MoxChar* selector) {
  return sendFrom(argc, selector, nullptr);
}

// ---------------------------------------------------------------------------
// Calls of function values from native code

bool MoxInterpreter::callValue(int argc) {
  const int top = sp_.current();
  if (argc < 0 || top - argc < 0 || unsigned(top) >= size())
    return returnError(u"stack corrupted", u" (argument count)");
  const int base = top - argc;
  moxDropDead(data() + top, argc + 1);
  const MoxValue& fn = data()[base];
  switch (fn.type()) {
    case MVT_CODE:
    case MVT_CODEREF: {
      MoxNativeFunction f = moxNativeOf(fn);
      if (!f) return returnError(u"call to non-procedure, type ", u"NULL native function");
      if (!checkNativeStack()) return false;
      ++codeEpoch_;
      if (!f(&vm_, argc, sp_)) {
        noteNativeFrame(f);
        return false;
      }
      return finishCall(base);
    }
    case MVT_BYTECODE:
    case MVT_BYTECODEREF: {
      MoxVector* proc = static_cast<MoxVector*>(fn.getRef());
      if (!proc) return returnError(u"no bytecode: ", u"interpret(MoxVector* byteCode)\n");
      if (!call(argc, proc)) return false;
      finishSend(base);
      return true;
    }
    case MVT_OBJECT:
    case MVT_OBJECTREF:
      return send(argc, u"OP_CALL");
    default:
      return returnError(u"call to non-procedure, type ", getValueTypeName(fn.type()));
  }
}

MoxInterpreter::CallOutcome MoxInterpreter::protectedCall(int argc, MoxString* caught) {
  const int base = sp_.current() - argc;
  if (argc < 0 || base < 0) {
    returnError(u"stack corrupted", u" (argument count)");
    return kCallFailed;
  }
  // A run that is stopping already stops this call too.
  if (deferredFailure_) return kCallFailed;
  const MoxString savedErrors(errors_);
  const unsigned savedLength = errors_.length();
  const std::vector<TraceFrame> savedTrace(errorTrace_);
  const unsigned savedTraceLength = traceErrorLength_;
  MoxProcInfo* const savedProc = procInfo_;
  const bool exitBefore = exitRequested_;
  const bool budgetBefore = budgetReported_;
  const bool interruptBefore = interruptReported_;
  auto stopsTheRun = [&]() {
    return (exitRequested_ && !exitBefore) || (budgetReported_ && !budgetBefore) ||
           (interruptReported_ && !interruptBefore) || budgetBefore || interruptBefore ||
           vm_.memoryExhaustedInRun();
  };

  // A destructor that failed while the call's values were released fails
  // the call as well.
  if (callValue(argc) && !deferredFailure_) return kCallDone;
  if (stopsTheRun()) return kCallFailed;

  // The activations the call started are gone already (each loop unwinds
  // to its entry); what a failed native left is dropped here too.
  while (procInfo_ && procInfo_ != savedProc) leaveProc();
  // The values above the call's slot go now, with their destructors, whose
  // failures belong to this one.
  if (size() > unsigned(base) + 1) trimTo(unsigned(base) + 1);
  while (size() <= unsigned(base)) push_back(MoxValue());
  sp_ = ValPtr(this, base);
  moxSafeClear(data() + base);
  sp_ = ValPtr(this, base);
  if (stopsTheRun()) return kCallFailed;

  takeDeferredFailure();
  MoxString text = errors_.length() >= savedLength ? errors_.substr(savedLength, -1) : errors_;
  const unsigned n = text.length();
  if (n > 0 && text.c_str()[n - 1] == u'\n') text = text.substr(0, int32_t(n - 1));
  if (caught) *caught = text;
  errors_ = savedErrors;
  errorTrace_ = savedTrace;
  traceErrorLength_ = savedTraceLength;
  return kCallCaught;
}

MoxString* MoxInterpreter::getStringFromValue(MoxValue& value) {
  value.dropDead();
  const MoxValueType k = value.type();
  if (k == MVT_STRING || k == MVT_STRINGREF) return static_cast<MoxString*>(value.getRef());
  if (!isObjectKind(k) || !value.getRef()) return nullptr;
  MoxClass* cls = static_cast<MoxObject*>(value.getRef())->getClass();
  if (!cls) return nullptr;
  static const MoxString toStringName(u"toString");
  MoxDictionaryEntry* member = cls->findMember(toStringName, true);
  if (!member || member->getSymbolType() != SYM_METHOD) return nullptr;

  // value may lie on this stack, which grows below: copy it first.
  MoxValue receiver(value);
  ValPtr saved = sp_;
  sp_ = last();
  ++sp_;
  moxSafeStore(sp_.get(), receiver);
  MoxString* result = nullptr;
  if (send(0, u"toString")) {
    MoxValue* r = sp_.get();
    if (r && (r->type() == MVT_STRING || r->type() == MVT_STRINGREF))
      result = static_cast<MoxString*>(r->getRef());
  }
  sp_ = saved;
  return result;
}

// The send of run() that the site's cache did not answer (cachedSendTarget).
// A bytecode method is left to the loop (kSendEnter, with the method in
// *method and *callee); a native one is called here and its result put in
// place, as is the result of a send that needs no call.
MoxInterpreter::SendStep MoxInterpreter::startSend(const MoxVector* proc, uint32_t pc, int argc,
                                                   const MoxChar* selector, int basei,
                                                   MoxValue* method, int* methodArgc,
                                                   MoxVector** callee) {
  *callee = nullptr;
  MoxClass* running = moxProcClass(const_cast<MoxVector*>(proc));
  // The lookup goes into the site's own slot unless that holds one for
  // another class still in force: then into the slot for the receiver's
  // class (prepareSend checks that the receiver is an object).
  const uint64_t epoch = MoxClass::methodEpoch();
  SendSite* site = sendSiteFor(proc, pc);
  if (site->epoch == epoch && basei >= 0 && unsigned(basei) < size()) {
    const MoxValue& receiver = data()[basei];
    if (receiver.type() == MVT_OBJECT && receiver.getRef()) {
      const MoxClass* cls = static_cast<MoxObject*>(receiver.getRef())->getClass();
      if (cls != site->cls) {
        // Of the class slot and its partner, one that is free or stale.
        site = classSiteFor(proc, pc, cls);
        SendSite* other = partnerOf(site);
        if (site->epoch == epoch && site->cls != cls && other->epoch != epoch) site = other;
      }
    }
  }
  MoxValue nameHolder;
  const MoxChar* name = nullptr;
  const SendSetup setup =
      prepareSend(argc, selector, running, method, methodArgc, &name, &nameHolder, site);
  if (setup == kSendFailed) return kSendStepFailed;
  const MoxValueType mk = method->type();
  if (setup != kSendCall || (mk != MVT_BYTECODE && mk != MVT_BYTECODEREF)) {
    bool ok = true;
    if (setup == kSendCall) ok = invokeMethod(*method, name, *methodArgc);
    if (!ok && (mk == MVT_CODE || mk == MVT_CODEREF)) noteNativeFrame(moxNativeOf(*method));
    finishSend(basei);
    return ok ? kSendStepDone : kSendStepFailed;
  }
  *callee = static_cast<MoxVector*>(method->getRef());
  if (!*callee) {
    returnError(name, u" : NULL pointer to bytecode\n");
    return kSendStepFailed;
  }
  return kSendEnter;
}
