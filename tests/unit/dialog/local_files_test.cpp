#include "dialog/local_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
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
      {kWindowsPathStyle, u"C:", {}},
      {kWindowsPathStyle, u"C:/a/b", {u"C:/a", u"C:/a/b"}},
      {kWindowsPathStyle, u"C:\\a/b\\c", {u"C:\\a", u"C:\\a/b", u"C:\\a/b\\c"}},
      {kWindowsPathStyle, u"\\\\srv\\share\\d\\e", {u"\\\\srv\\share\\d", u"\\\\srv\\share\\d\\e"}},
      {kWindowsPathStyle, u"//srv/share/d", {u"//srv/share/d"}},
      {kWindowsPathStyle, u"\\\\srv\\share", {}},
      {kWindowsPathStyle, u"\\\\?\\C:\\a\\b", {u"\\\\?\\C:\\a", u"\\\\?\\C:\\a\\b"}},
      {kWindowsPathStyle, u"\\\\?\\UNC\\srv\\share\\d", {u"\\\\?\\UNC\\srv\\share\\d"}},
      {kWindowsPathStyle, u"\\\\.\\COM1", {}},
      {kWindowsPathStyle, u"\\a\\b", {u"\\a", u"\\a\\b"}},
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

TEST(ParentDirectory, WhereAReplacementIsStaged) {
  const struct {
    PathStyle style;
    std::u16string path, parent;
  } cases[] = {
      {kWindowsPathStyle, u"C:\\a\\b.txt", u"C:\\a"},
      {kWindowsPathStyle, u"\\b.txt", u""},
      {kWindowsPathStyle, u"C:/a/b.txt", u"C:/a"},
      {kPosixPathStyle, u"/home/u/b.txt", u"/home/u"},
      {kPosixPathStyle, u"/b.txt", u"/"},
      {kPosixPathStyle, u"b.txt", u""},
      {kPosixPathStyle, u"a/x\\b.txt", u"a"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentDirectory(c.style, c.path), c.parent);
  // The POSIX root joins without a doubled separator.
  EXPECT_EQ(JoinPath(kPosixPathStyle, u"/", u"p.txt"), u"/p.txt");
  EXPECT_EQ(JoinPath(kPosixPathStyle, u"", u"p.txt"), u"p.txt");
  EXPECT_EQ(JoinPath(kWindowsPathStyle, u"", u"p.txt"), u"\\p.txt");
}

TEST(StagingDirectory, FreshPrivateAndGoneWithEverythingInIt) {
  namespace fs = std::filesystem;
  const auto parent = fs::temp_directory_path() / "tolvex-staging-test";
  fs::remove_all(parent);
  fs::create_directories(parent);
  StdFileSystem files;
  std::u16string first_path;
  {
    StagingDirectory first(files, kPosixPathStyle, parent.u16string());
    StagingDirectory second(files, kPosixPathStyle, parent.u16string());
    first_path = first.path();
    EXPECT_NE(first.path(), second.path());
    EXPECT_EQ(fs::path(first.path()).parent_path(), parent);
    EXPECT_EQ(fs::status(first.path()).permissions() & fs::perms::all, fs::perms::owner_all);
    fs::create_directories(fs::path(first.File(u"sub")) / "deeper");
    std::ofstream(fs::path(first.File(u"so.zip"))) << "x";
    // A link inside goes; what it leads to stays.
    std::ofstream(parent / "kept.txt") << "kept";
    fs::create_symlink(parent / "kept.txt", fs::path(first.File(u"link")));
    second.Remove();
    EXPECT_EQ(second.path(), u"");
  }
  EXPECT_FALSE(fs::exists(first_path));
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(parent)) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::set<std::string>{"kept.txt"});
  // No directory can be made where the parent is missing.
  EXPECT_THROW(StagingDirectory(files, kPosixPathStyle, (parent / "missing").u16string()),
               FileError);
  fs::remove_all(parent);
}

}  // namespace
}  // namespace tolvex
