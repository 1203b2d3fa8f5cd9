// fyrn/error.hpp: the library's error type and the value-or-error result.
//
// Core operations report expected failures as values (`Result<T>`), never by
// throwing. Broken internal invariants (a clock before 1970, a failing OS random
// source) are not errors: they throw `fyrn::Panic`, which the Python shell turns
// into its panic exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace fyrn {

// ErrorKind lists the fifteen failure kinds, in their fixed order.
enum class ErrorKind : uint8_t {
  InvalidInstruction = 0,
  LegacyWithdrawal,
  InvalidBase58,
  InvalidKeyLength,
  KeypairMismatch,
  InvalidHashLength,
  InvalidSignatureLength,
  InvalidSignatureDomain,
  InvalidNonce,
  SigningFailed,
  EmptyOrders,
  SignatureCountMismatch,
  InvalidOrder,
  Serialization,
  Json,
};

// Error is one failure: its kind plus the payload its display text needs.
class Error {
 public:
  // The factories build one error of the kind they name, with its payload;
  // the length kinds with a fixed expectation (hash 32, signature 64) take only
  // the length found.
  static Error invalid_instruction(std::string reason) { return Error(ErrorKind::InvalidInstruction, std::move(reason)); }
  static Error legacy_withdrawal() { return Error(ErrorKind::LegacyWithdrawal); }
  static Error invalid_base58(std::string description) { return Error(ErrorKind::InvalidBase58, std::move(description)); }
  static Error invalid_key_length(size_t expected, size_t got) { return Error(ErrorKind::InvalidKeyLength, {}, expected, got); }
  static Error keypair_mismatch() { return Error(ErrorKind::KeypairMismatch); }
  static Error invalid_hash_length(size_t got) { return Error(ErrorKind::InvalidHashLength, {}, 32, got); }
  static Error invalid_signature_length(size_t got) { return Error(ErrorKind::InvalidSignatureLength, {}, 64, got); }
  static Error invalid_signature_domain(std::string input) { return Error(ErrorKind::InvalidSignatureDomain, std::move(input)); }
  static Error invalid_nonce(std::string input) { return Error(ErrorKind::InvalidNonce, std::move(input)); }
  static Error signing_failed(std::string reason) { return Error(ErrorKind::SigningFailed, std::move(reason)); }
  static Error empty_orders() { return Error(ErrorKind::EmptyOrders); }
  static Error signature_count_mismatch(size_t expected, size_t got) { return Error(ErrorKind::SignatureCountMismatch, {}, expected, got); }
  static Error invalid_order(std::string reason) { return Error(ErrorKind::InvalidOrder, std::move(reason)); }
  static Error serialization(std::string description) { return Error(ErrorKind::Serialization, std::move(description)); }
  static Error json(std::string description) { return Error(ErrorKind::Json, std::move(description)); }

  // kind returns which failure this is.
  ErrorKind kind() const { return kind_; }
  // text returns the text payload (empty for kinds without one).
  const std::string& text() const { return text_; }
  // expected and got return the two counts of the length and count kinds (0
  // for the others).
  size_t expected() const { return expected_; }
  size_t got() const { return got_; }

  // display renders the fixed display text of this error. Never fails.
  std::string display() const;

  bool operator==(const Error&) const = default;

 private:
  explicit Error(ErrorKind kind, std::string text = {}, size_t expected = 0, size_t got = 0)
      : kind_(kind), text_(std::move(text)), expected_(expected), got_(got) {}

  ErrorKind kind_;
  std::string text_;
  size_t expected_;
  size_t got_;
};

// Panic is thrown for violated internal invariants only; never for bad input.
class Panic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Result<T> holds either a T or an Error.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  // ok reports whether a value is held.
  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // value returns the value; only valid when ok().
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // error returns the failure; only valid when !ok().
  const Error& error() const& { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, Error> v_;
};

// Status is the result of an operation that yields nothing on success.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}

  // ok reports success.
  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // error returns the failure; only meaningful when !ok().
  const Error& error() const& { return error_; }
  Error&& error() && { return std::move(error_); }

 private:
  Error error_ = Error::empty_orders();  // unused while ok
  bool failed_ = false;
};

}  // namespace fyrn
