// Procedure listings.
#include <gtest/gtest.h>

#include "DebuggerTestUtil.h"
#include "debugger/MoxDebugger.h"
#include "interpreter/MoxOpCodes.h"
#include "vm/MoxPrinter.h"
#include "vm/MoxVirtualMachine.h"

namespace {

struct Lister {
  MoxStringPrinter out;
  MoxVirtualMachine vm{&out};
  MoxDebugger dbg{vm, nullptr};

  std::vector<std::string> list(MoxVector* proc) {
    out.clear();
    MoxValue hold(proc, true);
    dbg.decodeProcedure(proc);
    return splitLines(out.a_str());
  }
};

std::string line(unsigned off, unsigned op, const char* name, const std::string& operand) {
  return fmt("%04x: %02x %9s ", off, op, name) + operand;
}

}  // namespace

TEST(Listing, HeaderOfGlobalFunctionAndMethod) {
  Lister l;
  auto lines = l.list(makeProc({OP_PUSH, OP_NIL, OP_NOP, OP_NOP, OP_RETURN}, nullptr, u"f"));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "::f (5 bytes)");
  EXPECT_EQ(lines[1], line(0, 5, "OP_PUSH", ""));
  EXPECT_EQ(lines[5], line(4, 0x1c, "OP_RETURN", ""));

  MoxClass* k = new MoxClass(l.vm, MoxString(u"K"), nullptr);
  MoxValue holdK(k);
  lines = l.list(makeProc({OP_RETURN}, k, u"m"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "K::m (1 bytes)");

  lines = l.list(makeProc({OP_RETURN}, nullptr, nullptr));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "::<unnamed> (1 bytes)");
}

TEST(Listing, NothingForVectorsThatAreNoProcedures) {
  Lister l;
  MoxVector* two = new MoxVector();
  two->push_back(MoxValue());
  two->push_back(MoxValue());
  EXPECT_TRUE(l.list(two).empty());
  EXPECT_TRUE(l.list(makeProc({}, nullptr, u"empty")).empty());
  l.dbg.decodeProcedure(nullptr);
  EXPECT_TRUE(std::string(l.out.a_str()).empty());
}

TEST(Listing, EveryOperandFormAndWidePrefixes) {
  Lister l;
  std::vector<uint8_t> code = {
      OP_TSPACE, 2,                      // 00
      OP_PUSH,                           // 02
      OP_LIT, 3,                         // 03
      OP_RWORD, OP_LIT, 0x2c, 0x01, OP_RBYTE,  // 05: lit 300
      OP_CALL, 1,                        // 0a
      OP_REF, 4, OP_SET, 4,              // 0c
      OP_MREF, 1, OP_MSET, 2,            // 10
      OP_AREF, 0, OP_ASET, 1,            // 14
      OP_TREF, 0, OP_TSET, 1,            // 18
      OP_SEND, 2,                        // 1c
      OP_BRF, 0x10, 0, 0, 0,             // 1e
      OP_BRT, 0x34, 0x12, 0, 0,          // 23
      OP_BR, 0, 0, 0, 0,                 // 28
      OP_RDWORD, OP_LIT, 0x70, 0x11, 0x01, 0x00, OP_RBYTE,  // 2d: lit 70000
      200,                               // 34
      OP_DUPX2,                          // 35
      OP_RETURN,                         // 36
  };
  auto lines = l.list(makeProc(code, nullptr, u"all"));
  std::vector<std::string> want = {
      "::all (55 bytes)",
      line(0x00, 0x28, "OP_TSPACE", "2 "),
      line(0x02, 0x05, "OP_PUSH", ""),
      line(0x03, 0x1b, "OP_LIT", "lit[3] "),
      line(0x05, 0xf1, "OP_RWORD", ""),
      line(0x06, 0x1b, "OP_LIT", "lit[300] "),
      line(0x09, 0xf0, "OP_RBYTE", ""),
      line(0x0a, 0x1d, "OP_CALL", "(1 arguments) "),
      line(0x0c, 0x1e, "OP_REF", "var[4] "),
      line(0x0e, 0x1f, "OP_SET", "var[4] "),
      line(0x10, 0x22, "OP_MREF", "member[1] "),
      line(0x12, 0x23, "OP_MSET", "member[2] "),
      line(0x14, 0x24, "OP_AREF", "arg[0] "),
      line(0x16, 0x25, "OP_ASET", "arg[1] "),
      line(0x18, 0x26, "OP_TREF", "tmp[0] "),
      line(0x1a, 0x27, "OP_TSET", "tmp[1] "),
      line(0x1c, 0x29, "OP_SEND", "(2 arguments) "),
      line(0x1e, 0x02, "OP_BRF", "0010 "),
      line(0x23, 0x01, "OP_BRT", "1234 "),
      line(0x28, 0x03, "OP_BR", "0000 "),
      line(0x2d, 0xf2, "OP_RDWORD", ""),
      line(0x2e, 0x1b, "OP_LIT", "lit[70000] "),
      line(0x33, 0xf0, "OP_RBYTE", ""),
      line(0x34, 0xc8, "<unknown>", ""),
      line(0x35, 0x30, "OP_DUPX2", ""),
      line(0x36, 0x1c, "OP_RETURN", ""),
  };
  EXPECT_EQ(lines, want);
}

TEST(Listing, WidthStaysUntilTheNextPrefix) {
  Lister l;
  // OP_RWORD without OP_RBYTE: both following operands are two bytes wide.
  auto lines = l.list(makeProc({OP_RWORD, OP_LIT, 1, 0, OP_AREF, 2, 0, OP_RETURN}, nullptr, u"w"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], line(1, 0x1b, "OP_LIT", "lit[1] "));
  EXPECT_EQ(lines[3], line(4, 0x24, "OP_AREF", "arg[2] "));
}

TEST(Listing, OperandCutOffByTheEndOfTheCode) {
  Lister l;
  auto lines = l.list(makeProc({OP_PUSH, OP_BR, 1, 2}, nullptr, u"cut"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], line(1, 3, "OP_BR", "<operand cut off>"));
}

TEST(Listing, OpcodeNames) {
  Lister l;
  EXPECT_EQ(MoxString(l.dbg.getOpCodeName(200)), MoxString(u"<unknown>"));
  EXPECT_EQ(MoxString(l.dbg.getOpCodeName(0)), MoxString(u"OP_NOP"));
  EXPECT_EQ(MoxString(l.dbg.getOpCodeName(242)), MoxString(u"OP_RDWORD"));
  EXPECT_EQ(MoxString(l.dbg.getOpCodeName(130)), MoxString(u"OP_TRSTEP"));
  EXPECT_EQ(MoxString(l.dbg.getOpCodeName(1000)), MoxString(u"<unknown>"));
}
