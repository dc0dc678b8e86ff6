#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "job_fixture.h"
#include "support/form_encoding.h"

namespace tolvex::testing {
namespace {

using ReceiveJob = JobFixture;

// Replies as a server encodes them, by an encoder of the tests' own.
std::string Encoded(const std::string& raw) { return UrlQuoted(raw); }

TEST_F(ReceiveJob, RepliesWithoutDataLeaveTheDirectoryAlone) {
  const struct {
    const char* reply;
    std::int16_t code;
    std::u16string text;
  } cases[] = {
      {"9", 90, u"サーバーからのエラー返答"},  {"8", 92, u"無応答エラー"},
      {"0", 93, u"サーバーからの不正返答"},    {"1x", 93, u"サーバーからの不正返答"},
      {"9\n", 93, u"サーバーからの不正返答"},  {"", 93, u"サーバーからの不正返答"},
      {"0%G1", 93, u"サーバーからの不正返答"}, {"0ab%4", 93, u"サーバーからの不正返答"},
  };
  for (const auto& c : cases) {
    Write("out/orders.txt", "old data");
    http.Reply(c.reply);
    EXPECT_EQ(Recv("out/orders.txt"), c.code) << c.reply;
    EXPECT_EQ(tolvex.ErrorMsg, c.text) << c.reply;
    EXPECT_EQ(Read("out/orders.txt"), "old data") << c.reply;
    EXPECT_EQ(Listing("out"), std::set<std::string>{"orders.txt"}) << c.reply;
    EXPECT_TRUE(archive.calls.empty()) << c.reply;
  }
}

TEST_F(ReceiveJob, FailedPostGives9AndTouchesNothing) {
  Write("out/orders.txt", "old");
  http.send_result = false;
  EXPECT_EQ(Recv("out/orders.txt"), 9);
  EXPECT_EQ(tolvex.ErrorMsg, u"ポスト実行エラー");
  EXPECT_EQ(Read("out/orders.txt"), "old");
  EXPECT_EQ(window.progress, std::vector<float>{});
  // The connection notice replaced the posting caption during the post.
  EXPECT_EQ(window.captions.back(), u"Client Connected to host1:8080");
}

TEST_F(ReceiveJob, NoDataCreatesAnEmptyFileEvenInAMissingDirectory) {
  http.Reply("1");
  EXPECT_EQ(Recv("new/sub/orders.txt"), 0);
  EXPECT_EQ(tolvex.ErrorMsg, u"受信作業指示データ無し");
  ASSERT_TRUE(Exists("new/sub/orders.txt"));
  EXPECT_EQ(Read("new/sub/orders.txt"), "");

  Write("new/sub/orders.txt", "previous content");
  EXPECT_EQ(Recv("new/sub/orders.txt"), 0);
  EXPECT_EQ(Read("new/sub/orders.txt"), "");
}

TEST_F(ReceiveJob, NoDataFileThatCannotBeCreatedGives12) {
  std::filesystem::create_directories(Path("out/orders.txt"));  // a directory in the way
  http.Reply("1");
  EXPECT_EQ(Recv("out/orders.txt"), 12);
  EXPECT_EQ(tolvex.ErrorMsg, u"ファイル解凍実行エラー");
}

TEST_F(ReceiveJob, NoDataCutsTheFileALinkLeadsToAndNeverOpensAPipe) {
  namespace fs = std::filesystem;
  Write("d/real.txt", "old");
  fs::permissions(Path("d/real.txt"), fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink("real.txt", Path("d/orders.txt"));
  http.Reply("1");
  EXPECT_EQ(Recv("d/orders.txt"), 0);
  EXPECT_TRUE(fs::is_symlink(Path("d/orders.txt")));
  EXPECT_EQ(Read("d/real.txt"), "");
  EXPECT_EQ(fs::status(Path("d/real.txt")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  ASSERT_EQ(std::system(("mkfifo '" + Path("d/pipe").string() + "'").c_str()), 0);
  EXPECT_EQ(Recv("d/pipe"), 12);  // opening it for writing would wait for a reader
  EXPECT_EQ(fs::status(Path("d/pipe")).type(), fs::file_type::fifo);
}

TEST_F(ReceiveJob, DataIsDecodedUnpackedAndRenamedIntoTheCallersFile) {
  const std::string zip = "PK\x03\x04 zip bytes \xff";
  http.Reply("0" + Encoded(zip));
  Write("a/b/orders.txt", "old");
  archive.on_unpack = [&] {
    namespace fs = std::filesystem;
    // A directory of the call's own beside the caller's file, closed to
    // other users, holds the archive.
    const fs::path stage(archive.unpack_dir);
    EXPECT_EQ(stage.parent_path(), Path("a/b"));
    EXPECT_EQ(stage.filename().string().rfind(".tolvex-", 0), 0u);
    EXPECT_EQ(stage.filename().string().size(), 12u) << stage;
    EXPECT_EQ(fs::status(stage).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(ReadIn(archive.unpack_dir, "so.zip"), zip);
    EXPECT_EQ(Read("a/b/orders.txt"), "old");  // still there during the unpack
    WriteIn(archive.unpack_dir, "C001.dat", "new orders");
  };
  EXPECT_EQ(Recv("a/b/orders.txt"), 0);
  EXPECT_EQ(tolvex.ErrorMsg, u"");
  EXPECT_EQ(Read("a/b/orders.txt"), "new orders");
  EXPECT_EQ(Listing("a/b"), std::set<std::string>{"orders.txt"});
  // The old file's rights go to the new data, which then takes its place
  // in one durable step.
  EXPECT_EQ(files.notes, (std::vector<std::string>{"permissions orders.txt -> C001.dat",
                                                   "replace C001.dat -> orders.txt"}));
  EXPECT_EQ(archive.calls,
            (std::vector<std::string>{"ArchiveMode=1", "OwnerHwnd=16962", "OptionA=0", "OptionB=0",
                                      "UnpackDir", "UnpackArchiveName=so.zip", "BeginUnpack",
                                      "Unpack", "ArchiveError"}));
  EXPECT_EQ(window.progress, (std::vector<float>{50.0f, 100.0f}));
  EXPECT_EQ(window.refreshed_captions,
            (std::vector<std::u16string>{
                u"受信(http://host1:8080/app)", u"http://host1:8080/appへ ﾎﾟｽﾄしています ...",
                u"Client Connected to host1:8080", u"ﾎﾟｽﾄが終了しました"}));
  EXPECT_EQ(http.path, u"/app/servlets/GetSOData");
  EXPECT_EQ(http.port, 8080);
  EXPECT_EQ(http.body, u"3C001        key" + std::u16string(47, u' '));
  EXPECT_EQ(state.PostUrl, u"http://host1:8080/app/servlets/GetSOData");
}

// The caller's file stays as it was, and the archive the server handed out
// is kept beside it, exactly as received, with the cause naming it.
TEST_F(ReceiveJob, UnpackFailuresKeepTheCallersOldFileAndTheReceivedArchive) {
  namespace fs = std::filesystem;
  const struct {
    const char* name;
    std::string raise_at;
    std::int32_t error;
    std::u16string error_text;
    // What the control leaves in the directory it unpacked into.
    std::function<void(const std::u16string&)> unpacked;
    std::int16_t code;
    std::u16string message;
  } cases[] = {
      {"control reports", "", 3, u"CRC mismatch: C001.dat",
       [](const std::u16string& dir) { WriteIn(dir, "C001.dat", "half"); }, 11,
       u"ファイル解凍エラー(CRC mismatch: C001.dat)"},
      {"call raises", "Unpack", 0, u"", nullptr, 12, u"ファイル解凍実行エラー"},
      {"setting raises", "OwnerHwnd", 0, u"", nullptr, 12, u"ファイル解凍実行エラー"},
      {"member missing", "", 0, u"", nullptr, 12, u"ファイル解凍実行エラー"},
      {"error text raises", "ArchiveErrorText", 5, u"", nullptr, 12, u"ファイル解凍実行エラー"},
      {"only a member named like the caller's file", "", 0, u"",
       [](const std::u16string& dir) { WriteIn(dir, "orders.txt", "server's bytes"); }, 12,
       u"ファイル解凍実行エラー"},
      {"member is a directory", "", 0, u"",
       [](const std::u16string& dir) { fs::create_directory(In(dir, "C001.dat")); }, 12,
       u"ファイル解凍実行エラー"},
      {"member is a link", "", 0, u"",
       [](const std::u16string& dir) {
         WriteIn(dir, "other", "x");
         fs::create_symlink("other", In(dir, "C001.dat"));
       },
       12, u"ファイル解凍実行エラー"},
      {"other members beside it", "", 7, u"bad",
       [](const std::u16string& dir) {
         WriteIn(dir, ".bashrc", "evil");
         fs::create_directory(In(dir, ".ssh"));
         WriteIn(dir, ".ssh/authorized_keys", "evil");
       },
       11, u"ファイル解凍エラー(bad)"},
  };
  for (const auto& c : cases) {
    archive = FakeArchiveControl();
    archive.raise_at = c.raise_at;
    archive.error = c.error;
    archive.error_text = c.error_text;
    archive.on_unpack = [&] {
      if (c.unpacked) c.unpacked(archive.unpack_dir);
    };
    Write("d/orders.txt", "old");
    Write("d/C001.dat", "the user's own");
    Write("d/so.zip", "the user's own zip");
    http.Reply("0PK");
    EXPECT_EQ(Recv("d/orders.txt"), c.code) << c.name;
    EXPECT_EQ(tolvex.ErrorMsg, c.message) << c.name;
    EXPECT_EQ(Read("d/orders.txt"), "old") << c.name;
    EXPECT_EQ(Read("d/C001.dat"), "the user's own") << c.name;
    EXPECT_EQ(Read("d/so.zip"), "the user's own zip") << c.name;
    auto names = Listing("d");
    for (const char* own : {"C001.dat", "orders.txt", "so.zip"}) EXPECT_EQ(names.erase(own), 1u);
    ASSERT_EQ(names.size(), 1u) << c.name;
    const std::string kept = *names.begin();
    // orders.txt.received-YYYYMMDD-HHMMSS.zip
    EXPECT_EQ(kept.rfind("orders.txt.received-", 0), 0u) << c.name << ": " << kept;
    EXPECT_EQ(kept.size(), std::string("orders.txt.received-.zip").size() + 15) << kept;
    EXPECT_EQ(Read("d/" + kept), "PK") << c.name;
    EXPECT_NE(trace.CauseText().find("; the received archive was kept in " + Path("d").string() +
                                     "/" + kept),
              std::string::npos)
        << c.name << ": " << trace.CauseText();
    std::filesystem::remove(Path("d/" + kept));
  }
}

TEST_F(ReceiveJob, CallersFileNamedLikeTheMemberIsReplacedOnlyByAVerifiedUnpack) {
  Write("d/C001.dat", "old");
  http.Reply("0PK");
  archive.error = 1;
  archive.error_text = u"bad";
  EXPECT_EQ(Recv("d/C001.dat"), 11);
  EXPECT_EQ(Read("d/C001.dat"), "old");

  // An archive without the member must not pass the old file off as new.
  archive.error = 0;
  EXPECT_EQ(Recv("d/C001.dat"), 12);
  EXPECT_EQ(Read("d/C001.dat"), "old");

  archive.raise_at = "Unpack";
  EXPECT_EQ(Recv("d/C001.dat"), 12);
  EXPECT_EQ(Read("d/C001.dat"), "old");
  EXPECT_EQ(Listing("d").size(), 4u);  // and the three archives kept
  for (const auto& name : Listing("d")) {
    if (name != "C001.dat") std::filesystem::remove(Path("d/" + name));
  }

  archive.raise_at.clear();
  archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new"); };
  EXPECT_EQ(Recv("d/C001.dat"), 0);
  EXPECT_EQ(Read("d/C001.dat"), "new");
  EXPECT_EQ(Listing("d"), std::set<std::string>{"C001.dat"});
}

TEST_F(ReceiveJob, CallersFileNamedLikeTheWorkFileIsAnOrdinaryFile) {
  Write("d/so.zip", "the caller's old data");
  http.Reply("0PK");
  archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new"); };
  EXPECT_EQ(Recv("d/so.zip"), 0);
  EXPECT_EQ(Read("d/so.zip"), "new");
  EXPECT_EQ(Listing("d"), std::set<std::string>{"so.zip"});
}

TEST_F(ReceiveJob, CallersFileKeepsWhatItIs) {
  namespace fs = std::filesystem;
  const auto owner_only = fs::perms::owner_read | fs::perms::owner_write;
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::int16_t code;
    std::function<void()> check;
  } cases[] = {
      {"mode 600 stays 600",
       [&] {
         Write("d/orders.txt", "old");
         fs::permissions(Path("d/orders.txt"), owner_only);
       },
       0,
       [&] {
         EXPECT_EQ(Read("d/orders.txt"), "new");
         EXPECT_EQ(fs::status(Path("d/orders.txt")).permissions() & fs::perms::all, owner_only);
       }},
      {"a link keeps pointing at its file, which is replaced",
       [&] {
         Write("elsewhere/real.txt", "old");
         fs::create_directories(Path("d"));
         fs::create_symlink(Path("elsewhere/real.txt"), Path("d/orders.txt"));
       },
       0,
       [&] {
         EXPECT_TRUE(fs::is_symlink(Path("d/orders.txt")));
         EXPECT_EQ(Read("elsewhere/real.txt"), "new");
         EXPECT_EQ(Listing("elsewhere"), std::set<std::string>{"real.txt"});
       }},
      {"a link to nothing gets its file",
       [&] {
         fs::create_directories(Path("d"));
         fs::create_symlink("real.txt", Path("d/orders.txt"));
       },
       0,
       [&] {
         EXPECT_TRUE(fs::is_symlink(Path("d/orders.txt")));
         EXPECT_EQ(Read("d/real.txt"), "new");
       }},
      {"a directory is left alone", [&] { fs::create_directories(Path("d/orders.txt")); }, 12,
       [&] { EXPECT_TRUE(fs::is_directory(Path("d/orders.txt"))); }},
      {"a pipe is left alone",
       [&] {
         fs::create_directories(Path("d"));
         ASSERT_EQ(std::system(("mkfifo '" + Path("d/orders.txt").string() + "'").c_str()), 0);
       },
       12, [&] { EXPECT_EQ(fs::status(Path("d/orders.txt")).type(), fs::file_type::fifo); }},
      {"a link loop is left alone",
       [&] {
         fs::create_directories(Path("d"));
         fs::create_symlink("orders.txt", Path("d/orders.txt"));
       },
       12, [&] { EXPECT_TRUE(fs::is_symlink(Path("d/orders.txt"))); }},
  };
  for (const auto& c : cases) {
    fs::remove_all(Path("d"));
    fs::remove_all(Path("elsewhere"));
    c.prepare();
    http.Reply("0PK");
    archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new"); };
    const int posts = http.posts;
    EXPECT_EQ(Recv("d/orders.txt"), c.code) << c.name;
    c.check();
    // What cannot take the data is refused before the server hands it out.
    EXPECT_EQ(http.posts - posts, c.code == 0 ? 1 : 0) << c.name;
    EXPECT_EQ(Listing("d").count("so.zip"), 0u) << c.name;
    for (const auto& name : Listing("d")) {
      EXPECT_NE(name.rfind(".tolvex-", 0), 0u) << c.name << ": " << name;
    }
  }
}

TEST_F(ReceiveJob, AFileThatCannotBeReplacedKeepsTheReceivedDataBesideIt) {
  const FileError held("replace orders.txt: the file is open in another program", FileFault::kInUse,
                       "the file is open in another program", true);
  const FileError denied("rename C001.dat to orders.txt: Permission denied",
                         FileFault::kAccessDenied, "Permission denied");
  const FileError no_rename("rename: Permission denied", FileFault::kAccessDenied,
                            "Permission denied");
  // The new data cannot be made durable before the rename: a failed write.
  const FileError unsynced("sync C001.dat: Input/output error", FileFault::kOther,
                           "Input/output error");
  const std::string kept_held =
      "orders.txt could not be replaced: the file is open in another program; the received data "
      "was kept in ";
  const struct {
    const char* name;
    int refused_attempts;  // how many replaces fail; 99: all of them
    FileError error;
    std::optional<FileError> rename_new;  // the rename to the kept name fails so
    std::size_t cancel_in_pause;          // Cancel in this pause (from 1); 0: none
    std::int16_t code;
    int attempts;
    std::size_t pauses;            // waited with the dialog's loop running
    std::string cause;             // what the cause line holds besides the kept file's path
    FileOp op = FileOp::kReplace;  // the step of the replace that fails
  } cases[] = {
      // A scanner on the fresh file for a moment, or on the caller's.
      {"held briefly", 2, held, std::nullopt, 0, 0, 3, 2, ""},
      {"held throughout", 99, held, std::nullopt, 0, 12, 4, 3, kept_held},
      // The user gives up waiting: the data is kept as when the file
      // stays held.
      {"held, Cancel in the second pause", 99, held, std::nullopt, 2, 12, 2, 2, kept_held},
      {"refused for good: no retry", 99, denied, std::nullopt, 0, 12, 1, 0,
       "orders.txt could not be replaced: Permission denied; the received data was kept in "},
      {"no rename out of the work directory: copied", 99, denied, no_rename, 0, 12, 1, 0,
       "orders.txt could not be replaced: Permission denied; the received data was kept in "},
      {"the new data cannot be synced: no retry", 99, unsynced, std::nullopt, 0, 12, 1, 0,
       "orders.txt could not be replaced: Input/output error; the received data was kept in ",
       FileOp::kSync},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(Path("d"));
    Write("d/orders.txt", "old");
    http.Reply("0PK");
    archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new orders"); };
    const int replaces = files.Count(FileOp::kReplace);
    files.Heal();
    files.Fail(c.op, c.error, c.op == FileOp::kSync ? "C001.dat" : "", 1, c.refused_attempts);
    if (c.rename_new) files.Fail(FileOp::kRenameNew, *c.rename_new);
    window.pauses.clear();
    window.during_pause = [&](DialogEvents& events) {
      if (window.pauses.size() == c.cancel_in_pause) events.OnCancel();
    };
    EXPECT_EQ(Recv("d/orders.txt"), c.code) << c.name;
    EXPECT_EQ(files.Count(FileOp::kReplace) - replaces, c.attempts) << c.name;
    EXPECT_EQ(window.pauses,
              std::vector<std::uint32_t>(dialog.replace_pauses_ms.begin(),
                                         dialog.replace_pauses_ms.begin() + c.pauses))
        << c.name;
    const auto names = Listing("d");
    if (c.code == 0) {
      EXPECT_EQ(Read("d/orders.txt"), "new orders") << c.name;
      EXPECT_EQ(names, std::set<std::string>{"orders.txt"}) << c.name;
      continue;
    }
    EXPECT_EQ(tolvex.ErrorMsg, u"ファイル解凍実行エラー") << c.name;
    EXPECT_EQ(Read("d/orders.txt"), "old") << c.name;
    ASSERT_EQ(names.size(), 2u) << c.name;
    const std::string kept = *std::next(names.begin());
    // orders.txt.received-YYYYMMDD-HHMMSS
    EXPECT_EQ(kept.rfind("orders.txt.received-", 0), 0u) << c.name << ": " << kept;
    EXPECT_EQ(kept.size(), std::string("orders.txt.received-").size() + 15) << kept;
    EXPECT_EQ(Read("d/" + kept), "new orders") << c.name;
    // Where the data went is told also after a Cancel, whose cause stands.
    const std::string told = c.cancel_in_pause != 0 ? trace_lines.Text() : trace.CauseText();
    EXPECT_NE(told.find(Path("d").string() + "/" + c.cause + Path("d").string() + "/" + kept),
              std::string::npos)
        << c.name << ": " << told;
    EXPECT_NE(told.find(c.error.what()), std::string::npos) << c.name << ": " << told;
  }
  files.Heal();
  window.during_pause = nullptr;
}

// Copying the old file's permissions is a courtesy: where the system will
// not have them set, the receive still succeeds and the trace says so, as
// it names a work directory that could not be removed.
TEST_F(ReceiveJob, PermissionsThatCannotBeCopiedAreNoFailure) {
  Write("d/orders.txt", "old");
  http.Reply("0PK");
  archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new orders"); };
  files.replace_note = "orders.txt keeps the access control list its folder gives it";
  files.stuck_trees = true;  // and the work directory stays
  EXPECT_EQ(Recv("d/orders.txt"), 0);
  files.replace_note.clear();
  files.stuck_trees = false;
  EXPECT_NE(trace_lines.Text().find(" could not be removed (something in it is held open?); it is "
                                    "safe to delete\n"),
            std::string::npos)
      << trace_lines.Text();
  EXPECT_EQ(Read("d/orders.txt"), "new orders");
  EXPECT_NE(
      trace_lines.Text().find("* orders.txt keeps the access control list its folder gives it\n"),
      std::string::npos)
      << trace_lines.Text();
}

// Cancel pressed after the whole reply came: the call ends as cancelled,
// the caller's file as it was, and the data the server handed out is kept.
TEST_F(ReceiveJob, CancelAfterTheWholeReplyKeepsTheArchive) {
  Write("d/orders.txt", "old");
  http.Reply("0PK");
  window.cancel_after_post = true;
  EXPECT_EQ(Recv("d/orders.txt"), 99);
  window.cancel_after_post = false;
  EXPECT_EQ(Read("d/orders.txt"), "old");
  auto names = Listing("d");
  names.erase("orders.txt");
  ASSERT_EQ(names.size(), 1u);
  const std::string kept = *names.begin();
  EXPECT_EQ(kept.rfind("orders.txt.received-", 0), 0u) << kept;
  EXPECT_EQ(Read("d/" + kept), "PK");
  EXPECT_EQ(trace.CauseText().rfind("cancelled by the user before the job ended; the received "
                                    "archive was kept in " +
                                        Path("d").string() + "/" + kept,
                                    0),
            0u)
      << trace.CauseText();
  EXPECT_TRUE(archive.calls.empty());
}

TEST_F(ReceiveJob, DataThatCannotBeKeptEitherIsReportedAsLost) {
  Write("d/orders.txt", "old");
  http.Reply("0PK");
  archive.on_unpack = [&] {
    WriteIn(archive.unpack_dir, "C001.dat", "new orders");
    files.room = 0;  // the copy that would keep the data finds the disk full
  };
  files.Fail(FileOp::kReplace, FileError("rename: No space left on device", FileFault::kDiskFull,
                                         "No space left on device"));
  files.Fail(FileOp::kRenameNew, FileError("rename: Read-only file system", FileFault::kReadOnly,
                                           "Read-only file system"));
  EXPECT_EQ(Recv("d/orders.txt"), 12);
  EXPECT_EQ(Read("d/orders.txt"), "old");
  EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"});
  EXPECT_NE(trace.CauseText().find("orders.txt could not be replaced: No space left on device; "
                                   "the received data could not be kept: No space left on device"),
            std::string::npos)
      << trace.CauseText();
  files.Heal();
}

TEST_F(ReceiveJob, CompanyCodeWithTrailingSpacesNamesTheMemberWithout) {
  Write("d/orders.txt", "old");
  http.Reply("0PK");
  archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new"); };
  EXPECT_EQ(Recv("d/orders.txt", u"C001  "), 0);
  EXPECT_EQ(Read("d/orders.txt"), "new");
  EXPECT_EQ(http.body, u"3C001        key" + std::u16string(47, u' '));
}

TEST_F(ReceiveJob, UrlIsPostedAsItWasChecked) {
  const struct {
    std::u16string url;
    std::u16string post_url;
  } cases[] = {
      {u"  http://host1:8080/app ", u"http://host1:8080/app/servlets/GetSOData"},
      {u"HTTP://host1:8080/app/", u"HTTP://host1:8080/app/servlets/GetSOData"},
      {u" host1:8080/app", u"http://host1:8080/app/servlets/GetSOData"},
  };
  for (const auto& c : cases) {
    http.Reply("9");
    EXPECT_EQ(Recv("orders.txt", u"C001", c.url), 90);
    EXPECT_EQ(state.PostUrl, c.post_url);
    EXPECT_EQ(http.path, u"/app/servlets/GetSOData");
    // The captions show the URL as the caller gave it.
    EXPECT_EQ(window.refreshed_captions.front(), u"受信(" + c.url + u")");
    window.refreshed_captions.clear();
  }
}

// A code that cannot name a member file in the work directory is refused
// before the server is asked for the data it would hand out.
TEST_F(ReceiveJob, CompanyCodeThatMakesNoFileNameIsRefusedBeforeThePost) {
  Write("victim.dat", "must survive");
  Write("d/orders.txt", "old");
  http.Reply("0PK");
  for (const std::u16string code : {u"../victim", u"A/B", u"..\\x"}) {
    EXPECT_EQ(Recv("d/orders.txt", code), 2) << ToUtf8(code);
    EXPECT_EQ(tolvex.ErrorMsg, u"受注会社コードエラー");
    EXPECT_EQ(http.posts, 0) << ToUtf8(code);
    EXPECT_NE(trace.CauseText().find("the company code does not make a file name"),
              std::string::npos)
        << trace.CauseText();
  }
  EXPECT_EQ(Read("victim.dat"), "must survive");
  EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"});
  EXPECT_TRUE(archive.calls.empty());
}

// A directory that could not take the data is found out before the
// server is asked, and nothing on disk changes.
TEST_F(ReceiveJob, DirectoryThatCannotTakeFilesIsRefusedBeforeThePost) {
  const FileError read_only("mkdir: Read-only file system", FileFault::kReadOnly,
                            "Read-only file system");
  const struct {
    const char* name;
    std::string file;
    bool refuse_directories;
    std::string cause;
  } cases[] = {
      {"a parent that is a file", "f/sub/orders.txt", false, "f is not a directory"},
      {"a read-only directory", "d/orders.txt", true, "no directory can be made in it: mkdir"},
      {"a read-only ancestor of a missing one", "d/new/sub/orders.txt", true,
       "no directory can be made in it: mkdir"},
  };
  for (const auto& c : cases) {
    Write("f", "a file");
    Write("d/orders.txt", "old");
    if (c.refuse_directories) files.Fail(FileOp::kCreatePrivateDirectory, read_only);
    http.Reply("0PK");
    EXPECT_EQ(Recv(c.file), 12) << c.name;
    files.Heal();
    EXPECT_EQ(http.posts, 0) << c.name;
    EXPECT_NE(trace.CauseText().find(c.cause), std::string::npos)
        << c.name << ": " << trace.CauseText();
    EXPECT_EQ(Listing(), (std::set<std::string>{"d", "f"})) << c.name;
    EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"}) << c.name;
  }
}

TEST_F(ReceiveJob, OneBytePayloadIsWrittenLikeAnyOther) {
  http.Reply("0+");
  archive.on_unpack = [&] {
    EXPECT_EQ(ReadIn(archive.unpack_dir, "so.zip"), " ");
    WriteIn(archive.unpack_dir, "C001.dat", "x");
  };
  EXPECT_EQ(Recv("orders.txt"), 0);
  EXPECT_EQ(Read("orders.txt"), "x");
}

TEST_F(ReceiveJob, EveryFailureRecordsItsCause) {
  const struct {
    const char* name;
    std::string reply;
    std::string raise_at;
    std::int32_t error;
    std::int16_t code;
    std::string cause;  // {kept}: where the received archive was kept
  } cases[] = {
      {"refused by the server", "9", "", 0, 90,
       "the server refused the request: unknown company, wrong key or a request it rejects "
       "(reply 1 bytes \"9\")"},
      {"no response", "8", "", 0, 92, "the server reported no response (reply 1 bytes \"8\")"},
      {"status alone", "0", "", 0, 93,
       "the server's reply is not understood (reply 1 bytes \"0\")"},
      {"unknown status", "9\n", "", 0, 93,
       "the server's reply is not understood (reply 2 bytes \"9\\x0A\")"},
      {"empty reply", "", "", 0, 93,
       "the server's reply is not understood (reply 1 bytes \"\\x00\")"},
      {"bad escape", "0%G1", "", 0, 93,
       "the reply's archive encoding is malformed (bad escape digit)"},
      {"escape cut short", "0ab%4", "", 0, 93,
       "the reply's archive encoding is malformed (escape cut short)"},
      {"control reports", "0PK", "", 3, 11,
       "the archiver reported an error while unpacking{kept} (archive error 3: CRC mismatch)"},
      // The fake raises at the first call its prefix names: UnpackDir.
      {"control raises", "0PK", "Unpack", 0, 12, "unpacking failed to run{kept} (UnpackDir)"},
      {"member missing", "0PK", "", 0, 12,
       "the received file could not be put in place{kept} (the archive has no member C001.dat)"},
      // Whatever a redirect's body says, even "no data", it is not the
      // servlet's reply (the fake redirects where the reply starts "1").
      {"redirected", "1", "", 0, 93,
       "the server redirected the request elsewhere, which is not followed (HTTP/1.1 302 Found; "
       "Location: http://elsewhere/x)"},
  };
  for (const auto& c : cases) {
    archive = FakeArchiveControl();
    archive.raise_at = c.raise_at;
    archive.error = c.error;
    archive.error_text = u"CRC mismatch";
    http.Reply(c.reply);
    http.redirect.reset();
    if (c.reply == "1")
      http.redirect = HttpSession::Redirect{"HTTP/1.1 302 Found", "http://elsewhere/x"};
    Write("d/orders.txt", "old");
    EXPECT_EQ(Recv("d/orders.txt"), c.code) << c.name;
    EXPECT_EQ(Read("d/orders.txt"), "old") << c.name;
    std::string expected = c.cause;
    std::string kept;
    if (const auto at = expected.find("{kept}"); at != std::string::npos) {
      auto names = Listing("d");
      names.erase("orders.txt");
      ASSERT_EQ(names.size(), 1u) << c.name;
      kept = *names.begin();
      expected.replace(at, 6,
                       "; the received archive was kept in " + Path("d").string() + "/" + kept);
      EXPECT_EQ(Read("d/" + kept), "PK") << c.name;
      std::filesystem::remove(Path("d/" + kept));
    }
    EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"}) << c.name;
    EXPECT_EQ(trace.CauseText(), expected) << c.name;
  }
  http.redirect.reset();
  http.send_result = false;
  EXPECT_EQ(Recv("d/orders.txt"), 9);
  EXPECT_EQ(trace.CauseText(), "the request could not be sent (host1 port 8080)");
}

TEST_F(ReceiveJob, FullDiskNamesTheFileAndKeepsTheOldOne) {
  Write("d/orders.txt", "old");
  http.Reply("0" + Encoded(std::string(5000, 'z')));
  files.room = 4096;
  EXPECT_EQ(Recv("d/orders.txt"), 12);
  EXPECT_NE(trace.CauseText().find("the received archive could not be written (write "),
            std::string::npos)
      << trace.CauseText();
  EXPECT_NE(trace.CauseText().find("so.zip: No space left on device)"), std::string::npos)
      << trace.CauseText();
  EXPECT_EQ(Read("d/orders.txt"), "old");
  EXPECT_TRUE(archive.calls.empty());
  EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"});

  // An archive that cannot be synced is not written either.
  files.room = UINT64_MAX;
  files.Fail(FileOp::kSync,
             FileError("sync so.zip: Input/output error", FileFault::kOther, "Input/output error"),
             "so.zip");
  http.Reply("0" + Encoded(std::string(5000, 'z')));
  EXPECT_EQ(Recv("d/orders.txt"), 12);
  EXPECT_NE(trace.CauseText().find(
                "the received archive could not be written (sync so.zip: Input/output error)"),
            std::string::npos)
      << trace.CauseText();
  EXPECT_EQ(Read("d/orders.txt"), "old");
  EXPECT_TRUE(archive.calls.empty());
  EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"});
  files.Heal();

  // A payload malformed past the point where the disk filled is told as
  // malformed, as it was when the payload was decoded whole first.
  http.Reply("0" + Encoded(std::string(5000, 'z')) + "%G1");
  files.room = 4096;
  EXPECT_EQ(Recv("d/orders.txt"), 93);
  EXPECT_EQ(trace.CauseText(), "the reply's archive encoding is malformed (bad escape digit)");
  EXPECT_EQ(Listing("d"), std::set<std::string>{"orders.txt"});
}

TEST_F(ReceiveJob, TraceTellsEveryStepAndNeverTheKey) {
  const std::u16string key = u"s3cret-Key-0042";
  http.Reply("0" + Encoded("PK zip"));
  archive.on_unpack = [&] {
    std::ofstream(std::filesystem::path(archive.unpack_dir) / "C001.dat") << "new";
  };
  ASSERT_EQ(tolvex.RecvSO(u"http://host1:8080/app", key, u"C001",
                          Variant::String(Dir("d") + u"/orders.txt")),
            0);
  EXPECT_EQ(Read("d/orders.txt"), "new");
  const std::string text = trace_lines.Text();
  for (const std::string& step : std::vector<std::string>{
           "* RecvSO URL \"http://host1:8080/app\" code \"C001\" key (15 characters, masked)",
           "* POST http://host1:8080/app/servlets/GetSOData\n",
           "* request body: 63 bytes, header \"3C001        " + std::string(15, '*') +
               std::string(35, ' ') + "\"\n",
           "* connecting to host1 port 8080\n",
           "* reply: 9 bytes, \"0PK%20zip\", in ",
           "* reply classified: data\n",
           "* decoded the archive: 6 bytes in ",
           "* wrote ",
           "so.zip: 6 bytes in ",
           "* unpacked ",
           "* put in place: " + Path("d/orders.txt").string() + " in ",
           "* result 0\n",
       }) {
    EXPECT_NE(text.find(step), std::string::npos) << step << "\nin:\n" << text;
  }
  EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
  EXPECT_EQ(trace.CauseText(), "");
}

}  // namespace
}  // namespace tolvex::testing
