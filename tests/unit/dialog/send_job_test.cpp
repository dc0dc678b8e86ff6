#include <fstream>

#include "component/result_codes.h"
#include "dialog/job_trace.h"
#include "job_fixture.h"
#include "support/form_encoding.h"

namespace tolvex::testing {
namespace {

using SendJob = JobFixture;

TEST_F(SendJob, ReplyTable) {
  const struct {
    const char* reply;
    std::int16_t code;
    std::u16string text;
  } cases[] = {
      {"0", 0, u""},
      {"0\n", 90, u"サーバーからのエラー返答"},
      {"1", 90, u"サーバーからのエラー返答"},
      {"8", 90, u"サーバーからのエラー返答"},
      {"9", 90, u"サーバーからのエラー返答"},
      {"", 90, u"サーバーからのエラー返答"},
  };
  Write("p/progress.txt", "progress data");
  archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", "PK zip. data"); };
  for (const auto& c : cases) {
    http.Reply(c.reply);
    EXPECT_EQ(Send("p/progress.txt"), c.code) << c.reply;
    EXPECT_EQ(tolvex.ErrorMsg, c.text) << c.reply;
    EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"}) << c.reply;
    EXPECT_EQ(Read("p/progress.txt"), "progress data") << c.reply;
    EXPECT_EQ(window.progress.back(), 100.0f) << c.reply;
  }
}

TEST_F(SendJob, PostsHeaderAndEncodedArchiveInOrder) {
  Write("p/progress.txt", "x");
  Write("p/progress.zip", "the user's own");
  archive.on_pack = [&] {
    namespace fs = std::filesystem;
    // The control packs in a directory of the call's own beside the file,
    // closed to other users, and finds the file there under its own name.
    const fs::path stage(archive.pack_dir);
    EXPECT_EQ(stage.parent_path(), Path("p"));
    EXPECT_EQ(stage.filename().string().rfind(".tolvex-", 0), 0u);
    EXPECT_EQ(fs::status(stage).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(ReadIn(archive.pack_dir, "progress.txt"), "x");
    EXPECT_FALSE(fs::exists(In(archive.pack_dir, "progress.zip")));
    WriteIn(archive.pack_dir, "progress.zip", "PK a.b");
  };
  http.Reply("0");
  ASSERT_EQ(Send("p/progress.txt"), 0);
  EXPECT_EQ(http.body, u"1C001        key" + std::u16string(47, u' ') + u"PK+a%2Eb");
  EXPECT_EQ(http.path, u"/app/servlets/PutProgressData");
  EXPECT_EQ(archive.calls,
            (std::vector<std::string>{"ArchiveMode=1", "OwnerHwnd=16962", "OptionA=0", "OptionB=0",
                                      "PackDir", "PackArchiveName=progress.zip", "BeginPack",
                                      "AddPackFile=progress.txt", "Pack", "ArchiveError"}));
  EXPECT_EQ(Read("p/progress.zip"), "the user's own");
  EXPECT_EQ(Listing("p"), (std::set<std::string>{"progress.txt", "progress.zip"}));
  EXPECT_EQ(window.refreshed_captions,
            (std::vector<std::u16string>{
                u"送信(http://host1:8080/app)", u"http://host1:8080/appへ ﾎﾟｽﾄしています ...",
                u"Client Connected to host1:8080", u"ﾎﾟｽﾄが終了しました."}));
  EXPECT_EQ(window.progress, (std::vector<float>{50.0f, 100.0f}));
  EXPECT_EQ(window.timer_log.back(), "out.off");
}

// Archives read and encoded in pieces straight into the body: every size
// around a piece boundary gives the header and the whole encoding.
TEST_F(SendJob, ArchivesOfManyPiecesAreEncodedWhole) {
  constexpr std::size_t kPiece = 1 << 20;
  Write("p/progress.txt", "x");
  for (const std::size_t size : {std::size_t{1}, kPiece - 1, kPiece, kPiece + 1, 2 * kPiece + 3}) {
    std::string zip(size, '\0');
    for (std::size_t i = 0; i < size; ++i) zip[i] = static_cast<char>(i * 131 + i / 977);
    archive = FakeArchiveControl();
    archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", zip); };
    http.Reply("0");
    ASSERT_EQ(Send("p/progress.txt"), 0) << size;
    const std::string encoded = ClientFormEncoded(zip);
    const std::u16string expected = u"1C001        key" + std::u16string(47, u' ') +
                                    std::u16string(encoded.begin(), encoded.end());
    EXPECT_TRUE(http.body == expected) << size;
  }
}

TEST_F(SendJob, PackingFailures) {
  const struct {
    const char* name;
    std::string raise_at;
    std::int32_t error;
    const char* zip;  // what the packing leaves, nullptr for nothing
    std::int16_t code;
    std::u16string text;
  } cases[] = {
      {"control reports", "", 2, "PK", 7, u"ファイル圧縮エラー(no such file: progress.txt)"},
      {"control reports empty text", "", 2, nullptr, 7, u"ファイル圧縮エラー()"},
      {"pack raises", "Pack", 0, nullptr, 8, u"ファイル圧縮実行エラー"},
      {"error text raises", "ArchiveErrorText", 1, nullptr, 8, u"ファイル圧縮実行エラー"},
      {"no archive after success", "", 0, nullptr, 8, u"ファイル圧縮実行エラー"},
      {"empty archive after success", "", 0, "", 8, u"ファイル圧縮実行エラー"},
  };
  Write("p/progress.txt", "x");
  for (const auto& c : cases) {
    archive = FakeArchiveControl();
    archive.raise_at = c.raise_at;
    archive.error = c.error;
    archive.error_text = c.error == 2 && c.zip ? u"no such file: progress.txt" : u"";
    archive.on_pack = [&] {
      if (c.zip) WriteIn(archive.pack_dir, "progress.zip", c.zip);
    };
    http.posts = 0;
    EXPECT_EQ(Send("p/progress.txt"), c.code) << c.name;
    EXPECT_EQ(tolvex.ErrorMsg, c.text) << c.name;
    EXPECT_EQ(http.posts, 0) << c.name;
    EXPECT_EQ(Read("p/progress.txt"), "x") << c.name;
    EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"}) << c.name;
  }
}

TEST_F(SendJob, ProgressFileNamedLikeTheWorkFileIsAnOrdinaryFile) {
  Write("p/progress.zip", "the caller's own data");
  archive.on_pack = [&] {
    EXPECT_EQ(ReadIn(archive.pack_dir, "progress.zip"), "the caller's own data");
    WriteIn(archive.pack_dir, "progress.zip", "PK");
  };
  http.Reply("0");
  EXPECT_EQ(Send("p/progress.zip"), 0);
  EXPECT_EQ(Read("p/progress.zip"), "the caller's own data");
  EXPECT_EQ(archive.calls[7], "AddPackFile=progress.zip");
  EXPECT_EQ(http.posts, 1);
  EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.zip"});
}

TEST_F(SendJob, FailedPostLeavesNothingBehind) {
  Write("p/progress.txt", "x");
  archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", "PK"); };
  http.send_result = false;
  EXPECT_EQ(Send("p/progress.txt"), 9);
  EXPECT_EQ(tolvex.ErrorMsg, u"ポスト実行エラー");
  EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"});
  EXPECT_EQ(window.progress, std::vector<float>{50.0f});
}

// The work file failing or changing while the body is encoded from it is
// the archive's fault, not the connection's: the body sent must be exactly
// the bytes counted, so the last of it is withheld and the send fails with
// 8. Nothing is left behind.
TEST_F(SendJob, WorkFileFailingOrChangingWhileSentGives8) {
  const std::string zip(300000, 'z');
  const struct {
    const char* name;
    std::uint64_t readable;  // bytes the fake file system lets be read
    std::string changed_to;  // the work file after counting; "" unchanged
    std::int16_t code;
    std::string cause;
  } cases[] = {
      {"unchanged", UINT64_MAX, "", 0, ""},
      // The copy of the progress file and the count of the archive read it
      // whole; the send fails part-way.
      {"read fails part-way", 1 + zip.size() + 1000, "", 8,
       "the packed archive could not be read (read "},
      {"grows", UINT64_MAX, zip + "more", 8,
       "the packed archive changed while it was sent (it grew)"},
      {"shrinks", UINT64_MAX, zip.substr(1000), 8,
       "the packed archive changed while it was sent (it got shorter)"},
      {"encodes longer", UINT64_MAX, std::string(1000, '%') + zip.substr(1000), 8,
       "the packed archive changed while it was sent (its bytes encode to another length)"},
      {"same length, other bytes", UINT64_MAX, std::string(1000, 'y') + zip.substr(1000), 8,
       "the packed archive changed while it was sent (its bytes differ from those counted)"},
  };
  for (const auto& c : cases) {
    Write("p/progress.txt", "x");
    archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", zip); };
    files.readable = c.readable;
    http.before_body = [&] {
      if (!c.changed_to.empty()) WriteIn(archive.pack_dir, "progress.zip", c.changed_to);
    };
    http.Reply("0");
    EXPECT_EQ(Send("p/progress.txt"), c.code) << c.name;
    EXPECT_EQ(trace.CauseText().rfind(c.cause, 0), 0u) << c.name << ": " << trace.CauseText();
    EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"}) << c.name;
  }
  http.before_body = nullptr;
  files.readable = UINT64_MAX;
}

TEST_F(SendJob, EveryFailureRecordsItsCause) {
  const struct {
    const char* name;
    std::string raise_at;
    std::int32_t error;
    const char* zip;  // what the packing leaves, nullptr for nothing
    std::string reply;
    std::int16_t code;
    std::string cause;
  } cases[] = {
      {"control reports", "", 2, "PK", "0", 7,
       "the archiver reported an error while packing (archive error 2: no such file)"},
      // The fake raises at the first call its prefix names: PackDir.
      {"control raises", "Pack", 0, nullptr, "0", 8, "packing failed to run (PackDir)"},
      {"empty archive", "", 0, "", "0", 8,
       "the packed archive could not be read (the archive is empty)"},
      {"refused by the server", "", 0, "PK", "9", 90,
       "the server refused the request: unknown company, wrong key or a request it rejects "
       "(reply 1 bytes \"9\")"},
      {"anything but success", "", 0, "PK", "0\n", 90,
       "the server answered with its error status (reply 2 bytes \"0\\x0A\")"},
  };
  Write("p/progress.txt", "x");
  for (const auto& c : cases) {
    archive = FakeArchiveControl();
    archive.raise_at = c.raise_at;
    archive.error = c.error;
    archive.error_text = u"no such file";
    archive.on_pack = [&] {
      if (c.zip) std::ofstream(std::filesystem::path(archive.pack_dir) / "progress.zip") << c.zip;
    };
    http.Reply(c.reply);
    EXPECT_EQ(Send("p/progress.txt"), c.code) << c.name;
    EXPECT_EQ(trace.CauseText(), c.cause) << c.name;
  }

  // What a status line changes: an error page, and a proxy that wants a login.
  const struct {
    std::string status, cause;
  } pages[] = {
      {"HTTP/1.1 500 Internal Server Error",
       "the server answered with an HTTP error page (HTTP/1.1 500 Internal Server Error; reply 6 "
       "bytes \"<html>\")"},
      {"HTTP/1.0 407 Proxy Authentication Required",
       "the proxy asks for authentication (HTTP/1.0 407 Proxy Authentication Required; reply 6 "
       "bytes \"<html>\")"},
      {"HTTP/1.1 200 OK",
       "the server answered with its error status (HTTP/1.1 200 OK; reply 6 "
       "bytes \"<html>\")"},
  };
  for (const auto& page : pages) {
    trace.BeginCall("send", u"");
    trace.SetReplyStatus(page.status);
    FailOnReply(trace, kResultServerError, Bytes{'<', 'h', 't', 'm', 'l', '>'});
    EXPECT_EQ(trace.CauseText(), page.cause);
  }
}

}  // namespace
}  // namespace tolvex::testing
