// Times one transfer under Windows (Wine), for wininet_transfer_bench.sh:
//   transfer_bench bare URL BODYFILE OUTFILE
//       posts BODYFILE as a bare WinINet program would: synchronous calls,
//       the body written and the reply read in 256 KiB pieces, the reply
//       written to OUTFILE
//   transfer_bench recv|send URL KEY CODE FILE
//       the same exchange through Tolvex.dll's RecvSO or SendProgress
// Prints one line: "<mode> <result> <milliseconds> <bytes>" (bytes: the
// reply's for bare, the caller's file's for recv and send).
#include <windows.h>

#include <oleauto.h>
#include <wininet.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "backends/unique_hinternet.h"

namespace {

using tolvex::win32::unique_hinternet;

constexpr DWORD kPiece = 256 * 1024;

double Milliseconds(const LARGE_INTEGER& from) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += static_cast<char>(c);
  return out;
}

struct File {
  HANDLE handle;
  explicit File(HANDLE h) : handle(h) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The bare loop: what a program written straight on WinINet does.
int Bare(const std::wstring& url, const std::wstring& body_path, const std::wstring& out_path) {
  URL_COMPONENTSW parts{};
  wchar_t host[256] = {}, path[1024] = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 1024;
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return 2;
  File body(CreateFileW(body_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                        nullptr));
  File out(CreateFileW(out_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (body.handle == INVALID_HANDLE_VALUE || out.handle == INVALID_HANDLE_VALUE) return 2;
  LARGE_INTEGER size{};
  GetFileSizeEx(body.handle, &size);
  std::vector<char> buffer(kPiece);

  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  unique_hinternet internet(
      InternetOpenA("VB6", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  unique_hinternet connection(InternetConnectA(internet.get(), Narrow(host).c_str(), parts.nPort,
                                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  unique_hinternet request(HttpOpenRequestA(
      connection.get(), "POST", Narrow(path).c_str(), "HTTP/1.0", nullptr, nullptr,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
  if (request.get() == nullptr) return 3;
  const char header[] = "Content-Type:application/x-www-form-urlencoded";
  HttpAddRequestHeadersA(request.get(), header, sizeof header - 1, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  INTERNET_BUFFERSA buffers{};
  buffers.dwStructSize = sizeof buffers;
  buffers.dwBufferTotal = static_cast<DWORD>(size.QuadPart);
  if (!HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0)) return 3;
  for (;;) {
    DWORD got = 0, written = 0;
    if (!ReadFile(body.handle, buffer.data(), kPiece, &got, nullptr)) return 3;
    if (got == 0) break;
    if (!InternetWriteFile(request.get(), buffer.data(), got, &written) || written != got) return 3;
  }
  if (!HttpEndRequestA(request.get(), nullptr, 0, 0)) return 3;
  unsigned long long received = 0;
  for (;;) {
    DWORD got = 0, written = 0;
    if (!InternetReadFile(request.get(), buffer.data(), kPiece, &got)) return 4;
    if (got == 0) break;
    received += got;
    WriteFile(out.handle, buffer.data(), got, &written, nullptr);
  }
  std::printf("bare 0 %.1f %llu\n", Milliseconds(start), received);
  return 0;
}

// One call of the component through IDispatch, as a script would make it.
int Call(bool send, const std::wstring& url, const std::wstring& key, const std::wstring& code,
         const std::wstring& file) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"TolvexPro.Tolvex", &clsid))) return 5;
  IDispatch* object = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&object)))) {
    return 5;
  }
  wchar_t name[16];
  std::wcscpy(name, send ? L"SendProgress" : L"RecvSO");
  LPOLESTR names[] = {name};
  DISPID id = 0;
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return 5;
  // Arguments go in reverse order.
  VARIANT args[4];
  for (VARIANT& arg : args) VariantInit(&arg);
  const std::wstring* texts[] = {&file, &code, &key, &url};
  for (int i = 0; i < 4; ++i) {
    V_VT(&args[i]) = VT_BSTR;
    V_BSTR(&args[i]) = SysAllocString(texts[i]->c_str());
  }
  DISPPARAMS params{args, nullptr, 4, 0};
  VARIANT result;
  VariantInit(&result);
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    &result, nullptr, nullptr);
  const double ms = Milliseconds(start);
  VariantChangeType(&result, &result, 0, VT_I4);
  const long code_returned = SUCCEEDED(hr) && V_VT(&result) == VT_I4 ? V_I4(&result) : -1;
  for (VARIANT& arg : args) VariantClear(&arg);
  object->Release();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  unsigned long long bytes = 0;
  if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
    bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  std::printf("%s %ld %.1f %llu\n", send ? "send" : "recv", code_returned, ms, bytes);
  return code_returned == 0 ? 0 : 6;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"bare" && argc == 5) return Bare(argv[2], argv[3], argv[4]);
  if ((mode == L"recv" || mode == L"send") && argc == 6) {
    if (FAILED(CoInitialize(nullptr))) return 5;
    const int status = Call(mode == L"send", argv[2], argv[3], argv[4], argv[5]);
    CoUninitialize();
    return status;
  }
  std::fprintf(stderr,
               "usage: transfer_bench bare URL BODYFILE OUTFILE\n"
               "       transfer_bench recv|send URL KEY CODE FILE\n");
  return 1;
}
