// What registration must leave in the registry, the type library and the
// DLL's resources, and that unregistration takes it all away again.
#include "registration_checks.h"

#include <windows.h>

#include <oleauto.h>
#include <sddl.h>
#include <winver.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "project_version.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

// The identifiers clients have compiled in, written out rather than taken
// from the generated header: a change in the IDL fails here.
const wchar_t kClsid[] = L"{3347AA4D-F930-4702-86E2-26B4C6D04793}";
const wchar_t kLibid[] = L"{1D0186B2-71D1-42FA-8909-D692E19B3970}";
const wchar_t kIid[] = L"{F659C913-265C-4CC3-BC57-D773719BB4D9}";
const wchar_t kArchiverClsid[] = L"{01360216-3193-439A-AA8C-F2A96DD48E64}";

GUID Guid(const wchar_t* text) {
  GUID guid{};
  CLSIDFromString(text, &guid);
  return guid;
}
// The stand-in's classes that need a container, by ProgID.
struct ContainedClass {
  const wchar_t* progid;
  const wchar_t* clsid;
};
constexpr ContainedClass kContainedClasses[] = {
    {L"TolvexArchiver.NeedsContainer", L"{2F1C7C55-8E0B-4B8E-9D0A-6B3E5F4A1C27}"},
    {L"TolvexArchiver.NeedsContainerBag", L"{2F1C7C56-8E0B-4B8E-9D0A-6B3E5F4A1C27}"},
};

std::optional<std::wstring> ReadString(const std::wstring& key, const wchar_t* name = nullptr) {
  wchar_t data[1024] = {};
  DWORD bytes = sizeof(data);
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

bool KeyExists(const std::wstring& key, REGSAM view = 0, HKEY root = HKEY_CLASSES_ROOT) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

struct View {
  REGSAM sam;
  const char* name;
};
constexpr View kViews[] = {{KEY_WOW64_32KEY, "32-bit"}, {KEY_WOW64_64KEY, "64-bit"}};

bool Equal(const std::optional<std::wstring>& value, const std::wstring& expected) {
  return value &&
         CompareStringOrdinal(value->c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool EndsWith(const std::optional<std::wstring>& value, const std::wstring& tail) {
  if (!value || value->size() < tail.size()) return false;
  return CompareStringOrdinal(value->c_str() + value->size() - tail.size(), -1, tail.c_str(), -1,
                              TRUE) == CSTR_EQUAL;
}

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
  wchar_t* text = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
  if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return L"<missing>";
  }
  return text;
}

void CheckVersionResource(const std::wstring& dll) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(dll.c_str(), &ignored);
  if (!Check(size > 0, "version resource present")) return;
  std::vector<BYTE> block(size);
  GetFileVersionInfoW(dll.c_str(), 0, size, block.data());
  WORD* translation = nullptr;
  UINT length = 0;
  VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                 reinterpret_cast<void**>(&translation), &length);
  Check(translation && length >= 4 && translation[0] == 0x0411 && translation[1] == 1200,
        "version language Japanese, code page 1200");
  struct Expected {
    const wchar_t* name;
    const wchar_t* value;
  };
  const Expected expected[] = {
      {L"FileVersion", L"" TOLVEX_VERSION_TEXT},
      {L"ProductVersion", L"" TOLVEX_VERSION_TEXT},
      {L"ProductName", L"Tolvex"},
      {L"InternalName", L"Tolvex"},
      {L"OriginalFilename", L"Tolvex.dll"},
      {L"OLESelfRegister", L""},
      {L"CompanyName", L"Tolvex"},
      {L"FileDescription", L"Tolvex COM component: order data to and from the order server"},
      {L"LegalCopyright", L"" TOLVEX_COPYRIGHT}};
  for (const Expected& e : expected) {
    Check(VersionString(block, e.name) == e.value,
          "version " + Narrow(e.name) + " = \"" + Narrow(e.value) + "\"");
  }
}

void CheckInterfaceResource(const std::wstring& dll) {
  const HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!Check(module != nullptr, "DLL loads as data")) return;
  const HRSRC found = FindResourceW(module, L"_IID_TOLVEX", L"CUSTOM");
  const GUID iid = Guid(kIid);
  bool ok = false;
  if (found != nullptr && SizeofResource(module, found) == 20) {
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    DWORD length = 0;
    std::memcpy(&length, bytes, 4);
    ok = length == 16 && std::memcmp(bytes + 4, &iid, 16) == 0;
  }
  Check(ok, "_IID_TOLVEX resource holds 16 and the interface identifier");
  FreeLibrary(module);
}

void CheckTypeLibrary() {
  // By the library's own locale, by the neutral one the automation
  // marshaler asks for, and by a Japanese user's, which falls back to 0x11
  // and 0, never to 0x409; and by this user's.
  const LCID user = GetUserDefaultLCID();
  const struct {
    LCID locale;
    const char* what;
  } locales[] = {{0x0409, "0x409"}, {0, "0"}, {0x0411, "0x411"}, {user, "the user's"}};
  for (const auto& l : locales) {
    ITypeLib* found = nullptr;
    const HRESULT hr = LoadRegTypeLib(Guid(kLibid), 1, 0, l.locale, &found);
    Check(SUCCEEDED(hr), std::string("type library loads by locale ") + l.what + " (" +
                             Hex(static_cast<long>(l.locale)) + "): " + Hex(hr));
    if (found) found->Release();
  }
  ITypeLib* library = nullptr;
  if (!Check(SUCCEEDED(LoadRegTypeLib(Guid(kLibid), 1, 0, 0x0409, &library)),
             "type library TolvexPro 1.0 registered")) {
    return;
  }
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  Check(name && std::wstring(name) == L"TolvexPro", "library named TolvexPro");
  SysFreeString(name);

  ITypeInfo* dispatch = nullptr;
  if (Check(SUCCEEDED(library->GetTypeInfoOfGuid(Guid(kIid), &dispatch)), "_Tolvex described")) {
    TYPEATTR* attr = nullptr;
    dispatch->GetTypeAttr(&attr);
    const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDUAL;
    Check(attr && (attr->wTypeFlags & wanted) == wanted,
          "_Tolvex hidden, nonextensible, dual (flags " + Hex(attr ? attr->wTypeFlags : 0) + ")");
    dispatch->ReleaseTypeAttr(attr);

    // The vtable side of the dual interface: slot order after IDispatch.
    HREFTYPE vtable_ref = 0;
    ITypeInfo* vtable = nullptr;
    if (SUCCEEDED(dispatch->GetRefTypeOfImplType(-1, &vtable_ref)) &&
        SUCCEEDED(dispatch->GetRefTypeInfo(vtable_ref, &vtable))) {
      struct Slot {
        MEMBERID id;
        INVOKEKIND kind;
        short params;
      };
      const Slot slots[] = {{0x40030000, INVOKE_PROPERTYGET, 1},
                            {0x40030000, INVOKE_PROPERTYPUT, 1},
                            {0x60030001, INVOKE_FUNC, 5},
                            {0x60030002, INVOKE_FUNC, 5}};
      TYPEATTR* vattr = nullptr;
      vtable->GetTypeAttr(&vattr);
      Check(vattr && (vattr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION),
            "_Tolvex vtable interface oleautomation");
      vtable->ReleaseTypeAttr(vattr);
      const short first = static_cast<short>(7 * sizeof(void*));
      for (int i = 0; i < 4; ++i) {
        FUNCDESC* desc = nullptr;
        const bool ok = SUCCEEDED(vtable->GetFuncDesc(i, &desc)) && desc->memid == slots[i].id &&
                        desc->invkind == slots[i].kind && desc->cParams == slots[i].params &&
                        desc->oVft == first + i * static_cast<short>(sizeof(void*));
        Check(ok, "vtable slot " + std::to_string(i + 1) + " member " + Hex(slots[i].id));
        if (desc) vtable->ReleaseFuncDesc(desc);
        // What the Object Browser and IntelliSense show for the member.
        BSTR help = nullptr;
        vtable->GetDocumentation(slots[i].id, nullptr, &help, nullptr, nullptr);
        Check(help != nullptr && SysStringLen(help) > 20,
              "member " + Hex(slots[i].id) + " has a help string");
        SysFreeString(help);
      }
      vtable->Release();
    } else {
      Check(false, "_Tolvex vtable interface described");
    }
    dispatch->Release();
  }
  library->Release();
}

// Every key of ours, as each registry view of a classes root spells it.
struct OwnKey {
  std::wstring key;
  const char* what;
};
std::vector<OwnKey> OwnKeys() {
  return {{L"CLSID\\" + std::wstring(kClsid), "class"},
          {L"TolvexPro.Tolvex", "ProgID"},
          {L"TypeLib\\" + std::wstring(kLibid), "type library"},
          {L"Interface\\" + std::wstring(kIid), "interface"}};
}

struct ClassesRoot {
  HKEY root;
  const wchar_t* path;
  const char* name;
};
const ClassesRoot kMachineClasses{HKEY_LOCAL_MACHINE, L"Software\\Classes",
                                  "HKLM\\Software\\Classes"};
const ClassesRoot kUserClasses{HKEY_CURRENT_USER, L"Software\\Classes", "HKCU\\Software\\Classes"};

std::wstring Under(const ClassesRoot& root, const std::wstring& key) {
  return std::wstring(root.path) + L"\\" + key;
}

// Nothing of ours in either view of the root, or the keys that are.
void CheckNothingOfOursUnder(const ClassesRoot& root, const std::string& when) {
  for (const OwnKey& own : OwnKeys()) {
    for (const View& view : kViews) {
      Check(!KeyExists(Under(root, own.key), view.sam, root.root),
            when + ": no " + own.what + " key under " + root.name + " (" + view.name + " view)");
    }
  }
}

std::optional<std::wstring> ReadUnder(const ClassesRoot& root, const std::wstring& key) {
  wchar_t data[1024] = {};
  DWORD bytes = sizeof(data);
  if (RegGetValueW(root.root, Under(root, key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data,
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

}  // namespace

void CheckUserRegistration(bool registered) {
  if (!registered) {
    CheckNothingOfOursUnder(kUserClasses, "per-user registration removed");
    CheckNothingOfOursUnder(kMachineClasses, "per-user registration removed");
    return;
  }
  const std::wstring clsid = std::wstring(kClsid);
  const std::wstring libid = std::wstring(kLibid);
  const std::wstring kind = sizeof(void*) == 8 ? L"win64" : L"win32";
  Check(EndsWith(ReadUnder(kUserClasses, L"CLSID\\" + clsid + L"\\InprocServer32"), L"Tolvex.dll"),
        "per user: InprocServer32 names Tolvex.dll");
  Check(Equal(ReadUnder(kUserClasses, L"TolvexPro.Tolvex\\CLSID"), clsid),
        "per user: ProgID -> CLSID");
  for (const wchar_t* locale : {L"409", L"0"}) {
    Check(
        EndsWith(ReadUnder(kUserClasses, L"TypeLib\\" + libid + L"\\1.0\\" + locale + L"\\" + kind),
                 L"Tolvex.dll"),
        "per user: type library " + Narrow(kind) + " under locale " + Narrow(locale) +
            " names Tolvex.dll");
  }
  Check(Equal(ReadUnder(kUserClasses, L"Interface\\" + std::wstring(kIid) + L"\\TypeLib"), libid),
        "per user: Interface -> TypeLib");
  CheckNothingOfOursUnder(kMachineClasses, "per-user registration");
}

namespace {

// A key of ours that the registration must write, made beforehand and
// closed to writing, so that the registration fails half-way.
class DeniedKey {
 public:
  DeniedKey(const ClassesRoot& root, const std::wstring& key)
      : root_(root), key_(Under(root, key)) {
    RegCreateKeyExW(root.root, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle_,
                    nullptr);
    // Everyone may do anything but set values and make subkeys.
    Apply(L"D:(D;;0x0006;;;WD)(A;;KA;;;WD)");
  }
  DeniedKey(const DeniedKey&) = delete;
  DeniedKey& operator=(const DeniedKey&) = delete;
  ~DeniedKey() {
    Apply(L"D:(A;;KA;;;WD)");
    if (handle_ != nullptr) RegCloseKey(handle_);
    RegDeleteKeyW(root_.root, key_.c_str());
  }
  bool made() const { return handle_ != nullptr; }

 private:
  void Apply(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (handle_ == nullptr || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                  sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
      return;
    }
    RegSetKeySecurity(handle_, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
  }

  const ClassesRoot& root_;
  std::wstring key_;
  HKEY handle_ = nullptr;
};

}  // namespace

void CheckDeniedRegistration(const std::wstring& dll) {
  const HMODULE module = LoadLibraryW(dll.c_str());
  if (!Check(module != nullptr, "DLL loads")) return;
  using Register = HRESULT(STDAPICALLTYPE*)();
  using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  const auto register_server = reinterpret_cast<Register>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  const auto install =
      reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
  if (!Check(register_server && install, "DllRegisterServer and DllInstall exported")) {
    FreeLibrary(module);
    return;
  }
  struct Case {
    const char* what;
    const ClassesRoot& root;
    bool per_user;
  };
  const Case cases[] = {{"for all users", kMachineClasses, false},
                        {"per user", kUserClasses, true}};
  for (const Case& c : cases) {
    const std::string what = std::string("registration ") + c.what;
    HRESULT hr = E_FAIL;
    {
      // The ProgID is written after the class and the type library, so
      // all of those must be taken back.
      const DeniedKey denied(c.root, L"TolvexPro.Tolvex");
      if (!Check(denied.made(), what + ": the ProgID key made and closed to writing")) continue;
      hr = c.per_user ? install(TRUE, L"user") : register_server();
    }
    Check(hr == E_ACCESSDENIED,
          what + " into a key closed to writing returns E_ACCESSDENIED (" + Hex(hr) + ")");
    CheckNothingOfOursUnder(c.root, what + " refused");
  }
  Check(install(TRUE, L"everyone") == E_INVALIDARG,
        "DllInstall with an unknown scope: E_INVALIDARG");
  FreeLibrary(module);
}

void CheckRegistered(bool with_stand_in) {
  const std::wstring clsid = std::wstring(kClsid);
  const std::wstring libid = std::wstring(kLibid);
  const std::wstring iid = std::wstring(kIid);
  const std::wstring klass = L"CLSID\\" + clsid;
  const auto server = ReadString(klass + L"\\InprocServer32");

  Check(Equal(ReadString(L"TolvexPro.Tolvex\\CLSID"), clsid), "ProgID TolvexPro.Tolvex -> CLSID");
  Check(EndsWith(server, L"Tolvex.dll"), "InprocServer32 names Tolvex.dll");
  Check(Equal(ReadString(klass + L"\\InprocServer32", L"ThreadingModel"), L"Both"),
        "ThreadingModel Both");
  Check(Equal(ReadString(klass + L"\\ProgID"), L"TolvexPro.Tolvex"), "CLSID -> ProgID");
  Check(Equal(ReadString(klass + L"\\TypeLib"), libid), "CLSID -> TypeLib");
  const std::wstring kind = sizeof(void*) == 8 ? L"win64" : L"win32";
  for (const wchar_t* locale : {L"409", L"0"}) {
    Check(EndsWith(ReadString(L"TypeLib\\" + libid + L"\\1.0\\" + locale + L"\\" + kind),
                   L"Tolvex.dll"),
          "TypeLib 1.0 locale " + Narrow(locale) + " " + Narrow(kind) + " names Tolvex.dll");
  }
  Check(Equal(ReadString(L"Interface\\" + iid + L"\\TypeLib"), libid), "Interface -> TypeLib");
  Check(Equal(ReadString(L"Interface\\" + iid + L"\\ProxyStubClsid32"),
              L"{00020424-0000-0000-C000-000000000046}"),
        "Interface marshalled by the automation marshaler");
  for (const ContainedClass& contained : kContainedClasses) {
    if (!with_stand_in) break;
    Check(Equal(ReadString(contained.progid + std::wstring(L"\\CLSID")), contained.clsid) &&
              EndsWith(ReadString(std::wstring(L"CLSID\\") + contained.clsid + L"\\InprocServer32"),
                       L"TolvexArchiver.dll"),
          "stand-in " + Narrow(contained.progid) + " registered");
  }
  if (with_stand_in) {
    Check(Equal(ReadString(L"MarloxO.Marlox\\CLSID"), kArchiverClsid),
          "stand-in registered as MarloxO.Marlox");
  }
  CheckTypeLibrary();
  if (server) {
    CheckVersionResource(*server);
    CheckInterfaceResource(*server);
  }
}

void CheckUnregistered() {
  const std::wstring clsid = std::wstring(kClsid);
  Check(!KeyExists(L"TolvexPro.Tolvex"), "ProgID key removed");
  for (const View& view : kViews) {
    Check(!KeyExists(L"CLSID\\" + clsid, view.sam),
          std::string("CLSID key removed from the ") + view.name + " view");
    Check(!KeyExists(L"Interface\\" + std::wstring(kIid), view.sam),
          std::string("Interface key removed from the ") + view.name + " view");
  }
  Check(!KeyExists(L"TypeLib\\" + std::wstring(kLibid)), "TypeLib key removed");
  Check(!KeyExists(L"Interface\\" + std::wstring(kIid)), "Interface key removed");
  Check(!KeyExists(L"MarloxO.Marlox"), "stand-in ProgID removed");
  Check(!KeyExists(std::wstring(L"CLSID\\") + kArchiverClsid), "stand-in CLSID removed");
  for (const ContainedClass& contained : kContainedClasses) {
    Check(!KeyExists(contained.progid) && !KeyExists(std::wstring(L"CLSID\\") + contained.clsid),
          "stand-in " + Narrow(contained.progid) + " removed");
  }
  ITypeLib* library = nullptr;
  Check(FAILED(LoadRegTypeLib(Guid(kLibid), 1, 0, 0x0409, &library)),
        "type library no longer found");
  if (library) library->Release();
}

}  // namespace wine_client
