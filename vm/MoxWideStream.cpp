// Per-stream state of the wide character functions; see MoxWideStream.h.
#include "vm/MoxWideStream.h"

#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/MoxUtf8.h"

namespace {

struct WideState {
  std::deque<MoxChar> unread;  // decoded units not yet handed out
  int heldHigh = -1;           // a high surrogate waiting for its partner
};

// The state of every stream the wide functions have touched. Streams are
// the process's, shared by machines on other threads, and so is this table:
// every access holds its lock, which is never held across I/O. Deliberately
// never destroyed: the exit handler below still needs it while static
// destructors run.
struct WideTable {
  std::mutex lock;
  std::map<FILE*, WideState> states;
  // Entries in states; read without the lock so that streams the wide
  // functions never touched (the printers flush before every write) cost
  // nothing.
  std::atomic<size_t> count{0};
  bool exitHandler = false;
};

WideTable& table() {
  static WideTable* all = new WideTable();
  return *all;
}

// Takes the stream's waiting high surrogate out of its state; -1 when none.
int takeHeld(FILE* f) {
  WideTable& t = table();
  if (t.count.load(std::memory_order_acquire) == 0) return -1;
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.states.find(f);
  if (it == t.states.end()) return -1;
  int held = it->second.heldHigh;
  it->second.heldHigh = -1;
  return held;
}

// Holds the stream's own lock for a whole wide call, so that the bytes of one
// character and a surrogate waiting in the state stay together when several
// threads use one stream. Taken before the table's lock, never after it.
class StreamTurn {
 public:
  explicit StreamTurn(FILE* f) : f_(f) { flockfile(f_); }
  ~StreamTurn() { funlockfile(f_); }
  StreamTurn(const StreamTurn&) = delete;
  StreamTurn& operator=(const StreamTurn&) = delete;

 private:
  FILE* f_;
};

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
  // The streams are listed first: flushing takes each stream's lock, which
  // comes before the table's.
  std::vector<FILE*> streams;
  {
    WideTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    for (auto& entry : t.states)
      if (entry.second.heldHigh >= 0) streams.push_back(entry.first);
  }
  for (FILE* f : streams) moxWideFlush(f);
}

// The stream's state, made on first use. The table's lock must be held.
WideState& stateFor(WideTable& t, FILE* f) {
  if (!t.exitHandler) {
    t.exitHandler = true;
    std::atexit(flushAll);
  }
  auto it = t.states.find(f);
  if (it != t.states.end()) return it->second;
  WideState& state = t.states[f];
  t.count.store(t.states.size(), std::memory_order_release);
  return state;
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
  if (!f) return -1;
  StreamTurn turn(f);
  WideTable& t = table();
  if (t.count.load(std::memory_order_acquire) != 0) {
    std::lock_guard<std::mutex> hold(t.lock);
    auto it = t.states.find(f);
    if (it != t.states.end() && !it->second.unread.empty()) {
      int u = it->second.unread.front();
      it->second.unread.pop_front();
      return u;
    }
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
    std::lock_guard<std::mutex> hold(t.lock);
    WideState& state = stateFor(t, f);
    state.unread.insert(state.unread.end(), units.begin() + 1, units.end());
  }
  return units[0];
}

int moxWidePut(MoxChar unit, FILE* f) { return moxWideWrite(&unit, 1, f) ? unit : -1; }

bool moxWideWrite(const MoxChar* units, size_t len, FILE* f) {
  if (!f) return false;
  StreamTurn turn(f);
  size_t start = 0;
  int held = takeHeld(f);
  if (held >= 0) {
    if (len > 0 && isLow(units[0])) {
      MoxChar pair[2] = {static_cast<MoxChar>(held), units[0]};
      if (!putUnits(pair, 2, f)) return false;
      start = 1;
    } else {
      MoxChar alone = static_cast<MoxChar>(held);
      putUnits(&alone, 1, f);
    }
  }
  // A trailing high surrogate waits: the next call may bring its partner.
  size_t end = len > start && isHigh(units[len - 1]) ? len - 1 : len;
  if (end > start && !putUnits(units + start, end - start, f)) return false;
  if (end < len) {
    WideTable& t = table();
    std::lock_guard<std::mutex> hold(t.lock);
    stateFor(t, f).heldHigh = units[len - 1];
  }
  return true;
}

void moxWideFlush(FILE* f) {
  if (!f || table().count.load(std::memory_order_acquire) == 0) return;
  StreamTurn turn(f);
  int held = takeHeld(f);
  if (held < 0) return;
  MoxChar unit = static_cast<MoxChar>(held);
  putUnits(&unit, 1, f);
}

void moxWideForget(FILE* f) {
  if (!f) return;
  StreamTurn turn(f);
  moxWideFlush(f);
  WideTable& t = table();
  std::lock_guard<std::mutex> hold(t.lock);
  t.states.erase(f);
  t.count.store(t.states.size(), std::memory_order_release);
}
