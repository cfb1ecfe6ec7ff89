// A run stopped from another thread: at its next instruction, or within a
// long library operation, and the machine goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/MoxString.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

// The sanitizers' allocators fill a large block before the library sees it,
// which no interrupt can cut short.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
const long kFillBoundMs = 5000;
#else
const long kFillBoundMs = 100;
#endif

}  // namespace

TEST(Interrupt, StopsALoopFromAnotherThreadAndTheMachineGoesOn) {
  MoxStringPrinter errors;
  MoxVirtualMachine vm;
  // count's loop runs as translated sequences only, whose back edges are
  // where a cell notices the interrupt.
  ASSERT_TRUE(vm.compileText(u"spin(;i) { i = 0; while (1) i++; return 0; }\n"
                             u"count(;i, n) { n = 0; for (i = 0; i < 2000000000; i++) n = n + i;"
                             u" return n; }\n"
                             u"fill() { return size(newbuffer(400000000, 7)); }\n"
                             u"ok() { return 7; }"));
  EXPECT_FALSE(vm.interrupt());  // nothing runs: nothing is kept for later
  for (const MoxChar* fn : {u"spin", u"count", u"fill"}) {
    errors.clear();
    std::atomic<bool> started{false};
    std::chrono::steady_clock::time_point asked;
    std::thread stopper([&] {
      while (!started) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      asked = std::chrono::steady_clock::now();
      while (!vm.interrupt()) std::this_thread::yield();
    });
    started = true;
    const bool ok = vm.execute(fn, 0, nullptr, false, &errors);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    const auto took = ended - asked;
    EXPECT_FALSE(ok) << "function " << MoxString(fn).a_str();
    EXPECT_STREQ(errors.a_str(), "execution interrupted\n");
    const long bound = fn[0] == u'f' ? kFillBoundMs : 100;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), bound)
        << "function " << MoxString(fn).a_str();
  }
  EXPECT_TRUE(vm.execute(u"ok"));
  EXPECT_EQ(int32_t(vm.getResult()), 7);
}
