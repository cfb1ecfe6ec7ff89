// Per-stream state of the wide character functions; see MoxWideStream.h.
#include "vm/MoxWideStream.h"

#include <cstdlib>
#include <deque>
#include <map>
#include <string>

#include "core/MoxUtf8.h"

namespace {

struct WideState {
  std::deque<MoxChar> unread;  // decoded units not yet handed out
  int heldHigh = -1;           // a high surrogate waiting for its partner
};

// Deliberately never destroyed: the exit handler below still needs it while
// static destructors run.
std::map<FILE*, WideState>& states() {
  static std::map<FILE*, WideState>* all = new std::map<FILE*, WideState>();
  return *all;
}

inline bool isHigh(int u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool isLow(int u) { return u >= 0xDC00 && u <= 0xDFFF; }

bool putBytes(const std::string& bytes, FILE* f) {
  for (char c : bytes)
    if (fputc(static_cast<unsigned char>(c), f) == EOF) return false;
  return true;
}

bool putUnits(const MoxChar* units, size_t len, FILE* f) {
  std::string bytes;
  moxUtf8Encode(units, len, bytes);
  return putBytes(bytes, f);
}

void flushAll() {
  for (auto& entry : states()) moxWideFlush(entry.first);
}

WideState& stateFor(FILE* f) {
  static bool exitHandler = false;
  if (!exitHandler) {
    exitHandler = true;
    std::atexit(flushAll);
  }
  return states()[f];
}

// Number of continuation bytes a lead byte announces; 0 for bytes that can
// only stand for themselves. Whether the bytes really form a character is
// left to the shared decoder.
int continuationCount(int lead) {
  if (lead >= 0xC0 && lead < 0xE0) return 1;
  if (lead >= 0xE0 && lead < 0xF0) return 2;
  if (lead >= 0xF0 && lead < 0xF8) return 3;
  return 0;
}

}  // namespace

int moxWideGet(FILE* f) {
  auto it = states().find(f);
  if (it != states().end() && !it->second.unread.empty()) {
    int u = it->second.unread.front();
    it->second.unread.pop_front();
    return u;
  }
  int lead = fgetc(f);
  if (lead == EOF) return -1;
  if (lead < 0x80) return lead;
  char bytes[4] = {static_cast<char>(lead)};
  size_t n = 1;
  for (int need = continuationCount(lead); need > 0; --need) {
    int c = fgetc(f);
    if (c == EOF) break;
    if ((c & 0xC0) != 0x80) {
      ungetc(c, f);  // the start of the next character
      break;
    }
    bytes[n++] = static_cast<char>(c);
  }
  // Every byte of an ill-formed or cut-off sequence becomes a unit of its
  // own, exactly as the decoder treats text in memory.
  std::u16string units;
  moxUtf8Decode(bytes, n, units);
  if (units.size() > 1) {
    WideState& state = stateFor(f);
    state.unread.insert(state.unread.end(), units.begin() + 1, units.end());
  }
  return units[0];
}

int moxWidePut(MoxChar unit, FILE* f) { return moxWideWrite(&unit, 1, f) ? unit : -1; }

bool moxWideWrite(const MoxChar* units, size_t len, FILE* f) {
  size_t start = 0;
  auto it = states().find(f);
  if (it != states().end() && it->second.heldHigh >= 0) {
    if (len > 0 && isLow(units[0])) {
      MoxChar pair[2] = {static_cast<MoxChar>(it->second.heldHigh), units[0]};
      it->second.heldHigh = -1;
      if (!putUnits(pair, 2, f)) return false;
      start = 1;
    } else {
      moxWideFlush(f);
    }
  }
  // A trailing high surrogate waits: the next call may bring its partner.
  size_t end = len > start && isHigh(units[len - 1]) ? len - 1 : len;
  if (end > start && !putUnits(units + start, end - start, f)) return false;
  if (end < len) stateFor(f).heldHigh = units[len - 1];
  return true;
}

void moxWideFlush(FILE* f) {
  auto it = states().find(f);
  if (it == states().end() || it->second.heldHigh < 0) return;
  MoxChar unit = static_cast<MoxChar>(it->second.heldHigh);
  it->second.heldHigh = -1;
  putUnits(&unit, 1, f);
}

void moxWideForget(FILE* f) {
  moxWideFlush(f);
  states().erase(f);
}
