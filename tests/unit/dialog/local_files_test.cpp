#include "dialog/local_files.h"

#include "backends/win32_file_errors.h"
#include "backends/win32_paths.h"
#include "component/path_forms.h"
#include "component/plain_file_name.h"
#include "component/text.h"
#include "support/faulty_file_system.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tolvex {
namespace {

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
      {kPosixPathStyle, u"/", {}},
  };
  for (const auto& c : cases) {
    // Every create fails, as it does for directories that already exist,
    // and the chain goes on.
    testing::FaultyFileSystem files;
    files.Fail(testing::FileOp::kCreateDirectory, FileError("exists"));
    CreateDirectoryChain(files, c.style, c.dir);
    EXPECT_EQ(files.Paths(testing::FileOp::kCreateDirectory), c.created);
  }
}

TEST(IsPlainFileName, MemberNamesThatCanBeAFileOfTheirOwn) {
  const struct {
    std::u16string name;
    bool windows, posix;
  } cases[] = {
      {u"C001.dat", true, true},     {u"受注.dat", true, true},    {u"a b.dat", true, true},
      {u"..x.dat", true, true},      {u"CONSOLE.dat", true, true}, {u"COM10.dat", true, true},
      {u"../x.dat", false, false},   {u"a/b.dat", false, false},   {u"a\\b.dat", false, false},
      {u"..\\x.dat", false, false},  {u"..", false, false},        {u".", false, false},
      {u"", false, false},           {u"D:x.dat", false, true},    {u"CON.dat", false, true},
      {u"aux", false, true},         {u"nul.dat", false, true},    {u"NUL .dat", false, true},
      {u"COM1.dat", false, true},    {u"lpt9.dat", false, true},   {u"COM\u00B9.dat", false, true},
      {u"CONOUT$.dat", false, true}, {u"a*.dat", false, true},     {u"a?.dat", false, true},
      {u"a<.dat", false, true},      {u"a>.dat", false, true},     {u"a|.dat", false, true},
      {u"a\".dat", false, true},     {u"a\tb.dat", false, true},   {u"a.dat.", false, true},
      {u"a.dat ", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsPlainFileName(kWindowsPathStyle, c.name), c.windows) << ToUtf8(c.name);
    EXPECT_EQ(IsPlainFileName(kPosixPathStyle, c.name), c.posix) << ToUtf8(c.name);
  }
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

TEST(KeptDataPath, BesideTheFileUnderANameNotTaken) {
  namespace fs = std::filesystem;
  const auto dir = fs::temp_directory_path() / ("tolvex-kept-test-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  StdFileSystem files;
  const std::u16string target = (dir / "orders.txt").u16string();
  const KeptName data{u"20261209-023105", u"", u"C001.dat"};
  const KeptName archive{u"20261209-023105", u".zip", u"C001.zip"};
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, target, data),
            (dir / "orders.txt.received-20261209-023105").u16string());
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, target, archive),
            (dir / "orders.txt.received-20261209-023105.zip").u16string());
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, target, archive, true),
            (dir / "received-20261209-023105-C001.zip").u16string());
  std::ofstream(dir / "orders.txt.received-20261209-023105") << "an earlier call's";
  fs::create_directory(dir / "orders.txt.received-20261209-023105-2");
  std::ofstream(dir / "received-20261209-023105-C001.zip") << "an earlier call's";
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, target, data),
            (dir / "orders.txt.received-20261209-023105-3").u16string());
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, target, archive, true),
            (dir / "received-20261209-023105-2-C001.zip").u16string());
  EXPECT_EQ(KeptDataPath(files, kPosixPathStyle, u"/orders.txt", data),
            u"/orders.txt.received-20261209-023105");
  EXPECT_EQ(KeptDataPath(files, kWindowsPathStyle, u"C:\\d\\orders.txt", archive, true),
            u"C:\\d\\received-20261209-023105-C001.zip");
  fs::remove_all(dir);

  const std::u16string now = LocalTimeStamp();
  ASSERT_EQ(now.size(), 15u);
  EXPECT_EQ(now[8], u'-');
}

// The received data goes beside the caller's file under the long name, or
// the short one where the long one is more than the system takes; what
// was kept holds exactly the bytes it was made from.
TEST(KeepBeside, LongNamesFallBackToTheShortForm) {
  namespace fs = std::filesystem;
  const auto dir = fs::temp_directory_path() / ("tolvex-keep-test-" + std::to_string(getpid()));
  const struct {
    std::string file;  // the caller's file name
    bool short_form;
  } cases[] = {
      {"orders.txt", false},
      {std::string(226, 'o'), false},
      {std::string(227, 'o'), true},
      {[] {
         std::string name;
         for (int i = 0; i < 76; ++i) name += "受";  // 228 bytes of UTF-8
         return name;
       }(),
       true},
  };
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir / "stage");
    std::ofstream(dir / "stage" / "so.zip") << "the archive";
    StdFileSystem files;
    const std::u16string target = (dir / fs::u8path(c.file)).u16string();
    const Kept kept =
        KeepBeside(files, kPosixPathStyle, (dir / "stage" / "so.zip").u16string(), target,
                   KeptName{u"20261209-023105", u".zip", u"C001.zip"}, DiscardingTrace());
    ASSERT_FALSE(kept.path.empty()) << c.file;
    const std::string name = fs::path(kept.path).filename().u8string();
    if (c.short_form) {
      EXPECT_EQ(name, "received-20261209-023105-C001.zip");
    } else {
      EXPECT_EQ(name, c.file + ".received-20261209-023105.zip");
    }
    std::ifstream in(fs::path(kept.path));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the archive") << c.file;
    EXPECT_FALSE(fs::exists(dir / "stage" / "so.zip"));
  }
  fs::remove_all(dir);
}

// A work file is made new: whatever another user put there first (a file,
// a link to elsewhere, a directory) is refused and left as it was.
TEST(CopyWholeFile, NeverWritesThroughWhatIsThere) {
  namespace fs = std::filesystem;
  const auto dir = fs::temp_directory_path() / ("tolvex-new-test-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "a dir");
  std::ofstream(dir / "from") << "data";
  std::ofstream(dir / "a file") << "theirs";
  std::ofstream(dir / "elsewhere") << "theirs";
  fs::create_symlink(dir / "elsewhere", dir / "a link");
  StdFileSystem files;
  for (const char* name : {"a file", "a link", "a dir"}) {
    try {
      CopyWholeFile(files, (dir / "from").u16string(), (dir / name).u16string(), Copy::kDurable);
      ADD_FAILURE() << name << " was written";
    } catch (const FileError& error) {
      EXPECT_EQ(error.fault, FileFault::kExists) << name << ": " << error.what();
    }
  }
  std::ifstream a(dir / "a file"), b(dir / "elsewhere");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), "theirs");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(b), {}), "theirs");
  EXPECT_TRUE(fs::is_directory(dir / "a dir"));
  CopyWholeFile(files, (dir / "from").u16string(), (dir / "new").u16string(), Copy::kDurable);
  std::ifstream c(dir / "new");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(c), {}), "data");
  fs::remove_all(dir);
}

TEST(ReceiveTargetRefusal, WhatCannotTakeDataIsKnownBeforeThePost) {
  namespace fs = std::filesystem;
  const auto dir = fs::temp_directory_path() / "tolvex-refusal-test";
  fs::remove_all(dir);
  fs::create_directories(dir / "a dir");
  std::ofstream(dir / "file.txt") << "x";
  fs::create_symlink("file.txt", dir / "link");
  fs::create_symlink("loop", dir / "loop");
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "pipe").string() + "'").c_str()), 0);
  StdFileSystem files;
  const struct {
    const char* name;
    std::optional<std::string> refusal;
  } cases[] = {
      {"missing.txt", std::nullopt},
      {"file.txt", std::nullopt},
      {"link", std::nullopt},
      {"a dir", "it is a directory"},
      {"pipe", "not a disk file (a device, pipe or socket)"},
      {"loop", "its link cannot be followed"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReceiveTargetRefusal(files, (dir / c.name).u16string()), c.refusal) << c.name;
  }
  EXPECT_EQ(ReceiveTargetRefusal(files, u"/dev/null"),
            std::optional<std::string>("not a disk file (a device, pipe or socket)"));
  fs::remove_all(dir);
}

TEST(PathForms, RootsAndFormsHandedToTheSystem) {
  const struct {
    PathStyle style;
    std::u16string path;
    bool absolute;
    std::size_t root;
    std::u16string extended;  // Windows only
  } cases[] = {
      {kWindowsPathStyle, u"C:\\a\\b.txt", true, 2, u"\\\\?\\C:\\a\\b.txt"},
      {kWindowsPathStyle, u"C:/a/b.txt", true, 2, u"\\\\?\\C:\\a\\b.txt"},
      {kWindowsPathStyle, u"\\\\srv\\share\\b.txt", true, 11, u"\\\\?\\UNC\\srv\\share\\b.txt"},
      {kWindowsPathStyle, u"//srv/share", true, 11, u"\\\\?\\UNC\\srv\\share"},
      {kWindowsPathStyle, u"\\\\?\\C:\\a", true, 6, u"\\\\?\\C:\\a"},
      {kWindowsPathStyle, u"\\\\?\\UNC\\srv\\s", true, 13, u"\\\\?\\UNC\\srv\\s"},
      {kWindowsPathStyle, u"\\\\?\\unc\\srv\\s\\d", true, 13, u"\\\\?\\unc\\srv\\s\\d"},
      {kWindowsPathStyle, u"\\\\.\\C:\\a", true, 6, u"\\\\?\\C:\\a"},
      {kWindowsPathStyle, u"\\\\.\\COM1", true, 8, u"\\\\.\\COM1"},
      {kWindowsPathStyle, u"orders.txt", false, 0, u"orders.txt"},
      {kWindowsPathStyle, u"\\orders.txt", false, 0, u"\\orders.txt"},
      {kWindowsPathStyle, u"D:orders.txt", false, 2, u"D:orders.txt"},
      {kPosixPathStyle, u"/home/u/b.txt", true, 1, {}},
      {kPosixPathStyle, u"//srv/share", true, 1, {}},
      {kPosixPathStyle, u"\\\\srv\\share", false, 0, {}},
      {kPosixPathStyle, u"C:/a", false, 0, {}},
      {kPosixPathStyle, u"rel/b.txt", false, 0, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAbsolutePath(c.style, c.path), c.absolute) << ToUtf8(c.path);
    EXPECT_EQ(RootLength(c.style, c.path), c.root) << ToUtf8(c.path);
    if (c.style.separator == u'\\') {
      EXPECT_EQ(ExtendedLengthForm(c.path), c.extended) << ToUtf8(c.path);
    }
  }
  EXPECT_EQ(ExtendedLengthForm(u"C:\\" + std::u16string(300, u'd')).substr(0, 7), u"\\\\?\\C:\\");
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\NUL"));
  EXPECT_TRUE(IsDevicePath(u"\\\\.\\pipe\\x"));
  EXPECT_FALSE(IsDevicePath(u"\\\\.\\C:\\x"));
  EXPECT_FALSE(IsDevicePath(u"C:\\NUL"));
  EXPECT_EQ(OrdinaryForm(u"\\\\?\\C:\\a"), u"C:\\a");
  EXPECT_EQ(OrdinaryForm(u"\\\\?\\UNC\\srv\\s\\x"), u"\\\\srv\\s\\x");
  EXPECT_EQ(OrdinaryForm(u"\\\\?\\Volume{1}\\x"), u"\\\\?\\Volume{1}\\x");
  // The file systems' own limits: 255 characters a name, 32767 a path.
  EXPECT_FALSE(ExceedsFileSystemLimits(u"\\\\?\\C:\\" + std::u16string(255, u'n')));
  EXPECT_TRUE(ExceedsFileSystemLimits(u"\\\\?\\C:\\" + std::u16string(256, u'n') + u"\\x"));
  std::u16string deep = u"\\\\?\\C:";
  while (deep.size() < 32767) deep += u"\\" + std::u16string(200, u'd');
  EXPECT_TRUE(ExceedsFileSystemLimits(deep));
}

// Only symbolic links and junctions lead elsewhere; a OneDrive placeholder,
// a deduplicated file or a tag of tomorrow is the file itself, replaced in
// place. A tag the system did not tell is not written through.
TEST(Win32Paths, ReparseTagsThatAreLinks) {
  const struct {
    const char* name;
    std::uint32_t tag;
    bool link;
  } cases[] = {
      {"symbolic link", 0xA000000C, true},
      {"mount point (junction)", 0xA0000003, true},
      {"not told", 0, true},
      {"OneDrive placeholder", 0x9000001A, false},
      {"cloud, other", 0x9000101A, false},
      {"deduplicated", 0x80000013, false},
      {"WSL symlink", 0xA000001D, false},
      {"unknown", 0x12345678, false},
  };
  for (const auto& c : cases) EXPECT_EQ(win32::IsLinkReparseTag(c.tag), c.link) << c.name;
}

TEST(Win32FileErrors, ReasonsInWordsWithTheNumberBehindThem) {
  using namespace win32;
  const struct {
    std::uint32_t code;
    FileFault fault;
    bool transient;
    std::string message;
  } cases[] = {
      {32, FileFault::kInUse, true,
       "replace C:\\o.txt: the file is open in another program (Windows error 32 "
       "ERROR_SHARING_VIOLATION)"},
      {33, FileFault::kInUse, true,
       "replace C:\\o.txt: part of the file is locked by another program (Windows error 33 "
       "ERROR_LOCK_VIOLATION)"},
      {5, FileFault::kAccessDenied, true,
       "replace C:\\o.txt: access is denied (Windows error 5 ERROR_ACCESS_DENIED)"},
      {206, FileFault::kPathTooLong, false,
       "replace C:\\o.txt: path too long (Windows error 206 ERROR_FILENAME_EXCED_RANGE)"},
      {112, FileFault::kDiskFull, false,
       "replace C:\\o.txt: the disk is full (Windows error 112 ERROR_DISK_FULL)"},
      {1, FileFault::kNotDiskFile, false,
       "replace C:\\o.txt: not a disk file (a device, pipe or socket) (Windows error 1 "
       "ERROR_INVALID_FUNCTION)"},
      {1234, FileFault::kOther, false,
       "replace C:\\o.txt: the system's words (Windows error 1234)"},
  };
  for (const auto& c : cases) {
    const FileError error = Win32FileError("replace", u"C:\\o.txt", c.code, "the system's words");
    EXPECT_EQ(error.fault, c.fault) << c.code;
    EXPECT_EQ(IsTransientWin32FileError(c.code), c.transient) << c.code;
    EXPECT_EQ(std::string(error.what()), c.message) << c.code;
  }
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
