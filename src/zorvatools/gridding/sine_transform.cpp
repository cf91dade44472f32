#include "zorvatools/gridding/sine_transform.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>

#include "zorvatools/foundation/internal_fault.hpp"

namespace zorvatools {
namespace {

// FFTW's planner is not thread-safe; executing a plan is.
std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

struct FreeArray {
  void operator()(double* p) const { fftw_free(p); }
};

// Ramps of one axis: t = i / (n - 1) and 1 - t.
struct Ramps {
  std::vector<double> up, down;
  explicit Ramps(std::size_t n) : up(n), down(n) {
    for (std::size_t i = 0; i < n; ++i) {
      up[i] = n > 1 ? static_cast<double>(i) / static_cast<double>(n - 1) : 0.0;
      down[i] = 1 - up[i];
    }
  }
};

}  // namespace

double second_difference_eigenvalue(std::size_t n, std::size_t m) {
  if (m == 0 || m + 1 >= n) return 0.0;
  const double s =
      std::sin(std::numbers::pi * static_cast<double>(m) / (2 * static_cast<double>(n - 1)));
  return -4 * s * s;
}

void unit_coefficients(std::size_t n, std::size_t node, std::span<double> out) {
  require(out.size() == n && node < n && n >= 2, "unit_coefficients: bad sizes");
  // Interior nodes are sines only; an end node is its hat minus the hat's share of the sines.
  const double period = 2.0 * static_cast<double>(n - 1);
  const double scale = 2.0 / static_cast<double>(n - 1);
  out[0] = node == 0 ? 1.0 : 0.0;
  out[n - 1] = node == n - 1 ? 1.0 : 0.0;
  for (std::size_t m = 1; m + 1 < n; ++m) {
    double c = 0;
    if (node == 0 || node == n - 1) {
      for (std::size_t i = 1; i + 1 < n; ++i) {
        const double hat = node == 0 ? 1.0 - static_cast<double>(i) / static_cast<double>(n - 1)
                                     : static_cast<double>(i) / static_cast<double>(n - 1);
        const auto r = static_cast<double>((m * i) % (2 * (n - 1)));
        c -= hat * std::sin(2 * std::numbers::pi * r / period);
      }
    } else {
      const auto r = static_cast<double>((m * node) % (2 * (n - 1)));
      c = std::sin(2 * std::numbers::pi * r / period);
    }
    out[m] = scale * c;
  }
}

struct LatticeSineTransform::Plans {
  std::unique_ptr<double[], FreeArray> data;
  fftw_plan along1 = nullptr;  // sines of every column, stride n2
  fftw_plan along2 = nullptr;  // sines of every row, contiguous
  Ramps ramps1, ramps2;

  Plans(std::size_t n1, std::size_t n2) : ramps1(n1), ramps2(n2) {
    data.reset(static_cast<double*>(fftw_malloc(sizeof(double) * n1 * n2)));
    if (!data) throw std::bad_alloc();
    std::fill_n(data.get(), n1 * n2, 0.0);
    const fftw_r2r_kind kind = FFTW_RODFT00;
    const std::lock_guard lock(planner_mutex());
    // FFTW_ESTIMATE picks the algorithm without timing it: the same plan, so the same bits, on
    // every run.
    if (n1 > 2) {
      const int len = static_cast<int>(n1 - 2);
      along1 = fftw_plan_many_r2r(1, &len, static_cast<int>(n2), data.get() + n2, nullptr,
                                  static_cast<int>(n2), 1, data.get() + n2, nullptr,
                                  static_cast<int>(n2), 1, &kind, FFTW_ESTIMATE);
      if (!along1) throw std::bad_alloc();
    }
    if (n2 > 2) {
      const int len = static_cast<int>(n2 - 2);
      along2 = fftw_plan_many_r2r(1, &len, static_cast<int>(n1), data.get() + 1, nullptr, 1,
                                  static_cast<int>(n2), data.get() + 1, nullptr, 1,
                                  static_cast<int>(n2), &kind, FFTW_ESTIMATE);
      if (!along2) {
        if (along1) fftw_destroy_plan(along1);
        throw std::bad_alloc();
      }
    }
  }
  // Adds `sign` times the line through the end rows to the rows between (first axis).
  void add_end_lines_first(std::size_t n1, std::size_t n2, double sign) {
    double* v = data.get();
    const double* first = v;
    const double* last = v + (n1 - 1) * n2;
    for (std::size_t i = 1; i + 1 < n1; ++i) {
      double* row = v + i * n2;
      const double down = sign * ramps1.down[i], up = sign * ramps1.up[i];
      for (std::size_t k = 0; k < n2; ++k) row[k] += down * first[k] + up * last[k];
    }
  }
  // The same along every row (second axis).
  void add_end_lines_second(std::size_t n1, std::size_t n2, double sign) {
    for (std::size_t i = 0; i < n1; ++i) {
      double* row = data.get() + i * n2;
      const double first = sign * row[0], last = sign * row[n2 - 1];
      for (std::size_t k = 1; k + 1 < n2; ++k)
        row[k] += ramps2.down[k] * first + ramps2.up[k] * last;
    }
  }
  // The sine transform of the rows between the ends, scaled (first axis).
  void sines_first(std::size_t n1, std::size_t n2, double scale) {
    if (!along1) return;
    fftw_execute(along1);
    double* v = data.get();
    for (std::size_t p = n2; p < (n1 - 1) * n2; ++p) v[p] *= scale;
  }
  void sines_second(std::size_t n1, std::size_t n2, double scale) {
    if (!along2) return;
    fftw_execute(along2);
    for (std::size_t i = 0; i < n1; ++i) {
      double* row = data.get() + i * n2;
      for (std::size_t k = 1; k + 1 < n2; ++k) row[k] *= scale;
    }
  }

  ~Plans() {
    const std::lock_guard lock(planner_mutex());
    if (along1) fftw_destroy_plan(along1);
    if (along2) fftw_destroy_plan(along2);
  }
  Plans(const Plans&) = delete;
  Plans& operator=(const Plans&) = delete;
};

LatticeSineTransform::LatticeSineTransform(std::size_t n1, std::size_t n2) : n1_(n1), n2_(n2) {
  require(n1 >= 2 && n2 >= 2, "LatticeSineTransform needs at least 2 x 2 nodes");
  plans_ = std::make_unique<Plans>(n1, n2);
}
LatticeSineTransform::LatticeSineTransform(const LatticeSineTransform& other)
    : LatticeSineTransform(other.n1_, other.n2_) {}
LatticeSineTransform& LatticeSineTransform::operator=(const LatticeSineTransform& other) {
  if (this != &other) *this = LatticeSineTransform(other.n1_, other.n2_);
  return *this;
}
LatticeSineTransform::~LatticeSineTransform() = default;
LatticeSineTransform::LatticeSineTransform(LatticeSineTransform&&) noexcept = default;
LatticeSineTransform& LatticeSineTransform::operator=(LatticeSineTransform&&) noexcept = default;

std::span<double> LatticeSineTransform::values() {
  return {plans_->data.get(), n1_ * n2_};
}

void LatticeSineTransform::forward() {
  // Along each axis: the end nodes are the hat weights; the nodes between, less the line
  // through the ends, are sine coefficients.
  plans_->add_end_lines_first(n1_, n2_, -1);
  plans_->sines_first(n1_, n2_, 1.0 / static_cast<double>(n1_ - 1));
  plans_->add_end_lines_second(n1_, n2_, -1);
  plans_->sines_second(n1_, n2_, 1.0 / static_cast<double>(n2_ - 1));
}

void LatticeSineTransform::inverse_second_axis() {
  plans_->sines_second(n1_, n2_, 0.5);
  plans_->add_end_lines_second(n1_, n2_, 1);
}

void LatticeSineTransform::inverse_first_axis() {
  plans_->sines_first(n1_, n2_, 0.5);
  plans_->add_end_lines_first(n1_, n2_, 1);
}

void LatticeSineTransform::inverse() {
  inverse_second_axis();
  inverse_first_axis();
}

}  // namespace zorvatools
