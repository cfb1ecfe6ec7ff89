// Line tables: every instruction of a procedure maps to the source line its
// statement or expression part stands on.
#include "CompilerTestUtil.h"
#include "vm/MoxLineTable.h"

namespace {

// "line opcode" for every instruction of the procedure, one a line.
std::string lineListing(Fixture& f, const char* name, const char* className = nullptr) {
  MoxVector* p = f.proc(name, className);
  if (p == nullptr) return "<no procedure>";
  MoxBuffer* b = static_cast<MoxBuffer*>((*p)[MOX_PROC_CODE]);
  std::string s;
  unsigned width = 1;
  MoxInstruction ins;
  for (size_t pc = 0; pc < b->size(); pc += ins.length) {
    if (!moxDecodeInstruction(b->data(), b->size(), pc, &width, &ins)) return s + "<cut>";
    const MoxChar* source = nullptr;
    int32_t line = 0;
    if (!f.vm.lineTables().lookup(p, uint32_t(pc), &source, &line)) return s + "<no table>";
    // Every byte of an instruction lies on the instruction's line.
    for (size_t k = 1; k < ins.length; ++k) {
      int32_t inner = 0;
      f.vm.lineTables().lookup(p, uint32_t(pc + k), nullptr, &inner);
      if (inner != line) return s + "<operand on another line>";
    }
    s += std::to_string(line) + " " + N(moxOpName(ins.opcode)) + "\n";
  }
  return s;
}

}  // namespace

TEST(LineTable, StatementForms) {
  Fixture f;
  ASSERT_TRUE(f.compile(
      "f(a; i, s) {\n"        // 1
      "  s = 0;\n"            // 2
      "  if (a)\n"            // 3
      "    s = 1;\n"          // 4
      "  else\n"              // 5
      "    s = 2;\n"          // 6
      "  while (i < 3)\n"     // 7
      "    i++;\n"            // 8
      "  do\n"                // 9
      "    i--;\n"            // 10
      "  while (i);\n"        // 11
      "  for (i = 0;\n"       // 12
      "       i < 2;\n"       // 13
      "       i++)\n"         // 14
      "    { break; }\n"      // 15
      "  while (1) {\n"       // 16
      "    continue;\n"      // 17
      "  }\n"                // 18
      "  TRON;\n"            // 19
      "  ;\n"                // 20
      "  return s\n"         // 21
      "    + a;\n"           // 22
      "}\n"));               // 23
  // A pending operand is loaded when the token after it shows how it is
  // used, so "s" of line 21 loads on line 22; loop ends jump back from the
  // line that closes the body.
  EXPECT_EQ(lineListing(f, "f"),
            "1 OP_TSPACE\n"
            "1 OP_PUSH\n"
            "2 OP_LIT\n"
            "2 OP_TSET\n"
            "3 OP_AREF\n"
            "3 OP_BRF\n"
            "4 OP_LIT\n"
            "4 OP_TSET\n"
            "5 OP_BR\n"
            "6 OP_LIT\n"
            "6 OP_TSET\n"
            "7 OP_TREF\n"
            "7 OP_PUSH\n"
            "7 OP_LIT\n"
            "7 OP_LT\n"
            "7 OP_BRF\n"
            "8 OP_TREF\n"
            "8 OP_DUP\n"
            "8 OP_INC\n"
            "8 OP_TSET\n"
            "8 OP_POP\n"
            "8 OP_BR\n"
            "10 OP_TREF\n"
            "10 OP_DUP\n"
            "10 OP_DEC\n"
            "10 OP_TSET\n"
            "10 OP_POP\n"
            "11 OP_TREF\n"
            "11 OP_BRT\n"
            "12 OP_LIT\n"
            "12 OP_TSET\n"
            "13 OP_TREF\n"
            "13 OP_PUSH\n"
            "13 OP_LIT\n"
            "13 OP_LT\n"
            "13 OP_BRT\n"
            "13 OP_BR\n"
            "14 OP_TREF\n"
            "14 OP_DUP\n"
            "14 OP_INC\n"
            "14 OP_TSET\n"
            "14 OP_POP\n"
            "14 OP_BR\n"
            "15 OP_BR\n"
            "15 OP_BR\n"
            "16 OP_LIT\n"
            "16 OP_BRF\n"
            "17 OP_BR\n"
            "18 OP_BR\n"
            "19 OP_TRON\n"
            "22 OP_TREF\n"
            "22 OP_PUSH\n"
            "22 OP_AREF\n"
            "22 OP_ADD\n"
            "22 OP_RETURN\n"
            "23 OP_RETURN\n");
}

TEST(LineTable, MethodsAndEpilogues) {
  Fixture f;
  ASSERT_TRUE(f.compile(
      "class A { A(); ~A(); }\n"   // 1
      "class B : A { ~B(); }\n"    // 2
      "A::A() {\n"                 // 3
      "}\n"                        // 4
      "A::~A() { }\n"              // 5
      "B::~B() {\n"                // 6
      "  x = 1;\n"                 // 7
      "}\n"));                     // 8
  EXPECT_EQ(lineListing(f, "A", "A"), "3 OP_PUSH\n4 OP_NIL\n4 OP_AREF\n4 OP_RETURN\n");
  EXPECT_EQ(lineListing(f, "dtor", "B"),
            "6 OP_PUSH\n7 OP_LIT\n7 OP_SET\n8 OP_PUSH\n8 OP_AREF\n8 OP_PUSH\n8 OP_LIT\n"
            "8 OP_SEND\n8 OP_RETURN\n");
}

TEST(LineTable, TextSourcesAndReplacement) {
  Fixture f;
  ASSERT_TRUE(f.compile("g() {\n  return 1;\n}\n", "first.mox"));
  MoxVector* first = f.proc("g");
  ASSERT_NE(first, nullptr);
  const MoxChar* source = nullptr;
  int32_t line = 0;
  ASSERT_TRUE(f.vm.lineTables().lookup(first, 2, &source, &line));
  EXPECT_EQ(N(source), "first.mox");
  EXPECT_EQ(line, 2);
  // The table holds the procedure, so a recompile that replaces it cannot
  // leave an entry that a new procedure at the same address would match.
  first->addRef();
  ASSERT_TRUE(f.compile("\ng() { return 2; }\n", "second.mox"));
  MoxVector* second = f.proc("g");
  ASSERT_NE(second, first);
  EXPECT_EQ(first->getRefCnt(), 2);
  ASSERT_TRUE(f.vm.lineTables().lookup(second, 0, &source, &line));
  EXPECT_EQ(N(source), "second.mox");
  EXPECT_EQ(line, 2);
  // Once only the table holds it, a sweep drops it.
  first->release();
  size_t before = f.vm.lineTables().size();
  f.vm.lineTables().sweep();
  EXPECT_EQ(f.vm.lineTables().size(), before - 1);
  EXPECT_FALSE(f.vm.lineTables().lookup(nullptr, 0, &source, &line));
}
