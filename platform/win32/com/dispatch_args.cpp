#include "com/dispatch_args.h"

#include "com/unique_variant.h"
#include "com/wide_string.h"

namespace tolvex::win32 {

const VARIANT* Unwrapped(const VARIANT* value) {
  // A script may hand over a reference to a variable that itself holds a
  // reference; the depth limit only guards against a cycle.
  for (int depth = 0; value != nullptr && depth < 16; ++depth) {
    if (V_VT(value) != (VT_BYREF | VT_VARIANT)) return value;
    value = V_VARIANTREF(value);
  }
  return value;
}

std::u16string StringArgument(const VARIANT* value) {
  value = Unwrapped(value);
  if (value == nullptr) return std::u16string();
  switch (V_VT(value)) {
    case VT_BSTR:
      return FromBstr(V_BSTR(value));
    case VT_BYREF | VT_BSTR:
      return V_BSTRREF(value) ? FromBstr(*V_BSTRREF(value)) : std::u16string();
    case VT_EMPTY:
    case VT_NULL:
      return std::u16string();
    default:
      break;
  }
  unique_variant text;
  if (FAILED(VariantChangeTypeEx(text.get(), const_cast<VARIANT*>(value), LOCALE_USER_DEFAULT,
                                 VARIANT_ALPHABOOL, VT_BSTR))) {
    return std::u16string();
  }
  return FromBstr(V_BSTR(text.get()));
}

Variant VariantArgument(const VARIANT* value) {
  value = Unwrapped(value);
  if (value == nullptr) return Variant();
  const VARTYPE type = V_VT(value);
  if (type & VT_ARRAY) return Variant::Array();
  switch (type & ~VT_BYREF) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_BSTR:
      return Variant::String(StringArgument(value));
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:  // a missing optional argument
      return Variant();
    default:
      break;
  }
  unique_variant number;
  if (FAILED(VariantChangeType(number.get(), const_cast<VARIANT*>(value), 0, VT_R8))) {
    return Variant::Number(0);
  }
  return Variant::Number(V_R8(number.get()));
}

std::optional<std::vector<const VARIANT*>> ArgumentsInOrder(const DISPPARAMS* params,
                                                            unsigned count, UINT* bad_arg) {
  const unsigned given = params ? params->cArgs : 0;
  const unsigned named = params ? params->cNamedArgs : 0;
  if (given != count || named > given) return std::nullopt;
  std::vector<const VARIANT*> ordered(count, nullptr);
  const unsigned positional = given - named;
  for (unsigned i = 0; i < positional; ++i) ordered[i] = &params->rgvarg[given - 1 - i];
  for (unsigned i = 0; i < named; ++i) {
    const DISPID position = params->rgdispidNamedArgs[i];
    if (position < 0 || static_cast<unsigned>(position) >= count || ordered[position]) {
      if (bad_arg) *bad_arg = i;
      return std::nullopt;
    }
    ordered[position] = &params->rgvarg[i];
  }
  return ordered;
}

const VARIANT* PutArgument(const DISPPARAMS* params) {
  if (params == nullptr || params->cArgs == 0) return nullptr;
  for (UINT i = 0; i < params->cNamedArgs; ++i) {
    if (params->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT) return &params->rgvarg[i];
  }
  return params->cArgs == 1 ? &params->rgvarg[0] : nullptr;
}

}  // namespace tolvex::win32
