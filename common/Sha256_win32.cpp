#include <windows.h>

#include <bcrypt.h>

#include <limits>
#include <stdexcept>
#include <string>

#include "common/Sha256.h"

namespace {

// A negative NTSTATUS is an error; the others are success or information.
void Check(NTSTATUS status, const char* call) {
  if (status < 0) {
    throw std::runtime_error(std::string(call) + " failed computing the file's SHA-256");
  }
}

// The algorithm and the hash are closed however the hashing ends. The
// classic sequence rather than BCryptHash, which Windows 7 and 8 lack.
class Sha256Algorithm {
 public:
  Sha256Algorithm() {
    Check(BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
  }
  ~Sha256Algorithm() { BCryptCloseAlgorithmProvider(handle_, 0); }
  Sha256Algorithm(const Sha256Algorithm&) = delete;
  Sha256Algorithm& operator=(const Sha256Algorithm&) = delete;
  BCRYPT_ALG_HANDLE handle() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Hash {
 public:
  // The hash object's memory is BCrypt's own (no buffer given).
  explicit Hash(const Sha256Algorithm& algorithm) {
    Check(BCryptCreateHash(algorithm.handle(), &handle_, nullptr, 0, nullptr, 0, 0),
          "BCryptCreateHash");
  }
  ~Hash() { BCryptDestroyHash(handle_); }
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;

  // BCrypt takes a ULONG length: a larger input goes in pieces.
  void Add(std::string_view data) {
    constexpr std::size_t kMaxPiece = std::numeric_limits<ULONG>::max();
    do {
      const std::string_view piece = data.substr(0, kMaxPiece);
      auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data()));
      Check(BCryptHashData(handle_, bytes, static_cast<ULONG>(piece.size()), 0), "BCryptHashData");
      data.remove_prefix(piece.size());
    } while (!data.empty());
  }

  Sha256Digest Finish() {
    Sha256Digest digest{};
    Check(BCryptFinishHash(handle_, digest.data(), static_cast<ULONG>(digest.size()), 0),
          "BCryptFinishHash");
    return digest;
  }

 private:
  BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

Sha256Digest Sha256Of(std::string_view data) {
  const Sha256Algorithm algorithm;
  Hash hash(algorithm);
  hash.Add(data);
  return hash.Finish();
}
