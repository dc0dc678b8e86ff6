// A disk that fills up while the archiver writes: the failure is reported,
// and neither the old archive nor an old extracted file is lost to it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "archive/archive_errors.h"
#include "archive/zip_archiver.h"
#include "archive_test_support.h"
#include "support/faulty_file_system.h"

namespace tolvex::test {
namespace {

namespace fs = std::filesystem;

class ZipDiskFullTest : public ::testing::Test {
 protected:
  ZipDiskFullTest() { files_.room = 64 * 1024; }

  ScratchDir scratch_;
  testing::FaultyFileSystem files_;
  ZipArchiver archiver_{files_, kNativePathStyle};
};

// A pack that fails part way, while its helpers deflate a large file or
// not, reports the cause and leaves the old archive as it was.
TEST_F(ZipDiskFullTest, PackKeepsTheOldArchive) {
  const struct {
    const char* name;
    std::size_t size;
    std::uint64_t room;
    std::uint64_t readable;
    ArchiveErrc code;
    const char* text;
  } cases[] = {
      {"the disk fills up", 512 << 10, 64 << 10, UINT64_MAX, ArchiveErrc::kWriteFailed,
       "write error: progress.zip"},
      {"the disk fills up while blocks are deflated", 2 << 20, 64 << 10, UINT64_MAX,
       ArchiveErrc::kWriteFailed, "write error: progress.zip"},
      {"the disk fills up after blocks", 12 << 20, 3 << 20, UINT64_MAX, ArchiveErrc::kWriteFailed,
       "write error: progress.zip"},
      {"a read fails after blocks", 12 << 20, UINT64_MAX, 5 << 20, ArchiveErrc::kReadFailed,
       "read error: p.txt"},
  };
  const auto dir = scratch_.path();
  for (const auto& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    WriteBytes(dir / "p.txt", MixedData(c.size));
    WriteBytes(dir / "progress.zip", {'o', 'l', 'd'});
    files_.room = c.room;
    files_.readable = c.readable;
    const auto result = PackWith(archiver_, dir.u16string(), u"progress.zip", {u"p.txt"});
    EXPECT_EQ(result.error, static_cast<std::int32_t>(c.code)) << c.name;
    EXPECT_EQ(result.text, c.text) << c.name;
    EXPECT_EQ(ReadBytes(dir / "progress.zip"), (Bytes{'o', 'l', 'd'})) << c.name;
    EXPECT_EQ(ListTree(dir), (std::set<std::string>{"p.txt", "progress.zip"})) << c.name;
  }
}

// An extracted file that cannot be written whole, or cannot be synced
// before it replaces the old one, is a write error, and the old file stays.
TEST_F(ZipDiskFullTest, UnpackKeepsTheOldFileOfTheSameName) {
  const struct {
    const char* name;
    std::uint64_t room;
    std::optional<testing::FileOp> fails;  // on the extracted file
    std::size_t size = 2 << 20;
  } cases[] = {
      {"the disk fills up", 64 * 1024, std::nullopt},
      {"the data cannot be synced", UINT64_MAX, testing::FileOp::kSync},
      {"the file cannot be closed", UINT64_MAX, testing::FileOp::kClose},
      // Inflated on a thread of its own.
      {"the disk fills up after pieces", 3 << 20, std::nullopt, 10 << 20},
      {"a large file cannot be synced", UINT64_MAX, testing::FileOp::kSync, 10 << 20},
  };
  const auto dir = scratch_.path();
  for (const auto& c : cases) {
    const auto data = MixedData(c.size);
    fs::remove_all(dir);
    fs::create_directories(dir);
    WriteBytes(dir / "so.zip",
               CraftZip({Crafted("C001.dat", std::string(data.begin(), data.end()))}));
    WriteBytes(dir / "C001.dat", {'o', 'l', 'd'});
    files_.room = c.room;
    files_.Heal();
    if (c.fails) {
      files_.Fail(*c.fails,
                  FileError("sync: Input/output error", FileFault::kOther, "Input/output error"));
    }
    const auto result = UnpackWith(archiver_, dir.u16string(), u"so.zip");
    EXPECT_EQ(result.error, static_cast<std::int32_t>(ArchiveErrc::kWriteFailed)) << c.name;
    EXPECT_EQ(result.text, "write error: C001.dat") << c.name;
    EXPECT_EQ(ReadBytes(dir / "C001.dat"), (Bytes{'o', 'l', 'd'})) << c.name;
    EXPECT_EQ(ListTree(dir), (std::set<std::string>{"so.zip", "C001.dat"})) << c.name;
  }
}

}  // namespace
}  // namespace tolvex::test
