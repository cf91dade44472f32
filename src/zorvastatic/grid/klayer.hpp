#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zorvastatic {

// The label of one k-layer, "layer_{k}" with k counted from 0 at the top.
struct KLayer {
  std::string name;
  std::size_t k = 0;

  static KLayer create(std::size_t k) { return {"layer_" + std::to_string(k), k}; }
  friend bool operator==(const KLayer&, const KLayer&) = default;
};

inline std::vector<KLayer> layer_labels(std::size_t nk) {
  std::vector<KLayer> labels;
  labels.reserve(nk);
  for (std::size_t k = 0; k < nk; ++k) labels.push_back(KLayer::create(k));
  return labels;
}

}  // namespace zorvastatic
