// The shared opcode table and operand encoding.
#include "CompilerTestUtil.h"

TEST(OpCodes, TableNamesAndKinds) {
  int known = 0;
  for (int b = 0; b < 256; ++b)
    if (moxIsKnownOpcode(uint8_t(b))) ++known;
  EXPECT_EQ(known, 55);  // 54 of the base set and OP_DUPX2
  EXPECT_EQ(N(moxOpName(OP_NOP)), "OP_NOP");
  EXPECT_EQ(N(moxOpName(OP_MKREF)), "OP_MKREF");
  EXPECT_EQ(N(moxOpName(OP_DUPX2)), "OP_DUPX2");
  EXPECT_EQ(N(moxOpName(OP_RDWORD)), "OP_RDWORD");
  EXPECT_EQ(N(moxOpName(200)), "<unknown>");
  EXPECT_EQ(N(moxOpName(49)), "<unknown>");
  EXPECT_EQ(moxOperandKind(OP_BRF), MOK_TARGET);
  EXPECT_EQ(moxOperandKind(OP_SEND), MOK_INDEX);
  EXPECT_EQ(moxOperandKind(OP_RWORD), MOK_PREFIX);
  EXPECT_EQ(moxOperandKind(OP_VSET), MOK_NONE);
  EXPECT_EQ(moxOpInfo(OP_DUP2).stackEffect, 2);
  EXPECT_EQ(moxOpInfo(OP_CALL).stackEffect, MOX_STACK_VARIES);
  // Listings format exactly the opcodes that carry an operand.
  for (int b = 0; b < 256; ++b) {
    const MoxOpInfo& info = moxOpInfo(uint8_t(b));
    const bool hasOperand = info.operand == MOK_INDEX || info.operand == MOK_TARGET;
    EXPECT_EQ(info.label[0] != 0, hasOperand) << b;
  }
  EXPECT_EQ(N(moxOpInfo(OP_TREF).label), "tmp[%d] ");
}

TEST(OpCodes, EncodeAndDecodeIndexedOperands) {
  uint8_t buf[MOX_MAX_INDEXED_SIZE];
  EXPECT_EQ(moxEncodeIndexed(buf, OP_LIT, 255), 2u);
  EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{OP_LIT, 255}));
  EXPECT_EQ(moxEncodeIndexed(buf, OP_LIT, 300), 5u);
  EXPECT_EQ(Bytes(buf, buf + 5), (Bytes{0xF1, 0x1B, 0x2C, 0x01, 0xF0}));
  EXPECT_EQ(moxEncodeIndexed(buf, OP_REF, 0x12345), 7u);
  EXPECT_EQ(Bytes(buf, buf + 7), (Bytes{0xF2, OP_REF, 0x45, 0x23, 0x01, 0x00, 0xF0}));

  // The width stays in force until the next prefix.
  Bytes code = {OP_RWORD, OP_LIT, 0x2C, 0x01, OP_AREF, 2, 0, OP_RBYTE, OP_BR, 0x10, 0, 0, 0, 200};
  unsigned width = 1;
  MoxInstruction in;
  size_t pc = 0;
  std::vector<std::pair<int, uint32_t>> seen;
  while (moxDecodeInstruction(code.data(), code.size(), pc, &width, &in)) {
    seen.push_back({in.opcode, in.operand});
    pc += in.length;
  }
  EXPECT_EQ(pc, code.size());
  EXPECT_EQ(seen, (std::vector<std::pair<int, uint32_t>>{
                      {OP_RWORD, 0}, {OP_LIT, 300}, {OP_AREF, 2}, {OP_RBYTE, 0}, {OP_BR, 16}, {200, 0}}));
  // An operand cut off by the end of the code is not read.
  Bytes cut = {OP_BR, 1, 2};
  width = 1;
  EXPECT_FALSE(moxDecodeInstruction(cut.data(), cut.size(), 0, &width, &in));
  EXPECT_FALSE(moxDecodeInstruction(cut.data(), cut.size(), 3, &width, &in));
}
