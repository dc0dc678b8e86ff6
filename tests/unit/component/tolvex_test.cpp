#include "component/tolvex.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "component/result_codes.h"
#include "component/split_path.h"
#include "component/text.h"
#include "component/trace.h"
#include "support/faulty_file_system.h"
#include "support/recording_trace_sink.h"

namespace tolvex {
namespace {

class RecordingPointer : public MousePointer {
 public:
  void Set(int pointer) override {
    history.push_back(pointer);
    if (pointer == kPointerHourglass && hourglass_fails) throw std::runtime_error("no hook");
  }
  std::vector<int> history;
  bool hourglass_fails = false;
};

// Runs a scripted job when shown, and remembers what the job saw.
class ScriptedDialog : public ModalDialog {
 public:
  explicit ScriptedDialog(JobState& state) : state_(state) {}
  void ShowModal() override {
    ++shows;
    error_text_at_show = state_.ErrorText;
    if (job) job(state_);
  }
  std::function<void(JobState&)> job;
  int shows = 0;
  std::u16string error_text_at_show = u"(not shown)";

 private:
  JobState& state_;
};

struct Harness {
  JobState state;
  ScriptedDialog dialog{state};
  RecordingPointer pointer;
  // Files the open check and the length query see, in a process whose
  // current directory is D:\cwd.
  testing::FaultyFileSystem files = [] {
    testing::FaultyFileSystem made(u"D:\\jail", u'\\');
    made.SetCurrentDirectory(u"D:\\cwd");
    return made;
  }();
  void PutFile(const std::u16string& path, std::size_t length) {
    files.PutFile(path, std::vector<std::uint8_t>(length, 'x'));
  }
  testing::RecordingTraceSink lines;
  Trace trace{lines};
  // The fake file system speaks Windows paths.
  Tolvex tolvex{{state, dialog, pointer, files, &trace, kWindowsPathStyle}};
};

const std::u16string kUrl = u"http://host1/app";
const std::u16string kKey = u"key-1";
const std::u16string kCode = u"C001";
const Variant kFile = Variant::String(u"D:\\work\\orders.txt");

enum class Method { Recv, Send };

std::int16_t Call(Harness& h, Method m, const std::u16string& url, const std::u16string& key,
                  const std::u16string& code, const Variant& file) {
  return m == Method::Recv ? h.tolvex.RecvSO(url, key, code, file)
                           : h.tolvex.SendProgress(url, key, code, file);
}

struct CheckCase {
  const char* name;
  std::u16string url, key, code;
  Variant file;
  std::int16_t expected;
};

TEST(TolvexChecks, FirstFailingCheckDecidesInOrderUrlCodeKeyFile) {
  const CheckCase cases[] = {
      {"empty url", u"", kKey, kCode, kFile, 1},
      {"url of spaces", u"   ", kKey, kCode, kFile, 1},
      {"all bad: url wins", u" ", u"", u"  ", Variant(), 1},
      {"code of two spaces", kUrl, kKey, u"  ", kFile, 2},
      {"empty code", kUrl, kKey, u"", kFile, 2},
      {"code and key bad: code wins", kUrl, u"", u" ", Variant(), 2},
      {"empty key", kUrl, u"", kCode, kFile, 3},
      {"key and file bad: key wins", kUrl, u"", kCode, Variant(), 3},
      {"file empty variant", kUrl, kKey, kCode, Variant(), 4},
      {"file null", kUrl, kKey, kCode, Variant::Null(), 4},
      {"file number", kUrl, kKey, kCode, Variant::Number(123), 4},
      {"file array", kUrl, kKey, kCode, Variant::Array(), 4},
      {"file only spaces", kUrl, kKey, kCode, Variant::String(u"   "), 4},
  };
  // The texts as the client's users know them, written out here rather
  // than taken from the table the component reads.
  const std::u16string texts[] = {u"", u"発注側サーバアドレスエラー", u"受注会社コードエラー",
                                  u"サーバアクセスキーエラー", u"ローカル送信ファィル名エラー"};
  for (const Method m : {Method::Recv, Method::Send}) {
    for (const auto& c : cases) {
      Harness h;
      h.tolvex.ErrorMsg = u"left by the client";
      const auto result = Call(h, m, c.url, c.key, c.code, c.file);
      EXPECT_EQ(result, c.expected) << c.name;
      EXPECT_EQ(h.tolvex.ErrorMsg, texts[c.expected]) << c.name;
      EXPECT_EQ(h.dialog.shows, 0) << c.name;
      EXPECT_EQ(h.pointer.history, (std::vector<int>{11, 0})) << c.name;
      EXPECT_EQ(h.state.JobMode, 0) << c.name;
      EXPECT_EQ(h.trace.CauseText(), DefaultCause(c.expected)) << c.name;
      EXPECT_EQ(h.lines.lines.back(), "* result " + std::to_string(c.expected) + " " +
                                          ToUtf8(texts[c.expected]) + ": " +
                                          std::string(DefaultCause(c.expected)))
          << c.name;
    }
  }
}

// The server names the member it delivers after the code: a receive whose
// code cannot be a file of its own here is refused among the code checks,
// before a key or file check and before the server is asked. A send names
// no file after the code.
TEST(TolvexChecks, ReceiveRefusesACodeThatCannotNameAFile) {
  for (const std::u16string code :
       {u"A/B", u"..\\x", u"D:x", u"CON", u"aux", u"NUL.txt", u"COM1", u"LPT1.x", u"*", u"?", u"<",
        u">", u"|", u"\"", u":", u"a\tb"}) {
    Harness h;
    EXPECT_EQ(h.tolvex.RecvSO(kUrl, u"", code, Variant()), 2) << ToUtf8(code);
    EXPECT_EQ(h.tolvex.ErrorMsg, u"受注会社コードエラー");
    EXPECT_EQ(h.dialog.shows, 0);
    EXPECT_NE(h.trace.CauseText().find("the company code does not make a file name"),
              std::string::npos)
        << h.trace.CauseText();
    h.dialog.job = [](JobState& s) { s.SendJob.ResultCode = 0; };
    h.PutFile(u"D:\\work\\orders.txt", 3);
    EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, code, kFile), 0) << ToUtf8(code);
  }
}

TEST(TolvexChecks, ValuesThatPassTheChecks) {
  struct Case {
    const char* name;
    std::u16string url, key, code;
  } cases[] = {
      {"single-letter url", u"x", kKey, kCode},
      {"key of one space", kUrl, u" ", kCode},
      {"code with leading space", kUrl, kKey, u" 12"},
      {"tab is not trimmed", u"\t", kKey, kCode},
  };
  for (const auto& c : cases) {
    Harness h;
    h.dialog.job = [](JobState& s) { s.RecvJob.ResultCode = 0; };
    EXPECT_EQ(h.tolvex.RecvSO(c.url, c.key, c.code, kFile), 0) << c.name;
    EXPECT_EQ(h.dialog.shows, 1) << c.name;
    EXPECT_EQ(h.state.RecvJob.CompanyCode, c.code) << c.name;
    EXPECT_EQ(h.state.RecvJob.AccessKey, c.key) << c.name;
    EXPECT_EQ(h.state.RecvJob.ServerUrl, c.url) << c.name;
  }
}

TEST(TolvexChecks, SendProgressOpenAndLengthChecks) {
  Harness h;
  h.PutFile(u"D:\\work\\empty.txt", 0);
  h.PutFile(u"D:\\work\\orders.txt", 10);
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, Variant::String(u"D:\\work\\missing.txt")), 5);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"ローカル送信ファィル未発見エラー");
  EXPECT_EQ(h.trace.CauseText(),
            "the progress file cannot be opened for reading (open for reading: "
            "D:\\work\\missing.txt: not found)");
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, Variant::String(u"D:\\work\\empty.txt")), 6);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"ローカル送信ファィルレングスエラー");
  EXPECT_EQ(h.trace.CauseText(), "the progress file is empty (0 bytes: D:\\work\\empty.txt)");
  EXPECT_EQ(h.dialog.shows, 0);
  h.dialog.job = [](JobState& s) { s.SendJob.ResultCode = 0; };
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, kFile), 0);
  EXPECT_EQ(h.dialog.shows, 1);
  // RecvSO makes neither check: a missing file is no error for it.
  EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, Variant::String(u"D:\\nowhere\\x.txt")), 99);
  EXPECT_EQ(h.dialog.shows, 2);
}

TEST(TolvexCall, RelativePathIsMadeAbsoluteOnceForTheCheckTheSplitAndTheJob) {
  const struct {
    Method method;
    std::u16string given, dir, file;
  } cases[] = {
      {Method::Send, u"orders.txt", u"D:\\cwd", u"orders.txt"},
      {Method::Recv, u" sub\\orders.txt ", u"D:\\cwd\\sub", u"orders.txt"},
      {Method::Recv, u"D:\\work\\orders.txt", u"D:\\work", u"orders.txt"},
  };
  for (const auto& c : cases) {
    Harness h;
    h.PutFile(c.dir + u"\\" + c.file, 3);
    h.dialog.job = [](JobState& s) { s.RunningJob().ResultCode = 0; };
    EXPECT_EQ(Call(h, c.method, kUrl, kKey, kCode, Variant::String(c.given)), 0) << ToUtf8(c.given);
    const TransferJob& job = c.method == Method::Send ? h.state.SendJob : h.state.RecvJob;
    EXPECT_EQ(job.LocalDir, c.dir) << ToUtf8(c.given);
    EXPECT_EQ(job.LocalFile, c.file) << ToUtf8(c.given);
    EXPECT_EQ(h.files.Count(testing::FileOp::kAbsolutePath), 1) << ToUtf8(c.given);
  }
}

TEST(TolvexCall, FillsItsOwnRecordAndLeavesTheOtherAlone) {
  Harness h;
  h.PutFile(u"E:\\p\\progress.txt", 3);
  h.dialog.job = [](JobState& s) {
    s.RunningJob().ResultCode = 0;
    s.ErrorText = u"done";
  };
  ASSERT_EQ(h.tolvex.RecvSO(kUrl, kKey, u"C001", Variant::String(u" D:\\work\\orders.txt ")), 0);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"done");
  EXPECT_EQ(h.state.JobMode, 2);
  EXPECT_EQ(h.state.RecvJob.ProcessKind, u'3');
  EXPECT_EQ(h.state.RecvJob.LocalDir, u"D:\\work");
  EXPECT_EQ(h.state.RecvJob.LocalFile, u"orders.txt");
  const TransferJob recv_before = h.state.RecvJob;

  ASSERT_EQ(h.tolvex.SendProgress(u"u2", u"k2", u"C002", Variant::String(u"E:\\p\\progress.txt")),
            0);
  EXPECT_EQ(h.state.JobMode, 1);
  EXPECT_EQ(h.state.SendJob.ProcessKind, u'1');
  EXPECT_EQ(h.state.SendJob.ServerUrl, u"u2");
  EXPECT_EQ(h.state.SendJob.LocalDir, u"E:\\p");
  EXPECT_EQ(h.state.RecvJob.ServerUrl, recv_before.ServerUrl);
  EXPECT_EQ(h.state.RecvJob.LocalDir, recv_before.LocalDir);
  EXPECT_EQ(h.state.RecvJob.ResultCode, recv_before.ResultCode);

  // A failed check leaves the record's parameters from the previous call.
  EXPECT_EQ(h.tolvex.RecvSO(u"", kKey, kCode, kFile), 1);
  EXPECT_EQ(h.state.RecvJob.LocalDir, u"D:\\work");
  EXPECT_EQ(h.state.RecvJob.LocalFile, u"orders.txt");
  EXPECT_EQ(h.state.JobMode, 1);
}

TEST(TolvexCall, ErrorTextIsEmptyAtShowAndNoOutcomeGives99) {
  Harness h;
  h.state.ErrorText = u"stale";
  h.tolvex.ErrorMsg = u"client value";
  // A dialog closed before its job stored anything: 99 and an empty message.
  EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, kFile), 99);
  EXPECT_EQ(h.dialog.error_text_at_show, u"");
  EXPECT_EQ(h.tolvex.ErrorMsg, u"");
  EXPECT_EQ(h.pointer.history, (std::vector<int>{11, 0}));
}

TEST(TolvexCall, UnexpectedErrorsReturnTheRecordAndKeepErrorMsg) {
  struct Case {
    const char* name;
    std::function<void(Harness&)> arrange;
    Variant file;
  } cases[] = {
      {"dialog cannot be shown",
       [](Harness& h) { h.dialog.job = [](JobState&) { throw std::runtime_error("shown"); }; },
       kFile},
      {"path beyond 32767 characters", [](Harness&) {},
       Variant::String(std::u16string(32768, u'a'))},
      // Before the call's first check: an earlier call's success and text
      // are not this call's outcome.
      {"pointer cannot be set after an earlier success",
       [](Harness& h) {
         h.state.RecvJob.ResultCode = 0;
         h.state.ErrorText = u"earlier";
         h.pointer.hourglass_fails = true;
       },
       kFile},
  };
  for (auto& c : cases) {
    Harness h;
    c.arrange(h);
    h.tolvex.ErrorMsg = u"kept";
    EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, c.file), 99) << c.name;
    EXPECT_EQ(h.tolvex.ErrorMsg, u"kept") << c.name;
    EXPECT_EQ(h.state.ErrorText, u"") << c.name;
    EXPECT_EQ(h.pointer.history.back(), 0) << c.name;
  }
  Harness h;
  h.PutFile(u"D:\\work\\orders.txt", 5);
  h.files.Fail(testing::FileOp::kLength, FileError("length"));
  h.tolvex.ErrorMsg = u"kept";
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, kFile), 99);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"kept");
}

TEST(TolvexCall, CallMadeWhileTheDialogIsShownIsRefusedUntouched) {
  Harness h;
  Tolvex other({h.state, h.dialog, h.pointer, h.files, &h.trace});
  std::int16_t nested = -1;
  TransferJob seen;
  h.dialog.job = [&](JobState& s) {
    other.ErrorMsg = u"other's";
    nested = other.RecvSO(u"http://elsewhere/", u"k2", u"C002", Variant::String(u"E:\\x\\y.txt"));
    seen = s.RecvJob;
    s.RecvJob.ResultCode = 0;
  };
  EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, kFile), 0);
  EXPECT_EQ(nested, 99);
  EXPECT_EQ(other.ErrorMsg, u"other's");
  EXPECT_EQ(seen.ServerUrl, kUrl);
  EXPECT_EQ(seen.LocalDir, u"D:\\work");
  EXPECT_EQ(seen.ResultCode, 99);
  EXPECT_EQ(h.dialog.shows, 1);
  // The running call's trace tells of the refusal and keeps its own record.
  EXPECT_EQ(h.lines.lines.size(), 3u);
  EXPECT_EQ(h.lines.lines[1], "* another call refused with 99: a call was running on this thread");
  EXPECT_EQ(h.lines.lines[2], "* result 0");
  // Once the call has returned, calls run normally again.
  EXPECT_EQ(other.RecvSO(u"", u"k", u"C", kFile), 1);
}

// Windows splits at either separator; on POSIX a backslash is part of a
// name.
TEST(SplitPath, SplitsAtTheLastSeparatorOfThePlatform) {
  const struct {
    std::u16string path, dir, file;
    PathStyle style = kNativePathStyle;
  } cases[] = {
      {u"orders.txt", u"", u"orders.txt"},
      // A name in the POSIX root keeps the root; Windows reads "" as the
      // current drive's root.
      {u"/p.txt", u"/", u"p.txt", kPosixPathStyle},
      {u"/p.txt", u"", u"p.txt", kWindowsPathStyle},
      {u"\\p.txt", u"", u"\\p.txt", kPosixPathStyle},
      {u"/srv/orders/a\\b.txt", u"/srv/orders", u"a\\b.txt", kPosixPathStyle},
      {u"//p.txt", u"/", u"p.txt", kPosixPathStyle},
      {u"\\orders.txt", u"", u"orders.txt", kWindowsPathStyle},
      {u"D:\\work\\", u"D:\\work", u"", kWindowsPathStyle},
      {u"D:/work\\sub/orders.txt", u"D:/work\\sub", u"orders.txt", kWindowsPathStyle},
      {u"D:orders.txt", u"", u"D:orders.txt"},
      {u"/home/u/受注.dat", u"/home/u", u"受注.dat"},
  };
  for (const auto& c : cases) {
    const auto parts = SplitPath(c.path, c.style);
    EXPECT_EQ(parts.dir, c.dir);
    EXPECT_EQ(parts.file, c.file);
  }
  const auto longest = SplitPath(std::u16string(32767, u'a'));
  EXPECT_EQ(longest.dir, u"");
  EXPECT_EQ(longest.file, std::u16string(32767, u'a'));
  EXPECT_THROW(SplitPath(std::u16string(32768, u'a')), PathOverflow);
}

TEST(Trace, TheKeyIsMaskedInEveryLineAndCause) {
  const struct {
    const char* name;
    std::u16string key;
    std::string text, shown;
  } cases[] = {
      {"as given", u"s3cret-key", "key=s3cret-key;", "key=**********;"},
      {"twice", u"abcd", "abcd abcd", "**** ****"},
      {"padded: both forms", u"  wxyz  ", "[wxyz] [  wxyz  ]", "[****] [********]"},
      {"non-ASCII: one star a character", u"鍵の文字列", "k=鍵の文字列.", "k=*****."},
      {"too short to tell from text", u"key", "monkey key", "monkey key"},
      {"no key", u"", "plain", "plain"},
  };
  for (const auto& c : cases) {
    testing::RecordingTraceSink lines;
    Trace trace(lines);
    trace.BeginCall("call", c.key);
    trace.Step(c.text);
    trace.Sent(c.text);
    trace.Fail(c.text, c.text);
    EXPECT_EQ(lines.lines, (std::vector<std::string>{"* call", "* " + c.shown, "> " + c.shown}))
        << c.name;
    EXPECT_EQ(trace.CauseText(), c.shown + " (" + c.shown + ")") << c.name;
  }
}

TEST(Trace, FirstCauseOfACallStandsAndTheNextCallForgetsIt) {
  testing::RecordingTraceSink lines;
  Trace trace(lines);
  trace.BeginCall("first", u"");
  trace.SetReplyStatus("HTTP/1.1 500 Internal Server Error\r\n");
  trace.Fail("connection refused", "curl error 7");
  trace.Fail("the HTTP post failed");
  trace.EndCall(9, u"ポスト実行エラー");
  EXPECT_EQ(trace.CauseText(), "connection refused (curl error 7)");
  EXPECT_EQ(trace.ReplyStatus(), "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(lines.lines.back(), "* result 9 ポスト実行エラー: connection refused (curl error 7)");

  trace.BeginCall("second", u"");
  EXPECT_EQ(trace.CauseText(), "");
  EXPECT_EQ(trace.ReplyStatus(), "");
  trace.EndCall(91, u"");  // no layer named a cause: the code's own words
  EXPECT_EQ(trace.CauseText(), "the server did not answer in time");
  trace.BeginCall("third", u"");
  trace.EndCall(0, u"");
  EXPECT_EQ(trace.CauseText(), "");
  EXPECT_EQ(lines.lines.back(), "* result 0");
}

TEST(Trace, WithoutASinkOrWithAFailingOneOnlyTheCauseIsKept) {
  Trace silent;
  silent.BeginCall("call", u"");
  EXPECT_FALSE(silent.Detailed());
  silent.Step("nobody reads this");
  silent.Fail("why");
  EXPECT_EQ(silent.CauseText(), "why");

  testing::RecordingTraceSink unwanted;
  unwanted.wanted = false;
  Trace off(unwanted);
  off.BeginCall("call", u"");
  off.Step("x");
  EXPECT_EQ(unwanted.calls, 1);
  EXPECT_TRUE(unwanted.lines.empty());

  struct Throwing : TraceSink {
    bool BeginCall() override { return true; }
    void Line(std::string_view) override { throw std::runtime_error("disk gone"); }
  } throwing;
  Trace broken(throwing);
  EXPECT_NO_THROW(broken.BeginCall("call", u""));
  EXPECT_NO_THROW(broken.Step("x"));
  // A sink that fails loses its lines, never the cause the call reports.
  broken.Fail("why");
  EXPECT_EQ(broken.CauseText(), "why");
}

TEST(Trace, RequestHeaderAndReplyBytesAsShown) {
  const std::u16string header =
      u"3C001        " + std::u16string(u"key-1") + std::u16string(45, u' ');
  EXPECT_EQ(MaskedRequestHeader(header), "3C001        *****" + std::string(45, ' '));
  EXPECT_EQ(MaskedRequestHeader(u"1X           a b"), "1X           * *");
  EXPECT_EQ(MaskedRequestHeader(u"3C0"), "3C0");

  const struct {
    std::string bytes;
    std::size_t limit;
    std::string shown;
  } cases[] = {
      {"9", 40, "\"9\""},
      {"<html>\"a\\b\"</html>", 40, "\"<html>\\\"a\\\\b\\\"</html>\""},
      {std::string("\0\n\xff", 3), 40, "\"\\x00\\x0A\\xFF\""},
      {"0123456789", 4, "\"0123\"..."},
      {"", 4, "\"\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        QuotedBytes(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size(), c.limit),
        c.shown);
  }
}

TEST(ResultCodes, TextsAndControlErrorText) {
  EXPECT_EQ(ResultText(4), u"ローカル送信ファィル名エラー");
  EXPECT_EQ(ResultText(91), u"応答タイムアウト");
  EXPECT_EQ(ResultText(10), u"");
  EXPECT_EQ(ControlErrorText(7, u"disk full"), u"ファイル圧縮エラー(disk full)");
  EXPECT_EQ(ControlErrorText(11, u""), u"ファイル解凍エラー()");
  // Every failure names a cause in the trace; success and codes outside
  // the table do not borrow another's.
  for (const auto& entry : kResultTable) {
    EXPECT_EQ(DefaultCause(entry.code).empty(), entry.code == kResultOk) << entry.code;
  }
  EXPECT_EQ(DefaultCause(10), "unknown result");
}

}  // namespace
}  // namespace tolvex
