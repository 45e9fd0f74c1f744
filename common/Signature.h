// Checks a detached signature as engineering makes one with openssl: ECDSA
// over P-256 with SHA-256 (`openssl dgst -sha256 -sign KEY -out FILE.sig
// FILE`), checked with the public key `openssl ec -pubout` writes (PEM,
// SubjectPublicKeyInfo). The system's own crypto does the work: libcrypto on
// Linux, CNG and crypt32 on Windows; one implementation file per platform,
// in the library tarvex_digest.
#pragma once

#include <string>
#include <string_view>

enum class SignatureVerdict {
  kValid,
  // The signature is not one the key's owner made over these bytes.
  kInvalid,
  // The key is no PEM public key of ECDSA P-256.
  kBadKey,
};

// `signature` is DER (an ECDSA-Sig-Value), as openssl writes it.
SignatureVerdict VerifySignature(std::string_view data, std::string_view signature,
                                 std::string_view public_key_pem);
