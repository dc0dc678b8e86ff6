// PostRequest on the libcurl session over loopback: the exact request on
// the wire, replies of every size, broken connections and TLS.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "component/text.h"
#include "curl_http_session.h"
#include "curl_trace.h"
#include "e2e/raw_listener.h"
#include "e2e/server_process.h"
#include "e2e/test_ca.h"
#include "net/form_codec.h"
#include "net/post_request.h"
#include "net/servlet_protocol.h"
#include "pack_company_data.h"
#include "support/fake_http_session.h"
#include "support/post_whole.h"

namespace tolvex::e2e {
namespace {

using tolvex::testing::PostWhole;
using tolvex::testing::RecordingDisplay;

// Loopback must not go through a proxy some environment sets.
const bool kNoProxy = [] {
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
        "NO_PROXY", "CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    unsetenv(name);
  }
  return true;
}();

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { unsetenv(name_); }

 private:
  const char* name_;
};

class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
    if (std::setlocale(LC_CTYPE, name) == nullptr) throw std::runtime_error(name);
  }
  ~ScopedLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }

 private:
  std::string old_;
};

// Forwards to the real session and counts handles, so a test can see that
// every handle opened was closed.
class CountingSession : public HttpSession {
 public:
  explicit CountingSession(Trace& trace) : real(trace) {}
  posix::CurlHttpSession real;
  int opened = 0, closed = 0;

  Handle Open(const std::u16string& a) override { return Count(real.Open(a)); }
  Handle Connect(Handle i, const std::u16string& h, std::uint16_t p) override {
    return Count(real.Connect(i, h, p));
  }
  Handle OpenRequest(Handle c, const std::u16string& v, const std::u16string& p,
                     const std::u16string& ver, bool s) override {
    return Count(real.OpenRequest(c, v, p, ver, s));
  }
  bool AddHeader(Handle r, const std::u16string& h) override { return real.AddHeader(r, h); }
  std::string WireText(const std::u16string& t) override { return real.WireText(t); }
  bool Send(Handle r, RequestBody& b, const SentObserver& s) override { return real.Send(r, b, s); }
  ReadStatus Read(Handle r, std::uint8_t* b, std::size_t c, std::size_t& n) override {
    return real.Read(r, b, c, n);
  }
  std::optional<std::uint64_t> ReplyLengthHint(Handle r) override {
    return real.ReplyLengthHint(r);
  }
  std::optional<Redirect> RedirectOf(Handle r) override { return real.RedirectOf(r); }
  void Abort() override { real.Abort(); }
  void ResetAbort() override { real.ResetAbort(); }
  void Close(Handle h) override {
    ++closed;
    real.Close(h);
  }

 private:
  Handle Count(Handle h) {
    if (h != kNull) ++opened;
    return h;
  }
};

struct Outcome {
  bool ok = false;
  Bytes reply;
  std::vector<std::u16string> labels;
  int opened = 0, closed = 0;
  std::string cause;  // the trace's, when the post failed
};

Outcome Post(const std::string& url, const std::u16string& body) {
  ServerAddress address;
  ParseServerUrl(FromUtf8(url), address);
  Trace trace;
  trace.BeginCall("post", u"");
  CountingSession session(trace);
  RecordingDisplay display;
  Outcome outcome;
  outcome.reply = {'8'};
  const std::string wire = session.WireText(body);
  outcome.ok =
      PostWhole(session, address, display, Bytes(wire.begin(), wire.end()), outcome.reply, trace);
  outcome.cause = trace.CauseText();
  outcome.labels = display.texts;
  outcome.opened = session.opened;
  outcome.closed = session.closed;
  return outcome;
}

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

std::u16string Header(char16_t kind, std::u16string_view code, std::u16string_view key) {
  return kind + FitField(code, kCompanyCodeWidth) + FitField(key, kAccessKeyWidth);
}

std::string Local(std::uint16_t port, const std::string& path = "/app/servlets/GetSOData") {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}

TEST(WireRequest, IsTheHttp10RequestOfTheClient) {
  const struct {
    const char* name;
    const char* locale;
    std::u16string body;
    std::string wire_body;
  } cases[] = {
      {"ascii", "C.UTF-8", Header(u'3', u"ACME", u"key"),
       "3ACME        key                                               "},
      {"utf-8 locale", "C.UTF-8", u"1\u00e9\u4f1a+%41", "1\xc3\xa9\xe4\xbc\x9a+%41"},
      {"ascii locale", "C", u"1\u00e9\u4f1a+%41", "1??+%41"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedLocale locale(c.locale);
    RawListener listener({"HTTP/1.0 200 OK\r\n\r\n1"});
    const Outcome outcome = Post(Local(listener.port()), c.body);
    const ParsedRequest request = ParseRequest(listener.Request());
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(AsString(outcome.reply), "1");
    EXPECT_EQ(request.request_line, "POST /app/servlets/GetSOData HTTP/1.0");
    const std::set<std::string> headers(request.header_lines.begin(), request.header_lines.end());
    const std::set<std::string> expected = {
        "Host: 127.0.0.1:" + std::to_string(listener.port()),
        "User-Agent: VB6",
        "Content-Type:application/x-www-form-urlencoded",
        "Content-Length: " + std::to_string(c.wire_body.size()),
    };
    EXPECT_EQ(headers, expected);
    EXPECT_EQ(request.body, c.wire_body);
  }
}

TEST(WireRequest, GoesThroughTheProxyOfTheEnvironment) {
  RawListener proxy({"HTTP/1.0 200 OK\r\n\r\n1"});
  ScopedEnv env("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
  const Outcome outcome = Post("http://orders.invalid:8080/app/servlets/GetSOData", u"3");
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(ParseRequest(proxy.Request()).request_line,
            "POST http://orders.invalid:8080/app/servlets/GetSOData HTTP/1.0");
  EXPECT_EQ(outcome.labels,
            std::vector<std::u16string>{u"Client Connected to orders.invalid:8080"});
}

// all_proxy stands for both schemes, https_proxy tunnels with CONNECT, and
// a host in no_proxy is reached directly past a proxy that is not there.
TEST(WireRequest, ProxyVariablesAsCurlReadsThem) {
  {
    SCOPED_TRACE("all_proxy");
    RawListener proxy({"HTTP/1.0 200 OK\r\n\r\n1"});
    ScopedEnv env("all_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    const Outcome outcome = Post("http://orders.invalid:8080/app/servlets/GetSOData", u"3");
    EXPECT_TRUE(outcome.ok) << outcome.cause;
    EXPECT_EQ(AsString(outcome.reply), "1");
    EXPECT_EQ(ParseRequest(proxy.Request()).request_line,
              "POST http://orders.invalid:8080/app/servlets/GetSOData HTTP/1.0");
  }
  {
    SCOPED_TRACE("https_proxy");
    RawListener proxy({"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"});
    ScopedEnv env("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
    const Outcome outcome = Post("https://orders.invalid:8443/app/servlets/GetSOData", u"3");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(ParseRequest(proxy.Request()).request_line, "CONNECT orders.invalid:8443 HTTP/1.1");
    EXPECT_EQ(outcome.cause.rfind("the proxy refused the connection (curl error 56: ", 0), 0u)
        << outcome.cause;
  }
  {
    SCOPED_TRACE("no_proxy");
    RawListener direct({"HTTP/1.0 200 OK\r\n\r\n1"});
    ScopedEnv env("http_proxy", "http://127.0.0.1:" + std::to_string(UnusedPort()));
    ScopedEnv bypass("no_proxy", "orders.invalid,127.0.0.1");
    const Outcome outcome = Post(Local(direct.port()), u"3");
    EXPECT_TRUE(outcome.ok) << outcome.cause;
    EXPECT_EQ(AsString(outcome.reply), "1");
    EXPECT_EQ(ParseRequest(direct.Request()).request_line, "POST /app/servlets/GetSOData HTTP/1.0");
  }
}

TEST(Reply, IsReadWholeWhateverItsSizeOrStatus) {
  const std::string page = "<html><body>Internal Server Error</body></html>";
  const struct {
    const char* name;
    std::string response;
    std::string expected;
  } cases[] = {
      {"empty", "HTTP/1.0 200 OK\r\n\r\n", std::string(1, '\0')},
      {"one byte", "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\n0", "0"},
      {"70000 bytes by close", "HTTP/1.0 200 OK\r\n\r\n" + Pattern(70000), Pattern(70000)},
      {"several MiB", "HTTP/1.1 200 OK\r\nContent-Length: 6291459\r\n\r\n" + Pattern(6291459),
       Pattern(6291459)},
      {"error page",
       "HTTP/1.1 500 Internal Server Error\r\nContent-Length: " + std::to_string(page.size()) +
           "\r\n\r\n" + page,
       page},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawListener listener({c.response});
    const Outcome outcome = Post(Local(listener.port()), u"3");
    EXPECT_TRUE(outcome.ok);
    EXPECT_TRUE(AsString(outcome.reply) == c.expected) << outcome.reply.size() << " bytes";
    EXPECT_EQ(outcome.opened, 3);
    EXPECT_EQ(outcome.closed, 3);
  }
}

TEST(Reply, BrokenConnectionIsAFailure) {
  const struct {
    const char* name;
    RawListener::Script script;
  } cases[] = {
      {"reset after part of the announced length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + Pattern(50000), true}},
      {"reset with no length announced", {"HTTP/1.0 200 OK\r\n\r\n" + Pattern(50000), true}},
      {"closed before the announced length",
       {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + Pattern(50000), false}},
      {"reset before any reply", {"", true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawListener listener(c.script);
    const Outcome outcome = Post(Local(listener.port()), u"3");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.opened, 3);
    EXPECT_EQ(outcome.closed, 3);
  }
}

TEST(Connection, RefusedFailsAfterShowingTheNotice) {
  const std::uint16_t port = UnusedPort();
  const Outcome outcome = Post(Local(port), u"3");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(AsString(outcome.reply), "8");
  EXPECT_EQ(outcome.labels, std::vector<std::u16string>{
                                FromUtf8("Client Connected to 127.0.0.1:" + std::to_string(port))});
  EXPECT_EQ(outcome.opened, 3);
  EXPECT_EQ(outcome.closed, 3);
}

class OrderServerTest : public ::testing::Test {
 protected:
  OrderServerTest() {
    WriteFile(dir.path() / "companies.txt", "# test companies\nACME k-acme\nBETA k-beta\n");
    WriteFile(dir.path() / "outgoing" / "ACME.dat", "order data\r\n");
  }

  std::string Url(const std::string& servlet) const {
    return "http://127.0.0.1:" + std::to_string(server->port()) + "/app/servlets/" + servlet;
  }
  void Start(std::vector<std::string> args = {}) {
    args.insert(args.end(), {"--context", "/app", "--control", control().string()});
    server = std::make_unique<ServerProcess>(dir.path(), args);
  }
  std::filesystem::path control() const { return dir.path() / "control.txt"; }

  TempDir dir;
  std::unique_ptr<ServerProcess> server;
};

TEST_F(OrderServerTest, GetSODataAnswersPerCompany) {
  Start();
  const Bytes archive = server::PackCompanyData(dir.path() / "outgoing" / "ACME.dat");
  Bytes encoded;
  EncodeFormBytes(archive, encoded);
  const struct {
    std::u16string body;
    std::string expected;
  } cases[] = {
      {Header(u'3', u"ACME", u"k-acme"), "0" + AsString(encoded)},
      {Header(u'3', u"BETA", u"k-beta"), "1"},
      {Header(u'3', u"BETA", u"k-acme"), "9"},
      {Header(u'3', u"NOBODY", u"k-acme"), "9"},
      {Header(u'1', u"ACME", u"k-acme"), "9"},
      {u"3ACME", "9"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Post(Url("GetSOData"), c.body);
    EXPECT_TRUE(outcome.ok);
    EXPECT_EQ(AsString(outcome.reply), c.expected) << ToUtf8(c.body);
  }
  // The server logs a request after its reply went out, so the line may
  // come after the client has its answer, even after later requests' lines.
  EXPECT_TRUE(server->Logged("status 0, sent ")) << server->Log();
}

TEST_F(OrderServerTest, PutProgressDataStoresTheArchive) {
  Start();
  const Bytes archive = server::PackCompanyData(dir.path() / "outgoing" / "ACME.dat");
  const auto encode = [](const Bytes& bytes) {
    Bytes encoded;
    EncodeFormBytes(bytes, encoded);
    return FromUtf8(AsString(encoded));
  };
  const std::u16string payload = encode(archive);
  EXPECT_EQ(
      AsString(Post(Url("PutProgressData"), Header(u'1', u"BETA", u"k-beta") + payload).reply),
      "0");
  EXPECT_EQ(AsString(Post(Url("PutProgressData"), Header(u'1', u"BETA", u"wrong") + payload).reply),
            "9");
  EXPECT_EQ(AsString(Post(Url("PutProgressData"), Header(u'1', u"BETA", u"k-beta") + u"%4").reply),
            "9");
  // Only an archive whose member verifies is stored.
  const Bytes not_zip = {'P', 'K', 3, 4, 0, 0xFF, ' ', '%'};
  const Bytes cut(archive.begin(), archive.end() - 10);
  for (const Bytes& bad : {not_zip, cut}) {
    EXPECT_EQ(
        AsString(
            Post(Url("PutProgressData"), Header(u'1', u"BETA", u"k-beta") + encode(bad)).reply),
        "9");
  }
  EXPECT_TRUE(server->Logged("an unsound archive")) << server->Log();

  std::vector<std::filesystem::path> stored;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "inbox" / "BETA")) {
    stored.push_back(entry.path());
  }
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(ReadFile(stored[0]), AsString(archive));
}

TEST_F(OrderServerTest, MisbehaviourIsSeenAsTheClientWouldSeeIt) {
  Start();
  const struct {
    const char* control;
    bool ok;
    std::string reply;
  } cases[] = {
      {"status=500\nreply-body=<html>oops</html>\n", true, "<html>oops</html>"},
      {"reply-size=3145728\n", true, Pattern(3145728)},
      {"reply-size=70000\ndrop-after=40000\n", false, ""},
      {"delay-ms=200\n", true, "1"},
      {"trickle=2/20\nreply-body=0123456789\n", true, "0123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    WriteFile(control(), c.control);
    const Outcome outcome = Post(Url("GetSOData"), Header(u'3', u"BETA", u"k-beta"));
    EXPECT_EQ(outcome.ok, c.ok);
    if (c.ok) {
      EXPECT_TRUE(AsString(outcome.reply) == c.reply) << outcome.reply.size() << " bytes";
    }
  }
}

TEST_F(OrderServerTest, AbortEndsAPostThatWouldNeverFinish) {
  const struct {
    const char* name;
    std::vector<std::string> args;
  } cases[] = {
      {"no answer at all", {"--never-answer"}},
      {"a reply one byte at a time", {"--reply-size", "100000", "--trickle", "1/50"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.args);
    ServerAddress address;
    ParseServerUrl(FromUtf8(Url("GetSOData")), address);
    posix::CurlHttpSession session;
    RecordingDisplay display;
    Bytes reply = {'8'};
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      session.Abort();
    });
    const std::string body = session.WireText(Header(u'3', u"BETA", u"k-beta"));
    EXPECT_FALSE(PostWhole(session, address, display, Bytes(body.begin(), body.end()), reply));
    canceller.join();
    EXPECT_TRUE(server->Stop()) << "a held request kept the server from stopping";
  }
}

class HttpsTest : public OrderServerTest {
 protected:
  static void SetUpTestSuite() {
    certs = new TestCertificates(MakeTestCertificates(ca_dir.path()));
  }
  static void TearDownTestSuite() { delete certs; }

  std::string Url(const std::string& servlet) const {
    return "https://127.0.0.1:" + std::to_string(server->port()) + "/app/servlets/" + servlet;
  }

  static inline TempDir ca_dir;
  static inline TestCertificates* certs = nullptr;
};

const char kNotTrusted[] =
    "TLS verification failed: the server's certificate is not trusted (curl error 60: ";

// A directory of CAs as OpenSSL looks them up: each under its subject hash.
std::filesystem::path HashedCaDirectory(const std::filesystem::path& ca) {
  const auto dir = ca.parent_path() / "hashed";
  std::filesystem::create_directories(dir);
  const std::string command = "openssl x509 -hash -noout -in '" + ca.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char hash[64] = {};
  if (!pipe || std::fgets(hash, sizeof hash, pipe.get()) == nullptr) {
    throw std::runtime_error(command);
  }
  std::string name(hash);
  name.erase(name.find_last_not_of("\r\n") + 1);
  std::filesystem::copy_file(ca, dir / (name + ".0"),
                             std::filesystem::copy_options::overwrite_existing);
  return dir;
}

TEST_F(HttpsTest, CertificateFromATrustedTestCaWorks) {
  Start({"--tls-cert", certs->server_cert.string(), "--tls-key", certs->server_key.string()});
  const std::string hashed = HashedCaDirectory(certs->ca_cert).string();
  for (const auto& [variable, value] :
       std::vector<std::pair<const char*, std::string>>{{"SSL_CERT_FILE", certs->ca_cert.string()},
                                                        {"CURL_CA_BUNDLE", certs->ca_cert.string()},
                                                        {"SSL_CERT_DIR", hashed}}) {
    ScopedEnv trust(variable, value);
    const Outcome outcome = Post(Url("GetSOData"), Header(u'3', u"BETA", u"k-beta"));
    EXPECT_TRUE(outcome.ok) << variable << ": " << outcome.cause;
    EXPECT_EQ(AsString(outcome.reply), "1") << variable;
  }
  // Without the CA the same server is not trusted, for that reason alone.
  const Outcome untrusted = Post(Url("GetSOData"), Header(u'3', u"BETA", u"k-beta"));
  EXPECT_FALSE(untrusted.ok);
  EXPECT_EQ(AsString(untrusted.reply), "8");
  EXPECT_EQ(untrusted.cause.rfind(kNotTrusted, 0), 0u) << untrusted.cause;
}

TEST_F(HttpsTest, UntrustedSelfSignedCertificateFails) {
  Start({"--tls-cert", certs->self_signed_cert.string(), "--tls-key",
         certs->self_signed_key.string()});
  ScopedEnv trust("SSL_CERT_FILE", certs->ca_cert.string());
  const Outcome outcome = Post(Url("GetSOData"), Header(u'3', u"BETA", u"k-beta"));
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(AsString(outcome.reply), "8");
  EXPECT_EQ(outcome.closed, 3);
  EXPECT_EQ(outcome.cause.rfind(kNotTrusted, 0), 0u) << outcome.cause;
}

TEST(CurlFailure, PlainWordsWithCurlsCodeAndText) {
  const struct {
    CURLcode code;
    long os_errno, proxy_status;
    const char* told;
    std::string what, detail;
  } cases[] = {
      {CURLE_COULDNT_CONNECT, ECONNREFUSED, 0, "Failed to connect to h port 9",
       "connection refused",
       "curl error 7: Couldn't connect to server: Failed to connect to h port 9; " +
           std::string(std::strerror(ECONNREFUSED))},
      {CURLE_COULDNT_CONNECT, ENETUNREACH, 0, "", "the server's network is unreachable",
       "curl error 7: Couldn't connect to server; " + std::string(std::strerror(ENETUNREACH))},
      {CURLE_COULDNT_CONNECT, ECONNREFUSED, 0,
       "Failed to connect to h port 9 after 0 ms: Couldn't connect to server", "connection refused",
       "curl error 7: Failed to connect to h port 9 after 0 ms: Couldn't connect to server; " +
           std::string(std::strerror(ECONNREFUSED))},
      {CURLE_COULDNT_RESOLVE_HOST, 0, 0, "Could not resolve host: orders.invalid\n",
       "the server's name could not be resolved",
       "curl error 6: Couldn't resolve host name: Could not resolve host: orders.invalid"},
      {CURLE_PEER_FAILED_VERIFICATION, 0, 0, "",
       "TLS verification failed: the server's certificate is not trusted",
       "curl error 60: SSL peer certificate or SSH remote key was not OK"},
      {CURLE_PARTIAL_FILE, 0, 0, "transfer closed with 10 bytes remaining to read",
       "the reply was cut off",
       "curl error 18: Transferred a partial file: transfer closed with 10 bytes remaining to "
       "read"},
      {CURLE_RECV_ERROR, 0, 407, "CONNECT tunnel failed, response 407",
       "the proxy asks for authentication",
       "curl error 56: Failure when receiving data from the peer: CONNECT tunnel failed, "
       "response 407; proxy answered 407"},
      {CURLE_OPERATION_TIMEDOUT, 0, 0, "Operation timed out", "the connection timed out",
       "curl error 28: Timeout was reached: Operation timed out"},
      {CURLE_TOO_MANY_REDIRECTS, 0, 0, "", "the HTTP exchange failed",
       "curl error 47: Number of redirects hit maximum amount"},
  };
  for (const auto& c : cases) {
    const TraceCause cause = posix::DescribeCurlFailure(c.code, c.os_errno, c.proxy_status, c.told);
    EXPECT_EQ(cause.what, c.what) << c.code;
    EXPECT_EQ(cause.detail, c.detail) << c.code;
  }
}

TEST(CurlFailure, ThePostRecordsTheCauseTheSessionSaw) {
  // The listener's script is made in the loop: GCC 12 at -O2 and -O3 warns
  // that the strings of scripts initialised inside an aggregate array may
  // be destroyed uninitialized.
  const struct {
    const char* name;
    std::string reply;
    std::string cause;
  } cases[] = {
      {"cut off", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + Pattern(40),
       "the reply ended after 40 of 100 bytes (curl error 18: "},
      {"no reply", "", "the server closed the connection without a reply (curl error 52: "},
      {"not HTTP", "hello there\r\n\r\n", "the server's reply is not HTTP (curl error 1: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawListener::Script script;
    script.reply = c.reply;
    RawListener listener(script);
    Trace trace;
    trace.BeginCall("post", u"");
    posix::CurlHttpSession session(trace);
    ServerAddress address;
    ParseServerUrl(FromUtf8(Local(listener.port())), address);
    RecordingDisplay display;
    Bytes reply = {'8'};
    EXPECT_FALSE(PostWhole(session, address, display, Bytes{'3'}, reply, trace));
    EXPECT_NE(trace.CauseText().find(c.cause), std::string::npos) << trace.CauseText();
  }
}

}  // namespace
}  // namespace tolvex::e2e
