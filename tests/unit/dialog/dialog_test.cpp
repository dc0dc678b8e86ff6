#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
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

TEST_F(TransferDialog, CancelLeavesTheHandlesToTheWorkerWhichClosesThemBeforeTheCallReturns) {
  // Run under ThreadSanitizer too. Abort only wakes the worker, which may
  // be inside a call on any handle: it closes them itself, the request
  // first, and the call waits for that.
  const struct {
    const char* name;
    bool FakeHttpSession::*hang;
  } cases[] = {{"during the body's read", &FakeHttpSession::hang_in_body},
               {"during the reply's read", &FakeHttpSession::hang_in_read}};
  for (const auto& c : cases) {
    http.*c.hang = true;
    http.waiting = false;
    http.TakeEvents();
    http.Reply("0PK");
    window.during_post = [&](DialogEvents& events) {
      while (!http.waiting) std::this_thread::yield();
      events.OnCancel();
    };
    Write("orders.txt", "old orders");
    EXPECT_EQ(Recv("orders.txt"), 99) << c.name;
    EXPECT_EQ(http.TakeEvents(),
              (std::vector<std::string>{"abort", "close 3", "close 2", "close 1"}))
        << c.name;
    EXPECT_EQ(Read("orders.txt"), "old orders") << c.name;
    http.*c.hang = false;
  }
}

// Lets the post's worker read one piece of the reply at a time. A side
// that waits in vain goes on after a while, so a fault fails the checks,
// not the run.
class Trickle {
 public:
  // On the worker, before each read.
  void AtRead() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    changed_.notify_all();
    changed_.wait_for(lock, kPatience, [&] { return open_ || given_ >= arrived_; });
  }
  // Lets one read through, then waits until the worker has handed on its
  // bytes and come to the next read.
  void One() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] { return arrived_ > given_; });
    ++given_;
    changed_.notify_all();
    changed_.wait_for(lock, kPatience, [&] { return arrived_ > given_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  static constexpr std::chrono::seconds kPatience{5};
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  int given_ = 0;
  bool open_ = false;
};

TEST_F(TransferDialog, BytesMovingWhileTheClientsOwnLoopRunsTheTimerAreNoSilence) {
  // A client's modal loop (a message box its timer shows) dispatches the
  // response timer's ticks while the news of the bytes waits for the
  // dialog's own loop: six periods pass, a byte arriving in each.
  Trickle trickle;
  http.read_piece = 1;
  http.on_read = [&] { trickle.AtRead(); };
  http.Reply("0PKPKPKPKPK");
  archive.on_unpack = [&] { WriteIn(archive.unpack_dir, "C001.dat", "new orders"); };
  window.during_post = [&](DialogEvents& events) {
    for (int period = 0; period < 6; ++period) {
      trickle.One();
      events.OnTimer(DialogTimer::Out);
    }
    trickle.Open();
  };
  EXPECT_EQ(Recv("orders.txt"), 0);
  EXPECT_EQ(Read("orders.txt"), "new orders");
  EXPECT_EQ(dialog.TimeoutCount, 0);
}

TEST_F(TransferDialog, TheBuiltInArchiverWorksBesideTheLoopWhereCancelEndsTheJob) {
  // Run under ThreadSanitizer too.
  const auto dialog_thread = std::this_thread::get_id();
  const struct {
    const char* name;
    bool send;
    bool any_thread;  // the built-in archiver, not the control
    bool cancel;      // Cancel while it packs or unpacks
    std::int16_t code;
  } cases[] = {
      {"receive, built-in", false, true, false, 0},
      {"receive, built-in, Cancel during the unpack", false, true, true, 99},
      {"receive, the control", false, false, false, 0},
      {"send, built-in", true, true, false, 0},
      {"send, built-in, Cancel during the packing", true, true, true, 99},
      {"send, the control", true, false, false, 0},
  };
  for (const auto& c : cases) {
    archive = FakeArchiveControl();
    archive.any_thread = c.any_thread;
    window.pumps = 0;
    std::atomic<bool> cancelled{false};
    std::thread::id step_thread;
    // The step goes on only once the Cancel has come, as a long one would.
    const auto step = [&](const std::function<void()>& work) {
      step_thread = std::this_thread::get_id();
      for (int i = 0; c.cancel && !cancelled && i < 5000; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      work();
    };
    archive.on_unpack = [&] {
      step([&] { WriteIn(archive.unpack_dir, "C001.dat", "new orders"); });
    };
    archive.on_pack = [&] { step([&] { WriteIn(archive.pack_dir, "progress.zip", "PK"); }); };
    // The pack comes before the send's post, the unpack after the
    // receive's.
    const int archive_pump = c.send ? 1 : 2;
    window.during_post = [&](DialogEvents& events) {
      if (!c.cancel || window.pumps != archive_pump) return;
      events.OnCancel();
      cancelled = true;
    };
    std::filesystem::remove_all(Path("d"));
    Write("d/orders.txt", "old orders");
    Write("d/progress.txt", "progress");
    const int posts = http.posts;
    http.Reply(c.send ? "0" : "0PK");
    tolvex.ErrorMsg = u"old";
    EXPECT_EQ(c.send ? Send("d/progress.txt") : Recv("d/orders.txt"), c.code) << c.name;
    EXPECT_EQ(step_thread != dialog_thread, c.any_thread) << c.name;
    // The post's loop, and the archiver's where it runs beside one.
    EXPECT_EQ(window.pumps, !c.any_thread ? 1 : c.cancel ? archive_pump : 2) << c.name;
    // A receive cancelled with the whole archive come keeps it beside the
    // caller's file, as after any failure.
    std::set<std::string> left = Listing("d");
    const auto kept = std::find_if(left.begin(), left.end(), [](const std::string& name) {
      return name.rfind("orders.txt.received-", 0) == 0;
    });
    EXPECT_EQ(kept != left.end(), !c.send && c.cancel) << c.name;
    if (kept != left.end()) left.erase(kept);
    EXPECT_EQ(left, (std::set<std::string>{"orders.txt", "progress.txt"})) << c.name;
    EXPECT_EQ(Read("d/orders.txt"), c.send || c.cancel ? "old orders" : "new orders") << c.name;
    EXPECT_EQ(http.posts - posts, c.send && c.cancel ? 0 : 1) << c.name;
    EXPECT_EQ(tolvex.ErrorMsg, u"") << c.name;
  }
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
      EXPECT_EQ(a.http.path,
                round.send[i] ? u"/app/servlets/PutProgressData" : u"/app/servlets/GetSOData")
          << what;
      // The request header names the apartment's own company.
      EXPECT_EQ(a.http.body.substr(0, 13),
                (round.send[i] ? u"1" : u"3") + a.code + std::u16string(12 - a.code.size(), u' '))
          << what;
      if (!round.send[i]) {
        std::ifstream in(a.dir / "orders.txt", std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), a.data) << what;
      } else {
        EXPECT_NE(a.http.body.find(u"PK" + a.code), std::u16string::npos) << what;
      }
      EXPECT_EQ(a.lines.lines.empty() ? "(no line)" : a.lines.lines.back(), "* result 0") << what;
    }
  }
  EXPECT_EQ(posts.timeouts, 0) << "the posts did not run at the same time";
}

}  // namespace
}  // namespace tolvex::testing
