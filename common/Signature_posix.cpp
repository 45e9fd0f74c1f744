#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <string>

#include "common/Signature.h"

namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// Only the curve engineering signs with: a key of another kind or curve is
// a wrong file, not a signature that fails.
bool IsP256(EVP_PKEY* key) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
  char group[64] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     &length) != 1) {
    return false;
  }
  return std::string(group, length) == "prime256v1";
}

Key ReadPublicKey(std::string_view pem) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return nullptr;
  Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  if (!key || !IsP256(key.get())) return nullptr;
  return key;
}

}  // namespace

SignatureVerdict VerifySignature(std::string_view data, std::string_view signature,
                                 std::string_view public_key_pem) {
  const Key key = ReadPublicKey(public_key_pem);
  if (!key) return SignatureVerdict::kBadKey;
  std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
  if (!context ||
      EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
    return SignatureVerdict::kInvalid;
  }
  const auto* signature_bytes = reinterpret_cast<const unsigned char*>(signature.data());
  const auto* data_bytes = reinterpret_cast<const unsigned char*>(data.data());
  // 1 is a signature that verifies; 0 one that does not, a negative value
  // one that is not even DER. Either way the job is not engineering's.
  return EVP_DigestVerify(context.get(), signature_bytes, signature.size(), data_bytes,
                          data.size()) == 1
             ? SignatureVerdict::kValid
             : SignatureVerdict::kInvalid;
}
