// Conveniences for a C++ host: script values made from and read into host
// types, script functions called with typed arguments, and native functions
// made from any callable (a lambda with captures) whose parameters arrive
// converted from the script's values.
//
//   MoxVirtualMachine vm;
//   mox::registerFunction(vm, u"clamp", [](double x, double lo, double hi) {
//     return x < lo ? lo : x > hi ? hi : x;
//   });
//   vm.compileText(u"f(n, s) { return clamp(n, 0, 10) + strlen(s); }");
//   if (mox::call(vm, u"f", 12, "four")) printf("%g\n", mox::asDouble(vm.getResult()));
#ifndef MOX_HOST_H
#define MOX_HOST_H

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/MoxString.h"
#include "core/MoxValue.h"
#include "core/MoxVector.h"
#include "vm/MoxVirtualMachine.h"

namespace mox {

// ---- host values into script values

inline MoxValue value(std::nullptr_t) { return MoxValue(); }
inline MoxValue value(int32_t v) { return MoxValue(v); }
inline MoxValue value(double v) { return MoxValue(v); }
inline MoxValue value(bool v) { return MoxValue(int32_t(v ? 1 : 0)); }
MOX_API MoxValue value(const char* utf8);
MOX_API MoxValue value(const std::string& utf8);
MOX_API MoxValue value(const std::u16string& text);
inline MoxValue value(const MoxChar* text) { return value(std::u16string(text ? text : u"")); }
inline MoxValue value(const MoxValue& v) { return v; }
template <class T>
MoxValue value(const std::vector<T>& elements) {
  MoxVector* v = new MoxVector(unsigned(elements.size()), true);
  for (size_t i = 0; i < elements.size(); ++i) (*v)[unsigned(i)] = value(elements[i]);
  return MoxValue(v, false);
}

// ---- script values read as host types
//
// Each reader stores into *out and returns true when the value is of that
// kind; otherwise it leaves *out alone, returns false and, when error is not
// null, says what was expected and what came ("integer expected, got
// MVT_STRING"). asDouble takes integers too.

MOX_API bool asInt(const MoxValue& v, int32_t* out, std::string* error = nullptr);
MOX_API bool asDouble(const MoxValue& v, double* out, std::string* error = nullptr);
MOX_API bool asString(const MoxValue& v, std::string* out, std::string* error = nullptr);
MOX_API bool asString(const MoxValue& v, std::u16string* out, std::string* error = nullptr);
MOX_API bool asVector(const MoxValue& v, std::vector<MoxValue>* out, std::string* error = nullptr);

// The same for a quick look: the value, or fallback when it is of another kind.
inline int32_t asInt(const MoxValue& v, int32_t fallback = 0) {
  int32_t out = fallback;
  asInt(v, &out);
  return out;
}
inline double asDouble(const MoxValue& v, double fallback = 0) {
  double out = fallback;
  asDouble(v, &out);
  return out;
}
inline std::string asString(const MoxValue& v) {
  std::string out;
  asString(v, &out);
  return out;
}

// ---- calling script functions

// Runs the global function name with args (any of the host types above),
// as execute does: false after a run-time error, whose text is then in
// vm.getErrorText() and its trace in vm.getErrorTrace(); the result is in
// vm.getResult().
template <class... Args>
bool call(MoxVirtualMachine& vm, const MoxChar* name, const Args&... args) {
  const MoxValue values[] = {MoxValue(), value(args)...};
  return vm.executeValues(name, int(sizeof...(Args)), values + 1);
}

// ---- native functions from callables

// What a native made from a callable may return to fail: the text becomes
// the script's run-time error, like the library's own messages.
struct Failure {
  std::string message;
};
inline Failure fail(std::string message) { return Failure{std::move(message)}; }

// A result that may be a failure: a callable returns Result<T> (or Failure)
// to be able to fail.
template <class T>
struct Result {
  Result(T v) : ok(true), result(std::move(v)) {}  // NOLINT: implicit on purpose
  Result(Failure f) : ok(false), failure(std::move(f)) {}  // NOLINT
  bool ok;
  T result{};
  Failure failure;
};

namespace detail {

// Converts argument i of a native call to the parameter type T.
MOX_API bool paramFrom(const MoxValue& v, int32_t* out, std::string* error);
MOX_API bool paramFrom(const MoxValue& v, double* out, std::string* error);
MOX_API bool paramFrom(const MoxValue& v, std::string* out, std::string* error);
MOX_API bool paramFrom(const MoxValue& v, std::u16string* out, std::string* error);
MOX_API bool paramFrom(const MoxValue& v, MoxValue* out, std::string* error);
MOX_API bool paramFrom(const MoxValue& v, std::vector<MoxValue>* out, std::string* error);

// Stores a native's result or reports its failure; false after a failure.
MOX_API bool finish(MoxVirtualMachine* vm, int argc, ValPtr& args, const MoxValue& result);
MOX_API bool failWith(MoxVirtualMachine* vm, const std::string& message);
MOX_API bool checkArgCount(MoxVirtualMachine* vm, int argc, int wanted);

template <class T>
inline MoxValue resultValue(const T& v) {
  return value(v);
}

template <class T>
struct IsResult : std::false_type {};
template <class T>
struct IsResult<Result<T>> : std::true_type {};

template <class R, class F, class Tuple, size_t... I>
bool invoke(MoxVirtualMachine* vm, int argc, ValPtr& args, F& f, Tuple& params,
            std::index_sequence<I...>) {
  if constexpr (std::is_void<R>::value) {
    f(std::get<I>(params)...);
    return finish(vm, argc, args, MoxValue());
  } else if constexpr (std::is_same<R, Failure>::value) {
    return failWith(vm, f(std::get<I>(params)...).message);
  } else {
    R r = f(std::get<I>(params)...);
    if constexpr (IsResult<R>::value) {
      if (!r.ok) return failWith(vm, r.failure.message);
      return finish(vm, argc, args, resultValue(r.result));
    } else {
      return finish(vm, argc, args, resultValue(r));
    }
  }
}

template <class T>
struct Signature : Signature<decltype(&T::operator())> {};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...) const> {
  typedef R Return;
  typedef std::tuple<std::decay_t<A>...> Params;
};
template <class C, class R, class... A>
struct Signature<R (C::*)(A...)> : Signature<R (C::*)(A...) const> {};
template <class R, class... A>
struct Signature<R (*)(A...)> {
  typedef R Return;
  typedef std::tuple<std::decay_t<A>...> Params;
};

template <class Tuple, size_t... I>
bool convertAll(MoxVirtualMachine* vm, ValPtr& args, int argc, Tuple& params,
                std::index_sequence<I...>) {
  std::string error;
  ValPtr base(args);
  base -= argc;
  bool ok = true;
  // Each conversion in order; the first that fails names its argument.
  ((ok = ok && (paramFrom(base[int(I) + 1], &std::get<I>(params), &error) ||
                failWith(vm, "argument " + std::to_string(I + 1) + ": " + error))),
   ...);
  return ok;
}

}  // namespace detail

// Registers fn (a lambda, with or without captures, or a plain function) as
// the global native function name. Its parameters may be int32_t, double,
// std::string (UTF-8), std::u16string, MoxValue or std::vector<MoxValue>;
// the script's arguments are converted to them, and a count or kind that
// does not fit is the script's run-time error. It returns void (null), any
// host type value() accepts, a Failure, or a Result<T>. False when the name
// is already defined, or the machine has no room for more (see
// MoxVirtualMachine::registerHostFunction).
template <class F>
bool registerFunction(MoxVirtualMachine& vm, const MoxChar* name, F fn) {
  typedef detail::Signature<F> Sig;
  typedef typename Sig::Params Params;
  constexpr size_t count = std::tuple_size<Params>::value;
  return vm.registerHostFunction(
      name, [fn](MoxVirtualMachine* machine, int argc, ValPtr& args) mutable {
        if (!detail::checkArgCount(machine, argc, int(count))) return false;
        Params params;
        if (!detail::convertAll(machine, args, argc, params, std::make_index_sequence<count>()))
          return false;
        return detail::invoke<typename Sig::Return>(machine, argc, args, fn, params,
                                                     std::make_index_sequence<count>());
      });
}

}  // namespace mox

#endif
