// SPDX-License-Identifier: Apache-2.0
#pragma once

// The 5 × 5 median of 8-bit pixels as a comparator network, for vector kernels: no OpenCV, no standard
// library functions (the kernels' translation units are built for several instruction sets).
//
// Each of the window's five columns is sorted first (kColumnSort, shared by the five windows a column
// is in); then kMedianNetwork, over the 25 values with wire c·5 + r holding row r of column c, leaves the
// median on wire 12. It is Batcher's odd–even merge sort for 25 wires with the comparators dropped that
// never exchange once the columns are sorted and those that do not lead to wire 12; a test proves it on
// every input with sorted columns (0–1 principle).

#include <cstddef>
#include <cstdint>
#include <utility>

namespace TamoHandEye {
namespace Detect {

inline constexpr std::uint8_t kColumnSort[9][2] = {{0, 1}, {3, 4}, {2, 4}, {2, 3}, {1, 4},
                                                   {0, 3}, {0, 2}, {1, 3}, {1, 2}};

inline constexpr std::uint8_t kMedianNetwork[][2] = {
    {4, 5},   {14, 15}, {5, 7},   {8, 10},  {9, 11},  {12, 14}, {5, 6},   {9, 10},  {13, 14}, {0, 4},   {1, 5},
    {2, 6},   {8, 12},  {10, 14}, {11, 15}, {16, 20}, {17, 21}, {18, 22}, {19, 23}, {2, 4},   {3, 5},   {10, 12},
    {11, 13}, {18, 20}, {19, 21}, {1, 2},   {3, 4},   {5, 6},   {9, 10},  {11, 12}, {13, 14}, {17, 18}, {19, 20},
    {21, 22}, {0, 8},   {1, 9},   {2, 10},  {3, 11},  {4, 12},  {5, 13},  {6, 14},  {7, 15},  {4, 8},   {5, 9},
    {6, 10},  {7, 11},  {20, 24}, {2, 4},   {3, 5},   {6, 8},   {7, 9},   {10, 12}, {11, 13}, {22, 24}, {1, 2},
    {3, 4},   {5, 6},   {7, 8},   {9, 10},  {11, 12}, {13, 14}, {21, 22}, {23, 24}, {0, 16},  {1, 17},  {2, 18},
    {3, 19},  {4, 20},  {5, 21},  {6, 22},  {7, 23},  {8, 24},  {8, 16},  {9, 17},  {10, 18}, {11, 19}, {12, 20},
    {13, 21}, {6, 10},  {7, 11},  {12, 16}, {13, 17}, {10, 12}, {11, 13}, {11, 12}};

/// The wire the median ends on.
inline constexpr int kMedianWire = 12;

/// Vector operations of one instruction set: `V` holding `kLanes` pixels, Load, Store, Min, Max.
template <class Ops, std::size_t... I>
inline void ApplyNetwork(typename Ops::V* p, const std::uint8_t (*network)[2], std::index_sequence<I...>) {
  ((void)(Ops::Exchange(p[network[I][0]], p[network[I][1]])), ...);
}

/// Sorts each column of five rows (`rows[k]`, `n` pixels each, readable `Ops::kLanes` past `n`) into
/// `sorted[k]`, smallest in sorted[0].
template <class Ops>
inline void SortColumns(const std::uint8_t* const rows[5], std::uint8_t* const sorted[5], std::size_t n) {
  for (std::size_t x = 0; x < n; x += Ops::kLanes) {
    typename Ops::V v[5];
    for (int k = 0; k < 5; ++k) v[k] = Ops::Load(rows[k] + x);
    ApplyNetwork<Ops>(v, kColumnSort, std::make_index_sequence<9>());
    for (int k = 0; k < 5; ++k) Ops::Store(sorted[k] + x, v[k]);
  }
}

/// One row of medians: `out[x]` from columns x … x + 4 of `sorted`, for x below `width` (at least
/// `Ops::kLanes`; the last vector overlaps the one before).
template <class Ops>
inline void MedianRow(const std::uint8_t* const sorted[5], std::uint8_t* out, std::size_t width) {
  constexpr std::size_t kWires = sizeof kMedianNetwork / sizeof kMedianNetwork[0];
  for (std::size_t x = 0; x < width; x += Ops::kLanes) {
    const std::size_t at = x + Ops::kLanes <= width ? x : width - Ops::kLanes;
    typename Ops::V p[25];
    for (int c = 0; c < 5; ++c) {
      for (int r = 0; r < 5; ++r) p[c * 5 + r] = Ops::Load(sorted[r] + at + static_cast<std::size_t>(c));
    }
    ApplyNetwork<Ops>(p, kMedianNetwork, std::make_index_sequence<kWires>());
    Ops::Store(out + at, p[kMedianWire]);
  }
}

}  // namespace Detect
}  // namespace TamoHandEye
