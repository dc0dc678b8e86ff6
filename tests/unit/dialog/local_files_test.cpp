#include "dialog/local_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvex {
namespace {

// Records the directories the chain asks for; every create fails, as it
// does for directories that already exist, and the chain goes on.
class RecordingFiles : public StdFileSystem {
 public:
  void CreateDirectory(const std::u16string& path) override {
    created.push_back(path);
    throw FileError("exists");
  }
  std::vector<std::u16string> created;
};

TEST(CreateDirectoryChain, WindowsAndPosixRules) {
  const struct {
    PathStyle style;
    std::u16string dir;
    std::vector<std::u16string> created;
  } cases[] = {
      {kWindowsPathStyle, u"C:\\a\\b\\c", {u"C:\\a", u"C:\\a\\b", u"C:\\a\\b\\c"}},
      {kWindowsPathStyle, u"C:", {u"C:"}},
      {kWindowsPathStyle, u"C:/a/b", {u"C:/a/b"}},
      {kWindowsPathStyle,
       u"\\\\srv\\share\\d",
       {u"\\", u"\\\\srv", u"\\\\srv\\share", u"\\\\srv\\share\\d"}},
      {kPosixPathStyle, u"/home/u/x", {u"/home", u"/home/u", u"/home/u/x"}},
      {kPosixPathStyle, u"rel/x", {u"rel", u"rel/x"}},
      {kPosixPathStyle, u"", {}},
  };
  for (const auto& c : cases) {
    RecordingFiles files;
    CreateDirectoryChain(files, c.style, c.dir);
    EXPECT_EQ(files.created, c.created);
  }
}

TEST(IsBareFileName, NamesThatStayInTheirDirectory) {
  for (const std::u16string ok : {u"C001.dat", u"受注.dat", u"a b.dat", u"..x.dat"}) {
    EXPECT_TRUE(IsBareFileName(kWindowsPathStyle, ok));
    EXPECT_TRUE(IsBareFileName(kPosixPathStyle, ok));
  }
  for (const std::u16string bad : {u"../x.dat", u"a/b.dat", u"a\\b.dat", u"..", u""}) {
    EXPECT_FALSE(IsBareFileName(kWindowsPathStyle, bad));
    EXPECT_FALSE(IsBareFileName(kPosixPathStyle, bad));
  }
  EXPECT_FALSE(IsBareFileName(kWindowsPathStyle, u"D:x.dat"));
  EXPECT_TRUE(IsBareFileName(kPosixPathStyle, u"D:x.dat"));
}

TEST(SameFileName, FoldsAsciiCaseOnlyOnWindows) {
  EXPECT_TRUE(SameFileName(kWindowsPathStyle, u"c001.DAT", u"C001.dat"));
  EXPECT_FALSE(SameFileName(kPosixPathStyle, u"c001.DAT", u"C001.dat"));
  EXPECT_TRUE(SameFileName(kPosixPathStyle, u"C001.dat", u"C001.dat"));
  EXPECT_FALSE(SameFileName(kWindowsPathStyle, u"C001.dat", u"C001.da"));
}

}  // namespace
}  // namespace tolvex
