#include "com/win32_api.h"

#include "tolvex/call_apartment.h"

#include <ole2.h>

#include <exception>
#include <system_error>
#include <thread>

namespace tolvex::win32 {

bool InSingleThreadedApartment() {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return false;
  return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

std::int16_t RunInOwnApartment(const std::function<std::int16_t()>& call) {
  std::int16_t result = 0;
  std::exception_ptr error;
  HRESULT initialised = E_FAIL;
  std::thread apartment([&] {
    initialised = OleInitialize(nullptr);
    if (FAILED(initialised)) return;
    try {
      result = call();
    } catch (...) {
      error = std::current_exception();
    }
    // Only once everything the call made on this thread (window, hook,
    // control) is gone: the call has returned.
    OleUninitialize();
  });
  apartment.join();
  if (FAILED(initialised)) {
    throw std::system_error(static_cast<int>(initialised), std::system_category(),
                            "OleInitialize on the call's own thread");
  }
  if (error) std::rethrow_exception(error);
  return result;
}

}  // namespace tolvex::win32
