// The trace file setting and the archiver a call chooses: CheckTraceFile
// and CheckArchiver.
#include "call_checks.h"
#include "call_support.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "check.h"
#include "project_version.h"
#include "tolvex_h.h"

namespace wine_client {
namespace {

std::string FirstLine(const std::string& text) { return text.substr(0, text.find("\r\n")); }

std::uintmax_t FileSize(const std::wstring& path) {
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(std::filesystem::path(path), ignored);
  return size == static_cast<std::uintmax_t>(-1) ? 0 : size;
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

  // The first line names the DLL loaded, its version and bitness, and the
  // program that loaded it.
  wchar_t client[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, client, MAX_PATH);
  const std::string first = FirstLine(text);
  const char* const bits = sizeof(void*) == 8 ? ", 64-bit, " : ", 32-bit";
  for (const std::string& part :
       {std::string("* Tolvex.dll " TOLVEX_VERSION_TEXT " (file version "), std::string(bits),
        std::string("Tolvex.dll, in "), Narrow(client)}) {
    Check(first.find(part) != std::string::npos, "the trace's first line names " + part);
  }
  Check(text.find("* RecvSO URL ", first.size()) != std::string::npos,
        "the call's own line follows the first");

  // Where the user has no value, the machine's (HKLM, 64-bit view) names
  // the file; a user's value wins over it, and an empty one switches the
  // trace off for that user.
  const std::wstring machine_trace = work_dir + L"\\trace-machine.log";
  const std::wstring user_trace = work_dir + L"\\trace-user.log";
  DeleteFileW(machine_trace.c_str());
  DeleteFileW(user_trace.c_str());
  const std::wstring empty;
  const struct {
    const char* what;
    const std::wstring* user;  // nullptr: no user value
    bool machine_grows;
    bool user_grows;
  } precedence[] = {
      {"HKLM alone names the trace", nullptr, true, false},
      {"HKCU wins over HKLM", &user_trace, false, true},
      {"an empty HKCU value switches the trace off", &empty, false, false},
  };
  SetTraceFile(&machine_trace, REG_EXPAND_SZ, true);
  for (const auto& row : precedence) {
    SetTraceFile(row.user);
    const std::uintmax_t machine_before = FileSize(machine_trace);
    const std::uintmax_t user_before = FileSize(user_trace);
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9,
          std::string(row.what) + ": dead port -> 9");
    Check((FileSize(machine_trace) > machine_before) == row.machine_grows &&
              (FileSize(user_trace) > user_before) == row.user_grows,
          row.what);
  }
  Check(ReadAll(machine_trace).find("WinINet error 12029") != std::string::npos,
        "the machine-wide trace holds the call's steps");
  SetTraceFile(nullptr, REG_SZ, true);

  // A file that has reached 10 MiB when a call starts is renamed to
  // FILE.1 and begun again; one a byte short is appended to.
  const std::wstring rolled = trace + L".1";
  const struct {
    std::uintmax_t size;
    bool rolls;
  } sizes[] = {{(10u << 20) - 1, false}, {10u << 20, true}, {(10u << 20) + 4096, true}};
  SetTraceFile(&trace);
  for (const auto& row : sizes) {
    DeleteFileW(rolled.c_str());
    {
      std::ofstream old(std::filesystem::path(trace), std::ios::binary | std::ios::trunc);
      const std::string filler(row.size, 'x');
      old << filler;
    }
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9, "a full trace: dead port -> 9");
    const std::string what = "a trace file of " + std::to_string(row.size) + " bytes ";
    if (row.rolls) {
      Check(FileSize(rolled) == row.size && FileSize(trace) < 65536 &&
                FirstLine(ReadAll(trace)).find("* Tolvex.dll ") != std::string::npos,
            what + "rolls over to .1 and starts again with the call's first line");
    } else {
      Check(GetFileAttributesW(rolled.c_str()) == INVALID_FILE_ATTRIBUTES &&
                FileSize(trace) > row.size,
            what + "is appended to");
    }
  }
  DeleteFileW(rolled.c_str());
  DeleteFileW(trace.c_str());

  // A variable stays literal in a REG_SZ (reg add without /t REG_EXPAND_SZ,
  // typed into PowerShell); the DLL expands it in either type.
  SetEnvironmentVariableW(L"TOLVEX_TRACE_DIR", work_dir.c_str());
  const struct {
    DWORD type;
    const wchar_t* name;
  } typed[] = {{REG_SZ, L"REG_SZ"}, {REG_EXPAND_SZ, L"REG_EXPAND_SZ"}};
  for (const auto& value : typed) {
    const std::wstring file = std::wstring(L"trace-") + value.name + L".log";
    const std::wstring stored = L"%TOLVEX_TRACE_DIR%\\" + file;
    DeleteFileW((work_dir + L"\\" + file).c_str());
    SetTraceFile(&stored, value.type);
    Check(Receive(dead_url, key, work_dir + L"\\traced.txt") == 9,
          "traced through a variable -> 9");
    Check(ReadAll(work_dir + L"\\" + file).find("WinINet error 12029") != std::string::npos,
          "%TOLVEX_TRACE_DIR% in a " + Narrow(value.name) + " value names the trace file");
  }

  const std::wstring unopenable = work_dir + L"\\no such dir\\trace.log";
  SetTraceFile(&unopenable);
  Check(Receive(live_url, L"KEY001", work_dir + L"\\traced.txt") == 0,
        "an unopenable trace file changes nothing: receive -> 0");
  SetTraceFile(nullptr);
}

void CheckArchiver(const std::wstring& url, const std::wstring& work_dir,
                   const std::wstring& expected_line, bool hosted) {
  const std::wstring trace = work_dir + L"\\archiver-trace.log";
  const std::wstring send_file = work_dir + L"\\archiver-progress.txt";
  WriteFile(send_file, "progress through the chosen archiver\r\n");
  struct Case {
    const char* what;
    bool send;
    const wchar_t* file;
  };
  const Case cases[] = {{"receive", false, L"\\archiver-orders.txt"},
                        {"send", true, L"\\archiver-progress.txt"}};
  std::optional<ControlProgId> contained;
  if (hosted) contained.emplace(ControlProgId::ClassOf(L"TolvexArchiver.NeedsContainer"));
  for (const Case& c : cases) {
    const std::string what = c.what;
    DeleteFileW(trace.c_str());
    SetTraceFile(&trace);
    _Tolvex* object = Create();
    if (!Check(object != nullptr, what + ": object created")) continue;
    HRESULT hr = E_FAIL;
    const short got = EarlyBound(object, c.send, url, L"KEY001", L"C001", work_dir + c.file, &hr);
    const std::wstring message = ErrorMsg(object);
    object->Release();
    SetTraceFile(nullptr);
    Check(hr == S_OK && got == 0 && message.empty(),
          what + ": returns 0 with an empty ErrorMsg (got " + std::to_string(got) + ", '" +
              Narrow(message) + "')");
    const std::string text = ReadAll(trace);
    const std::size_t line = text.find("* archiver: ");
    const std::string said = line == std::string::npos
                                 ? "no archiver line"
                                 : text.substr(line, text.find('\n', line) - line);
    Check(said.find(Narrow(expected_line)) != std::string::npos,
          what + ": the trace names the archiver: " + said);
    if (hosted) {
      // The stand-in that records its container, under the control's ProgID.
      const auto hosting = Export<Hosting>(L"TolvexArchiver.dll", "TolvexArchiverHosting");
      const DWORD record = hosting ? hosting() : 0;
      Check((record & (c.send ? kHostPacked : kHostUnpacked)) != 0,
            what + ": the stand-in's record shows it " + (c.send ? "packed" : "unpacked") + " (" +
                Hex(static_cast<long>(record)) + ")");
    } else if (expected_line.find(L"built-in") != std::wstring::npos) {
      Check(GetModuleHandleW(L"TolvexArchiver.dll") == nullptr,
            what + ": no stand-in loaded in the process");
    }
  }
}

}  // namespace wine_client
