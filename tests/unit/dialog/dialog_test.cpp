#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "job_fixture.h"
#include "net/form_codec.h"

namespace tolvex::testing {
namespace {

using TransferDialog = JobFixture;

TEST_F(TransferDialog, CancelBeforeTheStartStoresNothing) {
  Write("p/progress.txt", "x");
  window.cancel_before_start = true;
  tolvex.ErrorMsg = u"old";
  EXPECT_EQ(Recv("orders.txt"), 99);
  EXPECT_EQ(tolvex.ErrorMsg, u"");
  EXPECT_EQ(Send("p/progress.txt"), 99);
  EXPECT_EQ(http.posts, 0);
  EXPECT_TRUE(archive.calls.empty());
  EXPECT_FALSE(Exists("orders.txt"));
}

TEST_F(TransferDialog, EachCallLoadsAnewAndRunsItsOwnJobOnce) {
  Write("p/progress.txt", "x");
  archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", "PK"); };
  http.Reply("1");
  EXPECT_EQ(Recv("orders.txt"), 0);
  http.Reply("0");
  EXPECT_EQ(Send("p/progress.txt"), 0);
  http.Reply("1");
  EXPECT_EQ(Recv("orders.txt"), 0);
  EXPECT_EQ(window.loads, 3);
  EXPECT_EQ(http.posts, 3);
  EXPECT_EQ(window.captions_at_load, std::vector<std::u16string>(3, u"送受信状態"));
  EXPECT_EQ(window.unloads, 3);
  // The start timer: armed by the load, stopped Enabled-first by the tick.
  EXPECT_EQ(std::vector<std::string>(window.timer_log.begin(), window.timer_log.begin() + 4),
            (std::vector<std::string>{"start=1", "start.on", "start.off", "start=0"}));
}

TEST_F(TransferDialog, ResponseTimerEndsTheCallAfterTheFourthPeriod) {
  // A job still waiting for its reply: only timOut runs, armed as a post
  // arms it.
  window.after_load = [&] {
    window.StopStartTimerForTest();
    window.SetTimerInterval(DialogTimer::Out, 5);
    window.SetTimerEnabled(DialogTimer::Out, true);
  };
  state.JobMode = kJobModeReceive;
  state.RecvJob.ResultCode = 99;
  dialog.TimeoutCount = 0;
  dialog.ShowModal();
  EXPECT_EQ(window.out_ticks, 4);
  EXPECT_EQ(dialog.TimeoutCount, 3);
  EXPECT_EQ(state.RecvJob.ResultCode, 91);
  EXPECT_EQ(state.ErrorText, u"応答タイムアウト");
  EXPECT_EQ(window.unloads, 1);
}

TEST_F(TransferDialog, CancelDuringThePostAbortsItAndStoresNothing) {
  Write("p/progress.txt", "x");
  archive.on_pack = [&] { WriteIn(archive.pack_dir, "progress.zip", "PK"); };
  http.hang = true;
  window.during_post = [](DialogEvents& events) { events.OnCancel(); };
  tolvex.ErrorMsg = u"old";
  Write("orders.txt", "old orders");
  EXPECT_EQ(Recv("orders.txt"), 99);
  EXPECT_EQ(tolvex.ErrorMsg, u"");
  EXPECT_EQ(Read("orders.txt"), "old orders");
  EXPECT_EQ(Send("p/progress.txt"), 99);
  EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"});
  EXPECT_EQ(http.aborts, 2);

  // The next call runs normally.
  http.hang = false;
  window.during_post = nullptr;
  http.Reply("0");
  EXPECT_EQ(Send("p/progress.txt"), 0);
  EXPECT_EQ(Listing("p"), std::set<std::string>{"progress.txt"});
}

TEST_F(TransferDialog, ServerThatNeverAnswersTimesOutAfterFourPeriods) {
  http.hang = true;
  window.tick_response_timer = true;
  // Time passes once the request is up: the bytes it moved restart the
  // count, so ticks before that would not be silence.
  window.ticks_from = [&] { return http.waiting.load(); };
  dialog.TimeoutCount = 3;  // left by an earlier call; a post starts afresh
  Write("orders.txt", "old orders");
  EXPECT_EQ(Recv("orders.txt"), 91);
  EXPECT_EQ(tolvex.ErrorMsg, u"応答タイムアウト");
  EXPECT_EQ(window.out_ticks, 4);
  EXPECT_EQ(http.aborts, 1);
  EXPECT_EQ(Read("orders.txt"), "old orders");
  // Armed with the response period for the post.
  EXPECT_NE(std::find(window.timer_log.begin(), window.timer_log.end(), "out=60000"),
            window.timer_log.end());
}

TEST_F(TransferDialog, PostNoticesReachTheLabelFromTheWorker) {
  http.Reply("1");
  EXPECT_EQ(Recv("orders.txt"), 0);
  EXPECT_EQ(window.pumps, 1);
  EXPECT_GE(window.wakes, 1);
  EXPECT_NE(std::find(window.refreshed_captions.begin(), window.refreshed_captions.end(),
                      u"Client Connected to host1:8080"),
            window.refreshed_captions.end());
  // The bytes moved reach the window too: the 63-byte header up, one byte down.
  ASSERT_FALSE(window.shown_progress.empty());
  EXPECT_EQ(window.shown_progress.back().sent, 63u);
  EXPECT_EQ(window.shown_progress.back().body_size, 63u);
  EXPECT_EQ(window.shown_progress.back().received, 1u);
}

TEST_F(TransferDialog, BytesMovingStartTheResponsePeriodAfresh) {
  http.Reply("1");
  EXPECT_EQ(Recv("orders.txt"), 0);
  // Armed for the post, restarted (off, then on with a whole period) as
  // bytes move, and stopped once the post is done.
  const std::vector<std::string> restart = {"out.off", "out=60000", "out.on"};
  const auto armed = std::find(window.timer_log.begin(), window.timer_log.end(), "out.on");
  ASSERT_NE(armed, window.timer_log.end());
  EXPECT_NE(std::search(armed, window.timer_log.end(), restart.begin(), restart.end()),
            window.timer_log.end());
  EXPECT_EQ(window.timer_log.back(), "out.off");
  EXPECT_EQ(dialog.TimeoutCount, 0);
}

TEST_F(TransferDialog, AnErrorInTheLoopDuringThePostEndsTheCallWithTheWorkerJoined) {
  // The loop fails while the worker waits for a server that never answers:
  // the worker is aborted and joined, not left to end the process.
  http.hang = true;
  window.during_post = [](DialogEvents&) { throw std::bad_alloc(); };
  Write("orders.txt", "old orders");
  EXPECT_EQ(Recv("orders.txt"), 99);
  EXPECT_EQ(http.aborts, 1);
  EXPECT_EQ(window.unloads, 1);
  EXPECT_EQ(trace.CauseText(), "an unexpected error ended the job (std::bad_alloc)");
  EXPECT_EQ(Read("orders.txt"), "old orders");
  EXPECT_EQ(Listing(), std::set<std::string>{"orders.txt"});

  http.hang = false;
  window.during_post = nullptr;
  http.Reply("1");
  EXPECT_EQ(Recv("orders.txt"), 0);
}

// Lets `count` threads through together, round after round; one that waits
// in vain goes on after a while, so a fault fails the checks, not the run.
class Rendezvous {
 public:
  explicit Rendezvous(int count) : count_(count) {}
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    const int round = round_;
    if (++arrived_ == count_) {
      arrived_ = 0;
      ++round_;
      all_.notify_all();
      return;
    }
    if (!all_.wait_for(lock, std::chrono::seconds(5), [&] { return round_ != round; })) {
      ++timeouts;
    }
  }
  int timeouts = 0;

 private:
  std::mutex mutex_;
  std::condition_variable all_;
  const int count_;
  int arrived_ = 0;
  int round_ = 0;
};

// What Tolvex.dll gives each apartment thread: its own job state, server
// address, dialog logic, window, session, control and trace.
struct Apartment {
  Apartment(const std::filesystem::path& dir, std::u16string code) : dir(dir), code(code) {
    std::filesystem::create_directories(dir);
    Bytes archive_bytes(std::begin(kArchive), std::end(kArchive) - 1), encoded;
    EncodeFormBytes(archive_bytes, encoded);
    data = "orders of " + ToUtf8(code) + "\r\n";
    archive.on_unpack = [this] {
      std::ofstream(std::filesystem::path(archive.unpack_dir) / (ToUtf8(this->code) + ".dat"),
                    std::ios::binary)
          << data;
    };
    archive.on_pack = [this] {
      std::ofstream(std::filesystem::path(archive.pack_dir) / "progress.zip", std::ios::binary)
          << "PK" << ToUtf8(this->code);
    };
    receive_reply = "0" + std::string(encoded.begin(), encoded.end());
    std::ofstream(dir / "progress.txt", std::ios::binary) << "progress of " << ToUtf8(code);
  }
  std::int16_t Call(bool send) {
    http.Reply(send ? "0" : receive_reply);
    const std::u16string file = FromUtf8((dir / (send ? "progress.txt" : "orders.txt")).string());
    return send ? tolvex.SendProgress(u"http://host1:8080/app", u"key-" + code, code,
                                      Variant::String(file))
                : tolvex.RecvSO(u"http://host1:8080/app", u"key-" + code, code,
                                Variant::String(file));
  }

  static constexpr char kArchive[] = "PK\x03\x04 an archive";
  std::filesystem::path dir;
  std::u16string code;
  std::string data, receive_reply;
  JobState state;
  ServerAddress address;
  FakeHttpSession http;
  FakeArchiveControl archive;
  StdFileSystem files;
  FakeDialogWindow window;
  NoMousePointer pointer;
  RecordingTraceSink lines;
  Trace trace{lines};
  FrmTolvex dialog{window, {state, address, http, archive, files, kPosixPathStyle, &trace}};
  Tolvex tolvex{{state, dialog, pointer, files, &trace}};
};

TEST_F(TransferDialog, ApartmentsRunTheirJobsAtOnceEachWithItsOwnState) {
  // Run under ThreadSanitizer too: two threads, each with its apartment,
  // whose posts are up at the same time; receives and sends, side by side
  // and crossed.
  Rendezvous posts(2);
  Apartment apartments[] = {{Path("a1"), u"C1"}, {Path("a2"), u"C2"}};
  for (Apartment& apartment : apartments) apartment.http.on_send = [&] { posts.Arrive(); };
  const struct {
    bool send[2];
  } rounds[] = {{{false, false}}, {{true, true}}, {{false, true}}, {{true, false}}};
  for (const auto& round : rounds) {
    std::int16_t results[2] = {-1, -1};
    {
      std::thread first([&] { results[0] = apartments[0].Call(round.send[0]); });
      std::thread second([&] { results[1] = apartments[1].Call(round.send[1]); });
      first.join();
      second.join();
    }
    for (int i = 0; i < 2; ++i) {
      Apartment& a = apartments[i];
      const std::string code = ToUtf8(a.code);
      const std::string what = code + (round.send[i] ? " send" : " receive");
      EXPECT_EQ(results[i], 0) << what;
      EXPECT_EQ(a.http.request_path,
                round.send[i] ? u"/app/servlets/PutProgressData" : u"/app/servlets/GetSOData")
          << what;
      // The request header names the apartment's own company.
      EXPECT_EQ(a.http.sent_body.substr(0, 13),
                (round.send[i] ? u"1" : u"3") + a.code + std::u16string(12 - a.code.size(), u' '))
          << what;
      if (!round.send[i]) {
        std::ifstream in(a.dir / "orders.txt", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), a.data) << what;
      } else {
        EXPECT_NE(a.http.sent_body.find(u"PK" + a.code), std::u16string::npos) << what;
      }
      EXPECT_EQ(a.lines.lines.empty() ? "(no line)" : a.lines.lines.back(), "* result 0") << what;
    }
  }
  EXPECT_EQ(posts.timeouts, 0) << "the posts did not run at the same time";
}

}  // namespace
}  // namespace tolvex::testing
