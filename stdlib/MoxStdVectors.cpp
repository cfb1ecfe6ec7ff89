// Vector operations: growing and shrinking in place, slices and
// concatenation, search by the language's equality, reversal and a stable
// sort with an optional script comparison.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/MoxClass.h"
#include "core/MoxString.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

// Any vector value, bytecode included: for functions that only read.
MoxVector* readVector(const MoxValue& v) { return static_cast<MoxVector*>(v); }

// Only true vectors: a procedure's code is never changed from a script.
MoxVector* writeVector(const MoxValue& v) {
  return v.getType() == MVT_VECTOR || v.getType() == MVT_VECTORREF ? static_cast<MoxVector*>(v) : nullptr;
}

bool isNumber(const MoxValue& v) {
  return v.getType() == MVT_INTEGER || v.getType() == MVT_FLOAT || v.getType() == MVT_DOUBLE;
}

int sign(double d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Slots for a call back into the script, opened above the whole stack (the
// cursor may lie below slots still in use) and removed again afterwards, so
// that many calls in a row leave the stack as it was. The values go one at
// a time with the cursor below them, as a destructor they end may run code.
class CallSlots {
 public:
  explicit CallSlots(MoxInterpreter* in) : in_(in), saved_(in->sp()), base_(in->size()) { in->sp() = in->last(); }
  ~CallSlots() {
    in_->trimTo(base_);
    in_->sp() = saved_;
  }
  CallSlots(const CallSlots&) = delete;
  CallSlots& operator=(const CallSlots&) = delete;
  // The cursor is on the last slot of the stack, so the value goes at its end.
  void push(const MoxValue& v) {
    in_->push_back(v);
    ++in_->sp();
  }
  // The value on the top after the call, or null.
  MoxValue* top() const { return in_->sp().get(); }

 private:
  MoxInterpreter* in_;
  ValPtr saved_;
  unsigned base_;
};

// The three-way comparison behind < <= == != >= >, the interpreter's own.
bool compareValues(MoxVirtualMachine* vm, const MoxValue& left, const MoxValue& right, int32_t* c) {
  // Two integers, what sorts meet most, need no trip through the stack.
  if (left.isInt() && right.isInt()) {
    const int32_t a = left.asInt(), b = right.asInt();
    *c = a < b ? -1 : (a > b ? 1 : 0);
    return true;
  }
  return vm->interpreter()->compareValues(left, right, c);
}

bool intArg(MoxVirtualMachine* vm, const MoxValue& v, int32_t* out) {
  if (v.getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  *out = v.asInt();
  return true;
}

// The script comparison of vecsort: a function, a native function or an
// object answering calls, called with two elements; its number's sign.
struct ScriptOrder {
  MoxVirtualMachine* vm;
  MoxValue fn;

  bool operator()(const MoxValue& x, const MoxValue& y, int32_t* c) const {
    MoxInterpreter* in = vm->interpreter();
    CallSlots slots(in);
    slots.push(fn);
    slots.push(x);
    slots.push(y);
    bool ok;
    switch (fn.type()) {
      case MVT_BYTECODE:
      case MVT_BYTECODEREF:
        ok = in->call(2, static_cast<MoxVector*>(fn));
        break;
      case MVT_CODE:
        ok = static_cast<MoxNativeFunction>(fn)(vm, 2, in->sp());
        break;
      default:
        ok = in->send(2, u"OP_CALL");
        break;
    }
    if (!ok) return false;
    MoxValue* top = slots.top();
    if (top && top->getType() == MVT_INTEGER) {
      *c = top->asInt() < 0 ? -1 : (top->asInt() > 0 ? 1 : 0);
    } else if (top && isNumber(*top)) {
      *c = sign(double(*top));
    } else {
      return fail(vm, u"invalid argument type");
    }
    return true;
  }
};

// Stable merge sort of items, by order (three-way, may fail). Written out
// rather than std::stable_sort so that a comparison that contradicts itself
// (a script's, or NaN among numbers) can only give some order, never reach
// outside the items; every step stays within its bounds whatever the
// answers. Charges one unit of work per comparison.
template <class Order>
bool mergeSort(MoxVirtualMachine* vm, std::vector<MoxValue>& items, const Order& order) {
  const size_t n = items.size();
  uint64_t pending = 0;
  auto less = [&](const MoxValue& a, const MoxValue& b, bool* ok) {
    if (++pending == kWorkChunk) {
      pending = 0;
      if (!work(vm, kWorkChunk)) {
        *ok = false;
        return false;
      }
    }
    int32_t c = 0;
    if (!order(a, b, &c)) {
      *ok = false;
      return false;
    }
    return c < 0;
  };
  bool ok = true;
  // Runs of up to 16 by insertion, the index checked at every step.
  const size_t kRun = 16;
  for (size_t lo = 0; lo < n && ok; lo += kRun) {
    const size_t hi = lo + kRun < n ? lo + kRun : n;
    for (size_t i = lo + 1; i < hi && ok; ++i) {
      size_t j = i;
      while (j > lo && ok && less(items[j], items[j - 1], &ok)) {
        std::swap(items[j], items[j - 1]);
        --j;
      }
    }
  }
  if (!ok) return false;
  std::vector<MoxValue> buffer(n);
  for (size_t width = kRun; width < n; width *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * width) {
      const size_t mid = lo + width < n ? lo + width : n;
      const size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
      size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) {
        // The right element goes first only when strictly smaller.
        if (less(items[j], items[i], &ok)) buffer[k++] = std::move(items[j++]);
        else buffer[k++] = std::move(items[i++]);
        if (!ok) break;
      }
      while (i < mid) buffer[k++] = std::move(items[i++]);
      while (j < hi) buffer[k++] = std::move(items[j++]);
      // The caller drops the copy on failure: the vector keeps its elements.
      if (!ok) return false;
    }
    items.swap(buffer);
  }
  return true;
}

}  // namespace

bool MoxDefaultFunctions::Mox_vecpush(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, -1)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = writeVector(a[1]);
  if (!v) return fail(vm, u"invalid argument type");
  if (!mox::blockFits(uint64_t(v->size()) + unsigned(argc), sizeof(MoxValue))) return fail(vm, u"not enough memory");
  MoxValue keep(a[1]);
  for (int i = 2; i <= argc; ++i) v->push_back(a[i]);
  return result(args, argc, keep);
}

bool MoxDefaultFunctions::Mox_vecpop(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxVector* v = writeVector(*args);
  if (!v) return fail(vm, u"invalid argument type");
  if (v->size() == 0) return fail(vm, u"empty vector");
  MoxValue keep(*args);
  MoxValue last = v->pop_back();
  return result(args, argc, last);
}

bool MoxDefaultFunctions::Mox_vecinsert(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 3, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = writeVector(a[1]);
  int32_t i = 0;
  if (!v) return fail(vm, u"invalid argument type");
  if (!intArg(vm, a[2], &i)) return false;
  if (i < 0 || uint32_t(i) > v->size()) return fail(vm, u"invalid index");
  if (!mox::blockFits(uint64_t(v->size()) + 1, sizeof(MoxValue))) return fail(vm, u"not enough memory");
  if (!work(vm, v->size() - uint32_t(i))) return false;
  MoxValue keep(a[1]), x(a[3]);
  v->push_back(MoxValue());
  for (uint32_t k = v->size() - 1; k > uint32_t(i); --k) (*v)[k] = std::move((*v)[k - 1]);
  (*v)[uint32_t(i)] = std::move(x);
  return result(args, argc, keep);
}

bool MoxDefaultFunctions::Mox_vecremove(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = writeVector(a[1]);
  int32_t i = 0;
  if (!v) return fail(vm, u"invalid argument type");
  if (!intArg(vm, a[2], &i)) return false;
  if (i < 0 || uint32_t(i) >= v->size()) return fail(vm, u"invalid index");
  if (!work(vm, v->size() - uint32_t(i))) return false;
  MoxValue keep(a[1]);
  MoxValue removed(std::move((*v)[uint32_t(i)]));
  for (uint32_t k = uint32_t(i); k + 1 < v->size(); ++k) (*v)[k] = std::move((*v)[k + 1]);
  v->pop_back();
  return result(args, argc, removed);
}

bool MoxDefaultFunctions::Mox_vecslice(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = readVector(a[1]);
  int32_t s = 0, e = INT32_MAX;
  if (!v) return fail(vm, u"invalid argument type");
  if (!intArg(vm, a[2], &s) || (argc == 3 && !intArg(vm, a[3], &e))) return false;
  const int64_t n = v->size();
  // Negative positions count from the end; both ends are then clamped.
  auto clampIndex = [n](int64_t k) {
    if (k < 0) k += n;
    return k < 0 ? int64_t(0) : (k > n ? n : k);
  };
  const int64_t from = clampIndex(s), to = clampIndex(e);
  const unsigned count = to > from ? unsigned(to - from) : 0;
  if (!work(vm, count)) return false;
  MoxVector* out = new MoxVector(count, false);
  MoxValue made(out, false, false);
  for (unsigned k = 0; k < count; ++k) out->push_back((*v)[unsigned(from) + k]);
  return result(args, argc, made);
}

bool MoxDefaultFunctions::Mox_vecconcat(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, -1)) return false;
  ValPtr a = argBase(args, argc);
  uint64_t total = 0;
  for (int i = 1; i <= argc; ++i) {
    MoxVector* v = readVector(a[i]);
    if (!v) return fail(vm, u"invalid argument type");
    total += v->size();
  }
  if (total > UINT32_MAX - 2 || !mox::blockFits(total, sizeof(MoxValue))) return fail(vm, u"not enough memory");
  if (!work(vm, total)) return false;
  MoxVector* out = new MoxVector(unsigned(total), false);
  MoxValue made(out, false, false);
  for (int i = 1; i <= argc; ++i) {
    MoxVector* v = readVector(a[i]);
    const unsigned n = v->size();
    for (unsigned k = 0; k < n; ++k) out->push_back((*v)[k]);
  }
  return result(args, argc, made);
}

bool MoxDefaultFunctions::Mox_vecfind(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 2, 3)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = readVector(a[1]);
  int32_t start = 0;
  if (!v) return fail(vm, u"invalid argument type");
  if (argc == 3 && !intArg(vm, a[3], &start)) return false;
  if (start < 0 || uint32_t(start) > v->size()) return fail(vm, u"invalid index");
  // Compare methods may run scripts that change the vector: hold it and the
  // value sought, and read the size afresh every step.
  MoxValue keep(a[1]), x(a[2]);
  unsigned steps = 0;
  for (uint32_t i = uint32_t(start); i < v->size(); ++i) {
    if (++steps == kWorkChunk) {
      steps = 0;
      if (!work(vm, kWorkChunk)) return false;
    }
    MoxValue element((*v)[i]);
    int32_t c;
    if (!compareValues(vm, element, x, &c)) return false;
    if (c == 0) return result(args, argc, MoxValue(int32_t(i)));
  }
  return result(args, argc, MoxValue(int32_t(-1)));
}

bool MoxDefaultFunctions::Mox_vecreverse(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  MoxVector* v = writeVector(*args);
  if (!v) return fail(vm, u"invalid argument type");
  if (!work(vm, v->size())) return false;
  for (uint32_t i = 0, j = v->size(); i + 1 < j; ++i, --j) std::swap((*v)[i], (*v)[j - 1]);
  return result(args, argc, MoxValue(*args));
}

bool MoxDefaultFunctions::Mox_vecsort(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!haveInterpreter(vm) || !checkCount(vm, argc, 1, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxVector* v = writeVector(a[1]);
  if (!v) return fail(vm, u"invalid argument type");
  MoxValue keep(a[1]);
  MoxValue fn;
  if (argc == 2) {
    fn = a[2];
    const MoxValueType k = fn.getType();
    const bool callable = ((k == MVT_BYTECODE || k == MVT_BYTECODEREF) && static_cast<MoxVector*>(fn)) ||
                          (k == MVT_CODE && static_cast<MoxNativeFunction>(fn)) ||
                          ((k == MVT_OBJECT || k == MVT_OBJECTREF) && fn.getRef());
    if (!callable) return fail(vm, u"invalid argument type");
  }
  // The sort works on a copy: a comparison that fails, or a script that
  // changes the vector meanwhile, leaves the vector's own elements as they
  // were.
  const unsigned n = v->size();
  if (!work(vm, n)) return false;
  std::vector<MoxValue> items(v->data(), v->data() + n);
  bool ok;
  bool allIntegers = fn.isNull();
  for (unsigned i = 0; i < n && allIntegers; ++i) allIntegers = items[i].isInt();
  if (allIntegers) {
    // Integers alone: equal ones cannot be told apart, so any sort will do.
    std::vector<int32_t> keys(n);
    for (unsigned i = 0; i < n; ++i) keys[i] = items[i].asInt();
    if (!inChunks(vm, uint64_t(n) * 20, [](unsigned) {})) return false;
    std::sort(keys.begin(), keys.end());
    for (unsigned i = 0; i < n; ++i) items[i] = MoxValue(keys[i]);
    ok = true;
  } else if (fn.isNull()) {
    ok = mergeSort(vm, items, [vm](const MoxValue& x, const MoxValue& y, int32_t* c) {
      return compareValues(vm, x, y, c);
    });
  } else {
    ok = mergeSort(vm, items, ScriptOrder{vm, fn});
  }
  if (!ok) return false;
  if (v->size() != n) return fail(vm, u"invalid argument");
  for (unsigned i = 0; i < n; ++i) (*v)[i] = std::move(items[i]);
  return result(args, argc, keep);
}
