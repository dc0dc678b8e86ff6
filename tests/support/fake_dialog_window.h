// A DialogWindow that runs the modal loop synchronously: after the load it
// delivers the ticks of enabled timers until the dialog unloads.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "dialog/dialog_design.h"
#include "dialog/dialog_window.h"

namespace tolvex::testing {

class FakeDialogWindow : public DialogWindow {
 public:
  void ShowModal(DialogEvents& events) override {
    if (shown_) throw std::logic_error("already shown");
    shown_ = true;
    unloaded_ = false;
    ++loads;
    caption_ = std::u16string(kLabelDesignCaption);
    captions_at_load.push_back(caption_);
    value_ = 0;
    start_ = out_ = Timer{};
    events_ = &events;
    events.OnLoad();
    if (after_load) after_load();
    if (cancel_before_start && !unloaded_) events.OnCancel();
    int guard = 0;
    while (!unloaded_ && ++guard < 1000) {
      if (start_.Running()) {
        events.OnTimer(DialogTimer::Start);
      } else if (out_.Running()) {
        ++out_ticks;
        events.OnTimer(DialogTimer::Out);
      } else {
        break;
      }
    }
    shown_ = false;
    if (!unloaded_) throw std::logic_error("dialog left open with nothing to run");
  }
  void Unload() override {
    ++unloads;
    unloaded_ = true;
  }
  void SetLabelCaption(const std::u16string& caption) override {
    caption_ = caption;
    captions.push_back(caption);
  }
  std::u16string LabelCaption() override { return caption_; }
  void Refresh() override {
    ++refreshes;
    refreshed_captions.push_back(caption_);
  }
  std::int32_t ProgressMax() override { return kProgressDesignMax; }
  void SetProgressValue(float value) override {
    value_ = value;
    progress.push_back(value);
  }
  float ProgressValue() override { return value_; }
  std::int32_t WindowHandle() override { return 0x4242; }
  void SetTimerEnabled(DialogTimer timer, bool enabled) override {
    TimerFor(timer).enabled = enabled;
    timer_log.push_back(std::string(timer == DialogTimer::Start ? "start" : "out") +
                        (enabled ? ".on" : ".off"));
  }
  void SetTimerInterval(DialogTimer timer, std::uint32_t ms) override {
    TimerFor(timer).interval = ms;
    timer_log.push_back(std::string(timer == DialogTimer::Start ? "start" : "out") + "=" +
                        std::to_string(ms));
  }
  void StopStartTimerForTest() { start_ = Timer{}; }

  // Runs while the post's worker works: first the scripted event, then
  // response-timer ticks (time passes quickly here) until the post ends.
  void PumpUntil(const std::function<bool()>& done) override {
    ++pumps;
    if (cancel_after_post) {
      // The user's Cancel arrives after the last byte, before the job has
      // looked at the reply.
      while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      events_->OnCancel();
      return;
    }
    bool scripted = false;
    for (;;) {
      // Read before done(), which hands over what the worker reported
      // until then.
      const bool may_tick = !ticks_from || ticks_from();
      if (done() || unloaded_) return;
      if (!scripted && during_post) {
        scripted = true;
        during_post(*events_);
        continue;
      }
      if (out_.Running() && tick_response_timer && may_tick) {
        ++out_ticks;
        events_->OnTimer(DialogTimer::Out);
        continue;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // A pause of the job: no time passes here; the scripted event, if any,
  // comes during it.
  void PumpFor(std::uint32_t milliseconds) override {
    pauses.push_back(milliseconds);
    if (during_pause && !unloaded_) during_pause(*events_);
  }
  void Wake() override { ++wakes; }
  void ShowTransferProgress(const TransferCounts& counts) override {
    shown_progress.push_back(counts);
  }

  bool cancel_before_start = false;
  std::function<void()> after_load;
  std::function<void(DialogEvents&)> during_post;
  bool cancel_after_post = false;
  std::function<void(DialogEvents&)> during_pause;
  std::vector<std::uint32_t> pauses;
  bool tick_response_timer = false;
  std::function<bool()> ticks_from;  // response ticks only once this holds
  int pumps = 0;
  std::atomic<int> wakes{0};
  int loads = 0, unloads = 0, refreshes = 0, out_ticks = 0;
  std::vector<std::u16string> captions, refreshed_captions, captions_at_load;
  std::vector<float> progress;
  std::vector<std::string> timer_log;
  std::vector<TransferCounts> shown_progress;

 private:
  struct Timer {
    bool enabled = false;
    std::uint32_t interval = 0;
    bool Running() const { return enabled && interval > 0; }
  };
  Timer& TimerFor(DialogTimer t) { return t == DialogTimer::Start ? start_ : out_; }
  bool shown_ = false, unloaded_ = false;
  DialogEvents* events_ = nullptr;
  std::u16string caption_;
  float value_ = 0;
  Timer start_, out_;
};

}  // namespace tolvex::testing
