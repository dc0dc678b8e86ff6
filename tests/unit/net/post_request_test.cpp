#include "net/post_request.h"

#include <gtest/gtest.h>

#include <array>
#include <new>
#include <optional>

#include "backends/wininet_errors.h"
#include "net/piece_pacer.h"
#include "support/fake_http_session.h"
#include "support/post_whole.h"

namespace tolvex {
namespace {

using testing::PostWhole;

using testing::FakeHttpSession;
using testing::RecordingDisplay;
using Status = HttpSession::ReadStatus;
using Handles = std::vector<HttpSession::Handle>;

const ServerAddress kAddress{false, u"host1:8080", u"/app/servlets/GetSOData"};
const Bytes kSeed{'8'};

Bytes Body(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Pattern(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return b;
}

TEST(PostRequest, FailureTable) {
  const std::u16string notice = u"Client Connected to host1:8080";
  const struct {
    const char* name;
    std::function<void(FakeHttpSession&, RecordingDisplay&, ServerAddress&)> arrange;
    Handles closed;
    bool label_changed;
    std::string cause;
  } cases[] = {
      {"F1 open",
       [](auto& s, auto&, auto&) { s.open_result = 0; },
       {},
       false,
       "the HTTP session could not be opened"},
      {"F2 connect",
       [](auto& s, auto&, auto&) { s.connect_result = 0; },
       {1},
       false,
       "could not connect to the server (host1 port 8080)"},
      {"F3 request",
       [](auto& s, auto&, auto&) { s.request_result = 0; },
       {2, 1},
       false,
       "the request could not be opened (POST /app/servlets/GetSOData)"},
      {"F4 header",
       [](auto& s, auto&, auto&) { s.add_header_result = false; },
       {3, 2, 1},
       false,
       "the request's header could not be added"},
      {"F5 send",
       [](auto& s, auto&, auto&) { s.send_result = false; },
       {3, 2, 1},
       true,
       "the request could not be sent (host1 port 8080)"},
      {"invalid port",
       [](auto&, auto&, auto& a) { a.ServerHost = u"host1:99999"; },
       {1},
       false,
       "the URL's port is not a number from 1 to 65535 (host \"host1:99999\")"},
      {"open throws",
       [](auto& s, auto&, auto&) { s.throw_in = "Open"; },
       {},
       false,
       "the HTTP post failed (scripted failure in Open)"},
      {"connect throws",
       [](auto& s, auto&, auto&) { s.throw_in = "Connect"; },
       {1},
       false,
       "the HTTP post failed (scripted failure in Connect)"},
      {"send throws",
       [](auto& s, auto&, auto&) { s.throw_in = "Send"; },
       {3, 2, 1},
       false,
       "the HTTP post failed (scripted failure in Send)"},
      {"repaint throws",
       [](auto&, auto& d, auto&) { d.throw_on_repaint = true; },
       {3, 2, 1},
       true,
       "the HTTP post failed (repaint failed)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpSession session;
    session.reads = {{Status::Data, {'0'}}};
    RecordingDisplay display;
    ServerAddress address = kAddress;
    c.arrange(session, display, address);
    Bytes reply = kSeed;
    Trace trace;
    trace.BeginCall("post", u"");
    EXPECT_FALSE(PostWhole(session, address, display, Body("3body"), reply, trace));
    EXPECT_EQ(trace.CauseText(), c.cause);
    EXPECT_EQ(session.closed, c.closed);
    if (c.label_changed) {
      ASSERT_EQ(display.texts.size(), 1u);
      EXPECT_EQ(display.texts[0], notice);
    } else {
      EXPECT_TRUE(display.texts.empty());
    }
    EXPECT_EQ(reply, kSeed);
    EXPECT_EQ(std::count(session.calls.begin(), session.calls.end(), "Read"), 0);
  }
}

TEST(PostRequest, SendsTheRequestAsTheClientWouldAndClosesNewestFirst) {
  const struct {
    ServerAddress address;
    std::u16string host;
    std::uint16_t port;
  } cases[] = {
      {{false, u"host1:8080", u"/app/servlets/GetSOData"}, u"host1", 8080},
      {{true, u"host1", u"/servlets/PutProgressData"}, u"host1", 443},
      {{false, u"host1", u"/s"}, u"host1", 80},
      {{true, u"[::1]:8443", u"/s"}, u"::1", 8443},
  };
  for (const auto& c : cases) {
    FakeHttpSession session;
    RecordingDisplay display;
    Bytes reply = kSeed;
    ASSERT_TRUE(PostWhole(session, c.address, display, Body("1code"), reply));
    EXPECT_EQ(session.agent, u"VB6");
    EXPECT_EQ(session.host, c.host);
    EXPECT_EQ(session.port, c.port);
    EXPECT_EQ(session.verb, u"POST");
    EXPECT_EQ(session.path, c.address.ServerPath);
    EXPECT_EQ(session.version, u"HTTP/1.0");
    EXPECT_EQ(session.secure, c.address.UseHttps);
    EXPECT_EQ(session.header, u"Content-Type:application/x-www-form-urlencoded");
    EXPECT_EQ(session.body, u"1code");
    EXPECT_EQ(display.texts,
              std::vector<std::u16string>{u"Client Connected to " + c.address.ServerHost});
    EXPECT_EQ(display.repaints, 1);
    EXPECT_EQ(session.closed, (Handles{3, 2, 1}));
  }
}

TEST(PostRequest, ReportsEveryByteMovedInEitherDirection) {
  using Counts = std::vector<std::array<std::uint64_t, 3>>;  // sent, received, announced
  constexpr std::uint64_t kNone = ~std::uint64_t{0};
  const struct {
    const char* name;
    std::vector<std::uint64_t> sent_steps;
    std::vector<FakeHttpSession::ReadStep> reads;
    std::optional<std::uint64_t> announced;
    Counts expected;
  } cases[] = {
      {"nothing reported by the back end", {}, {}, std::nullopt, {}},
      {"upload in steps, a repeat and a claim past the end ignored",
       {2, 2, 4, 9},
       {},
       std::nullopt,
       {{2, 0, kNone}, {4, 0, kNone}, {5, 0, kNone}}},
      {"reply pieces with an announced length",
       {5},
       {{Status::Data, {'0', 'a'}}, {Status::Data, {'b'}}},
       3,
       {{5, 0, kNone}, {5, 2, 3}, {5, 3, 3}}},
      {"a failed read after some bytes",
       {},
       {{Status::Data, {'0'}}, {Status::Failed, {}}},
       std::nullopt,
       {{0, 1, kNone}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpSession session;
    session.sent_steps = c.sent_steps;
    session.reads = c.reads;
    session.length_hint = c.announced;
    RecordingDisplay display;
    Bytes reply;
    PostWhole(session, kAddress, display, Body("1code"), reply);
    Counts got;
    for (const auto& m : display.moved) {
      EXPECT_EQ(m.body_size, 5u);
      got.push_back({m.sent, m.received, m.reply_size.value_or(kNone)});
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(PostRequest, LabelIsRepaintedBeforeTheFirstRead) {
  FakeHttpSession session;
  RecordingDisplay display;
  int repaints_at_first_read = -1;
  session.on_read = [&] {
    if (repaints_at_first_read < 0) repaints_at_first_read = display.repaints;
  };
  Bytes reply;
  ASSERT_TRUE(PostWhole(session, kAddress, display, Body(""), reply));
  EXPECT_EQ(repaints_at_first_read, 1);
}

TEST(PostRequest, ReplyIsExactlyTheBytesRead) {
  const Bytes big = Pattern(5 * 1024 * 1024 + 17);
  const struct {
    const char* name;
    std::vector<FakeHttpSession::ReadStep> reads;
    Bytes expected;
  } cases[] = {
      {"empty", {}, Bytes{0}},
      {"one byte", {{Status::Data, {'1'}}}, Bytes{'1'}},
      {"one zero byte", {{Status::Data, {0}}}, Bytes{0}},
      {"70000 bytes", {{Status::Data, Pattern(70000)}}, Pattern(70000)},
      {"several MiB", {{Status::Data, big}}, big},
      {"short pieces",
       {{Status::Data, {'0', 'a'}}, {Status::Data, {'b'}}, {Status::Data, {'c', 'd'}}},
       Bytes{'0', 'a', 'b', 'c', 'd'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpSession session;
    session.reads = c.reads;
    RecordingDisplay display;
    Bytes reply = Pattern(40000);  // a previous, longer reply must not show through
    ASSERT_TRUE(PostWhole(session, kAddress, display, Body("3"), reply));
    EXPECT_EQ(reply, c.expected);
    EXPECT_EQ(session.largest_capacity_asked, kReadPieceLimit);
    EXPECT_EQ(session.closed, (Handles{3, 2, 1}));
  }
}

// The announced length sizes the reply once; a reply that ends before it
// (a connection closed early, which some back ends read as the end) is a
// failed post, never a whole reply.
TEST(PostRequest, AnnouncedLengthSizesTheReplyAndMustArriveWhole) {
  const Bytes body = Pattern(300000);
  const struct {
    const char* name;
    std::optional<std::uint64_t> hint;
    std::size_t min_capacity, max_capacity;
    const char* cause;  // of a reply that ended short; nullptr: whole
  } cases[] = {
      {"exact", 300000, 300000, 300000, nullptr},
      {"short of the truth", 1000, 300000, 600000, nullptr},
      {"unknown", std::nullopt, 300000, 600000, nullptr},
      {"one byte short", 300001, 300001, 300001, "the reply ended after 300000 of 300001 bytes"},
      {"beyond the cap", std::uint64_t{1} << 40, kMaxReplyReserve, kMaxReplyReserve,
       "the reply ended after 300000 of 1099511627776 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpSession session;
    session.length_hint = c.hint;
    session.reads = {{Status::Data, body}};
    RecordingDisplay display;
    Bytes reply;
    Trace trace;
    ASSERT_EQ(PostWhole(session, kAddress, display, Body("3"), reply, trace), c.cause == nullptr);
    if (c.cause == nullptr) {
      EXPECT_EQ(reply, body);
    } else {
      EXPECT_EQ(trace.Cause()->what, c.cause);
    }
    EXPECT_GE(reply.capacity(), c.min_capacity);
    EXPECT_LE(reply.capacity(), c.max_capacity);
  }
}

TEST(PostRequest, FailedReadMidReplyIsAFailureWithWhatWasRead) {
  const struct {
    const char* name;
    std::vector<FakeHttpSession::ReadStep> reads;
    Bytes expected;
  } cases[] = {
      {"before any byte", {{Status::Failed, {}}}, Bytes{0}},
      {"after 70000 bytes",
       {{Status::Data, Pattern(70000)}, {Status::Failed, {}}, {Status::Data, {'x'}}},
       Pattern(70000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHttpSession session;
    session.reads = c.reads;
    RecordingDisplay display;
    Bytes reply = kSeed;
    EXPECT_FALSE(PostWhole(session, kAddress, display, Body("3"), reply));
    EXPECT_EQ(reply, c.expected);
    EXPECT_EQ(session.closed, (Handles{3, 2, 1}));
  }
}

TEST(PostRequest, ErrorWhileReadingClosesAllHandlesAndKeepsWhatWasRead) {
  FakeHttpSession session;
  session.reads = {{Status::Data, Pattern(32000)}, {Status::Data, Pattern(10)}};
  int reads = 0;
  session.on_read = [&] {
    if (++reads == 2) throw std::bad_alloc();
  };
  RecordingDisplay display;
  Bytes reply = kSeed;
  Trace trace;
  trace.BeginCall("post", u"");
  EXPECT_FALSE(PostWhole(session, kAddress, display, Body("3"), reply, trace));
  EXPECT_EQ(reply, Pattern(32000));
  EXPECT_EQ(session.closed, (Handles{3, 2, 1}));
  // Memory running out is named as such, never a bare failed post.
  EXPECT_EQ(trace.CauseText(), "there was not enough memory for the post (1 body bytes)");
}

TEST(ReplyCollector, GrowthIsGeometricNotPerPiece) {
  const std::size_t pieces = 4000;
  Bytes bytes{0};
  ReplyCollector reply(bytes);
  reply.Begin(std::nullopt);
  int reallocations = 0;
  const std::uint8_t* storage = bytes.data();
  const Bytes piece(100, 7);
  for (std::size_t i = 0; i < pieces; ++i) {
    reply.Take(piece.data(), piece.size());
    if (bytes.data() != storage) ++reallocations;
    storage = bytes.data();
  }
  EXPECT_EQ(bytes.size(), pieces * 100);
  EXPECT_LE(reallocations, 14);  // log2(400000 / 100) + slack
}

// The pieces the WinINet back end reads and writes: large while the bytes
// flow, what has arrived while a reply trickles, never a piece that a
// sudden slow line would hold for long.
TEST(PiecePacer, GrowsWhileFastShrinksWhenSlowAndTricklesAskForWhatArrived) {
  using std::chrono::milliseconds;
  constexpr std::size_t KiB = 1024;
  struct Call {
    std::size_t moved;
    PiecePacer::Duration took;
    std::size_t next;  // the piece asked for after it
  };
  const struct {
    const char* name;
    PiecePacer::Limits limits;
    std::vector<Call> calls;
  } cases[] = {
      {"a reply in 8 KiB buffers, fast: fixed pieces once 64 KiB came within 250 ms",
       PiecePacer::kReply,
       {{8 * KiB, milliseconds(1), 0},
        {48 * KiB, milliseconds(1), 0},
        {8 * KiB, milliseconds(1), 64 * KiB},
        {64 * KiB, milliseconds(2), 128 * KiB},
        {128 * KiB, milliseconds(2), 256 * KiB},
        {256 * KiB, milliseconds(5), 512 * KiB},
        {512 * KiB, milliseconds(9), 1024 * KiB},
        {1024 * KiB, milliseconds(20), 1024 * KiB}}},
      {"a trickle stays with what has arrived",
       PiecePacer::kReply,
       {{40, milliseconds(250), 0},
        {40, milliseconds(250), 0},
        {60 * KiB, milliseconds(200), 0},
        {8 * KiB, milliseconds(100), 0}}},
      {"64 KiB spread over more than 250 ms is no flow",
       PiecePacer::kReply,
       {{32 * KiB, milliseconds(200), 0}, {32 * KiB, milliseconds(100), 0}}},
      {"a reply that slows: halves, then back to what has arrived",
       PiecePacer::kReply,
       {{64 * KiB, milliseconds(0), 64 * KiB},
        {64 * KiB, milliseconds(10), 128 * KiB},
        {128 * KiB, milliseconds(600), 64 * KiB},
        {64 * KiB, milliseconds(200), 64 * KiB},
        {64 * KiB, milliseconds(501), 0}}},
      {"the end of a reply (a short piece) changes nothing",
       PiecePacer::kReply,
       {{64 * KiB, milliseconds(0), 64 * KiB}, {100, milliseconds(0), 64 * KiB}}},
      {"a body starts at 64 KiB, grows to 1 MiB and no further",
       PiecePacer::kBody,
       {{64 * KiB, milliseconds(10), 128 * KiB},
        {128 * KiB, milliseconds(10), 256 * KiB},
        {256 * KiB, milliseconds(10), 512 * KiB},
        {512 * KiB, milliseconds(10), 1024 * KiB},
        {1024 * KiB, milliseconds(10), 1024 * KiB}}},
      {"a body on a slow line stays at 64 KiB",
       PiecePacer::kBody,
       {{64 * KiB, milliseconds(900), 64 * KiB}, {64 * KiB, milliseconds(900), 64 * KiB}}},
      {"a body piece between a half and twice the target keeps its size",
       PiecePacer::kBody,
       {{64 * KiB, milliseconds(10), 128 * KiB}, {128 * KiB, milliseconds(300), 128 * KiB}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PiecePacer pacer(c.limits);
    EXPECT_EQ(pacer.Next(), c.limits.first);
    for (std::size_t i = 0; i < c.calls.size(); ++i) {
      SCOPED_TRACE("call " + std::to_string(i));
      pacer.Moved(pacer.Next(), c.calls[i].moved, c.calls[i].took);
      EXPECT_EQ(pacer.Next(), c.calls[i].next);
    }
  }
}

// The WinINet back end's table: checked here, as it needs no Windows.
TEST(WinInetErrors, NamesAndWordsOfTheNumbersAFailedPostReports) {
  const struct {
    std::uint32_t code;
    std::string_view name, words;
  } cases[] = {
      {12029, "ERROR_INTERNET_CANNOT_CONNECT", "could not connect to the server"},
      {12007, "ERROR_INTERNET_NAME_NOT_RESOLVED", "the server's name could not be resolved"},
      {12002, "ERROR_INTERNET_TIMEOUT", "the connection timed out"},
      {12030, "ERROR_INTERNET_CONNECTION_ABORTED", "the connection was aborted"},
      {12031, "ERROR_INTERNET_CONNECTION_RESET", "the connection was reset"},
      {12045, "ERROR_INTERNET_INVALID_CA",
       "TLS verification failed: the server's certificate is not trusted"},
      {12038, "ERROR_INTERNET_SEC_CERT_CN_INVALID",
       "TLS verification failed: the server's certificate names another host"},
      {12152, "ERROR_HTTP_INVALID_SERVER_RESPONSE", "the server's reply is not HTTP"},
      {12175, "ERROR_INTERNET_DECODING_FAILED", "the reply could not be decoded"},
      {12057, "ERROR_INTERNET_SEC_CERT_REV_FAILED",
       "TLS verification failed: the revocation check failed"},
      {12150, "ERROR_HTTP_HEADER_NOT_FOUND", "the HTTP exchange failed"},
      {995, "ERROR_OPERATION_ABORTED", "the exchange was cancelled"},
      {12999, "", "the HTTP exchange failed"},
      {0, "", "the HTTP exchange failed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(win32::WinInetErrorName(c.code), c.name) << c.code;
    EXPECT_EQ(win32::WinInetErrorWords(c.code), c.words) << c.code;
  }
  EXPECT_EQ(win32::DescribeWinInetError(12029),
            "WinINet error 12029 ERROR_INTERNET_CANNOT_CONNECT");
  EXPECT_EQ(win32::DescribeWinInetError(12999), "WinINet error 12999");
}

}  // namespace
}  // namespace tolvex
