#include "call_checks.h"

#include <windows.h>

#include <oleauto.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

constexpr DISPID kRecvSO = 0x60030001;
constexpr DISPID kSendProgress = 0x60030002;
constexpr DISPID kErrorMsg = 0x40030000;

// The texts of the argument checks, in UTF-16.
const wchar_t kBadUrl[] =
    L"\u767A\u6CE8\u5074\u30B5\u30FC\u30D0\u30A2\u30C9\u30EC\u30B9\u30A8\u30E9\u30FC";
const wchar_t kBadFile[] =
    L"\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB\u540D\u30A8\u30E9\u30FC";

class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(value_); }
  BSTR* address() { return &value_; }
  BSTR get() const { return value_; }

 private:
  BSTR value_;
};

_Tolvex* Create() {
  CLSID clsid{};
  _Tolvex* object = nullptr;
  if (FAILED(CLSIDFromProgID(L"TolvexPro.Tolvex", &clsid))) return nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Tolvex,
                              reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

std::wstring ErrorMsg(_Tolvex* object) {
  BSTR text = nullptr;
  object->get_ErrorMsg(&text);
  std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
  SysFreeString(text);
  return out;
}

short EarlyBound(_Tolvex* object, bool send, const std::wstring& url, const std::wstring& key,
                 const std::wstring& code, VARIANT* file, HRESULT* hr) {
  Bstr u(url), k(key), c(code);
  short result = -1;
  *hr = send ? object->SendProgress(u.address(), k.address(), c.address(), file, &result)
             : object->RecvSO(u.address(), k.address(), c.address(), file, &result);
  return result;
}

// Invoke with every argument VT_BYREF|VT_BSTR, as an early-bound VB
// client's variables arrive through IDispatch.
short LateBound(IDispatch* object, DISPID id, const std::wstring& url, const std::wstring& key,
                const std::wstring& code, const std::wstring& file, HRESULT* hr) {
  Bstr u(url), k(key), c(code), f(file);
  VARIANT args[4];
  BSTR* values[4] = {f.address(), c.address(), k.address(), u.address()};  // reversed
  for (int i = 0; i < 4; ++i) {
    VariantInit(&args[i]);
    V_VT(&args[i]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&args[i]) = values[i];
  }
  DISPPARAMS params{args, nullptr, 4, 0};
  VARIANT result;
  VariantInit(&result);
  *hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                       &params, &result, nullptr, nullptr);
  const short code_out = V_VT(&result) == VT_I2 ? V_I2(&result) : -1;
  VariantClear(&result);
  return code_out;
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out << bytes;
}

}  // namespace

void CheckCalls(const std::wstring& work_dir) {
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "create TolvexPro.Tolvex with _Tolvex")) return;

  const std::wstring empty_file = work_dir + L"\\empty.txt";
  const std::wstring japanese_file = work_dir + L"\\\u9032\u6357.txt";
  WriteFile(empty_file, "");

  struct Case {
    const char* what;
    bool send;
    const wchar_t* url;
    const wchar_t* key;
    const wchar_t* code;
    std::wstring file;  // empty: an Empty Variant
    short expected;
  };
  const Case cases[] = {
      {"empty URL", false, L"", L"key", L"C1", L"C:\\x.txt", 1},
      {"URL of spaces", true, L"   ", L"key", L"C1", L"C:\\x.txt", 1},
      {"company code of spaces", false, L"h", L"key", L"  ", L"C:\\x.txt", 2},
      {"empty key", true, L"h", L"", L"C1", L"C:\\x.txt", 3},
      {"empty file Variant", false, L"h", L"key", L"C1", L"", 4},
      {"missing send file", true, L"h", L"key", L"C1", work_dir + L"\\none.txt", 5},
      {"send file that is a directory", true, L"h", L"key", L"C1", work_dir, 5},
      {"missing Japanese-named send file", true, L"h", L"key", L"C1", japanese_file, 5},
      {"empty send file", true, L"h", L"key", L"C1", empty_file, 6},
  };
  for (const Case& c : cases) {
    VARIANT file;
    VariantInit(&file);
    if (!c.file.empty()) {
      V_VT(&file) = VT_BSTR;
      V_BSTR(&file) = SysAllocString(c.file.c_str());
    }
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, c.send, c.url, c.key, c.code, &file, &hr);
    VariantClear(&file);
    Check(hr == S_OK && got == c.expected, std::string("vtable: ") + c.what + " -> " +
                                               std::to_string(c.expected) + " (got " +
                                               std::to_string(got) + ")");
  }
  Check(ErrorMsg(object) ==
            L"\u30ED\u30FC\u30AB\u30EB\u9001\u4FE1\u30D5\u30A1\u30A3\u30EB"
            L"\u30EC\u30F3\u30B0\u30B9\u30A8\u30E9\u30FC",
        "vtable: ErrorMsg holds the text of code 6");

  {
    Bstr mine(L"set by the client");
    object->put_ErrorMsg(mine.get());
    Check(ErrorMsg(object) == L"set by the client", "vtable: ErrorMsg put and get");
  }

  IDispatch* dispatch = nullptr;
  object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
  if (Check(dispatch != nullptr, "IDispatch from _Tolvex")) {
    HRESULT hr = E_FAIL;
    short got = LateBound(dispatch, kRecvSO, L"", L"k", L"C1", L"C:\\x.txt", &hr);
    Check(hr == S_OK && got == 1, "Invoke BYREF BSTR: RecvSO empty URL -> 1");
    Check(ErrorMsg(object) == kBadUrl, "Invoke: ErrorMsg text of code 1");
    got = LateBound(dispatch, kSendProgress, L"h", L"k", L"C1", L"   ", &hr);
    Check(hr == S_OK && got == 4, "Invoke BYREF BSTR: SendProgress blank file -> 4");
    Check(ErrorMsg(object) == kBadFile, "Invoke: ErrorMsg text of code 4");
    got = LateBound(dispatch, kSendProgress, L"h", L"k", L"C1", empty_file, &hr);
    Check(hr == S_OK && got == 6, "Invoke BYREF BSTR: SendProgress empty file -> 6");

    const wchar_t* names[] = {L"recvso", L"ERRORMSG", L"SendProgress"};
    const DISPID ids[] = {kRecvSO, kErrorMsg, kSendProgress};
    for (int i = 0; i < 3; ++i) {
      DISPID id = 0;
      LPOLESTR name = const_cast<LPOLESTR>(names[i]);
      hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
      Check(hr == S_OK && id == ids[i], "GetIDsOfNames " + Narrow(names[i]) + " -> " + Hex(ids[i]));
    }
    DISPID id = 0;
    LPOLESTR unknown = const_cast<LPOLESTR>(L"Recv");
    Check(dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id) ==
              DISP_E_UNKNOWNNAME,
          "GetIDsOfNames rejects an unknown name");

    // A property put with the value Null leaves the empty string.
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_NULL;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    hr = dispatch->Invoke(kErrorMsg, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                          nullptr, nullptr, nullptr);
    Check(hr == S_OK && ErrorMsg(object).empty(), "Invoke: ErrorMsg = Null gives \"\"");
    dispatch->Release();
  }
  object->Release();
}

void CheckLifetimes() {
  bool created = true;
  bool counted = true;
  for (int i = 0; i < 500; ++i) {
    _Tolvex* object = Create();
    if (object == nullptr) {
      created = false;
      break;
    }
    const ULONG two = object->AddRef();
    const ULONG one = object->Release();
    const ULONG zero = object->Release();
    counted = counted && two == 2 && one == 1 && zero == 0;
  }
  Check(created, "500 objects created");
  Check(counted, "reference counts 2, 1, 0 on every object");

  std::vector<_Tolvex*> many;
  for (int i = 0; i < 50; ++i) many.push_back(Create());
  bool all = true;
  for (_Tolvex* object : many) all = all && object != nullptr;
  Check(all, "50 objects alive at once");
  // They share one job state: a failed call on one is seen by none of the
  // others' ErrorMsg, which belongs to each object.
  if (all) {
    VARIANT file;
    VariantInit(&file);
    HRESULT hr = E_FAIL;
    EarlyBound(many[0], false, L"", L"k", L"c", &file, &hr);
    Check(!ErrorMsg(many[0]).empty() && ErrorMsg(many[1]).empty(),
          "ErrorMsg belongs to each object");
  }
  for (_Tolvex* object : many) {
    if (object) object->Release();
  }
}

void CheckUnloading(const std::wstring& dll, const std::wstring& url, const std::wstring& file) {
  const HMODULE module = LoadLibraryW(dll.c_str());
  if (!Check(module != nullptr, "LoadLibrary " + Narrow(dll))) return;
  using CanUnload = HRESULT(STDAPICALLTYPE*)();
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto can_unload = reinterpret_cast<CanUnload>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  auto get_class = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  const bool exported =
      Check(can_unload && get_class && GetProcAddress(module, "DllRegisterServer") &&
                GetProcAddress(module, "DllUnregisterServer"),
            "the four entry points are exported undecorated");
  if (exported) {
    Check(can_unload() == S_OK, "DllCanUnloadNow S_OK with nothing alive");
    IClassFactory* factory = nullptr;
    get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (Check(factory != nullptr, "class factory")) {
      Check(can_unload() == S_FALSE, "DllCanUnloadNow S_FALSE while a factory is held");
      IUnknown* object = nullptr;
      factory->CreateInstance(nullptr, IID__Tolvex, reinterpret_cast<void**>(&object));
      factory->Release();
      Check(object != nullptr && can_unload() == S_FALSE,
            "DllCanUnloadNow S_FALSE while an object lives");
      if (object) object->Release();
      Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after the last release");

      if (!url.empty()) {
        // A transfer leaves nothing behind that keeps the DLL in use: every
        // WinINet request has had its last callback.
        _Tolvex* tolvex = nullptr;
        get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        factory->CreateInstance(nullptr, IID__Tolvex, reinterpret_cast<void**>(&tolvex));
        factory->Release();
        if (Check(tolvex != nullptr, "object for a transfer")) {
          VARIANT target;
          VariantInit(&target);
          V_VT(&target) = VT_BSTR;
          V_BSTR(&target) = SysAllocString(file.c_str());
          HRESULT hr = E_FAIL;
          const short got = EarlyBound(tolvex, false, url, L"KEY001", L"C001", &target, &hr);
          VariantClear(&target);
          Check(hr == S_OK && got == 0, "a receive through the loaded DLL returns 0");
          tolvex->Release();
          Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after a transfer");
        }
      }

      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      factory->LockServer(TRUE);
      factory->Release();
      Check(can_unload() == S_FALSE, "DllCanUnloadNow S_FALSE while locked");
      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      factory->LockServer(FALSE);
      factory->Release();
      Check(can_unload() == S_OK, "DllCanUnloadNow S_OK after the unlock");

      IUnknown* refused = nullptr;
      get_class(CLSID_Tolvex, IID_IClassFactory, reinterpret_cast<void**>(&factory));
      Check(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown,
                                    reinterpret_cast<void**>(&refused)) == CLASS_E_NOAGGREGATION,
            "aggregation refused");
      factory->Release();
    }
    void* other = nullptr;
    Check(get_class(IID_IUnknown, IID_IClassFactory, &other) == CLASS_E_CLASSNOTAVAILABLE,
          "another class is not served");
  }
  FreeLibrary(module);
}

namespace {

const wchar_t kTraceKey[] = L"Software\\TolvexPro\\Tolvex";

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

short Receive(const std::wstring& url, const std::wstring& key, const std::wstring& file) {
  _Tolvex* object = Create();
  if (object == nullptr) return -1;
  VARIANT target;
  VariantInit(&target);
  V_VT(&target) = VT_BSTR;
  V_BSTR(&target) = SysAllocString(file.c_str());
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, key, L"C001", &target, &hr);
  VariantClear(&target);
  object->Release();
  return hr == S_OK ? got : -1;
}

void SetTraceFile(const std::wstring* path) {
  if (path == nullptr) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kTraceKey, L"TraceFile");
    return;
  }
  RegSetKeyValueW(HKEY_CURRENT_USER, kTraceKey, L"TraceFile", REG_SZ, path->c_str(),
                  static_cast<DWORD>((path->size() + 1) * sizeof(wchar_t)));
}

}  // namespace

void CheckTraceFile(const std::wstring& dead_url, const std::wstring& live_url,
                    const std::wstring& work_dir) {
  const std::wstring key = L"TraceKey-0042";
  const std::wstring trace = work_dir + L"\\trace.log";
  DeleteFileW(trace.c_str());

  SetTraceFile(nullptr);
  Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "untraced dead port -> 9");
  Check(GetFileAttributesW(trace.c_str()) == INVALID_FILE_ATTRIBUTES,
        "without TraceFile no file is written");

  SetTraceFile(&trace);
  Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "traced dead port -> 9");
  const std::string text = ReadAll(trace);
  std::printf("---- %s\n%s----\n", Narrow(trace).c_str(), text.c_str());
  Check(text.find("WinINet error 12029 ERROR_INTERNET_CANNOT_CONNECT") != std::string::npos,
        "the trace names WinINet error 12029");
  Check(text.find("* result 9 ") != std::string::npos, "the trace ends with the result");
  Check(text.find("TraceKey-0042") == std::string::npos, "the key is not in the trace");
  Check(text.size() > 24 && text[4] == '-' && text[10] == ' ' && text[19] == '.',
        "lines start with a timestamp");

  const std::wstring unopenable = work_dir + L"\\no such dir\\trace.log";
  SetTraceFile(&unopenable);
  Check(Receive(live_url, L"KEY001", work_dir + L"\\traced.txt") == 0,
        "an unopenable trace file changes nothing: receive -> 0");
  SetTraceFile(nullptr);
}

}  // namespace wine_client
