// A job signed by engineering with openssl, for the tests of the job check
// and of the faces that take a job, on Linux and under Wine alike:
//   openssl ecparam -name prime256v1 -genkey -noout -out eng-key.pem
//   openssl ec -in eng-key.pem -pubout -out eng-pub.pem
//   openssl dgst -sha256 -sign eng-key.pem -out job.json.sig job.json
#pragma once

#include <string>

namespace signed_job {

// The firmware the jobs approve: one record of 16 bytes.
constexpr char kFirmware[] = ":10000000000102030405060708090A0B0C0D0E0F78\r\n:00000001FF\r\n";

// As tarvex-flash --make-job writes one for that firmware, with a quota of 3.
constexpr char kJob[] = R"({
  "tarvex_job": 1,
  "job": "line3",
  "firmware": "fw.hex",
  "firmware_sha256": "77e410ca338b69e098f392644d3a5278bbf6870436150deae5ecebe1d1c30ebe",
  "records": 1,
  "ranges": [
    "00000000-0000000F"
  ],
  "quota": 3,
  "expires": "2026-12-31",
  "rate": 9600,
  "resends": 3
}
)";
constexpr char kJobSignatureHex[] =
    "3045022100f59b5e843d7c899bf7e77a3496b23e6af22951b5bbae863a86c3bb6aa9bb323b0220297f4167a465"
    "2d6acff79d702f9f7af72d6aacb547602c3e52e4d76f64d2882c";

// The same job without an expiry.
constexpr char kOpenJob[] = R"({
  "tarvex_job": 1,
  "job": "line3",
  "firmware": "fw.hex",
  "firmware_sha256": "77e410ca338b69e098f392644d3a5278bbf6870436150deae5ecebe1d1c30ebe",
  "records": 1,
  "ranges": [
    "00000000-0000000F"
  ],
  "quota": 3,
  "expires": null,
  "rate": 9600,
  "resends": 3
}
)";
constexpr char kOpenJobSignatureHex[] =
    "304402200a581f582f5481d8e8ca9133b45907d8152838efe872e6e22870f654c778398d02202119a29f8e2813"
    "6e52b9ce03fd85ec823e730fcd2e6513fa6c56f00bbc08a0bf";

constexpr char kEngineeringKey[] = R"(-----BEGIN PUBLIC KEY-----
MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEDBhXeruCYdozbT0BSWIs5KJHtQPy
SVPRubHcl4BAd9wkv8nNFe8yAX0WrvA06lM5MXndWBHBHyslbbiizgUcuA==
-----END PUBLIC KEY-----
)";
// Another P-256 key: a job signed by someone else.
constexpr char kOtherKey[] = R"(-----BEGIN PUBLIC KEY-----
MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEqi5SdMK71D/JGenAHwkP81JwMxoK
s1PSZI+nLmJzBTT+6XBj2aqtSS5Wh/OfDLds8Lny36C8VC0HLd890R+Lzg==
-----END PUBLIC KEY-----
)";

inline std::string BytesOfHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace signed_job
