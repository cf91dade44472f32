#pragma once
// Storage for the large arrays that are read in long passes (corner depths, property cubes):
// where the system offers huge pages on request, the new storage asks for them before it is
// first touched, so that a pass needs some five hundred times fewer address translations.
// Only advice: where there are no such pages, or the request fails, nothing changes.

#include <cstddef>
#include <vector>

namespace zorvatools {

// Asks for huge pages over the whole huge pages inside [data, data + bytes).
void advise_huge_pages(const void* data, std::size_t bytes);

// Reserves room for `count` elements, with huge pages where storage is newly allocated.
template <class T>
void reserve_large(std::vector<T>& values, std::size_t count) {
  if (values.capacity() >= count) return;
  values.reserve(count);
  advise_huge_pages(values.data(), count * sizeof(T));
}

// `count` copies of `value` on storage from reserve_large.
template <class T>
std::vector<T> large_array(std::size_t count, const T& value) {
  std::vector<T> values;
  reserve_large(values, count);
  values.assign(count, value);
  return values;
}

}  // namespace zorvatools
