#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/Sha256.h"
#include "common/Signature.h"
#include "common/WideText_win32.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING;
// The curve's parameters in a SubjectPublicKeyInfo: the DER of the object
// identifier of P-256 (1.2.840.10045.3.1.7).
constexpr BYTE kP256Parameters[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
// P-256's coordinates and each half of a signature are this long.
constexpr std::size_t kP256Bytes = 32;

// What crypt32 allocates for a decoded object is freed with LocalFree.
template <typename T>
class Decoded {
 public:
  Decoded(LPCSTR type, const BYTE* der, std::size_t size) {
    DWORD decoded_size = 0;
    if (!CryptDecodeObjectEx(kEncoding, type, der, static_cast<DWORD>(size),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &value_, &decoded_size)) {
      value_ = nullptr;
    }
  }
  ~Decoded() {
    if (value_ != nullptr) LocalFree(value_);
  }
  Decoded(const Decoded&) = delete;
  Decoded& operator=(const Decoded&) = delete;
  T* get() const { return value_; }

 private:
  T* value_ = nullptr;
};

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (handle_ != nullptr) BCryptDestroyKey(handle_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  BCRYPT_KEY_HANDLE* out() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

// The DER between the PEM's header and footer lines.
std::vector<BYTE> DerOfPem(std::string_view pem) {
  const std::wstring text = Wide(pem);
  DWORD size = 0;
  if (!CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryW(text.c_str(), static_cast<DWORD>(text.size()),
                            CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
    return {};
  }
  der.resize(size);
  return der;
}

bool IsP256(const CERT_PUBLIC_KEY_INFO& info) {
  const CRYPT_OBJID_BLOB& parameters = info.Algorithm.Parameters;
  return info.Algorithm.pszObjId != nullptr &&
         std::strcmp(info.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
         parameters.cbData == sizeof kP256Parameters &&
         std::memcmp(parameters.pbData, kP256Parameters, sizeof kP256Parameters) == 0;
}

bool ImportPublicKey(std::string_view pem, KeyHandle& key) {
  const std::vector<BYTE> der = DerOfPem(pem);
  if (der.empty()) return false;
  const Decoded<CERT_PUBLIC_KEY_INFO> info(X509_PUBLIC_KEY_INFO, der.data(), der.size());
  if (info.get() == nullptr || !IsP256(*info.get())) return false;
  return CryptImportPublicKeyInfoEx2(kEncoding, info.get(), 0, nullptr, key.out()) != FALSE;
}

// crypt32 gives r and s as little-endian integers without leading zeros;
// BCrypt takes them big-endian, each the curve's length, one after the other.
void PutBigEndian(const CRYPT_UINT_BLOB& number, BYTE* into) {
  for (DWORD i = 0; i < number.cbData; ++i) into[kP256Bytes - 1 - i] = number.pbData[i];
}

bool SignatureHalves(std::string_view der, std::vector<BYTE>& halves) {
  const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
  const Decoded<CERT_ECC_SIGNATURE> signature(X509_ECC_SIGNATURE, bytes, der.size());
  if (signature.get() == nullptr || signature.get()->r.cbData > kP256Bytes ||
      signature.get()->s.cbData > kP256Bytes) {
    return false;
  }
  halves.assign(2 * kP256Bytes, 0);
  PutBigEndian(signature.get()->r, halves.data());
  PutBigEndian(signature.get()->s, halves.data() + kP256Bytes);
  return true;
}

}  // namespace

SignatureVerdict VerifySignature(std::string_view data, std::string_view signature,
                                 std::string_view public_key_pem) {
  KeyHandle key;
  if (!ImportPublicKey(public_key_pem, key)) return SignatureVerdict::kBadKey;
  std::vector<BYTE> halves;
  if (!SignatureHalves(signature, halves)) return SignatureVerdict::kInvalid;
  Sha256Digest digest = Sha256Of(data);
  const NTSTATUS status =
      BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                            halves.data(), static_cast<ULONG>(halves.size()), 0);
  return status == 0 ? SignatureVerdict::kValid : SignatureVerdict::kInvalid;
}
