// Adds a DER or PEM certificate to the local machine's ROOT store, so that
// WinINet under Wine trusts the test server's certificate authority.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: import_root_ca CERTFILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.empty()) {
    std::fprintf(stderr, "cannot read the certificate\n");
    return 1;
  }
  std::vector<BYTE> der(file.begin(), file.end());
  DWORD size = 0;
  // PEM text is turned into DER; DER passes through.
  if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER,
                           nullptr, &size, nullptr, nullptr)) {
    der.resize(size);
    CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
  }
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (store == nullptr) {
    std::fprintf(stderr, "cannot open the ROOT store: %lu\n", GetLastError());
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    std::fprintf(stderr, "cannot add the certificate: 0x%08lX\n", error);
    return 1;
  }
  std::printf("certificate added to the machine ROOT store\n");
  return 0;
}
