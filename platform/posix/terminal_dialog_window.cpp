#include "terminal_dialog_window.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "component/text.h"
#include "dialog/dialog_design.h"
#include "interrupt.h"

namespace tolvex::posix {

TerminalDialogWindow::TerminalDialogWindow(bool quiet) : visible_(!quiet && isatty(STDERR_FILENO)) {
  if (pipe(wake_fds_) == 0) {
    for (const int fd : wake_fds_) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
}

TerminalDialogWindow::~TerminalDialogWindow() {
  for (const int fd : wake_fds_) {
    if (fd >= 0) close(fd);
  }
}

void TerminalDialogWindow::ShowModal(DialogEvents& events) {
  if (shown_) throw std::logic_error("the transfer dialog is already shown");
  shown_ = true;
  unloaded_ = false;
  events_ = &events;
  caption_ = shown_caption_ = std::u16string(kLabelDesignCaption);
  progress_.clear();
  progress_start_ = Clock::time_point{};
  value_ = 0;
  start_ = out_ = Timer{};
  TakeInterrupt();  // a press before this call is not a Cancel of it
  events.OnLoad();
  Draw();
  RunLoop(nullptr);
  Erase();
  shown_ = false;
  events_ = nullptr;
}

void TerminalDialogWindow::PumpUntil(const std::function<bool()>& done) { RunLoop(&done); }

void TerminalDialogWindow::PumpFor(std::uint32_t milliseconds) {
  const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
  const std::function<bool()> done = [until] { return Clock::now() >= until; };
  RunLoop(&done, until);
}

void TerminalDialogWindow::Wake() {
  const char byte = 1;
  if (wake_fds_[1] >= 0) (void)!write(wake_fds_[1], &byte, 1);
}

void TerminalDialogWindow::RunLoop(const std::function<bool()>* done, Clock::time_point until) {
  while (!unloaded_) {
    if (done && (*done)()) return;
    if (TakeInterrupt()) {
      events_->OnCancel();
      continue;
    }
    const auto now = Clock::now();
    Timer* next = nullptr;
    for (Timer* t : {&start_, &out_}) {
      if (t->Running() && (!next || t->due < next->due)) next = t;
    }
    if (next && next->due <= now) {
      next->due = now + std::chrono::milliseconds(next->interval);
      events_->OnTimer(next == &start_ ? DialogTimer::Start : DialogTimer::Out);
      continue;
    }
    const auto ms_until = [now](Clock::time_point due) {
      return static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1);
    };
    int wait_ms = next ? ms_until(next->due) : 1000;
    if (until != Clock::time_point::max()) wait_ms = std::min(wait_ms, ms_until(until));
    pollfd fds[2] = {{wake_fds_[0], POLLIN, 0}, {InterruptFd(), POLLIN, 0}};
    if (poll(fds, 2, wait_ms) > 0 && (fds[0].revents & POLLIN)) {
      char drain[64];
      while (read(wake_fds_[0], drain, sizeof drain) > 0) {
      }
    }
  }
}

void TerminalDialogWindow::Unload() {
  unloaded_ = true;
  start_ = out_ = Timer{};
}

void TerminalDialogWindow::SetLabelCaption(const std::u16string& caption) { caption_ = caption; }

void TerminalDialogWindow::Refresh() {
  shown_caption_ = caption_;
  Draw();
}

std::int32_t TerminalDialogWindow::ProgressMax() { return kProgressDesignMax; }

void TerminalDialogWindow::SetProgressValue(float value) {
  value_ = std::clamp(value, 0.0f, static_cast<float>(kProgressDesignMax));
  Draw();
}

void TerminalDialogWindow::SetTimerEnabled(DialogTimer timer, bool enabled) {
  Timer& t = TimerFor(timer);
  t.enabled = enabled;
  Arm(t);
}

void TerminalDialogWindow::SetTimerInterval(DialogTimer timer, std::uint32_t milliseconds) {
  Timer& t = TimerFor(timer);
  t.interval = milliseconds;
  Arm(t);
}

void TerminalDialogWindow::Arm(Timer& timer) {
  timer.due = Clock::now() + std::chrono::milliseconds(timer.interval);
}

void TerminalDialogWindow::Draw() {
  if (!visible_ || !shown_) return;
  winsize size{};
  int columns = 80;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) columns = size.ws_col;
  constexpr int kBarWidth = 20;
  const int filled = static_cast<int>(value_ * kBarWidth / kProgressDesignMax);
  std::string bar = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
  // Half-width and most wide characters alike count as one column here;
  // cut generously so a line of wide characters still fits.
  std::u16string label = shown_caption_;
  const int progress_room = progress_.empty() ? 0 : static_cast<int>(progress_.size()) + 3;
  const auto room =
      static_cast<std::size_t>(std::max(8, (columns - kBarWidth - 4 - progress_room) / 2));
  if (label.size() > room) label = label.substr(0, room - 1) + u"…";
  const std::string tail = progress_.empty() ? "" : " - " + progress_;
  std::fprintf(stderr, "\r\033[K%s %s%s", bar.c_str(), ToUtf8(label).c_str(), tail.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

namespace {

std::string Amount(double bytes) {
  const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < sizeof units / sizeof *units) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

}  // namespace

std::string TerminalDialogWindow::DescribeProgress(const TransferCounts& counts, double seconds) {
  // The upload comes first; once reply bytes arrive they are the news.
  const bool receiving = counts.received > 0;
  const std::uint64_t moved = receiving ? counts.received : counts.sent;
  const std::optional<std::uint64_t> whole =
      receiving ? counts.reply_size : std::optional<std::uint64_t>(counts.body_size);
  std::string text = std::string(receiving ? "received " : "sent ") + Amount(moved);
  if (whole && *whole > 0) {
    const auto percent =
        static_cast<unsigned>(std::min<std::uint64_t>(moved, *whole) * 100 / *whole);
    text += " of " + Amount(static_cast<double>(*whole)) + " (" + std::to_string(percent) + "%)";
  }
  if (seconds > 0) text += ", " + Amount(static_cast<double>(moved) / seconds) + "/s";
  return text;
}

void TerminalDialogWindow::ShowTransferProgress(const TransferCounts& counts) {
  const auto now = Clock::now();
  if (progress_start_ == Clock::time_point{}) progress_start_ = now;
  // A few redraws a second are all a reader can follow.
  const bool whole = (counts.received == 0 && counts.sent == counts.body_size) ||
                     (counts.reply_size && counts.received == *counts.reply_size);
  if (!whole && now - progress_drawn_ < std::chrono::milliseconds(200)) return;
  progress_drawn_ = now;
  progress_ =
      DescribeProgress(counts, std::chrono::duration<double>(now - progress_start_).count());
  Draw();
}

void TerminalDialogWindow::Erase() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tolvex::posix
