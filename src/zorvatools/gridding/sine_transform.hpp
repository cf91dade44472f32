#pragma once
// The eigenbasis of the second difference with free ends, along both axes of a lattice: along an
// axis of n nodes, the two end hats (1 - t and t, t = i / (n - 1)) and the sines
// sin(pi m i / (n - 1)), m = 1 .. n - 2, which vanish at both ends. Coefficient m of an axis sits
// where node m does: the hats at the two ends, the sines between. The sine part is FFTW's
// type-I sine transform, so a transform of the whole lattice costs O(n log n) per line.

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace zorvatools {

// Second-difference eigenvalue of coefficient m on an axis of n nodes: 0 for the end hats,
// -4 sin^2(pi m / (2 (n - 1))) for sine m.
double second_difference_eigenvalue(std::size_t n, std::size_t m);

// Coefficients of the unit vector at node `node` of an axis of n nodes.
void unit_coefficients(std::size_t n, std::size_t node, std::span<double> out);

// Transforms an n1 x n2 array (row-major, rows along the first axis) in place: nodes to
// coefficients and back. Owns the array and the FFTW plans made for it; not copyable, and one
// transform serves one thread at a time.
class LatticeSineTransform {
 public:
  LatticeSineTransform(std::size_t n1, std::size_t n2);
  ~LatticeSineTransform();
  LatticeSineTransform(LatticeSineTransform&&) noexcept;
  LatticeSineTransform& operator=(LatticeSineTransform&&) noexcept;
  LatticeSineTransform(const LatticeSineTransform& other);
  LatticeSineTransform& operator=(const LatticeSineTransform& other);

  [[nodiscard]] std::size_t n1() const { return n1_; }
  [[nodiscard]] std::size_t n2() const { return n2_; }
  [[nodiscard]] std::span<double> values();
  void forward();  // node values to coefficients
  void inverse();  // coefficients to node values
  // The two halves of the inverse, second axis first: in between, coefficients along the first
  // axis and nodes along the second.
  void inverse_second_axis();
  void inverse_first_axis();

 private:
  struct Plans;
  std::size_t n1_;
  std::size_t n2_;
  std::unique_ptr<Plans> plans_;
};

}  // namespace zorvatools
