// A disk that fills up while the archiver writes: the failure is reported,
// and neither the old archive nor an old extracted file is lost to it.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/archive_errors.h"
#include "archive/zip_archiver.h"
#include "archive_test_support.h"

namespace tolvex::test {
namespace {

namespace fs = std::filesystem;

class FillingFile : public WritableFile {
 public:
  FillingFile(std::unique_ptr<WritableFile> file, std::uint64_t& room)
      : file_(std::move(file)), room_(room) {}
  void Write(const std::uint8_t* data, std::size_t size) override {
    if (size > room_) throw FileError("write: disk full");
    room_ -= size;
    file_->Write(data, size);
  }
  bool Sync() override { return file_->Sync(); }
  void Close() override { file_->Close(); }

 private:
  std::unique_ptr<WritableFile> file_;
  std::uint64_t& room_;
};

class FillingFileSystem : public StdFileSystem {
 public:
  std::unique_ptr<WritableFile> OpenForWrite(const std::u16string& path) override {
    return std::make_unique<FillingFile>(StdFileSystem::OpenForWrite(path), room);
  }
  std::uint64_t room = 64 * 1024;
};

class ZipDiskFullTest : public ::testing::Test {
 protected:
  ScratchDir scratch_;
  FillingFileSystem files_;
  ZipArchiver archiver_{files_, kNativePathStyle};
};

TEST_F(ZipDiskFullTest, PackKeepsTheOldArchive) {
  const auto dir = scratch_.path();
  WriteBytes(dir / "p.txt", MixedData(2 << 20));
  WriteBytes(dir / "progress.zip", {'o', 'l', 'd'});
  const auto result = PackWith(archiver_, dir.u16string(), u"progress.zip", {u"p.txt"});
  EXPECT_EQ(result.error, static_cast<std::int32_t>(ArchiveErrc::kWriteFailed));
  EXPECT_EQ(result.text, "write error: progress.zip");
  EXPECT_EQ(ReadBytes(dir / "progress.zip"), (ByteString{'o', 'l', 'd'}));
  EXPECT_EQ(ListTree(dir), (std::set<std::string>{"p.txt", "progress.zip"}));
}

TEST_F(ZipDiskFullTest, UnpackKeepsTheOldFileOfTheSameName) {
  const auto dir = scratch_.path();
  const auto data = MixedData(2 << 20);
  WriteBytes(dir / "so.zip",
             CraftZip({Crafted("C001.dat", std::string(data.begin(), data.end()))}));
  WriteBytes(dir / "C001.dat", {'o', 'l', 'd'});
  const auto result = UnpackWith(archiver_, dir.u16string(), u"so.zip");
  EXPECT_EQ(result.error, static_cast<std::int32_t>(ArchiveErrc::kWriteFailed));
  EXPECT_EQ(result.text, "write error: C001.dat");
  EXPECT_EQ(ReadBytes(dir / "C001.dat"), (ByteString{'o', 'l', 'd'}));
  EXPECT_EQ(ListTree(dir), (std::set<std::string>{"so.zip", "C001.dat"}));
}

}  // namespace
}  // namespace tolvex::test
