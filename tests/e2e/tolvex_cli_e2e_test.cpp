// The tolvex command against tolvex-server on loopback: every outcome a
// user can meet, with what the caller's directory holds afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "e2e/command_runner.h"
#include "e2e/raw_listener.h"
#include "e2e/server_process.h"
#include "e2e/test_ca.h"
#include "support/form_encoding.h"
#include "unit/archive/archive_test_support.h"

namespace tolvex::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kOrders = "指示番号,品目,数量\nW1,ボルト,1200\n";

// Loopback must not go through a proxy some environment sets, and the
// system's CAs are what a user has.
const bool kPlainEnvironment = [] {
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
        "NO_PROXY", "CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"}) {
    unsetenv(name);
  }
  return true;
}();

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Everything below a directory as a user would check it: each entry's
// kind, permission bits and content (a link's target), keyed by its path.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
       ++it) {
    const auto status = it->symlink_status();
    const auto mode = std::to_string(static_cast<int>(status.permissions() & fs::perms::all));
    std::string what;
    switch (status.type()) {
      case fs::file_type::regular:
        what = "file " + mode + " " + ReadFile(it->path());
        break;
      case fs::file_type::directory:
        what = "dir " + mode;
        break;
      case fs::file_type::symlink:
        what = "link " + fs::read_symlink(it->path()).string();
        break;
      default:
        what = "other " + mode;
        break;
    }
    entries[it->path().lexically_relative(dir).string()] = what;
  }
  return entries;
}

// Takes the received archive kept beside `file` out of a snapshot and
// returns its entry ("file 420 PK..."); "" when there is none. A receive
// that fails after a data reply keeps exactly one.
std::string TakeKept(std::map<std::string, std::string>& entries, const std::string& file) {
  std::string kept;
  for (auto it = entries.begin(); it != entries.end();) {
    const std::string& name = it->first;
    if (name.rfind(file + ".received-", 0) == 0 && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".zip") == 0) {
      EXPECT_TRUE(kept.empty()) << "a second kept archive: " << name;
      kept = it->second;
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
  return kept;
}

// What a server written in another language sends for an archive.
std::string FormEncoded(const Bytes& bytes) { return testing::UrlQuoted(bytes); }

// The project version of the top CMakeLists.txt as both commands spell it:
// 1.0.1 is "1.00.0001".
std::string VersionText() {
  int major = 0, minor = 0, patch = 0;
  std::sscanf(TOLVEX_PROJECT_VERSION, "%d.%d.%d", &major, &minor, &patch);
  char text[32];
  std::snprintf(text, sizeof text, "%d.%02d.%04d", major, minor, patch);
  return text;
}

test::CraftedMember Stored(std::string name, std::string data) {
  return test::Crafted(std::move(name), std::move(data), false);
}

class TolvexCommand : public ::testing::Test {
 protected:
  TolvexCommand() {
    WriteFile(data() / "companies.txt", "C001 key-1\nC002 key-2\n");
    WriteFile(data() / "outgoing" / "C001.dat", kOrders);
    fs::create_directories(client());
  }
  fs::path data() const { return temp_.path() / "data"; }
  fs::path client() const { return temp_.path() / "client"; }
  std::string Url(const ServerProcess& s) const {
    return "http://127.0.0.1:" + std::to_string(s.port()) + "/";
  }
  CommandResult Recv(const ServerProcess& s, const fs::path& file, const std::string& code = "C001",
                     const std::string& key = "key-1") {
    return RunTolvex({"--quiet", "recv", Url(s), key, code, file.string()});
  }
  CommandResult Send(const ServerProcess& s, const fs::path& file,
                     const std::string& key = "key-1") {
    return RunTolvex({"--quiet", "send", Url(s), key, "C001", file.string()});
  }
  fs::path Inbox() const { return data() / "inbox" / "C001"; }
  // A data reply whose payload is 10 MB of plain bytes, then `tail`, then
  // a few more; its file's path.
  std::string LongReply(const std::string& tail) const {
    const fs::path file =
        temp_.path() / ("reply-" + std::to_string(std::hash<std::string>()(tail)));
    WriteFile(file, "0" + std::string(10'000'000, 'a') + tail + (tail.size() > 2 ? "more" : ""));
    return file.string();
  }

  TempDir temp_;
};

TEST_F(TolvexCommand, ReceiveLeavesTheCompanysDataInTheCallersFile) {
  ServerProcess server(data(), {});
  const auto target = client() / "new" / "deeper" / "orders.txt";
  const auto r = Recv(server, target);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(target), kOrders);
  EXPECT_FALSE(fs::exists(target.parent_path() / "so.zip"));
  EXPECT_FALSE(fs::exists(target.parent_path() / "C001.dat"));

  // Again, over the file the first call left.
  WriteFile(data() / "outgoing" / "C001.dat", "second delivery\n");
  EXPECT_EQ(Recv(server, target).status, 0);
  EXPECT_EQ(ReadFile(target), "second delivery\n");
}

TEST_F(TolvexCommand, ReceiveOutcomesThatKeepTheOldFile) {
  // Every request is whole (63 header bytes) and reaches the server: the
  // outcome comes from its reply, never from a request that went wrong.
  const std::string raw_reply = " /servlets/GetSOData 200 63 bytes in, raw reply\n";
  const struct {
    const char* name;
    std::vector<std::string> server_args;
    std::string code, key;
    int status;
    std::string out;
    std::string logged;  // the server's log line for the request
  } cases[] = {
      {"wrong key",
       {},
       "C001",
       "nope",
       90,
       "サーバーからのエラー返答\n",
       " /servlets/GetSOData 200 63 bytes in, status 9, wrong key for C001\n"},
      {"unknown company",
       {},
       "C999",
       "key-1",
       90,
       "サーバーからのエラー返答\n",
       " /servlets/GetSOData 200 63 bytes in, status 9, unknown company C999\n"},
      {"no response", {"--reply-body", "8"}, "C001", "key-1", 92, "無応答エラー\n", raw_reply},
      {"html page",
       {"--reply-body", "<html>oops</html>", "--status", "500"},
       "C001",
       "key-1",
       93,
       "サーバーからの不正返答\n",
       " /servlets/GetSOData 500 63 bytes in, raw reply\n"},
      {"bad escape",
       {"--reply-body", "0PK%G1"},
       "C001",
       "key-1",
       93,
       "サーバーからの不正返答\n",
       raw_reply},
      {"not a zip", {"--reply-body", "0garbage+bytes"}, "C001", "key-1", 11, "", raw_reply},
      {"reply cut off",
       {"--drop-after", "20"},
       "C001",
       "key-1",
       9,
       "ポスト実行エラー\n",
       " /servlets/GetSOData 200 63 bytes in, status 0, sent "},
      // Long replies: by then the payload has been streaming into the work
      // file for a while.
      {"escape malformed after 10 MB",
       {"--reply-file", LongReply("%G1")},
       "C001",
       "key-1",
       93,
       "サーバーからの不正返答\n",
       raw_reply},
      {"escape cut by the end after 10 MB",
       {"--reply-file", LongReply("%4")},
       "C001",
       "key-1",
       93,
       "サーバーからの不正返答\n",
       raw_reply},
      {"reply cut off after 10 MB",
       {"--reply-file", LongReply("z"), "--drop-after", "10000000"},
       "C001",
       "key-1",
       9,
       "ポスト実行エラー\n",
       raw_reply},
  };
  for (const auto& c : cases) {
    ServerProcess server(data(), c.server_args);
    fs::remove_all(client());
    const auto target = client() / "orders.txt";
    WriteFile(target, "old orders");
    const auto before = Snapshot(client());
    const auto r = Recv(server, target, c.code, c.key);
    auto after = Snapshot(client());
    // An archive that would not unpack is kept as it came.
    EXPECT_EQ(TakeKept(after, "orders.txt"), c.status == 11 ? "file 420 garbage bytes" : "")
        << c.name;
    EXPECT_EQ(after, before) << c.name;
    EXPECT_EQ(r.status, c.status) << c.name;
    if (c.status == 11) {
      EXPECT_EQ(r.out.rfind("ファイル解凍エラー(", 0), 0u) << c.name << ": " << r.out;
    } else {
      EXPECT_EQ(r.out, c.out) << c.name;
    }
    EXPECT_EQ(ReadFile(target), "old orders") << c.name;
    ASSERT_FALSE(c.logged.empty()) << c.name;
    EXPECT_TRUE(server.Logged(c.logged)) << c.name << ": " << server.Log();
  }
}

TEST_F(TolvexCommand, ArchiveWithoutTheCompanysMemberGives12AndKeepsTheOldFile) {
  // A ready-made archive holding some other member.
  const auto other = temp_.path() / "other";
  fs::create_directories(other);
  WriteFile(other / "progress.txt", "not the orders");
  ServerProcess helper(data(), {});
  ASSERT_EQ(RunTolvex({"--quiet", "send", Url(helper), "key-1", "C001",
                       (other / "progress.txt").string()})
                .status,
            0);
  const auto stored = *fs::directory_iterator(Inbox());
  fs::copy_file(stored.path(), data() / "outgoing" / "C001.zip");

  ServerProcess server(data(), {});
  const auto target = client() / "orders.txt";
  WriteFile(target, "old orders");
  const auto r = Recv(server, target);
  EXPECT_EQ(r.status, 12);
  EXPECT_EQ(r.out, "ファイル解凍実行エラー\n");
  EXPECT_EQ(ReadFile(target), "old orders");
}

// Replies a hostile server could send, against a directory that also
// holds the user's own files named like the work files and the member.
// Nothing but the caller's file may change, and that only on success.
TEST_F(TolvexCommand, HostileArchivesTouchNothingButTheCallersFile) {
  using test::CraftedMember;
  std::vector<CraftedMember> many;
  for (int i = 0; i < 1100; ++i) many.push_back(Stored("m" + std::to_string(i), ""));
  CraftedMember bad_crc = Stored("C001.dat", "orders from the server\n");
  bad_crc.crc = 1234;
  CraftedMember bomb = test::Crafted("C001.dat", std::string(900000, 'z'), true);
  bomb.uncompressed_size = 1000;
  CraftedMember link = Stored("C001.dat", "/etc/passwd");
  link.made_by = 0x031E;
  link.external_attributes = 0xA1FFu << 16;
  const struct {
    const char* name;
    std::vector<CraftedMember> members;
    std::string file = "orders.dat";
    std::string code = "C001";
    int status;
    // The caller's file afterwards, as Snapshot shows it; "" when it must
    // be as it was.
    std::string after = "";
  } cases[] = {
      {"extra members beside the data",
       {Stored("C001.dat", "new orders\n"), Stored(".bashrc", "evil"),
        Stored(".ssh/authorized_keys", "evil"), Stored("so.zip.txt", "x")},
       "orders.dat",
       "C001",
       0,
       "file 384 new orders\n"},
      {"a member named like the caller's file and no data",
       {Stored("orders.dat", "server bytes")},
       "orders.dat",
       "C001",
       12},
      {"the data member is a directory", {Stored("C001.dat/", "")}, "C001.dat", "C001", 12},
      {"a CRC failure", {Stored("x.dat", "first"), bad_crc}, "orders.dat", "C001", 11},
      {"inflates past its declared size", {bomb}, "orders.dat", "C001", 11},
      {"too many members", many, "orders.dat", "C001", 11},
      {"a link member", {link}, "orders.dat", "C001", 11},
      {"a member outside the directory",
       {Stored("C001.dat", "x"), Stored("../escape.dat", "evil")},
       "orders.dat",
       "C001",
       11},
      {"a company code with a trailing space",
       {Stored("C001.dat", "new orders\n")},
       "orders.dat",
       "C001 ",
       0,
       "file 384 new orders\n"},
      {"a caller's file named like the work file",
       {Stored("C001.dat", "new orders\n")},
       "so.zip",
       "C001",
       0,
       "file 420 new orders\n"},
      {"the caller's file is the member's name",
       {Stored("C001.dat", "new orders\n")},
       "C001.dat",
       "C001",
       0,
       "file 420 new orders\n"},
      {"a caller's file that is a pipe", {Stored("C001.dat", "x")}, "pipe", "C001", 12},
      {"a caller's file that is a link",
       {Stored("C001.dat", "new orders\n")},
       "link.dat",
       "C001",
       0,
       "link orders.dat"},
  };
  for (const auto& c : cases) {
    fs::remove_all(client());
    fs::create_directories(client() / "sub");
    WriteFile(client() / "orders.dat", "old orders");
    fs::permissions(client() / "orders.dat", fs::perms::owner_read | fs::perms::owner_write);
    WriteFile(client() / "C001.dat", "the user's own C001");
    WriteFile(client() / "so.zip", "the user's own so.zip");
    WriteFile(client() / "progress.zip", "the user's own progress.zip");
    WriteFile(client() / ".bashrc", "the user's own .bashrc");
    fs::permissions(client() / "so.zip", fs::perms::owner_read | fs::perms::owner_write |
                                             fs::perms::group_read | fs::perms::others_read);
    fs::permissions(client() / "C001.dat", fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read);
    fs::create_symlink("orders.dat", client() / "link.dat");
    ASSERT_EQ(mkfifo((client() / "pipe").c_str(), 0644), 0);
    const auto before = Snapshot(client());

    const auto reply = temp_.path() / "reply.bin";
    WriteFile(reply, "0" + FormEncoded(test::CraftZip(c.members)));
    ServerProcess server(data(), {"--reply-file", reply.string()});
    const auto r = Recv(server, client() / c.file, c.code);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.out;

    auto expected = before;
    if (!c.after.empty()) {
      // A link's own entry stays; the file it leads to holds the data.
      const std::string changed = c.file == "link.dat" ? "orders.dat" : c.file;
      expected[changed] = c.file == "link.dat" ? "file 384 new orders\n" : c.after;
    }
    auto after = Snapshot(client());
    // Whatever the archive held, the one the server handed out is kept
    // beside the file, byte for byte; a pipe was refused before the post.
    const bool data_handed_out = c.status != 0 && c.file != "pipe";
    EXPECT_EQ(TakeKept(after, c.file), data_handed_out
                                           ? "file 420 " +
                                                 [&] {
                                                   const auto zip = test::CraftZip(c.members);
                                                   return std::string(zip.begin(), zip.end());
                                                 }()
                                           : "")
        << c.name;
    EXPECT_EQ(after, expected) << c.name;
  }
}

TEST_F(TolvexCommand, ReceiveIntoADeviceLeavesItAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "only root could replace a device node";
  const auto reply = temp_.path() / "reply.bin";
  WriteFile(reply, "0" + FormEncoded(test::CraftZip({Stored("C001.dat", "x")})));
  ServerProcess server(data(), {"--reply-file", reply.string()});
  EXPECT_EQ(Recv(server, "/dev/null").status, 12);
  EXPECT_EQ(fs::status("/dev/null").type(), fs::file_type::character);
  for (const auto& entry : fs::directory_iterator("/dev")) {
    EXPECT_NE(entry.path().filename().string().rfind(".tolvex-", 0), 0u) << entry.path();
  }
}

TEST_F(TolvexCommand, UrlWithSpacesOrAnUpperCaseSchemeReachesTheServer) {
  ServerProcess server(data(), {});
  const std::string host = "127.0.0.1:" + std::to_string(server.port()) + "/";
  for (const std::string& url : {" http://" + host + " ", "HTTP://" + host, "  " + host}) {
    const auto target = client() / "orders.txt";
    const auto r = RunTolvex({"--quiet", "recv", url, "key-1", "C001", target.string()});
    EXPECT_EQ(r.status, 0) << url << ": " << r.out;
    EXPECT_EQ(ReadFile(target), kOrders) << url;
  }
}

// Receives of two companies and sends, all into one directory at once.
TEST_F(TolvexCommand, ParallelCallsIntoOneDirectoryDoNotMeet) {
  const std::string second = "C002 orders\n";
  WriteFile(data() / "outgoing" / "C002.dat", second);
  ServerProcess server(data(), {});
  WriteFile(client() / "progress.txt", "W1,done\n");
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> calls;
    std::vector<int> status(8, -1);
    for (int i = 0; i < 8; ++i) {
      calls.emplace_back([&, i] {
        const auto file = client() / ("out" + std::to_string(i) + ".dat");
        if (i < 3) {
          status[i] = Recv(server, file).status;
        } else if (i < 6) {
          status[i] = Recv(server, file, "C002", "key-2").status;
        } else {
          status[i] = Send(server, client() / "progress.txt").status;
        }
      });
    }
    for (auto& call : calls) call.join();
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(status[i], 0) << "round " << round << " call " << i;
      if (i < 6) {
        EXPECT_EQ(ReadFile(client() / ("out" + std::to_string(i) + ".dat")),
                  i < 3 ? kOrders : second)
            << "round " << round << " call " << i;
      }
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(client())) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"out0.dat", "out1.dat", "out2.dat", "out3.dat",
                                            "out4.dat", "out5.dat", "progress.txt"}));
  }
}

TEST_F(TolvexCommand, ReceiveWithoutDataLeavesAnEmptyFile) {
  ServerProcess server(data(), {});
  const auto target = client() / "c2" / "orders.txt";
  const auto r = Recv(server, target, "C002", "key-2");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "受信作業指示データ無し\n");
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(fs::file_size(target), 0u);
}

TEST_F(TolvexCommand, SendDeliversTheProgressFile) {
  ServerProcess server(data(), {});
  const auto progress = client() / "progress.txt";
  WriteFile(progress, "W1,切断,完了\n");
  WriteFile(client() / "progress.zip", "the user's own");
  const auto before = Snapshot(client());
  const auto r = Send(server, progress);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Snapshot(client()), before);

  // What the server stored is a zip holding the file under its bare name.
  ASSERT_TRUE(fs::exists(Inbox()));
  const auto stored = (*fs::directory_iterator(Inbox())).path();
  const auto unpacked = temp_.path() / "unpacked.txt";
  if (std::system("command -v unzip >/dev/null") != 0) GTEST_SKIP() << "no unzip";
  const std::string command =
      "unzip -p '" + stored.string() + "' progress.txt > '" + unpacked.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(unpacked), "W1,切断,完了\n");
}

// Bytes that do not compress, so the body is as large as the file says.
std::string NoiseBytes(std::size_t size) {
  std::mt19937_64 random(42);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t word = random();
    std::memcpy(&bytes[i], &word, 8);
  }
  return bytes;
}

TEST_F(TolvexCommand, LargeSendIsStoredWhole) {
  ServerProcess server(data(), {});
  const auto progress = client() / "large.bin";
  const std::string content = NoiseBytes(50u << 20);
  WriteFile(progress, content);
  const auto r = Send(server, progress);
  ASSERT_EQ(r.status, 0) << r.out << server.Log();
  ASSERT_TRUE(fs::exists(Inbox()));
  const auto stored = (*fs::directory_iterator(Inbox())).path();
  EXPECT_GT(fs::file_size(stored), content.size());
  if (std::system("command -v unzip >/dev/null") != 0) GTEST_SKIP() << "no unzip";
  const auto unpacked = temp_.path() / "unpacked.bin";
  const std::string command =
      "unzip -p '" + stored.string() + "' large.bin > '" + unpacked.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_TRUE(ReadFile(unpacked) == content);
}

TEST_F(TolvexCommand, BodyOverTheLimitIsRefusedBeforeItIsRead) {
  ServerProcess server(data(), {"--max-body", "4096"});
  const auto progress = client() / "progress.bin";
  WriteFile(progress, NoiseBytes(20000));
  const auto r = Send(server, progress);
  EXPECT_EQ(r.status, 90);
  EXPECT_EQ(r.out, "サーバーからのエラー返答\n");
  EXPECT_FALSE(fs::exists(Inbox()));

  // Announced and never sent: the refusal comes without waiting for it.
  RawConnection raw(server.port());
  ASSERT_TRUE(
      raw.Send("POST /servlets/PutProgressData HTTP/1.1\r\nHost: 127.0.0.1\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
               "1073741825\r\n\r\n1C001"));
  const std::string reply = raw.Receive(10000, "\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 413 ", 0), 0u) << reply;
  EXPECT_TRUE(
      server.Logged(" 413 0 bytes in, refused: announces 1073741825 bytes, over the limit of 4096"))
      << server.Log();
}

// A dozen clients each sending its request a byte a second, well inside
// the server's read timeout: the receive is answered while every one of
// them is still held, unfinished, by the server, however long it takes.
TEST_F(TolvexCommand, SlowClientsDoNotHoldUpAReceive) {
  ServerProcess server(data(), {});
  const std::string start = "POST /servlets/GetSOData HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 12; ++i) {
    slow.push_back(std::make_unique<RawConnection>(server.port()));
    ASSERT_TRUE(slow.back()->Send(start.substr(0, 1)));
  }
  std::mutex mutex;
  std::condition_variable wake;
  bool received = false;
  std::thread dribbler([&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (std::size_t at = 1;
         !wake.wait_for(lock, std::chrono::seconds(1), [&] { return received; }); ++at) {
      const std::string next = at < start.size() ? start.substr(at, 1) : "a";
      for (auto& c : slow) c->Send(next);
    }
  });
  const auto target = client() / "orders.txt";
  const auto r = Recv(server, target);
  {
    std::lock_guard<std::mutex> lock(mutex);
    received = true;
  }
  wake.notify_all();
  dribbler.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFile(target), kOrders);
  // Had the receive waited for workers the slow clients held, they would
  // have been dropped by then: each one's request still completes.
  for (std::size_t i = 0; i < slow.size(); ++i) {
    ASSERT_TRUE(slow[i]->Send("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")) << i;
    const std::string reply = slow[i]->Receive(10000, "\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 ", 0), 0u) << "slow client " << i << ": " << reply;
    EXPECT_EQ(reply.find(" 408 "), std::string::npos) << "slow client " << i << ": " << reply;
  }
}

TEST_F(TolvexCommand, ServerRefusesToStartWhenItCouldNotServe) {
  ServerProcess running(data(), {});
  WriteFile(temp_.path() / "no-companies" / "readme.txt", "");
  WriteFile(temp_.path() / "plain-file", "");
  const std::string listen_any = "127.0.0.1:0";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {"port in use",
       {"--root", data().string(), "--listen", "127.0.0.1:" + std::to_string(running.port())},
       "Address already in use"},
      {"missing root", {"--root", (temp_.path() / "nowhere").string()}, "is not a directory"},
      {"root is a file", {"--root", (temp_.path() / "plain-file").string()}, "is not a directory"},
      {"no companies.txt",
       {"--root", (temp_.path() / "no-companies").string()},
       "no readable companies.txt"},
      {"context without a slash", {"--root", data().string(), "--context", "app"}, "--context"},
      {"context with a space", {"--root", data().string(), "--context", "/my app"}, "--context"},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    if (std::find(args.begin(), args.end(), "--listen") == args.end()) {
      args.insert(args.end(), {"--listen", listen_any});
    }
    const ServerExit e = RunServerToExit(args);
    EXPECT_NE(e.status, 0) << c.name;
    EXPECT_LT(e.status, 128) << c.name << ": it did not stop on its own";
    EXPECT_EQ(e.out, "") << c.name;
    EXPECT_NE(e.err.find(c.says), std::string::npos) << c.name << ": " << e.err;
    EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << c.name << ": " << e.err;
  }
  // The server that holds the port still answers every request itself.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Recv(running, client() / "orders.txt").status, 0);

  const ServerExit help = RunServerToExit({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: tolvex-server", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--max-body"), std::string::npos);
  const ServerExit version = RunServerToExit({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "tolvex-server " + VersionText() + "\n");
}

TEST_F(TolvexCommand, SendOutcomes) {
  const auto progress = client() / "progress.txt";
  WriteFile(progress, "p");
  {
    ServerProcess server(data(), {"--reply-body", "0\n"});
    const auto r = Send(server, progress);
    EXPECT_EQ(r.status, 90);
    EXPECT_EQ(r.out, "サーバーからのエラー返答\n");
    EXPECT_FALSE(fs::exists(client() / "progress.zip"));
  }
  {
    ServerProcess server(data(), {});
    EXPECT_EQ(Send(server, progress, "wrong").status, 90);
  }
  const auto r =
      RunTolvex({"--quiet", "send", "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/",
                 "key-1", "C001", progress.string()});
  EXPECT_EQ(r.status, 9);
  EXPECT_EQ(r.out, "ポスト実行エラー\n");
  EXPECT_EQ(Snapshot(client()).size(), 1u);  // nothing left after a failed post

  // A progress file named like the work file is sent like any other.
  const auto named_like_work_file = client() / "progress.zip";
  WriteFile(named_like_work_file, "p2");
  ServerProcess server(data(), {});
  EXPECT_EQ(Send(server, named_like_work_file).status, 0);
  EXPECT_EQ(ReadFile(named_like_work_file), "p2");
  EXPECT_EQ(Snapshot(client()).size(), 2u);
}

TEST_F(TolvexCommand, SendOfWhatIsNoRegularFileGives5AtOnce) {
  const auto fifo = client() / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", client() / "link-to-zero");
  for (const fs::path& file :
       {fs::path("/dev/zero"), fs::path("/dev/null"), fifo, client() / "link-to-zero"}) {
    const auto start = std::chrono::steady_clock::now();
    // Nothing listens at the URL: a call that got as far as its post would
    // end with 9.
    const auto r = RunTolvex({"send", "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/",
                              "key-1", "C001", file.string()},
                             {"", 20});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 5) << file;
    EXPECT_EQ(r.out, "ローカル送信ファィル未発見エラー\n") << file;
    EXPECT_TRUE(Contains(r.err, file.string() + ": not a disk file")) << r.err;
    // At once: far below the alarm, and no call opened the pipe (an open
    // of a pipe without a writer would wait for one).
    EXPECT_LT(took, std::chrono::seconds(10)) << file;
  }
  EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
}

TEST_F(TolvexCommand, RelativePathsNameTheFileInTheCurrentDirectory) {
  fs::create_directories(client() / "here");
  WriteFile(client() / "here" / "progress.txt", "relative progress\n");
  ServerProcess server(data(), {});
  const RunOptions in_here{(client() / "here").string(), 60};
  EXPECT_EQ(
      RunTolvex({"--quiet", "send", Url(server), "key-1", "C001", "progress.txt"}, in_here).status,
      0);
  EXPECT_EQ(
      RunTolvex({"--quiet", "recv", Url(server), "key-1", "C001", "orders.txt"}, in_here).status,
      0);
  EXPECT_EQ(
      RunTolvex({"--quiet", "recv", Url(server), "key-1", "C001", "new/o3.txt"}, in_here).status,
      0);
  EXPECT_EQ(ReadFile(client() / "here" / "orders.txt"), kOrders);
  EXPECT_EQ(ReadFile(client() / "here" / "new" / "o3.txt"), kOrders);
  const auto verbose =
      RunTolvex({"--verbose", "recv", Url(server), "key-1", "C001", "orders.txt"}, in_here);
  EXPECT_TRUE(Contains(verbose.err, "* file as the system names it: \"" +
                                        (client() / "here" / "orders.txt").string() + "\""))
      << verbose.err;
  // The archive names the file as it lies in the current directory.
  ASSERT_TRUE(fs::exists(Inbox()));
  EXPECT_TRUE(Contains(ReadFile((*fs::directory_iterator(Inbox())).path()), "progress.txt"));
}

TEST_F(TolvexCommand, ArgumentChecksAndUsage) {
  WriteFile(client() / "empty.txt", "");
  const auto file = (client() / "x.txt").string();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {{"recv", "  ", "k", "C001", file}, 1, "発注側サーバアドレスエラー\n"},
      {{"recv", "http://h/", "k", "  ", file}, 2, "受注会社コードエラー\n"},
      {{"send", "http://h/", "", "C001", file}, 3, "サーバアクセスキーエラー\n"},
      {{"send", "http://h/", "k", "C001", "   "}, 4, "ローカル送信ファィル名エラー\n"},
      {{"send", "http://h/", "k", "C001", file}, 5, "ローカル送信ファィル未発見エラー\n"},
      {{"send", "http://h/", "k", "C001", client().string()},
       5,
       "ローカル送信ファィル未発見エラー\n"},
      {{"send", "http://h/", "k", "C001", (client() / "empty.txt").string()},
       6,
       "ローカル送信ファィルレングスエラー\n"},
      {{"fetch", "a", "b", "c", "d"}, 64, ""},
      {{"recv", "a"}, 64, ""},
  };
  for (const auto& c : cases) {
    auto args = c.args;
    args.insert(args.begin(), "--quiet");
    const auto r = RunTolvex(args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(r.out, c.out) << c.args[0];
  }
  EXPECT_EQ(RunTolvex({"--help"}).status, 0);
  EXPECT_EQ(RunTolvex({"--version"}).out, "tolvex " + VersionText() + "\n");
}

TEST_F(TolvexCommand, EveryFailureNamesItsCauseOnStandardError) {
  TempDir ca_dir;
  const TestCertificates certs = MakeTestCertificates(ca_dir.path());
  const std::string dead = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/";
  const struct {
    const char* name;
    std::vector<std::string> server_args;  // no server when empty and url is set
    std::string url;                       // "" for the server's, "https" for it over TLS
    std::string key;
    int status;
    std::vector<std::string> cause;  // each part must be on the line
  } cases[] = {
      {"refused", {}, dead, "key-1", 9, {"connection refused", "(curl error 7: "}},
      {"unknown host",
       {},
       "http://orders.invalid/",
       "key-1",
       9,
       {"the server's name could not be resolved", "(curl error 6: "}},
      {"TLS verification",
       {"--tls-cert", certs.self_signed_cert.string(), "--tls-key", certs.self_signed_key.string()},
       "https",
       "key-1",
       9,
       {"TLS verification failed", "(curl error 60: "}},
      {"HTTP error page",
       {"--reply-body", "<html>oops</html>", "--status", "500"},
       "",
       "key-1",
       93,
       {"the server answered with an HTTP error page",
        "(HTTP/1.1 500 Internal Server Error; reply 17 bytes \"<html>oops</html>\")"}},
      {"reply cut off",
       {"--drop-after", "20"},
       "",
       "key-1",
       9,
       {"the reply ended after 20 of ", " bytes (curl error 18: "}},
      {"archive error",
       {"--reply-body", "0garbage+bytes"},
       "",
       "key-1",
       11,
       {"the archiver reported an error while unpacking; the received archive was kept in ",
        "orders.txt.received-", ".zip (archive error "}},
      {"wrong key",
       {},
       "",
       "wrong-key",
       90,
       {"the server refused the request", "HTTP/1.1 200 OK; reply 1 bytes \"9\""}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<ServerProcess> server;
    std::string url = c.url;
    if (url.empty() || url == "https") {
      server = std::make_unique<ServerProcess>(data(), c.server_args);
      url = (url.empty() ? "http" : "https") + std::string("://127.0.0.1:") +
            std::to_string(server->port()) + "/";
    }
    const auto target = client() / "orders.txt";
    const auto r = RunTolvex({"recv", url, c.key, "C001", target.string()});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err.rfind("tolvex: result " + std::to_string(c.status) + ": ", 0), 0u)
        << c.name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    for (const auto& part : c.cause) EXPECT_TRUE(Contains(r.err, part)) << c.name << ": " << r.err;
  }

  // Success says nothing more; --quiet keeps even a failure's cause back.
  ServerProcess server(data(), {});
  EXPECT_EQ(Recv(server, client() / "orders.txt").err, "");
  const auto ok = RunTolvex({"recv", Url(server), "key-1", "C001", (client() / "o.txt").string()});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.err, "");
  const auto quiet = RunTolvex({"--quiet", "recv", dead, "key-1", "C001", "f.dat"});
  EXPECT_EQ(quiet.status, 9);
  EXPECT_EQ(quiet.out, "ポスト実行エラー\n");
  EXPECT_EQ(quiet.err, "");
}

// What the server would hand out once is not asked for when the call
// could not keep it: the server's log shows no request.
TEST_F(TolvexCommand, WhatCannotTakeTheDataIsRefusedBeforeThePost) {
  WriteFile(client() / "a file", "not a directory");
  const struct {
    const char* name;
    std::string code;
    fs::path file;
    int status;
    std::string cause;
  } cases[] = {
      {"code with a separator", "A/B", client() / "orders.txt", 2,
       "the company code does not make a file name on this system: \"A/B.dat\""},
      {"code reaching up", "../x", client() / "orders.txt", 2, "\"../x.dat\""},
      {"a parent that is a file", "C001", client() / "a file" / "sub" / "orders.txt", 12,
       "a file is not a directory"},
  };
  for (const auto& c : cases) {
    ServerProcess server(data(), {});
    const auto r = RunTolvex({"recv", Url(server), "key-1", c.code, c.file.string()});
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_TRUE(Contains(r.err, c.cause)) << c.name << ": " << r.err;
    EXPECT_FALSE(Contains(server.Log(), "/servlets/GetSOData")) << c.name << ": " << server.Log();
  }
  EXPECT_EQ(Snapshot(client()).size(), 1u);
}

// On POSIX a backslash is part of a name, and a name that is not UTF-8
// is refused before anything else rather than read as another name.
TEST_F(TolvexCommand, FileNamesAreTakenByteForByte) {
  ServerProcess server(data(), {});
  const auto r = Recv(server, client() / "a\\b.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(client() / "a\\b.txt"), kOrders);
  EXPECT_EQ(Snapshot(client()).size(), 1u);
  for (const std::string verb : {"recv", "send"}) {
    const auto bad =
        RunTolvex({verb, Url(server), "key-1", "C001", (client() / "\xff.txt").string()});
    EXPECT_EQ(bad.status, 4) << verb;
    EXPECT_EQ(bad.out, "ローカル送信ファィル名エラー\n") << verb;
    EXPECT_TRUE(Contains(bad.err, "the file name is not valid UTF-8")) << bad.err;
  }
  EXPECT_FALSE(Contains(server.Log(), "PutProgressData")) << server.Log();
  EXPECT_EQ(Snapshot(client()).size(), 1u);
}

// A redirect is not followed, whatever its kind (a 303 would make the POST a
// GET, a 307 would post again elsewhere): the reply is not the servlet's,
// even when its body reads "no data", and the caller's file stays.
TEST_F(TolvexCommand, RedirectsAreNotFollowed) {
  const std::string elsewhere = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/x";
  for (const int status : {301, 302, 303, 307, 308}) {
    for (const std::string verb : {"recv", "send"}) {
      SCOPED_TRACE(std::to_string(status) + " " + verb);
      WriteFile(client() / "orders.txt", "old orders");
      RawListener listener({"HTTP/1.1 " + std::to_string(status) +
                            " Moved\r\nLocation: " + elsewhere + "\r\nContent-Length: 1\r\n\r\n" +
                            (verb == "recv" ? "1" : "0")});
      const auto r = RunTolvex({verb, "http://127.0.0.1:" + std::to_string(listener.port()) + "/",
                                "key-1", "C001", (client() / "orders.txt").string()});
      EXPECT_EQ(r.status, verb == "recv" ? 93 : 90);
      EXPECT_TRUE(Contains(r.err,
                           "the server redirected the request elsewhere, which is not "
                           "followed (HTTP/1.1 " +
                               std::to_string(status) + " Moved; Location: " + elsewhere))
          << r.err;
      EXPECT_EQ(ParseRequest(listener.Request()).request_line.rfind("POST /servlets/", 0), 0u);
      EXPECT_EQ(ReadFile(client() / "orders.txt"), "old orders");
    }
  }
}

TEST_F(TolvexCommand, VerboseShowsTheRequestAsTheServerGotItAndNeverTheKey) {
  const std::string key = "Xk-4471-secret";
  WriteFile(data() / "companies.txt", "C001 " + key + "\n");
  RawListener listener({"HTTP/1.0 200 OK\r\nContent-Length: 1\r\nX-Echo: " + key + "\r\n\r\n9"});
  const auto r = RunTolvex({"--verbose", "recv",
                            "http://127.0.0.1:" + std::to_string(listener.port()) + "/app", key,
                            "C001", (client() / "orders.txt").string()});
  const ParsedRequest request = ParseRequest(listener.Request());
  EXPECT_EQ(r.status, 90);
  EXPECT_TRUE(Contains(r.err, "\n> " + request.request_line + "\n")) << r.err;
  ASSERT_EQ(request.header_lines.size(), 4u);
  for (const auto& header : request.header_lines) {
    EXPECT_TRUE(Contains(r.err, "\n> " + header + "\n")) << header << "\n" << r.err;
  }
  for (const std::string& step : std::vector<std::string>{
           "* POST http://127.0.0.1:" + std::to_string(listener.port()) + "/app/servlets/GetSOData",
           "* request body: 63 bytes, header \"3C001        " + std::string(key.size(), '*') +
               std::string(50 - key.size(), ' ') + "\"",
           "< HTTP/1.0 200 OK\n",
           "< Content-Length: 1\n",
           "* reply: 1 bytes, \"9\", in ",
           "* reply not accepted: the server refused the request",
           "* result 90 サーバーからのエラー返答: the server refused the request",
       }) {
    EXPECT_TRUE(Contains(r.err, step)) << step << "\n" << r.err;
  }
  EXPECT_TRUE(Contains(r.err, "< X-Echo: " + std::string(key.size(), '*') + "\n")) << r.err;

  // A whole receive and a send: every archive and file step, and the key
  // in none of the output.
  ServerProcess server(data(), {});
  const auto recv = RunTolvex(
      {"--verbose", "recv", Url(server), key, "C001", (client() / "orders.txt").string()});
  EXPECT_EQ(recv.status, 0) << recv.err;
  for (const char* step : {"* reply classified: data\n", "* decoded the archive: ", "* wrote ",
                           "* unpacked ", "* put in place: ", "* result 0\n"}) {
    EXPECT_TRUE(Contains(recv.err, step)) << step << "\n" << recv.err;
  }
  WriteFile(client() / "progress.txt", "W1,done\n");
  const auto send = RunTolvex(
      {"--verbose", "send", Url(server), key, "C001", (client() / "progress.txt").string()});
  EXPECT_EQ(send.status, 0) << send.err;
  for (const char* step : {"* packed ", "* read and encoded ", "* reply classified: accepted\n"}) {
    EXPECT_TRUE(Contains(send.err, step)) << step << "\n" << send.err;
  }
  for (const auto* output : {&r.out, &r.err, &recv.out, &recv.err, &send.out, &send.err}) {
    EXPECT_FALSE(Contains(*output, key)) << *output;
  }
}

}  // namespace
}  // namespace tolvex::e2e
