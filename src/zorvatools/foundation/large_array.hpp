#pragma once
// Storage for the large arrays that are read in long passes (corner depths, property cubes).
// New storage is faulted in by one call before it is written, instead of one fault per page, and
// asks for huge pages only where the system hands them out without making the fault wait for
// memory to be compacted: where the kernel compacts at the fault, a large array built after
// other processes freed memory spent most of its time in the kernel. Only advice: where a request
// fails, nothing changes but the speed.

#include <cstddef>
#include <string_view>
#include <vector>

namespace zorvatools {

// True when huge pages asked for never stall a page fault: the selected word of the kernel's
// defrag setting (e.g. "always defer defer+madvise [madvise] never") is "defer" or "never".
bool huge_pages_never_stall(std::string_view defrag_setting);

// Prepares the whole pages inside [data, data + bytes) of new writable storage: huge pages where
// they never stall, then every page faulted in for writing.
void prepare_large_storage(void* data, std::size_t bytes);

// Reserves room for `count` elements, prepared by prepare_large_storage where newly allocated.
template <class T>
void reserve_large(std::vector<T>& values, std::size_t count) {
  if (values.capacity() >= count) return;
  values.reserve(count);
  prepare_large_storage(values.data(), count * sizeof(T));
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
