// order_id_functions.cpp: compute_order_id, the raw SHA-256 of a caller's
// complete identifier preimage.
#include <sodium.h>

#include <string>

#include "binder.hpp"
#include "convert.hpp"
#include "errors.hpp"
#include "functions.hpp"
#include "fyrn/base58.hpp"

namespace fyrn::py {
FYRN_PY_FUNCTION(compute_order_id) {
  (void)module;
  return guarded([&]() -> PyObject* {
    BoundArgs<kComputeOrderId> bound;
    std::string_view bytes;
    if (!bind_args(args, nargs, kwnames, bound) || !to_bytes(bound[0], "wincode_bytes", bytes)) {
      return nullptr;
    }
    // The caller supplies the whole preimage; no canonicalisation happens here.
    uint8_t digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return text_to_py(fyrn::base58::encode_32(digest));
  });
}

}  // namespace fyrn::py
