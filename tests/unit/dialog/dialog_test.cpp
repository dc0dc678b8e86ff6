#include <algorithm>

#include "job_fixture.h"

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

}  // namespace
}  // namespace tolvex::testing
