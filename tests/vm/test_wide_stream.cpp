// UTF-8 on byte streams for the wide character functions.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vm/MoxWideStream.h"

namespace {

std::vector<int> readUnits(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  std::vector<int> units;
  for (int u; (u = moxWideGet(f)) >= 0;) units.push_back(u);
  moxWideForget(f);
  fclose(f);
  return units;
}

std::string written(void (*write)(FILE*)) {
  FILE* f = tmpfile();
  write(f);
  moxWideForget(f);
  rewind(f);
  std::string bytes;
  for (int c; (c = fgetc(f)) != EOF;) bytes += static_cast<char>(c);
  fclose(f);
  return bytes;
}

}  // namespace

TEST(WideStream, DecodesLikeTextInMemory) {
  EXPECT_EQ(readUnits("A\xC3\xA9\xE4\xBD\xA0"), (std::vector<int>{'A', 0xE9, 0x4F60}));
  EXPECT_EQ(readUnits("\xF0\x9F\x98\x80"), (std::vector<int>{0xD83D, 0xDE00}));
  // Ill-formed: stray continuation, overlong lead, beyond U+10FFFF, cut off.
  EXPECT_EQ(readUnits("\x80\xC0\xAF"), (std::vector<int>{0x80, 0xC0, 0xAF}));
  EXPECT_EQ(readUnits("\xF4\x90\x80\x80"), (std::vector<int>{0xF4, 0x90, 0x80, 0x80}));
  EXPECT_EQ(readUnits("\xE2\x82" "A"), (std::vector<int>{0xE2, 0x82, 'A'}));
  EXPECT_EQ(readUnits("\xF0\x9F\x98"), (std::vector<int>{0xF0, 0x9F, 0x98}));
}

TEST(WideStream, PairsSplitAcrossCallsBecomeOneSequence) {
  EXPECT_EQ(written([](FILE* f) {
              moxWidePut(0xD83D, f);
              moxWidePut(0xDE00, f);
            }),
            "\xF0\x9F\x98\x80");
  EXPECT_EQ(written([](FILE* f) {
              const MoxChar a[] = {'x', 0xD83D};
              const MoxChar b[] = {0xDE00, 'y'};
              moxWideWrite(a, 2, f);
              moxWideWrite(b, 2, f);
            }),
            "x\xF0\x9F\x98\x80y");
  // Unpaired halves keep their 3-byte forms, in order with other writes.
  EXPECT_EQ(written([](FILE* f) {
              moxWidePut(0xD83D, f);
              moxWideFlush(f);
              fputc('!', f);
              moxWidePut(0xDE00, f);
              moxWidePut(0xD83D, f);
              moxWidePut(0xD83D, f);
            }),
            "\xED\xA0\xBD!\xED\xB8\x80\xED\xA0\xBD\xED\xA0\xBD");
}
