// Where a call of a Tolvex object runs. The dialog, its timers, the hook
// of the pointer and the archive control all need a thread that pumps
// messages and is a single-threaded apartment: a call made on such a
// thread runs right there, as it always has. A call from the
// multithreaded apartment (a thread-pool thread, a service, a console
// program without [STAThread]) runs on a thread of its own instead, made
// for that call and gone with it, while the calling thread waits.
#pragma once

#include <cstdint>
#include <functional>

namespace tolvex::win32 {

// True on a single-threaded apartment (the main one included); false in
// the multithreaded or a neutral apartment, and on a thread without COM.
bool InSingleThreadedApartment();

// Runs `call` on a new thread initialised with OleInitialize, so the
// archive control can be hosted there, and returns its result once that
// thread has ended. An exception from `call` is raised again here; a
// thread that cannot be made or initialised raises std::system_error.
std::int16_t RunInOwnApartment(const std::function<std::int16_t()>& call);

}  // namespace tolvex::win32
