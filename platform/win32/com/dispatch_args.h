// Reading IDispatch::Invoke arguments in every form automation clients send
// them: a literal (VT_BSTR), an early-bound String variable
// (VT_BYREF|VT_BSTR), a script variable (VT_BYREF|VT_VARIANT), numbers,
// Empty and Null.
#pragma once

#include "com/win32_api.h"

#include <oleauto.h>

#include <optional>
#include <string>
#include <vector>

#include "component/variant.h"

namespace tolvex::win32 {

// The value behind any chain of VT_BYREF|VT_VARIANT; null for a null
// reference.
const VARIANT* Unwrapped(const VARIANT* value);

// A String parameter: the text itself for a string, "" for Empty, Null or a
// null BSTR, the automation conversion to text for other values, and ""
// for a value with no text form (an array, an object without a default
// value): the caller's checks then treat it as missing.
std::u16string StringArgument(const VARIANT* value);

// A Variant parameter as the component sees it: only a string is a String.
Variant VariantArgument(const VARIANT* value);

// Invoke's arguments in declaration order: positional ones come last in
// rgvarg, named ones are placed by their dispatch ids (0 for the first
// parameter). Returns nullopt when the count does not fit or a name is
// unknown; `bad_arg` then names the argument at fault, if any.
std::optional<std::vector<const VARIANT*>> ArgumentsInOrder(const DISPPARAMS* params,
                                                            unsigned count, UINT* bad_arg);

// The value of a property put: the one argument named DISPID_PROPERTYPUT,
// or the only argument; null when there is none.
const VARIANT* PutArgument(const DISPPARAMS* params);

}  // namespace tolvex::win32
