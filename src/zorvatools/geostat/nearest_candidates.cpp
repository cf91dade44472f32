#include "zorvatools/geostat/nearest_candidates.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zorvatools {

namespace {

using Candidate = NearestCandidates::Candidate;

constexpr std::int64_t kEmpty = std::numeric_limits<std::int64_t>::max();  // after any distance

// (distance, index) order, compared without branches: distances are never negative, so their
// bit patterns order like their values.
bool before(const Candidate& a, const Candidate& b) {
  const auto da = std::bit_cast<std::uint64_t>(a.distance2);
  const auto db = std::bit_cast<std::uint64_t>(b.distance2);
  return (da < db) | ((da == db) & (a.index < b.index));
}

#if defined(__x86_64__)

bool has_512_bit_vectors() {
  static const bool has = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  return has;
}

// Lanes of `key`/`index` that rank ahead of the point (new_key, new_index).
__attribute__((target("avx512f,avx512dq"))) inline __mmask8 ahead_of(__m512i key, __m512i index,
                                                                     __m512i new_key,
                                                                     __m512i new_index) {
  const __mmask8 nearer = _mm512_cmplt_epi64_mask(key, new_key);
  const __mmask8 tied =
      _mm512_mask_cmplt_epi64_mask(_mm512_cmpeq_epi64_mask(key, new_key), index, new_index);
  return _kor_mask8(nearer, tied);
}

// Inserts the points in turn into the 16 sorted lanes (two halves per field), kept in registers
// throughout. For each point, lane by lane: a lane ranking ahead of it keeps its entry, the lane
// whose left neighbour ranks ahead (and itself does not) takes the point, every later lane takes
// its left neighbour's entry; lanes from `limit` on are emptied, so the last entry of a full list
// drops out, or the point itself when it would rank beyond.
__attribute__((target("avx512f,avx512dq"))) void insert_into_lanes(
    std::int64_t* key, std::int64_t* index, std::int64_t* where, const Candidate* points,
    std::size_t count, std::size_t limit) {
  __m512i k[2] = {_mm512_load_si512(key), _mm512_load_si512(key + 8)};
  __m512i i[2] = {_mm512_load_si512(index), _mm512_load_si512(index + 8)};
  __m512i w[2] = {_mm512_load_si512(where), _mm512_load_si512(where + 8)};
  const unsigned live = limit >= NearestCandidates::kLanes ? 0xffffu : (1u << limit) - 1u;
  const __mmask8 live_half[2] = {static_cast<__mmask8>(live), static_cast<__mmask8>(live >> 8)};
  const __m512i empty = _mm512_set1_epi64(kEmpty);
  // Left of lane 0 sits an entry ahead of every point.
  const __m512i ahead_all = _mm512_set1_epi64(std::numeric_limits<std::int64_t>::min());
  for (std::size_t p = 0; p < count; ++p) {
    const __m512i new_key = _mm512_set1_epi64(std::bit_cast<std::int64_t>(points[p].distance2));
    const __m512i new_index = _mm512_set1_epi64(points[p].index);
    const __m512i new_where = _mm512_set1_epi64(points[p].where);
    // Lane j of a shifted half holds lane j - 1 of the whole list. (The zero-masked form with
    // every lane kept: the plain one trips a false uninitialised warning in GCC 12's header.)
    const __m512i k_left[2] = {_mm512_maskz_alignr_epi64(0xff, k[0], ahead_all, 7),
                               _mm512_maskz_alignr_epi64(0xff, k[1], k[0], 7)};
    const __m512i i_left[2] = {_mm512_maskz_alignr_epi64(0xff, i[0], i[0], 7),
                               _mm512_maskz_alignr_epi64(0xff, i[1], i[0], 7)};
    const __m512i w_left[2] = {_mm512_maskz_alignr_epi64(0xff, w[0], w[0], 7),
                               _mm512_maskz_alignr_epi64(0xff, w[1], w[0], 7)};
    for (int h = 0; h < 2; ++h) {
      const __mmask8 stays = ahead_of(k[h], i[h], new_key, new_index);
      const __mmask8 left_stays = ahead_of(k_left[h], i_left[h], new_key, new_index);
      k[h] =
          _mm512_mask_mov_epi64(_mm512_mask_mov_epi64(k_left[h], left_stays, new_key), stays, k[h]);
      k[h] = _mm512_mask_mov_epi64(empty, live_half[h], k[h]);
      i[h] = _mm512_mask_mov_epi64(_mm512_mask_mov_epi64(i_left[h], left_stays, new_index), stays,
                                   i[h]);
      w[h] = _mm512_mask_mov_epi64(_mm512_mask_mov_epi64(w_left[h], left_stays, new_where), stays,
                                   w[h]);
    }
  }
  for (int h = 0; h < 2; ++h) {
    _mm512_store_si512(key + 8 * h, k[h]);
    _mm512_store_si512(index + 8 * h, i[h]);
    _mm512_store_si512(where + 8 * h, w[h]);
  }
}

#else

bool has_512_bit_vectors() {
  return false;
}

#endif

}  // namespace

void NearestCandidates::reset(std::size_t limit, bool vector_lanes) {
  limit_ = limit;
  count_ = 0;
  first_ = 0;
  in_lanes_ = vector_lanes && limit <= kLanes && has_512_bit_vectors();
  if (in_lanes_) {
    lanes_.key.fill(kEmpty);
  } else {
    sorted_.clear();
  }
}

Candidate NearestCandidates::at(std::size_t k) const {
  if (in_lanes_) {
    return {std::bit_cast<double>(lanes_.key[k]), static_cast<std::uint32_t>(lanes_.where[k]),
            static_cast<std::uint32_t>(lanes_.index[k])};
  }
  return sorted_[k];
}

void NearestCandidates::offer(const Candidate* points, std::size_t count) {
  if (count == 0 || limit_ == 0) return;
#if defined(__x86_64__)
  if (in_lanes_) {
    insert_into_lanes(lanes_.key.data(), lanes_.index.data(), lanes_.where.data(), points, count,
                      limit_);
    // Until the list is full every point enters; from then on the count stays.
    count_ = std::min(count_ + count, limit_);
    return;
  }
#endif
  for (std::size_t p = 0; p < count; ++p) insert_sorted(points[p]);
}

void NearestCandidates::insert_sorted(const Candidate& point) {
  const bool was_full = full();
  if (was_full && !before(point, sorted_[count_ - 1])) return;  // else the last gives up its slot
  if (!was_full) {
    sorted_.emplace_back();
    ++count_;
  }
  // Insertion from the back: every point the new one precedes moves down one slot.
  std::size_t k = count_ - 1;
  for (; k > first_ && before(point, sorted_[k - 1]); --k) sorted_[k] = sorted_[k - 1];
  sorted_[k] = point;
}

}  // namespace zorvatools
