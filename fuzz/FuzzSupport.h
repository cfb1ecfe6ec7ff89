// Helpers shared by the fuzz targets.
#ifndef MOX_FUZZ_SUPPORT_H
#define MOX_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// True when the bytes contain the text what anywhere.
inline bool fuzzContains(const uint8_t* data, size_t size, const char* what) {
  const size_t n = strlen(what);
  for (size_t i = 0; i + n <= size; ++i)
    if (memcmp(data + i, what, n) == 0) return true;
  return false;
}

#endif
