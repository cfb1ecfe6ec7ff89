// Rounding, extremes, two-argument functions, a 64-bit random generator for
// ranges, and time formatting and a monotonic clock.
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/MoxString.h"
#include "core/MoxUtf8.h"
#include "stdlib/MoxDefaultFunctions.h"
#include "stdlib/MoxStdSupport.h"
#include "vm/MoxPlatform.h"

using namespace moxstd;

namespace {

bool isNumber(const MoxValue& v) {
  return v.getType() == MVT_INTEGER || v.getType() == MVT_FLOAT || v.getType() == MVT_DOUBLE;
}

// The number arguments of a function taking exactly n of them.
bool numbers(MoxVirtualMachine* vm, int argc, ValPtr& args, int n, double* out) {
  if (!checkCount(vm, argc, n, n)) return false;
  ValPtr a = argBase(args, argc);
  for (int i = 1; i <= n; ++i) {
    if (!isNumber(a[i])) return fail(vm, u"invalid argument type");
    out[i - 1] = static_cast<double>(a[i]);
  }
  return true;
}

// floor, ceil, round and trunc: integers stay as they are; other results are
// integers when they fit 32 bits, doubles otherwise (NaN, infinities, huge).
bool rounding(MoxVirtualMachine* vm, int argc, ValPtr& args, double (*f)(double)) {
  if (!checkCount(vm, argc, 1, 1)) return false;
  if (args->getType() == MVT_INTEGER) return result(args, argc, MoxValue(*args));
  double x;
  if (!numbers(vm, argc, args, 1, &x)) return false;
  const double r = f(x);
  if (r >= -2147483648.0 && r <= 2147483647.0) return result(args, argc, MoxValue(static_cast<int32_t>(r)));
  return result(args, argc, MoxValue(r));
}

double roundHalfAway(double x) { return std::round(x); }
double floorOf(double x) { return std::floor(x); }
double ceilOf(double x) { return std::ceil(x); }
double truncOf(double x) { return std::trunc(x); }

// -1, 0 or 1 for a against b, compared as numbers (integers exactly).
int numberOrder(const MoxValue& a, const MoxValue& b) {
  if (a.isInt() && b.isInt()) return a.asInt() < b.asInt() ? -1 : (a.asInt() > b.asInt() ? 1 : 0);
  const double x = static_cast<double>(a), y = static_cast<double>(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool extreme(MoxVirtualMachine* vm, int argc, ValPtr& args, int wanted) {
  if (!checkCount(vm, argc, 1, -1)) return false;
  ValPtr a = argBase(args, argc);
  int best = 1;
  for (int i = 1; i <= argc; ++i) {
    if (!isNumber(a[i])) return fail(vm, u"invalid argument type");
    if (i > 1 && numberOrder(a[i], a[best]) == wanted) best = i;
  }
  return result(args, argc, MoxValue(a[best]));
}

// splitmix64, one per thread, seeded from the clock and the thread on first
// use unless moxSeedRandInt came first.
struct RandomState {
  bool seeded = false;
  uint64_t state = 0;
};
thread_local RandomState gRandom;

uint64_t nextRandom() {
  if (!gRandom.seeded) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    gRandom.state = uint64_t(ts.tv_sec) * 1000000007u ^ uint64_t(ts.tv_nsec) ^
                    reinterpret_cast<uintptr_t>(&gRandom);
    gRandom.seeded = true;
  }
  uint64_t z = (gRandom.state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Uniform in [0, range) for 1 <= range <= 2^32, without bias: the
// multiply-and-shift method, drawing again for the few values that would
// favour some results.
uint64_t below(uint64_t range) {
  for (;;) {
    const uint64_t x = nextRandom() >> 32;
    const uint64_t m = x * range;
    const uint32_t low = uint32_t(m);
    if (low >= uint32_t((uint64_t(1) << 32) % range)) return m >> 32;
  }
}

}  // namespace

// Reseeds the generator of randint on the calling thread: the same seed
// gives the same sequence.
void moxSeedRandInt(uint32_t seed) {
  gRandom.state = 0x6A09E667F3BCC909ull ^ seed;
  gRandom.seeded = true;
}

bool MoxDefaultFunctions::Mox_floor(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return rounding(vm, argc, args, floorOf);
}

bool MoxDefaultFunctions::Mox_ceil(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return rounding(vm, argc, args, ceilOf);
}

bool MoxDefaultFunctions::Mox_round(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return rounding(vm, argc, args, roundHalfAway);
}

bool MoxDefaultFunctions::Mox_trunc(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return rounding(vm, argc, args, truncOf);
}

bool MoxDefaultFunctions::Mox_min(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return extreme(vm, argc, args, -1);
}

bool MoxDefaultFunctions::Mox_max(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  return extreme(vm, argc, args, 1);
}

bool MoxDefaultFunctions::Mox_atan2(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  double x[2];
  if (!numbers(vm, argc, args, 2, x)) return false;
  return result(args, argc, MoxValue(std::atan2(x[0], x[1])));
}

bool MoxDefaultFunctions::Mox_fmod(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  double x[2];
  if (!numbers(vm, argc, args, 2, x)) return false;
  return result(args, argc, MoxValue(std::fmod(x[0], x[1])));
}

bool MoxDefaultFunctions::Mox_hypot(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  double x[2];
  if (!numbers(vm, argc, args, 2, x)) return false;
  return result(args, argc, MoxValue(std::hypot(x[0], x[1])));
}

bool MoxDefaultFunctions::Mox_pi(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 0)) return false;
  return result(args, argc, MoxValue(3.14159265358979323846));
}

bool MoxDefaultFunctions::Mox_isnan(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  double x;
  if (!numbers(vm, argc, args, 1, &x)) return false;
  return result(args, argc, MoxValue(int32_t(std::isnan(x) ? 1 : 0)));
}

bool MoxDefaultFunctions::Mox_randint(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  if (a[1].getType() != MVT_INTEGER || a[2].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  const int32_t lo = a[1].asInt(), hi = a[2].asInt();
  if (lo > hi) return fail(vm, u"invalid argument");
  const uint64_t range = uint64_t(int64_t(hi) - int64_t(lo)) + 1;
  return result(args, argc, MoxValue(int32_t(int64_t(lo) + int64_t(below(range)))));
}

bool MoxDefaultFunctions::Mox_strftime(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 2, 2)) return false;
  ValPtr a = argBase(args, argc);
  MoxString* f = isString(a[1]) ? static_cast<MoxString*>(a[1]) : nullptr;
  if (!f || a[2].getType() != MVT_INTEGER) return fail(vm, u"invalid argument type");
  // The seconds read as time() gives them and localtime() takes them.
  const time_t t = static_cast<time_t>(static_cast<uint32_t>(a[2].asInt()));
  tm parts;
  if (!localtime_r(&t, &parts)) return fail(vm, u"invalid argument");
  std::string format;
  moxUtf8Encode(f->c_str(), f->length(), format);
  // A mark at the end tells an empty result from one that did not fit.
  format += ' ';
  if (!work(vm, format.size())) return false;
  std::string out;
  for (size_t room = 256 + 4 * format.size();; room *= 2) {
    if (!mox::blockFits(room, sizeof(MoxChar))) return fail(vm, u"not enough memory");
    out.assign(room, '\0');
    const size_t n = ::strftime(&out[0], room, format.c_str(), &parts);
    if (n > 0) {
      out.resize(n - 1);
      break;
    }
    if (!work(vm, room)) return false;
  }
  std::u16string text;
  moxUtf8Decode(out.data(), out.size(), text);
  return result(args, argc, MoxValue(new MoxString(text.c_str(), static_cast<unsigned>(text.size())), false));
}

bool MoxDefaultFunctions::Mox_clock(MoxVirtualMachine* vm, int argc, ValPtr& args) {
  if (!checkCount(vm, argc, 0, 0)) return false;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return result(args, argc, MoxValue(double(ts.tv_sec) + double(ts.tv_nsec) / 1e9));
}
