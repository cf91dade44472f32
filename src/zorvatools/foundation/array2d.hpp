#pragma once
// A dense two-dimensional array indexed [i][j] (i along the lattice's first axis), stored with
// j fastest: element (i, j) at i * ny + j.

#include <cstddef>
#include <vector>

namespace zorvatools {

template <class T>
class Array2D {
 public:
  Array2D() = default;
  Array2D(std::size_t nx, std::size_t ny, T fill = T{}) : nx_(nx), ny_(ny), data_(nx * ny, fill) {}

  [[nodiscard]] std::size_t nx() const { return nx_; }
  [[nodiscard]] std::size_t ny() const { return ny_; }
  [[nodiscard]] bool same_shape(std::size_t nx, std::size_t ny) const {
    return nx_ == nx && ny_ == ny;
  }
  T& operator()(std::size_t i, std::size_t j) { return data_[i * ny_ + j]; }
  const T& operator()(std::size_t i, std::size_t j) const { return data_[i * ny_ + j]; }
  [[nodiscard]] std::vector<T>& data() { return data_; }
  [[nodiscard]] const std::vector<T>& data() const { return data_; }

  friend bool operator==(const Array2D&, const Array2D&) = default;

 private:
  std::size_t nx_ = 0;
  std::size_t ny_ = 0;
  std::vector<T> data_;
};

}  // namespace zorvatools
