#include "zorvatools/geostat/chacha12.hpp"

#include <bit>

namespace zorvatools {

namespace {

// "expand 32-byte k" read as little-endian words.
constexpr std::array<std::uint32_t, 4> kSigma = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

inline void quarter_round(ChaChaBlock& x, int a, int b, int c, int d) {
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 16);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 12);
  x[a] += x[b];
  x[d] = std::rotl(x[d] ^ x[a], 8);
  x[c] += x[d];
  x[b] = std::rotl(x[b] ^ x[c], 7);
}

}  // namespace

ChaChaKey chacha_key_from_seed(std::uint64_t seed) {
  constexpr std::uint64_t kMultiplier = 6364136223846793005ULL;
  constexpr std::uint64_t kIncrement = 11634580027462260723ULL;
  ChaChaKey key{};
  std::uint64_t state = seed;
  for (auto& word : key) {
    // The state advances before each output, so the first output already uses seed * mul + inc.
    state = state * kMultiplier + kIncrement;
    const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto rotation = static_cast<int>(state >> 59);
    word = std::rotr(xorshifted, rotation);
  }
  return key;
}

ChaChaBlock chacha12_block(const ChaChaBlock& input) {
  ChaChaBlock x = input;
  for (int double_round = 0; double_round < 6; ++double_round) {
    quarter_round(x, 0, 4, 8, 12);
    quarter_round(x, 1, 5, 9, 13);
    quarter_round(x, 2, 6, 10, 14);
    quarter_round(x, 3, 7, 11, 15);
    quarter_round(x, 0, 5, 10, 15);
    quarter_round(x, 1, 6, 11, 12);
    quarter_round(x, 2, 7, 8, 13);
    quarter_round(x, 3, 4, 9, 14);
  }
  for (std::size_t j = 0; j < x.size(); ++j) x[j] += input[j];
  return x;
}

ChaCha12::ChaCha12(const ChaChaKey& key) : key_(key) {}

ChaChaBlock ChaCha12::block_input(std::uint64_t counter) const {
  ChaChaBlock state{};
  for (std::size_t k = 0; k < kSigma.size(); ++k) state[k] = kSigma[k];
  for (std::size_t k = 0; k < key_.size(); ++k) state[4 + k] = key_[k];
  state[12] = static_cast<std::uint32_t>(counter);
  state[13] = static_cast<std::uint32_t>(counter >> 32);
  state[14] = 0;  // stream id, low and high words
  state[15] = 0;
  return state;
}

void ChaCha12::refill() {
  buffer_ = chacha12_block(block_input(next_block_));
  ++next_block_;
  next_word_ = 0;
}

void ChaCha12::seek_block(std::uint64_t counter) {
  next_block_ = counter;
  next_word_ = kBlockWords;
}

std::uint64_t ChaCha12::word_position() const {
  return next_block_ * kBlockWords - (kBlockWords - next_word_);
}

}  // namespace zorvatools
