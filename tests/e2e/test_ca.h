// Throwaway certificates made with the openssl command for the HTTPS cases:
// a CA, a server certificate it signed for 127.0.0.1, and a self-signed
// certificate nobody trusts.
#pragma once

#include <filesystem>

namespace tolvex::e2e {

struct TestCertificates {
  std::filesystem::path ca_cert;
  std::filesystem::path server_cert, server_key;            // signed by the CA
  std::filesystem::path self_signed_cert, self_signed_key;  // trusted by nobody
};

// Throws std::runtime_error when openssl is missing or fails.
TestCertificates MakeTestCertificates(const std::filesystem::path& dir);

}  // namespace tolvex::e2e
