#include "terminal_dialog_window.h"

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

TerminalDialogWindow::TerminalDialogWindow(bool quiet)
    : visible_(!quiet && isatty(STDERR_FILENO)) {}

void TerminalDialogWindow::ShowModal(DialogEvents& events) {
  if (shown_) throw std::logic_error("the transfer dialog is already shown");
  shown_ = true;
  unloaded_ = false;
  caption_ = shown_caption_ = std::u16string(kLabelDesignCaption);
  value_ = 0;
  start_ = out_ = Timer{};
  TakeInterrupt();  // a press before this call is not a Cancel of it
  events.OnLoad();
  Draw();
  while (!unloaded_) {
    if (TakeInterrupt()) {
      events.OnCancel();
      continue;
    }
    const auto now = Clock::now();
    Timer* next = nullptr;
    for (Timer* t : {&start_, &out_}) {
      if (t->Running() && (!next || t->due < next->due)) next = t;
    }
    if (next && next->due <= now) {
      next->due = now + std::chrono::milliseconds(next->interval);
      events.OnTimer(next == &start_ ? DialogTimer::Start : DialogTimer::Out);
      continue;
    }
    int wait_ms = 1000;
    if (next) {
      wait_ms = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(next->due - now).count() + 1);
    }
    pollfd fd{InterruptFd(), POLLIN, 0};
    poll(&fd, fd.fd >= 0 ? 1 : 0, wait_ms);
  }
  Erase();
  shown_ = false;
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
  const auto room = static_cast<std::size_t>(std::max(8, (columns - kBarWidth - 4) / 2));
  if (label.size() > room) label = label.substr(0, room - 1) + u"…";
  std::fprintf(stderr, "\r\033[K%s %s", bar.c_str(), ToUtf8(label).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void TerminalDialogWindow::Erase() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace tolvex::posix
