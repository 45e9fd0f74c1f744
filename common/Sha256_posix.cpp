#include <openssl/evp.h>

#include <stdexcept>

#include "common/Sha256.h"

Sha256Digest Sha256Of(std::string_view data) {
  Sha256Digest digest{};
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
      size != digest.size()) {
    throw std::runtime_error("libcrypto could not compute the file's SHA-256");
  }
  return digest;
}
