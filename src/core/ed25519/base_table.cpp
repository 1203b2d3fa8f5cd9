#include "base_table.hpp"

#include "fe51.hpp"

namespace fyrn::ed25519 {
namespace {

constexpr Fe51 kD2 = {{0x69b9426b2f159, 0x35050762add7a, 0x3cf44c0038052, 0x6738cc7407977, 0x2406d9dc56dff}};
constexpr Fe51 kBaseX = {{0x62d608f25d51a, 0x412a4b4f6592a, 0x75b7171a4b31d, 0x1ff60527118fe, 0x216936d3cd6e5}};
constexpr Fe51 kBaseY = {{0x6666666666658, 0x4cccccccccccc, 0x1999999999999, 0x3333333333333, 0x6666666666666}};

// Point is (X : Y : Z : T) in extended coordinates, x = X/Z, y = Y/Z, xy = T/Z.
struct Point {
  Fe51 x, y, z, t;
};

// add is the complete addition on -x^2 + y^2 = 1 + d x^2 y^2 (it also doubles).
void add(Point& r, const Point& p, const Point& q) {
  Fe51 a, b, c, d, e, f, g, h, t;
  fe51_sub(a, p.y, p.x);
  fe51_sub(t, q.y, q.x);
  fe51_mul(a, a, t);
  fe51_add(b, p.y, p.x);
  fe51_add(t, q.y, q.x);
  fe51_mul(b, b, t);
  fe51_mul(c, p.t, q.t);
  fe51_mul(c, c, kD2);
  fe51_mul(d, p.z, q.z);
  fe51_add(d, d, d);
  fe51_sub(e, b, a);
  fe51_sub(f, d, c);
  fe51_add(g, d, c);
  fe51_add(h, b, a);
  fe51_mul(r.x, e, f);
  fe51_mul(r.y, g, h);
  fe51_mul(r.z, f, g);
  fe51_mul(r.t, e, h);
}

void build(BaseTables& tables) {
  Point step{kBaseX, kBaseY, {{1, 0, 0, 0, 0}}, {}};
  fe51_mul(step.t, kBaseX, kBaseY);
  for (size_t i = 0; i < kTablePositions; ++i) {
    Point row[kTableEntries];
    row[0] = step;  // 16^i B
    for (size_t j = 1; j < kTableEntries; ++j) add(row[j], row[j - 1], step);
    add(step, row[7], row[7]);  // 16^(i+1) B

    // One inversion for the row's eight Z (Montgomery's trick).
    Fe51 prefix[kTableEntries];
    prefix[0] = row[0].z;
    for (size_t j = 1; j < kTableEntries; ++j) fe51_mul(prefix[j], prefix[j - 1], row[j].z);
    Fe51 inv;
    fe51_invert(inv, prefix[kTableEntries - 1]);
    for (size_t j = kTableEntries; j-- > 0;) {
      Fe51 zinv = inv;
      if (j > 0) {
        fe51_mul(zinv, inv, prefix[j - 1]);
        fe51_mul(inv, inv, row[j].z);
      }
      Fe51 x, y, coord[3];
      fe51_mul(x, row[j].x, zinv);
      fe51_mul(y, row[j].y, zinv);
      fe51_add(coord[0], y, x);
      fe51_sub(coord[1], y, x);
      fe51_mul(coord[2], x, y);
      fe51_mul(coord[2], coord[2], kD2);

      const size_t s = i / 8, k = i % 8;
      for (size_t c = 0; c < 3; ++c) {
        uint64_t limbs[5];
        fe51_to_limbs52(limbs, coord[c]);
        for (size_t l = 0; l < 5; ++l) {
          tables.by_position[((i * 3 + c) * 5 + l) * 8 + j] = limbs[l];
          tables.by_lane[(((s * 8 + j) * 3 + c) * 5 + l) * 8 + k] = limbs[l];
        }
      }
    }
  }
}

}  // namespace

const BaseTables& base_tables() {
  static BaseTables tables;  // static storage: nothing to allocate on the signing path
  static const bool built = (build(tables), true);
  (void)built;
  return tables;
}

}  // namespace fyrn::ed25519
