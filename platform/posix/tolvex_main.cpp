// tolvex: the component's two calls from a terminal.
//   tolvex recv URL KEY CODE FILE    runs RecvSO
//   tolvex send URL KEY CODE FILE    runs SendProgress
// The exit status is the result code; ErrorMsg, when not empty, is printed
// as one UTF-8 line on stdout, and the cause of a failure as one line on
// stderr. --verbose shows every step of the call on stderr.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "component/result_codes.h"
#include "component/text.h"
#include "component/tolvex.h"
#include "curl_http_session.h"
#include "dialog/frm_tolvex.h"
#include "interrupt.h"
#include "posix_file_system.h"
#include "project_version.h"
#include "terminal_dialog_window.h"
#include "verbose_trace_sink.h"

namespace {

constexpr int kUsageError = 64;  // outside the range of result codes

const char kUsage[] =
    "usage: tolvex [--quiet | --verbose] recv URL KEY CODE FILE\n"
    "       tolvex [--quiet | --verbose] send URL KEY CODE FILE\n"
    "\n"
    "  recv  fetch the company's work-instruction data from URL into FILE\n"
    "  send  pack the progress file FILE and post it to URL\n"
    "\n"
    "  URL   the order server's base URL (\"http://\" is assumed without a scheme)\n"
    "  KEY   the server access key\n"
    "  CODE  the order-receiving company's code\n"
    "\n"
    "  --quiet    no progress display, and no cause line for a failure\n"
    "  --verbose  every step on standard error: the request and reply heads as\n"
    "             sent and received, the reply's classification, the file and\n"
    "             archive steps with their timings (the access key masked)\n"
    "  --help     this text\n"
    "  --version  the version\n"
    "\n"
    "The exit status is the result code (0 = success; see README.md), and the\n"
    "result text, if any, is printed on standard output. A failure's cause is\n"
    "printed on standard error. Ctrl-C, SIGTERM or SIGHUP cancels.\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  bool quiet = false;
  bool verbose = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (args.empty() && arg == "--quiet") {
      quiet = true;
    } else if (args.empty() && arg == "--verbose") {
      verbose = true;
    } else if (args.empty() && arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (args.empty() && arg == "--version") {
      std::puts("tolvex " TOLVEX_VERSION_TEXT);
      return 0;
    } else {
      args.push_back(arg);
    }
  }
  if (args.size() != 5 || (args[0] != "recv" && args[0] != "send")) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }

  using namespace tolvex;
  // A name whose bytes are not UTF-8 could only be read as another name,
  // and another file would be written or sent.
  const std::string& file_arg = args[4];
  if (ToUtf8(FromUtf8(file_arg)) != file_arg) {
    std::printf("%s\n", ToUtf8(ResultText(kResultBadLocalFile)).c_str());
    if (!quiet) {
      std::fflush(stdout);
      std::fprintf(
          stderr, "tolvex: result %d: the file name is not valid UTF-8 (%s)\n", kResultBadLocalFile,
          QuotedBytes(reinterpret_cast<const std::uint8_t*>(file_arg.data()), file_arg.size(), 80)
              .c_str());
    }
    return kResultBadLocalFile;
  }
  posix::InstallInterruptHandler(quiet);
  posix::VerboseTraceSink sink(verbose, stderr);
  Trace trace(sink);
  posix::PosixFileSystem files;
  posix::CurlHttpSession http(trace);
  ZipArchiver archive(files, kPosixPathStyle);
  // The steps take the lines the status display would redraw.
  posix::TerminalDialogWindow window(quiet || verbose);
  // The command's one component: a single thread, a single call.
  JobState state;
  ServerAddress address;
  FrmTolvex dialog(window, {state, address, http, archive, files, kPosixPathStyle, &trace});
  NoMousePointer pointer;
  Tolvex tolvex({state, dialog, pointer, files, &trace});

  const std::u16string url = FromUtf8(args[1]);
  const std::u16string key = FromUtf8(args[2]);
  const std::u16string code = FromUtf8(args[3]);
  const Variant file = Variant::String(FromUtf8(args[4]));
  const std::int16_t result = args[0] == "recv" ? tolvex.RecvSO(url, key, code, file)
                                                : tolvex.SendProgress(url, key, code, file);
  if (!tolvex.ErrorMsg.empty()) std::printf("%s\n", ToUtf8(tolvex.ErrorMsg).c_str());
  if (result != kResultOk && !quiet) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", posix::CauseLine(result, trace).c_str());
  }
  return result;
}
