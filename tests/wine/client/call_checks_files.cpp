// Large transfers and the caller's files as Windows users have them:
// CheckLargeTransfers and CheckCallersFiles.
#include "call_checks.h"
#include "call_support.h"

#include <windows.h>

#include <oleauto.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

struct Memory {
  double resident_mib = 0, peak_resident_mib = 0, peak_virtual_mib = 0;
};

Memory MemoryNow() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  Memory memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    constexpr double kMiB = 1024.0 * 1024.0;
    memory.resident_mib = static_cast<double>(counters.WorkingSetSize) / kMiB;
    memory.peak_resident_mib = static_cast<double>(counters.PeakWorkingSetSize) / kMiB;
    memory.peak_virtual_mib = static_cast<double>(counters.PagefileUsage) / kMiB;
  }
  return memory;
}

}  // namespace

void CheckLargeTransfers(const std::wstring& url, const std::wstring& work_dir) {
  constexpr double kMostGrowthMiB = 64;
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "large: the object is created")) return;
  for (const bool send : {false, true}) {
    const std::wstring file = work_dir + (send ? L"\\progress.txt" : L"\\large.txt");
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = SysAllocString(file.c_str());
    const Memory before = MemoryNow();
    const DWORD start = GetTickCount();
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, send, url, L"KEY001", L"C001", &target, &hr);
    const double seconds = static_cast<double>(GetTickCount() - start) / 1000.0;
    const Memory after = MemoryNow();
    VariantClear(&target);
    const char* what = send ? "large send" : "large receive";
    Check(hr == S_OK && got == 0 && ErrorMsg(object).empty(),
          std::string(what) + " -> 0 (got " + std::to_string(got) + ")");
    // The peak since the process began: when it lies above what the call
    // started from, the call made it.
    const double growth = after.peak_resident_mib - before.resident_mib;
    char figures[200];
    std::snprintf(figures, sizeof figures,
                  "%s in %.1f s: resident %.1f MiB before, peak %.1f MiB after (+%.1f MiB), "
                  "committed %.1f MiB after",
                  what, seconds, before.resident_mib, after.peak_resident_mib, growth,
                  after.peak_virtual_mib);
    Check(growth <= kMostGrowthMiB, figures);
  }
  object->Release();
}

void CheckLiveReceives(const std::wstring& url, const std::wstring& file, int times) {
  _Tolvex* object = Create();
  if (!Check(object != nullptr, "live: the object is created")) return;
  int passed = 0;
  std::string failures;
  for (int i = 0; i < times; ++i) {
    VARIANT target;
    VariantInit(&target);
    V_VT(&target) = VT_BSTR;
    V_BSTR(&target) = SysAllocString(file.c_str());
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, false, url, L"KEY002", L"C002", &target, &hr);
    VariantClear(&target);
    if (hr == S_OK && got == 0) {
      ++passed;
    } else {
      failures += " " + std::to_string(got);
    }
  }
  Check(passed == times, std::to_string(passed) + " of " + std::to_string(times) +
                             " receives from a server packing as it sends -> 0" +
                             (failures.empty() ? "" : "; the others ->" + failures));
  object->Release();
}

namespace {

const wchar_t kUnpackFailedText[] =
    L"\u30D5\u30A1\u30A4\u30EB\u89E3\u51CD\u5B9F\u884C\u30A8\u30E9\u30FC";

// The extended-length form, so the checks can make and read what the
// DLL is asked to handle, however deep.
std::wstring Long(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return L"\\\\?\\" + path;
}

void MakeDirectories(const std::wstring& dir) {
  for (std::size_t i = 3; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == L'\\')
      CreateDirectoryW(Long(dir.substr(0, i)).c_str(), nullptr);
  }
}

void WriteLong(const std::wstring& path, const std::string& bytes) {
  const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The bytes of a file; "<missing>" when it cannot be read.
std::string ReadLong(const std::wstring& path) {
  const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

// The names in a directory, hidden ones included.
std::vector<std::wstring> Listing(const std::wstring& dir) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileW((Long(dir) + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

std::string Names(const std::vector<std::wstring>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : " ") + Narrow(name);
  return text;
}

short Send(const std::wstring& url, const std::wstring& file) {
  _Tolvex* object = Create();
  if (object == nullptr) return -1;
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, true, url, L"KEY001", L"C001", file, &hr);
  object->Release();
  return hr == S_OK ? got : -1;
}

// A receive with its ErrorMsg and the trace it left.
struct Traced {
  short result = -1;
  std::wstring error_msg;
  std::string trace;
};

Traced TracedReceive(const std::wstring& url, const std::wstring& file, const std::wstring& trace) {
  DeleteFileW(trace.c_str());
  Traced out;
  _Tolvex* object = Create();
  if (object == nullptr) return out;
  HRESULT hr = E_FAIL;
  const short got = EarlyBound(object, false, url, L"KEY001", L"C001", file, &hr);
  out.result = hr == S_OK ? got : -1;
  out.error_msg = ErrorMsg(object);
  object->Release();
  out.trace = ReadAll(trace);
  return out;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The caller's file held open by "another program" (a handle without
// delete sharing) until `release_after_ms` have passed, or until the
// object goes.
class HeldFile {
 public:
  HeldFile(const std::wstring& path, DWORD release_after_ms)
      : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)),
        after_ms_(release_after_ms) {
    if (after_ms_ > 0) thread_ = CreateThread(nullptr, 0, Release, this, 0, nullptr);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() {
    if (thread_ != nullptr) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    } else {
      CloseHandle(file_);
    }
  }
  bool held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  static DWORD WINAPI Release(void* param) {
    auto* self = static_cast<HeldFile*>(param);
    Sleep(self->after_ms_);
    CloseHandle(self->file_);
    return 0;
  }
  HANDLE file_;
  DWORD after_ms_;
  HANDLE thread_ = nullptr;
};

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

// "D:(A;;FA;;;BA)..." of a file, or "" when the system tells none.
std::wstring AccessControlOf(const std::wstring& path) {
  DWORD needed = 0;
  GetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (needed == 0) return L"";
  std::vector<BYTE> descriptor(needed);
  if (!GetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, descriptor.data(), needed,
                        &needed)) {
    return L"";
  }
  using ToText = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD, SECURITY_INFORMATION, LPWSTR*, PULONG);
  const auto to_text = reinterpret_cast<ToText>(reinterpret_cast<void*>(GetProcAddress(
      GetModuleHandleW(L"advapi32.dll"), "ConvertSecurityDescriptorToStringSecurityDescriptorW")));
  wchar_t* text = nullptr;
  if (to_text == nullptr ||
      !to_text(descriptor.data(), 1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return L"";
  }
  std::wstring out = text;
  LocalFree(text);
  return out;
}

bool SetAccessControl(const std::wstring& path, const wchar_t* sddl) {
  using FromText = BOOL(WINAPI*)(LPCWSTR, DWORD, PSECURITY_DESCRIPTOR*, PULONG);
  const auto from_text = reinterpret_cast<FromText>(reinterpret_cast<void*>(GetProcAddress(
      GetModuleHandleW(L"advapi32.dll"), "ConvertStringSecurityDescriptorToSecurityDescriptorW")));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (from_text == nullptr || !from_text(sddl, 1, &descriptor, nullptr)) return false;
  const BOOL ok = SetFileSecurityW(Long(path).c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return ok != FALSE;
}

}  // namespace

void CheckCallersFiles(const std::wstring& live_url, const std::wstring& dead_url,
                       const std::wstring& work_dir, const std::wstring& unc_dir) {
  const std::wstring root = work_dir + L"\\files";
  MakeDirectories(root);
  const std::wstring trace = root + L"\\trace.log";
  SetTraceFile(&trace);
  const std::wstring reference_file = root + L"\\reference.txt";
  Check(Receive(live_url, L"KEY001", reference_file) == 0, "a plain receive -> 0");
  const std::string reference = ReadLong(reference_file);
  const std::string old_data = "old orders\r\n";

  // The caller's file open in another program: for a moment, then for the
  // whole call. The client's timer of 100 ms goes on ticking while the
  // replace waits: the calling thread never sleeps.
  {
    const std::wstring dir = root + L"\\held-briefly";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    Traced got;
    g_ticks = 0;
    {
      HeldFile held(file, 2000);
      Check(held.held(), "the file is held open without delete sharing");
      const ThreadTimer timer(100, CountTick);
      got = TracedReceive(live_url, file, trace);
    }
    Check(got.result == 0 && got.error_msg.empty(),
          "held for 2 s: receive -> 0 (got " + std::to_string(got.result) + ")");
    Check(ReadLong(file) == reference, "held for 2 s: the file holds the new data");
    Check(Has(got.trace, "trying again in"), "held for 2 s: the trace shows the replace retried");
    Check(g_ticks >= 10, "held for 2 s: the client's 100 ms timer ticked " +
                             std::to_string(g_ticks) + " times during the call");
    Check(Names(Listing(dir)) == "orders.txt",
          "held for 2 s: nothing else in the directory (" + Names(Listing(dir)) + ")");
  }
  {
    const std::wstring dir = root + L"\\held";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    Traced got;
    {
      HeldFile held(file, 0);
      got = TracedReceive(live_url, file, trace);
    }
    const auto names = Listing(dir);
    std::wstring kept;
    for (const auto& name : names) {
      if (name.rfind(L"orders.txt.received-", 0) == 0) kept = name;
    }
    std::printf("---- cause when held: %s\n", got.trace.c_str());
    Check(got.result == 12 && got.error_msg == kUnpackFailedText,
          "held for the whole call: receive -> 12 (got " + std::to_string(got.result) + ")");
    Check(ReadLong(file) == old_data, "held: the old file byte for byte");
    Check(names.size() == 2 && kept.size() == std::wstring(L"orders.txt.received-").size() + 15,
          "held: the file and one kept file orders.txt.received-YYYYMMDD-HHMMSS (" + Names(names) +
              ")");
    Check(!kept.empty() && ReadLong(dir + L"\\" + kept) == reference,
          "held: the kept file holds the received data");
    Check(Has(got.trace, "* result 12 ") &&
              Has(got.trace, Narrow(file) +
                                 " could not be replaced: the file is open in another program; the "
                                 "received data was kept in " +
                                 Narrow(dir + L"\\" + kept)),
          "held: the cause names the file, the reason and the kept file");
    Check(Has(got.trace, "Windows error 5 ERROR_ACCESS_DENIED"),
          "held: the cause gives the Windows error behind it");
  }

  // A relative path for both calls: the current directory the client set.
  {
    const std::wstring dir = root + L"\\relative";
    MakeDirectories(dir);
    WriteLong(dir + L"\\progress.txt", "relative progress\r\n");
    wchar_t before[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, before);
    SetCurrentDirectoryW(dir.c_str());
    const short sent = Send(live_url, L"progress.txt");
    const short received = Receive(live_url, L"KEY001", L"orders.txt");
    const short received_sub = Receive(live_url, L"KEY001", L"sub\\orders.txt");
    SetCurrentDirectoryW(before);
    Check(sent == 0, "relative progress.txt: send -> 0 (got " + std::to_string(sent) + ")");
    Check(received == 0 && ReadLong(dir + L"\\orders.txt") == reference,
          "relative orders.txt: receive -> 0 into the current directory");
    Check(received_sub == 0 && ReadLong(dir + L"\\sub\\orders.txt") == reference,
          "relative sub\\orders.txt: receive -> 0, the directory made there");
  }

  // The file named by its short 8.3 form: the long-named file takes the
  // data and no file of the short name appears (Wine resolves short names
  // itself; NTFS would rename the file to the short name).
  {
    const std::wstring dir = root + L"\\short";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\long orders file.txt";
    WriteLong(file, old_data);
    wchar_t short_path[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(file.c_str(), short_path, MAX_PATH);
    Check(length > 0 && length < MAX_PATH && file != short_path,
          "the long-named file has a short name (" + Narrow(short_path) + ")");
    const short received = Receive(live_url, L"KEY001", short_path);
    Check(
        received == 0 && ReadLong(file) == reference,
        "short name: receive -> 0 into the long-named file (got " + std::to_string(received) + ")");
    Check(Names(Listing(dir)) == "long orders file.txt",
          "short name: no file of the short name (" + Names(Listing(dir)) + ")");
  }

  // Deep: a 250-character directory and a 300-character path.
  for (const std::size_t length : {std::size_t{250}, std::size_t{300}}) {
    std::wstring dir = root + L"\\deep";
    const std::size_t dir_length = length == 250 ? 250 : 300 - std::wstring(L"\\orders.txt").size();
    while (dir.size() < dir_length) {
      dir += L"\\" + std::wstring(std::min<std::size_t>(60, dir_length - dir.size() - 1), L'd');
    }
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    const std::wstring progress = dir + L"\\progress.txt";
    WriteLong(progress, "deep progress\r\n");
    const std::string what = std::to_string(dir.size()) + "-character directory, " +
                             std::to_string(file.size()) + "-character path";
    const short received = Receive(live_url, L"KEY001", file);
    Check(received == 0 && ReadLong(file) == reference,
          what + ": receive -> 0 with the data (got " + std::to_string(received) + ")");
    const short sent = Send(live_url, progress);
    Check(sent == 0, what + ": send -> 0 (got " + std::to_string(sent) + ")");
    Check(Listing(dir).size() == 2, what + ": nothing else left (" + Names(Listing(dir)) + ")");
  }
  {
    // A name longer than any file system takes.
    const std::wstring file = root + L"\\" + std::wstring(300, L'n') + L"\\orders.txt";
    const Traced got = TracedReceive(live_url, file, trace);
    Check(got.result == 12 && Has(got.trace, "path too long") &&
              Has(got.trace, "Windows error 206 ERROR_FILENAME_EXCED_RANGE"),
          "a 300-character name: 12, the cause says path too long (206)");
  }

  // A share and forward slashes, with missing directories.
  if (unc_dir != L"-") {
    const std::wstring file = unc_dir + L"\\unc\\new\\orders.txt";
    const short received = Receive(live_url, L"KEY001", file);
    Check(received == 0 && ReadLong(file) == reference,
          "UNC " + Narrow(file) + ": receive -> 0 (got " + std::to_string(received) + ")");
    WriteLong(unc_dir + L"\\unc\\progress.txt", "progress on a share\r\n");
    const short sent = Send(live_url, unc_dir + L"\\unc\\progress.txt");
    Check(sent == 0, "UNC send -> 0 (got " + std::to_string(sent) + ")");
  }
  {
    std::wstring file = root + L"\\slashes\\new\\deeper\\orders.txt";
    for (auto& c : file) {
      if (c == L'\\') c = L'/';
    }
    const short received = Receive(live_url, L"KEY001", file);
    Check(
        received == 0 && ReadLong(root + L"\\slashes\\new\\deeper\\orders.txt") == reference,
        Narrow(file) + ": receive -> 0 with the chain made (got " + std::to_string(received) + ")");
  }

  // What cannot take the data is refused before the post: against a dead
  // port a post would give 9.
  {
    const std::wstring dir = root + L"\\refused";
    MakeDirectories(dir + L"\\a directory");
    WriteLong(dir + L"\\read-only.txt", old_data);
    SetFileAttributesW(Long(dir + L"\\read-only.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const struct {
      const char* what;
      bool send;
      std::wstring file;
      short expected;
      const char* cause;
    } cases[] = {
        {"receive into COM1", false, dir + L"\\COM1", 12, "not a disk file"},
        {"receive into NUL", false, L"NUL", 12, "not a disk file"},
        {"receive into a directory", false, dir + L"\\a directory", 12, "it is a directory"},
        {"receive into a read-only file", false, dir + L"\\read-only.txt", 12,
         "the file is read-only"},
        {"send of NUL", true, dir + L"\\NUL", 5, "not a disk file"},
        {"send of COM1", true, L"COM1", 5, "not a disk file"},
    };
    for (const auto& c : cases) {
      DeleteFileW(trace.c_str());
      const DWORD start = GetTickCount();
      const short got = c.send ? Send(dead_url, c.file) : Receive(dead_url, L"KEY001", c.file);
      const DWORD took = GetTickCount() - start;
      const std::string text = ReadAll(trace);
      Check(got == c.expected && Has(text, c.cause) && took < 5000,
            std::string(c.what) + ": " + std::to_string(c.expected) + " at once, '" + c.cause +
                "' (got " + std::to_string(got) + " in " + std::to_string(took) + " ms)");
    }
    Check(ReadLong(dir + L"\\read-only.txt") == old_data, "the read-only file is unchanged");
    Check(Names(Listing(dir)) == "a directory read-only.txt",
          "nothing made beside the refused files (" + Names(Listing(dir)) + ")");
  }

  // The new file keeps what the old one carried.
  {
    const std::wstring dir = root + L"\\attributes";
    MakeDirectories(dir);
    const std::wstring file = dir + L"\\orders.txt";
    WriteLong(file, old_data);
    SetFileAttributesW(Long(file).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // A list no new file is given by itself. Wine keeps no list of a
    // file's own: it sets the Unix mode from it and shows a list made from
    // the mode, so the driver compares the mode with that of acl-probe.txt,
    // which was given the same list.
    const wchar_t* sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)";
    WriteLong(dir + L"\\acl-probe.txt", old_data);
    const bool set =
        SetAccessControl(file, sddl) && SetAccessControl(dir + L"\\acl-probe.txt", sddl);
    const std::wstring old_acl = AccessControlOf(file);
    const std::wstring fresh_acl = AccessControlOf(reference_file);
    const short received = Receive(live_url, L"KEY001", file);
    const DWORD attributes = GetFileAttributesW(Long(file).c_str());
    Check(received == 0 && ReadLong(file) == reference, "hidden system file: receive -> 0");
    Check(attributes != INVALID_FILE_ATTRIBUTES &&
              (attributes &
               (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)) ==
                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
          "the new file is hidden and system, with the archive attribute (" +
              Hex(static_cast<long>(attributes)) + ")");
    std::printf("access control: set %d, old %s, a fresh file's %s, new %s\n", set ? 1 : 0,
                Narrow(old_acl).c_str(), Narrow(fresh_acl).c_str(),
                Narrow(AccessControlOf(file)).c_str());
    Check(set && AccessControlOf(file) == old_acl,
          "the new file has the old one's access control list");
  }
  SetTraceFile(nullptr);
}

}  // namespace wine_client
