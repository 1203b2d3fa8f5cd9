// base_table.hpp: the multiples j * 16^i * B of the base point (j = 1..8,
// i = 0..63) that fixed-base multiplication adds up, with no doublings, from
// the signed radix-16 digits of a scalar. Each entry is (y+x, y-x, 2dxy) of
// the affine point, every coordinate canonical in radix 2^52 (five limbs,
// limbs 0..3 < 2^52, limb 4 < 2^47). Built once, on first use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fyrn::ed25519 {

inline constexpr size_t kTablePositions = 64;
inline constexpr size_t kTableEntries = 8;    // j = 1..8
inline constexpr size_t kEntryLimbs = 3 * 5;  // three coordinates of five limbs
inline constexpr size_t kTableWords = kTablePositions * kTableEntries * kEntryLimbs;

// BaseTables holds the same entries in two orders, one for each kernel.
//   by_position: word [((i * 3 + c) * 5 + l) * 8 + (j - 1)]: limb l of
//     coordinate c of entry j at position i. One 64-byte row holds a limb of
//     all eight entries of a position, so one register permute selects every
//     lane's entry when all lanes are at the same position.
//   by_lane: word [(((s * 8 + (j - 1)) * 3 + c) * 5 + l) * 8 + k]: the same
//     limb for position i = 8s + k. One row holds entry j of eight
//     consecutive positions, one per lane.
struct BaseTables {
  alignas(64) uint64_t by_position[kTableWords];
  alignas(64) uint64_t by_lane[kTableWords];
};

// base_tables returns the tables, building them on the first call (thread safe).
const BaseTables& base_tables();

}  // namespace fyrn::ed25519
