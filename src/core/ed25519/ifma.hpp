// ifma.hpp: the signing backend on AVX-512 IFMA (ifma.cpp, compiled for that
// instruction set only). Call nothing here unless the CPU has AVX-512 F, VL
// and IFMA with the vector state enabled by the OS (ed25519.cpp checks).
#pragma once

#include <cstddef>
#include <cstdint>

#include "fyrn/ed25519.hpp"

namespace fyrn::ed25519::ifma {

// compiled is false where the backend is left out of the build (other
// architectures, or the sodium-only build option); nothing else here may then
// be called.
extern const bool compiled;

// sign and sign_many are the backend's halves of ed25519::sign / sign_many.
// sign_many takes any n: groups of up to eight go through the batch kernel.
void sign(uint8_t out[64], const SigningKey& key, const uint8_t* msg, size_t msg_len);
void sign_many(uint8_t (*out)[64], const SignInput* in, size_t n);

// base_mul_single writes the encoding of r*B (r < 2^255, little-endian) with
// the one-scalar kernel; base_mul_batch does n <= 8 scalars with the
// eight-lane kernel.
void base_mul_single(uint8_t out[32], const uint8_t r[32]);
void base_mul_batch(uint8_t (*out)[32], const uint8_t (*r)[32], size_t n);

// FieldOp and field_op expose the eight-lane field to tests: limb j of lane
// i at [j][i], radix 2^52. Inputs must meet the operation's bounds (see
// ifma.cpp); out is in the form the operation returns.
enum class FieldOp : uint8_t { Add, Sub, Mul, Square, Carry };
void field_op(FieldOp op, uint64_t out[5][8], const uint64_t a[5][8], const uint64_t b[5][8]);

}  // namespace fyrn::ed25519::ifma
