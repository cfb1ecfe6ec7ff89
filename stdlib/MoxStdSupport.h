// Helpers shared by the standard library's native functions: error reports,
// capability and argument-count checks, long work in chunks and storing the
// result into the result slot.
#ifndef MOX_STD_SUPPORT_H
#define MOX_STD_SUPPORT_H

#include <cstdint>
#include <cstdio>

#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "interpreter/MoxInterpreter.h"
#include "stdlib/MoxStdCapabilities.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

// Seeds the generator behind randint (the thread's own); srand calls it.
void moxSeedRandInt(uint32_t seed);

namespace moxstd {

// Reports a failure through the running interpreter's error text. Without an
// interpreter there is nothing to hold the text, so the machine's printer
// gets "missing interpreter" instead.
inline bool fail(MoxVirtualMachine* vm, const MoxChar* message, const MoxChar* detail = nullptr) {
  if (!vm) return false;
  MoxInterpreter* interp = vm->interpreter();
  if (!interp) {
    vm->printer()(u"missing interpreter\n");
    return false;
  }
  return interp->returnError(message, detail);
}

// The test every function of the checking group makes first.
inline bool haveInterpreter(MoxVirtualMachine* vm) {
  if (!vm) return false;
  if (!vm->interpreter()) {
    vm->printer()(u"missing interpreter\n");
    return false;
  }
  return true;
}

// The check of every function that a machine may switch off, made before
// anything else: true when every group of caps is on, otherwise the error
// naming the group. reading is the stream a read would take from; standard
// input makes it the console's error.
inline bool allowed(MoxVirtualMachine* vm, uint32_t caps, const void* reading = nullptr) {
  if (!vm) return false;
  if (vm->allows(caps)) return true;
  return fail(vm, moxDisabledText(caps & ~vm->getCapabilities(), reading == stdin));
}

// The stream a reading function takes from: its last argument.
inline const void* streamRead(int argc, const ValPtr& args) {
  return argc >= 1 && args->getType() == MVT_FILE ? args->ptr() : nullptr;
}

// Work that grows with the input goes in chunks of kWorkChunk units, with
// work() before each: it charges the units against the running budget and
// notices an interrupt. False (the error reported) when the run has to stop.
const unsigned kWorkChunk = 1u << 16;

inline bool work(MoxVirtualMachine* vm, uint64_t units) {
  MoxInterpreter* interp = vm ? vm->interpreter() : nullptr;
  return !interp || interp->checkWork(units);
}

// Calls step(n) for successive chunks of count units in all, work() first.
template <class Step>
inline bool inChunks(MoxVirtualMachine* vm, uint64_t count, Step step) {
  while (count > 0) {
    const unsigned n = count < kWorkChunk ? unsigned(count) : kWorkChunk;
    if (!work(vm, n)) return false;
    step(n);
    count -= n;
  }
  return true;
}

// Count check; max < 0 means no upper bound. The minimum is tested first,
// and a negative count is always too few.
inline bool checkCount(MoxVirtualMachine* vm, int argc, int min, int max) {
  if (argc < min || argc < 0) return fail(vm, u"too few arguments");
  if (max >= 0 && argc > max) return fail(vm, u"too many arguments");
  return true;
}

// Cursor on the result slot; argument i is base[i].
inline ValPtr argBase(const ValPtr& args, int argc) {
  ValPtr base(args);
  base -= argc;
  return base;
}

// Stores value into the result slot and moves the cursor there. The value
// may live in an argument slot: assignment takes the new reference first.
inline bool result(ValPtr& args, int argc, const MoxValue& value) {
  // Most results are numbers, over a function slot that holds none: then
  // two plain stores do, with no count to keep.
  if (!value.mayHoldObject()) {
    MoxValue* to = ValPtr(args.vector(), args.current() - argc).get();
    if (to && !to->mayHoldObject()) {
      to->putPlain(value);
      args -= argc;
      return true;
    }
  }
  MoxValue held(value);
  args -= argc;
  *args = held;
  return true;
}

inline bool resultNull(ValPtr& args, int argc) {
  args -= argc;
  args->dispose();
  return true;
}

inline bool isString(const MoxValue& v) {
  return v.getType() == MVT_STRING || v.getType() == MVT_STRINGREF;
}

}  // namespace moxstd

#endif
