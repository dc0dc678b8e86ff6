#include "component/tolvex.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

#include "component/result_codes.h"
#include "component/split_path.h"

namespace tolvex {
namespace {

class RecordingPointer : public MousePointer {
 public:
  void Set(int pointer) override { history.push_back(pointer); }
  std::vector<int> history;
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

// Files the open check and the length query see.
class ScriptedFiles : public StdFileSystem {
 public:
  bool ProbeOpenForRead(const std::u16string& path) noexcept override {
    return lengths.count(path) > 0;
  }
  std::uint64_t FileLength(const std::u16string& path) override {
    if (length_fails) throw FileError("length");
    return lengths.at(path);
  }
  std::map<std::u16string, std::uint64_t> lengths;
  bool length_fails = false;
};

struct Harness {
  JobState state;
  ScriptedDialog dialog{state};
  RecordingPointer pointer;
  ScriptedFiles files;
  Tolvex tolvex{{state, dialog, pointer, files}};
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
  for (const Method m : {Method::Recv, Method::Send}) {
    for (const auto& c : cases) {
      Harness h;
      h.tolvex.ErrorMsg = u"left by the client";
      const auto result = Call(h, m, c.url, c.key, c.code, c.file);
      EXPECT_EQ(result, c.expected) << c.name;
      EXPECT_EQ(h.tolvex.ErrorMsg, ResultText(c.expected)) << c.name;
      EXPECT_EQ(h.dialog.shows, 0) << c.name;
      EXPECT_EQ(h.pointer.history, (std::vector<int>{11, 0})) << c.name;
      EXPECT_EQ(h.state.JobMode, 0) << c.name;
    }
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
  h.files.lengths[u"D:\\work\\empty.txt"] = 0;
  h.files.lengths[u"D:\\work\\orders.txt"] = 10;
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, Variant::String(u"D:\\work\\missing.txt")), 5);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"ローカル送信ファィル未発見エラー");
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, Variant::String(u"D:\\work\\empty.txt")), 6);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"ローカル送信ファィルレングスエラー");
  EXPECT_EQ(h.dialog.shows, 0);
  h.dialog.job = [](JobState& s) { s.SendJob.ResultCode = 0; };
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, kFile), 0);
  EXPECT_EQ(h.dialog.shows, 1);
  // RecvSO makes neither check: a missing file is no error for it.
  EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, Variant::String(u"D:\\nowhere\\x.txt")), 99);
  EXPECT_EQ(h.dialog.shows, 2);
}

TEST(TolvexCall, FillsItsOwnRecordAndLeavesTheOtherAlone) {
  Harness h;
  h.files.lengths[u"E:\\p\\progress.txt"] = 3;
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
  };
  for (auto& c : cases) {
    Harness h;
    c.arrange(h);
    h.tolvex.ErrorMsg = u"kept";
    EXPECT_EQ(h.tolvex.RecvSO(kUrl, kKey, kCode, c.file), 99) << c.name;
    EXPECT_EQ(h.tolvex.ErrorMsg, u"kept") << c.name;
    EXPECT_EQ(h.pointer.history.back(), 0) << c.name;
  }
  Harness h;
  h.files.lengths[u"D:\\work\\orders.txt"] = 5;
  h.files.length_fails = true;
  h.tolvex.ErrorMsg = u"kept";
  EXPECT_EQ(h.tolvex.SendProgress(kUrl, kKey, kCode, kFile), 99);
  EXPECT_EQ(h.tolvex.ErrorMsg, u"kept");
}

TEST(TolvexCall, CallMadeWhileTheDialogIsShownIsRefusedUntouched) {
  Harness h;
  Tolvex other({h.state, h.dialog, h.pointer, h.files});
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
  // Once the call has returned, calls run normally again.
  EXPECT_EQ(other.RecvSO(u"", u"k", u"C", kFile), 1);
}

TEST(SplitPath, SplitsAtTheLastSeparatorOfEitherKind) {
  const struct {
    std::u16string path, dir, file;
    PathStyle style = kNativePathStyle;
  } cases[] = {
      {u"orders.txt", u"", u"orders.txt"},
      // A name in the POSIX root keeps the root; Windows reads "" as the
      // current drive's root.
      {u"/p.txt", u"/", u"p.txt", kPosixPathStyle},
      {u"/p.txt", u"", u"p.txt", kWindowsPathStyle},
      {u"\\p.txt", u"", u"p.txt", kPosixPathStyle},
      {u"//p.txt", u"/", u"p.txt", kPosixPathStyle},
      {u"\\orders.txt", u"", u"orders.txt"},
      {u"D:\\work\\", u"D:\\work", u""},
      {u"D:/work\\sub/orders.txt", u"D:/work\\sub", u"orders.txt"},
      {u"D:orders.txt", u"", u"D:orders.txt"},
      {u"/home/u/受注.dat", u"/home/u", u"受注.dat"},
  };
  for (const auto& c : cases) {
    const auto parts = SplitPath(c.path, c.style);
    EXPECT_EQ(parts.dir, c.dir);
    EXPECT_EQ(parts.file, c.file);
  }
  EXPECT_NO_THROW(SplitPath(std::u16string(32767, u'a')));
  EXPECT_THROW(SplitPath(std::u16string(32768, u'a')), PathOverflow);
}

TEST(ResultCodes, TextsAndControlErrorText) {
  EXPECT_EQ(ResultText(4), u"ローカル送信ファィル名エラー");
  EXPECT_EQ(ResultText(91), u"応答タイムアウト");
  EXPECT_EQ(ResultText(10), u"");
  EXPECT_EQ(ControlErrorText(7, u"disk full"), u"ファイル圧縮エラー(disk full)");
  EXPECT_EQ(ControlErrorText(11, u""), u"ファイル解凍エラー()");
}

}  // namespace
}  // namespace tolvex
