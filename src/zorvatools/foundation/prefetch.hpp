#pragma once
// Streams read ahead of a loop that computes as it goes. The processor's own prefetcher keeps up
// with loops that do little but read; a loop busy with arithmetic gets its data in time by
// asking for it a fixed distance ahead, into the second-level cache, a few lines at a time.

#include <cstddef>
#include <cstdint>

namespace zorvatools {

// Cells a row loop takes between two requests, and how far ahead it asks (a row of a grid some
// five hundred cells wide).
inline constexpr std::size_t kPrefetchChunk = 16;
inline constexpr std::size_t kPrefetchCellsAhead = 512;

// Asks for the cache lines of the `count` elements that lie `ahead` elements past `first`. The
// address is only a hint: it may lie past the end of the data, and nothing faults.
template <class T>
inline void prefetch_ahead(const T* first, std::size_t count, std::size_t ahead) {
  constexpr std::size_t kLine = 64;
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(first) + ahead * sizeof(T);
  const std::size_t bytes = count * sizeof(T);
  for (std::size_t offset = 0; offset < bytes; offset += kLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(begin + offset), 0, 2);
  }
}

}  // namespace zorvatools
