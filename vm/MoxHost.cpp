// Host conveniences: conversions between script values and host types,
// native functions made from callables, and globals by name.
#include "vm/MoxHost.h"

#include <array>

#include "core/MoxDictionary.h"
#include "core/MoxUtf8.h"
#include "interpreter/MoxInterpreter.h"
#include "vm/MoxPrinter.h"

namespace {

std::string kindName(const MoxValue& v) {
  std::string out;
  const MoxChar* name = getValueTypeName(v.type());
  moxUtf8Encode(name, moxStrLen(name), out);
  return out;
}

bool wrongKind(const MoxValue& v, const char* expected, std::string* error) {
  if (error) *error = std::string(expected) + " expected, got " + kindName(v);
  return false;
}

bool isStringKind(const MoxValue& v) {
  return (v.type() == MVT_STRING || v.type() == MVT_STRINGREF) && v.getRef();
}

// A native made from a callable is reached through one of these plain
// functions: the slot number is all that tells them apart, and the machine
// keeps the callable in that slot.
template <size_t Slot>
bool trampoline(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return vm && vm->callHostFunction(Slot, argc, args);
}

template <size_t... Slot>
constexpr std::array<MoxNativeFunction, sizeof...(Slot)> makeTrampolines(
    std::index_sequence<Slot...>) {
  return {{&trampoline<Slot>...}};
}

constexpr std::array<MoxNativeFunction, MoxVirtualMachine::kMaxHostFunctions> kTrampolines =
    makeTrampolines(std::make_index_sequence<MoxVirtualMachine::kMaxHostFunctions>());

}  // namespace

namespace mox {

MoxValue value(const char* utf8) { return MoxValue(new MoxString(utf8 ? utf8 : ""), false); }

MoxValue value(const std::string& utf8) {
  std::u16string text;
  moxUtf8Decode(utf8.data(), utf8.size(), text);
  return value(text);
}

MoxValue value(const std::u16string& text) {
  return MoxValue(new MoxString(text.c_str(), unsigned(text.size())), false);
}

bool asInt(const MoxValue& v, int32_t* out, std::string* error) {
  if (v.type() != MVT_INTEGER) return wrongKind(v, "integer", error);
  if (out) *out = static_cast<int32_t>(v);
  return true;
}

bool asDouble(const MoxValue& v, double* out, std::string* error) {
  const MoxValueType t = v.type();
  if (t != MVT_INTEGER && t != MVT_DOUBLE && t != MVT_FLOAT) return wrongKind(v, "number", error);
  if (out) *out = static_cast<double>(v);
  return true;
}

bool asString(const MoxValue& v, std::u16string* out, std::string* error) {
  if (!isStringKind(v)) return wrongKind(v, "string", error);
  if (out) {
    const MoxString* s = static_cast<const MoxString*>(v.getRef());
    out->assign(s->c_str(), s->length());
  }
  return true;
}

bool asString(const MoxValue& v, std::string* out, std::string* error) {
  if (!isStringKind(v)) return wrongKind(v, "string", error);
  if (out) {
    const MoxString* s = static_cast<const MoxString*>(v.getRef());
    out->clear();
    moxUtf8Encode(s->c_str(), s->length(), *out);
  }
  return true;
}

bool asVector(const MoxValue& v, std::vector<MoxValue>* out, std::string* error) {
  if ((v.type() != MVT_VECTOR && v.type() != MVT_VECTORREF) || !v.getRef())
    return wrongKind(v, "vector", error);
  if (out) {
    const MoxVector* vec = static_cast<const MoxVector*>(v.getRef());
    out->assign(vec->data(), vec->data() + vec->size());
  }
  return true;
}

namespace detail {

bool paramFrom(const MoxValue& v, int32_t* out, std::string* error) {
  // A whole double is as good as an integer for an integer parameter.
  if (v.type() == MVT_DOUBLE || v.type() == MVT_FLOAT) {
    const double d = static_cast<double>(v);
    if (d >= -2147483648.0 && d <= 2147483647.0 && d == double(int32_t(d))) {
      *out = int32_t(d);
      return true;
    }
  }
  return asInt(v, out, error);
}
bool paramFrom(const MoxValue& v, double* out, std::string* error) { return asDouble(v, out, error); }
bool paramFrom(const MoxValue& v, std::string* out, std::string* error) {
  return asString(v, out, error);
}
bool paramFrom(const MoxValue& v, std::u16string* out, std::string* error) {
  return asString(v, out, error);
}
bool paramFrom(const MoxValue& v, MoxValue* out, std::string*) {
  *out = v;
  return true;
}
bool paramFrom(const MoxValue& v, std::vector<MoxValue>* out, std::string* error) {
  return asVector(v, out, error);
}

bool finish(MoxVirtualMachine*, int argc, ValPtr& args, const MoxValue& result) {
  args -= argc;
  *args = result;
  return true;
}

bool failWith(MoxVirtualMachine* vm, const std::string& message) {
  MoxInterpreter* interp = vm ? vm->interpreter() : nullptr;
  if (!interp) return false;
  return interp->returnError(MoxString(message.c_str()).c_str(), nullptr);
}

bool checkArgCount(MoxVirtualMachine* vm, int argc, int wanted) {
  if (argc < wanted) return failWith(vm, "too few arguments");
  if (argc > wanted) return failWith(vm, "too many arguments");
  return true;
}

}  // namespace detail
}  // namespace mox

bool MoxVirtualMachine::registerHostFunction(const MoxChar* name, HostFunction fn) {
  if (!name || !*name || !fn || hostFunctions_.size() >= kMaxHostFunctions) return false;
  if (!registerNativeFunction(name, kTrampolines[hostFunctions_.size()])) return false;
  hostFunctions_.push_back(std::move(fn));
  return true;
}

bool MoxVirtualMachine::callHostFunction(size_t slot, int argc, ValPtr& args) {
  if (slot >= hostFunctions_.size()) {
    // The function outlived its registration (reinit ran, or the value came
    // from another machine).
    if (interpreter_) interpreter_->returnError(u"native function no longer registered", nullptr);
    return false;
  }
  // A copy: the callable may register more functions, which moves the table.
  HostFunction fn = hostFunctions_[slot];
  return fn(this, argc, args);
}

bool MoxVirtualMachine::setGlobal(const MoxChar* name, const MoxValue& value) {
  if (!name || !*name) return false;
  MoxMemoryLedger::Scope counted(&memory_);
  MoxDictionaryEntry& entry = symbols_[MoxString(name)];
  const MoxSymbolType kind = entry.getSymbolType();
  if (kind != SYM_UNDEFINED && kind != SYM_VARIABLE) return false;
  entry.setValue(value);
  entry.setSymbolType(SYM_VARIABLE);
  return true;
}

MoxValue MoxVirtualMachine::getGlobal(const MoxChar* name) const {
  if (!name) return MoxValue();
  const MoxDictionaryEntry* entry = symbols_.find(MoxString(name));
  if (!entry) return MoxValue();
  const MoxSymbolType kind = entry->getSymbolType();
  if (kind != SYM_UNDEFINED && kind != SYM_VARIABLE) return MoxValue();
  return entry->getValue();
}
