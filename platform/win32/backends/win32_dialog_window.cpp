#include "backends/win32_dialog_window.h"

#include <commctrl.h>

#include <stdexcept>
#include <vector>

#include "com/wide_string.h"
#include "dialog/dialog_design.h"

namespace tolvex::win32 {
namespace {

constexpr int kCancelId = 1001;
// Posted by the post's worker so a pumping loop checks for its end.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr wchar_t kTitle[] = L"Tolvex";

UINT_PTR TimerId(DialogTimer timer) { return timer == DialogTimer::Start ? 1 : 2; }
int TimerIndex(DialogTimer timer) { return timer == DialogTimer::Start ? 0 : 1; }

// An empty dialog template: the controls are made at WM_INITDIALOG, where
// the system DPI that turns twips into pixels is known.
std::vector<WORD> EmptyTemplate() {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
  // Shown as soon as WM_INITDIALOG returns. Without WS_VISIBLE the modal
  // loop shows the window only once it first finds its queue empty, and
  // the job's start tick can come before that: the job would then run
  // with the dialog hidden.
  header->style = kDialogStyle | WS_VISIBLE;
  header->cdit = 0;
  words.push_back(0);  // no menu
  words.push_back(0);  // the predefined dialog class
  for (const wchar_t* c = kTitle; *c; ++c) words.push_back(static_cast<WORD>(*c));
  words.push_back(0);
  return words;
}

struct Scale {
  int dpi_x;
  int dpi_y;
  int X(int twips) const { return MulDiv(twips, dpi_x, 1440); }
  int Y(int twips) const { return MulDiv(twips, dpi_y, 1440); }
};

Scale SystemScale() {
  const HDC screen = GetDC(nullptr);
  Scale scale{GetDeviceCaps(screen, LOGPIXELSX), GetDeviceCaps(screen, LOGPIXELSY)};
  ReleaseDC(nullptr, screen);
  return scale;
}

void EnsureProgressClass() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
}

}  // namespace

Win32DialogWindow::Win32DialogWindow(HINSTANCE module, const CursorPointer& pointer,
                                     std::uint32_t start_hold_ms)
    : module_(module), pointer_(pointer), start_hold_ms_(start_hold_ms) {
  ResetToDesign();
}

void Win32DialogWindow::ResetToDesign() {
  caption_ = std::u16string(kLabelDesignCaption);
  progress_max_ = kProgressDesignMax;
  progress_value_ = kProgressDesignMin;
  timers_[0] = TimerState{};
  timers_[1] = TimerState{};
}

void Win32DialogWindow::ShowModal(DialogEvents& events) {
  if (window_ != nullptr || events_ != nullptr) throw std::logic_error("dialog already shown");
  EnsureProgressClass();
  ResetToDesign();
  // A quit the client posted before its call is its own loop's: the call
  // runs to its end and the quit waits for the client.
  std::optional<int> quit = TakeQueuedQuit();
  quit_.reset();
  events_ = &events;
  unloading_ = false;
  escaped_ = nullptr;
  const std::vector<WORD> dialog = EmptyTemplate();
  client_windows_.emplace();
  struct Restore {
    std::optional<ClientWindowsDisabled>& windows;
    ~Restore() { windows.reset(); }
  } restore{client_windows_};
  // Modeless, driven by a loop of our own: the system's modal loop would
  // end the dialog on a quit, before the job could store anything.
  const HWND window =
      CreateDialogIndirectParamW(module_, reinterpret_cast<const DLGTEMPLATE*>(dialog.data()),
                                 nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (window != nullptr) {
    while (!unloading_ && IsWindow(window) && PumpOne()) {
    }
    DestroyWindow(window);
  }
  events_ = nullptr;
  window_ = nullptr;
  label_ = cancel_ = progress_ = nullptr;
  font_ = unique_hfont();
  if (quit_) quit = quit_;
  if (quit) PostQuitMessage(*quit);
  if (escaped_) std::rethrow_exception(std::exchange(escaped_, nullptr));
  if (window == nullptr) throw std::runtime_error("the transfer dialog could not be created");
}

std::optional<int> Win32DialogWindow::TakeQueuedQuit() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return std::nullopt;
  return static_cast<int>(message.wParam);
}

bool Win32DialogWindow::PumpOne() {
  MSG message;
  const BOOL got = GetMessageW(&message, nullptr, 0, 0);
  if (got == -1) return false;
  if (got == 0) {
    Quit(static_cast<int>(message.wParam));
  } else {
    Dispatch(message);
  }
  return true;
}

void Win32DialogWindow::Dispatch(MSG& message) {
  const HWND window = window_.load();
  if (window == nullptr || !IsDialogMessageW(window, &message)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32DialogWindow::Quit(int code) {
  // The client is closing: the call ends as if Cancel were pressed, and
  // the quit goes back to the client's loop once the call has returned.
  quit_ = code;
  if (!unloading_ && events_ != nullptr) Deliver([this] { events_->OnCancel(); });
  // A handler that did not close the dialog still may not keep the
  // client waiting.
  Unload();
}

void Win32DialogWindow::Unload() {
  if (window_ == nullptr || unloading_) return;
  unloading_ = true;
  KillTimer(window_, TimerId(DialogTimer::Start));
  KillTimer(window_, TimerId(DialogTimer::Out));
  if (client_windows_) client_windows_->Restore();
  // Hidden at once, as a modal dialog is when it ends; destroyed when the
  // current handler has returned to ShowModal's loop.
  SetWindowPos(window_, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
}

template <class Handler>
void Win32DialogWindow::Deliver(Handler&& handler) {
  try {
    handler();
  } catch (...) {
    Escaped(std::current_exception());
  }
}

void Win32DialogWindow::Escaped(std::exception_ptr error) noexcept {
  if (!escaped_) escaped_ = error;
  Unload();
}

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32DialogWindow*>(lparam);
    SetWindowLongPtrW(window, DWLP_USER, lparam);
    self->window_ = window;
  }
  auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  // Nothing may unwind into user32 and the client's message loop: whatever
  // escapes a message closes the dialog and is raised again by ShowModal.
  try {
    return self->Handle(message, wparam, lparam);
  } catch (...) {
    self->Escaped(std::current_exception());
    return TRUE;
  }
}

INT_PTR Win32DialogWindow::Handle(UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      Deliver([this] {
        CreateControls();
        events_->OnLoad();
      });
      return TRUE;
    case WM_TIMER: {
      const DialogTimer timer =
          wparam == TimerId(DialogTimer::Start) ? DialogTimer::Start : DialogTimer::Out;
      const TimerState& state = timers_[TimerIndex(timer)];
      if (!unloading_ && state.enabled && state.interval > 0) {
        Deliver([this, timer] { events_->OnTimer(timer); });
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == kCancelId && HIWORD(wparam) == BN_CLICKED && !unloading_) {
        Deliver([this] { events_->OnCancel(); });
      }
      return TRUE;
    case WM_CLOSE:
      if (!unloading_) Deliver([this] { events_->OnCancel(); });
      return TRUE;
    case WM_SETCURSOR:
      if (pointer_.IsHourglass()) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void Win32DialogWindow::CreateControls() {
  const Scale scale = SystemScale();
  font_ = CreateJapaneseDialogFont(scale.dpi_y);

  RECT frame{0, 0, scale.X(kClientWidthTwips), scale.Y(kClientHeightTwips)};
  AdjustWindowRectEx(&frame, kDialogStyle, FALSE, WS_EX_DLGMODALFRAME);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);

  auto make = [&](const wchar_t* cls, const std::wstring& text, DWORD style, const TwipsRect& at,
                  int id) {
    HWND control =
        CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, scale.X(at.left),
                        scale.Y(at.top), scale.X(at.width), scale.Y(at.height), window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module_, nullptr);
    const HFONT font =
        font_.get() ? font_.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  };
  label_ = make(L"STATIC", ToWide(caption_), SS_LEFT | SS_NOPREFIX, kLabelRect, -1);
  cancel_ =
      make(L"BUTTON", ToWide(kCancelCaption), BS_PUSHBUTTON | WS_TABSTOP, kCancelRect, kCancelId);
  progress_ = make(PROGRESS_CLASSW, L"", 0, kProgressRect, -1);
  SendMessageW(progress_, PBM_SETRANGE32, kProgressDesignMin, progress_max_);
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(progress_value_), 0);
}

void Win32DialogWindow::SetLabelCaption(const std::u16string& caption) {
  caption_ = caption;
  if (label_ != nullptr) SetWindowTextW(label_, ToWide(caption_).c_str());
}

std::u16string Win32DialogWindow::LabelCaption() { return caption_; }

void Win32DialogWindow::Refresh() {
  if (window_ == nullptr) return;
  RedrawWindow(window_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::int32_t Win32DialogWindow::ProgressMax() { return progress_max_; }

void Win32DialogWindow::SetProgressValue(float value) {
  progress_value_ = value;
  if (progress_ != nullptr) SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

float Win32DialogWindow::ProgressValue() { return progress_value_; }

std::int32_t Win32DialogWindow::WindowHandle() {
  // Window handles carry 32 significant bits on 64-bit Windows as well.
  return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(window_.load()));
}

void Win32DialogWindow::SetTimerEnabled(DialogTimer timer, bool enabled) {
  timers_[TimerIndex(timer)].enabled = enabled;
  ApplyTimer(timer);
}

void Win32DialogWindow::SetTimerInterval(DialogTimer timer, std::uint32_t milliseconds) {
  timers_[TimerIndex(timer)].interval = milliseconds;
  ApplyTimer(timer);
}

void Win32DialogWindow::PumpUntil(const std::function<bool()>& done) {
  while (window_ != nullptr && !unloading_ && !done() && PumpOne()) {
  }
}

void Win32DialogWindow::PumpFor(std::uint32_t milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (window_ != nullptr && !unloading_) {
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        Quit(static_cast<int>(message.wParam));
      } else {
        Dispatch(message);
      }
      continue;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void Win32DialogWindow::Wake() {
  const HWND window = window_.load();
  if (window != nullptr) PostMessageW(window, kWakeMessage, 0, 0);
}

void Win32DialogWindow::ApplyTimer(DialogTimer timer) {
  if (window_ == nullptr || unloading_) return;
  const TimerState& state = timers_[TimerIndex(timer)];
  if (state.enabled && state.interval > 0) {
    const UINT period = timer == DialogTimer::Start && state.interval < start_hold_ms_
                            ? start_hold_ms_
                            : state.interval;
    SetTimer(window_, TimerId(timer), period, nullptr);  // restarts a running one
  } else {
    KillTimer(window_, TimerId(timer));
  }
}

}  // namespace tolvex::win32
