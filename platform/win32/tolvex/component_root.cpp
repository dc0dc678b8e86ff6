#include "com/win32_api.h"

#include "tolvex/component_root.h"

#include <map>
#include <mutex>
#include <system_error>

#include "backends/unique_kernel_handle.h"
#include "com/module_state.h"
#include "tolvex/call_apartment.h"

namespace tolvex::win32 {
namespace {

// The roots by thread id. A thread's id may be given to a new thread once
// it has ended, so each entry keeps a handle that tells whether its
// thread still runs: a new thread never inherits the root of an ended one.
struct ThreadRoot {
  unique_kernel_handle thread;
  std::weak_ptr<ComponentRoot> root;
};

std::mutex g_roots_mutex;

std::map<DWORD, ThreadRoot>& Roots() {
  static std::map<DWORD, ThreadRoot> roots;
  return roots;
}

bool Ended(const unique_kernel_handle& thread) {
  return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0;
}

// A handle that tells when the calling thread ends. Duplicated from the
// thread's own pseudo handle, which has every right, so no access check
// against an impersonated token can refuse it as OpenThread may.
unique_kernel_handle ThisThreadHandle() {
  HANDLE thread = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                       SYNCHRONIZE, FALSE, 0)) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "DuplicateHandle of the current thread");
  }
  return unique_kernel_handle(thread);
}

}  // namespace

std::shared_ptr<ComponentRoot> ComponentRoot::ForNewObject() {
  if (InSingleThreadedApartment()) return ForThisThread();
  return std::make_shared<ComponentRoot>(Key{});
}

std::shared_ptr<ComponentRoot> ComponentRoot::ForThisThread() {
  const DWORD id = GetCurrentThreadId();
  std::lock_guard<std::mutex> lock(g_roots_mutex);
  auto& roots = Roots();
  for (auto entry = roots.begin(); entry != roots.end();) {
    const bool gone = entry->second.root.expired() || Ended(entry->second.thread);
    entry = gone ? roots.erase(entry) : std::next(entry);
  }
  if (const auto found = roots.find(id); found != roots.end()) {
    if (auto root = found->second.root.lock()) return root;
  }
  unique_kernel_handle thread = ThisThreadHandle();
  auto root = std::make_shared<ComponentRoot>(Key{});
  roots[id] = ThreadRoot{std::move(thread), root};
  return root;
}

ComponentRoot::ComponentRoot(Key)
    : hooks_(ReadTestHooks()),
      http_(trace_),
      window_(ThisModule(), pointer_, hooks_.start_hold_ms),
      dialog_(window_, archive_, TransferDialog::Parts{state_, address_, http_, files_, &trace_},
              hooks_.response_period_ms) {}

TolvexServices ComponentRoot::Services() {
  return TolvexServices{state_, dialog_, pointer_, files_, &trace_};
}

}  // namespace tolvex::win32
