// Reference counting shared by this project's COM objects. An object is
// made with MakeComObject, starts with no reference, and deletes itself
// when the last one goes.
#pragma once

#include "com/win32_api.h"

#include <unknwn.h>

#include <atomic>
#include <memory>
#include <new>
#include <utility>

#include "com/module_state.h"

namespace tolvex::win32 {

template <class Derived>
class RefCounted {
 protected:
  ULONG AddRefCount() { return ++count_; }
  ULONG ReleaseCount() {
    const ULONG left = --count_;
    // COM objects own themselves: the last Release is where one ends.
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 private:
  std::atomic<ULONG> count_{0};
  ModuleObjectCount module_count_;
};

// Creates the object and hands out the interface asked for; the object is
// gone again when it has no such interface.
template <class Object, class... Args>
HRESULT MakeComObject(REFIID iid, void** out, Args&&... args) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    auto object = std::make_unique<Object>(std::forward<Args>(args)...);
    const HRESULT hr = object->QueryInterface(iid, out);
    if (SUCCEEDED(hr)) object.release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace tolvex::win32
