// Listings of the procedures a compile produces ("-d").
#include <gtest/gtest.h>

#include "DebuggerTestUtil.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

TEST(CompileListing, EveryCompiledProcedureIsListed) {
  MoxStringPrinter out, listing;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.compileText(u"f() { }\nclass K { m(); }\nK::m() { return 300; }\n", false, true,
                             nullptr, &listing))
      << out.a_str();
  auto lines = splitLines(listing.a_str());
  std::vector<std::string> want = {
      "::f (3 bytes)",
      "0000: 05   OP_PUSH ",
      "0001: 04    OP_NIL ",
      "0002: 1c OP_RETURN ",
      "K::m (5 bytes)",
      "0000: 05   OP_PUSH ",
      "0001: 1b    OP_LIT lit[3] ",
      "0003: 1c OP_RETURN ",
      "0004: 1c OP_RETURN ",
  };
  EXPECT_EQ(lines, want);
}

TEST(CompileListing, NoListingWithoutDebug) {
  MoxStringPrinter out, listing;
  MoxVirtualMachine vm(&out);
  ASSERT_TRUE(vm.compileText(u"f() { }\n", false, false, nullptr, &listing));
  EXPECT_EQ(std::string(listing.a_str()), "");
}
