#pragma once
// The ChaCha stream generator with 12 rounds: a 32-byte key, stream 0 and a 64-bit block counter
// from 0. Its 32-bit output words are used strictly in order; a 64-bit draw takes two
// consecutive words, the first as the low half.

#include <array>
#include <cstdint>

namespace zorvatools {

using ChaChaKey = std::array<std::uint32_t, 8>;
using ChaChaBlock = std::array<std::uint32_t, 16>;

// Eight PCG-32 outputs of a 64-bit seed, each taken as one little-endian key word.
[[nodiscard]] ChaChaKey chacha_key_from_seed(std::uint64_t seed);

// The block function with 12 rounds: input state in, keystream block out.
[[nodiscard]] ChaChaBlock chacha12_block(const ChaChaBlock& input);

class ChaCha12 {
 public:
  explicit ChaCha12(const ChaChaKey& key);
  [[nodiscard]] static ChaCha12 from_seed(std::uint64_t seed) {
    return ChaCha12(chacha_key_from_seed(seed));
  }

  // The input state of block `counter`: constants, key, counter (low word first), stream 0.
  [[nodiscard]] ChaChaBlock block_input(std::uint64_t counter) const;

  std::uint32_t next_u32() {
    if (next_word_ == kBlockWords) refill();
    return buffer_[next_word_++];
  }
  std::uint64_t next_u64() {
    const std::uint64_t low = next_u32();
    const std::uint64_t high = next_u32();
    return (high << 32) | low;
  }

  // Positions the stream at the first word of block `counter`.
  void seek_block(std::uint64_t counter);
  // Index of the next word in the stream (16 words per block).
  [[nodiscard]] std::uint64_t word_position() const;

 private:
  static constexpr unsigned kBlockWords = 16;
  void refill();

  ChaChaKey key_;
  std::uint64_t next_block_ = 0;  // counter of the block the next refill computes
  ChaChaBlock buffer_{};
  unsigned next_word_ = kBlockWords;
};

}  // namespace zorvatools
