#include "test_ca.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace tolvex::e2e {
namespace {

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("failed: " + command);
  }
}

}  // namespace

TestCertificates MakeTestCertificates(const std::filesystem::path& dir) {
  const std::string d = dir.string() + "/";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  TestCertificates certs{dir / "ca.pem", dir / "server.pem", dir / "server.key", dir / "self.pem",
                         dir / "self.key"};
  Run("openssl req -x509" + key + " -keyout " + d + "ca.key -out " + d +
      "ca.pem -days 2 -subj '/CN=Tolvex Test CA'"
      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
  Run("openssl req" + key + " -keyout " + d + "server.key -out " + d +
      "server.csr -subj /CN=127.0.0.1");
  std::ofstream(dir / "server.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                       "basicConstraints=CA:FALSE\n"
                                       "extendedKeyUsage=serverAuth\n";
  Run("openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d +
      "ca.key -CAcreateserial -out " + d + "server.pem -days 2 -extfile " + d + "server.ext");
  Run("openssl req -x509" + key + " -keyout " + d + "self.key -out " + d +
      "self.pem -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1");
  return certs;
}

}  // namespace tolvex::e2e
