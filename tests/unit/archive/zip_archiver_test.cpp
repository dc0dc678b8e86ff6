#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "archive/archive_control.h"
#include "archive/archive_errors.h"
#include "archive/zip_archiver.h"
#include "archive/zip_writer.h"
#include "archive_test_support.h"

namespace tolvex::test {
namespace {

namespace fs = std::filesystem;

constexpr auto kOk = static_cast<std::int32_t>(ArchiveErrc::kNone);
std::int32_t Code(ArchiveErrc code) { return static_cast<std::int32_t>(code); }

class ZipArchiverTest : public ::testing::Test {
 protected:
  fs::path Dir(const std::string& name) {
    const auto dir = scratch_.path() / name;
    fs::create_directories(dir);
    return dir;
  }
  ScratchDir scratch_;
  StdFileSystem files_;
  ZipArchiver archiver_{files_, kNativePathStyle};
};

struct RoundTripCase {
  const char* label;
  std::string file_name;
  std::size_t size;
  bool force_zip64;
  std::size_t last_run = 0;  // the data ends in this many equal bytes
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.label; }

class ZipRoundTripTest : public ZipArchiverTest,
                         public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(ZipRoundTripTest, UnpacksWhatWasPacked) {
  const auto& c = GetParam();
  ZipArchiverSettings settings;
  settings.force_zip64 = c.force_zip64;
  ZipArchiver archiver(files_, kNativePathStyle, settings);
  const auto send = Dir("send");
  const auto recv = Dir("recv");
  auto data = MixedData(c.size, static_cast<std::uint32_t>(c.size));
  std::fill(data.end() - static_cast<std::ptrdiff_t>(c.last_run), data.end(), 'z');
  const fs::path name = fs::u8path(c.file_name);
  WriteBytes(send / name, data);

  ASSERT_EQ(PackWith(archiver, send.u16string(), u"progress.zip", {name.u16string()}).error, kOk);
  fs::copy_file(send / "progress.zip", recv / "so.zip");
  const auto result = UnpackWith(archiver, recv.u16string(), u"so.zip");
  ASSERT_EQ(result.error, kOk) << result.text;

  EXPECT_EQ(ReadBytes(recv / name), data);
  EXPECT_EQ(ListTree(recv), (std::set<std::string>{"so.zip", name.generic_u8string()}));
  EXPECT_EQ(ListTree(send), (std::set<std::string>{"progress.zip", name.generic_u8string()}));

  // Byte for byte the same archive whatever the number of threads deflating.
  const auto pack_with_helpers = [&](int helpers) {
    zip::ZipWriteOptions options;
    options.force_zip64 = c.force_zip64;
    options.deflate_helpers = helpers;
    const auto archive = (send / ("helpers" + std::to_string(helpers) + ".zip")).u16string();
    {
      const auto out = files_.CreateNew(archive);
      const auto in = files_.OpenForRead((send / name).u16string());
      zip::ZipWriter writer(*out, u"p.zip", options);
      writer.AddFile(name.u16string(), *in, data.size());
      writer.Finish();
      out->Close();
    }
    return ReadBytes(fs::path(archive));
  };
  EXPECT_EQ(pack_with_helpers(1), pack_with_helpers(3));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ZipRoundTripTest,
    ::testing::Values(RoundTripCase{"empty", "C001.dat", 0, false},
                      RoundTripCase{"one_byte", "C001.dat", 1, false},
                      RoundTripCase{"several_chunks", "C001.dat", 3 * 1024 * 1024 + 17, false},
                      // Inflated on a thread of its own, and ending where an
                      // output buffer of either path ends.
                      RoundTripCase{"inflated_beside", "C001.dat", 9 * 1024 * 1024 + 5, false},
                      RoundTripCase{"ends_on_a_buffer_edge", "C001.dat", 8 * 1024 * 1024, false},
                      // zlib has taken the last input when the output fills
                      // in the middle of the last match, and still holds output.
                      RoundTripCase{"output_held_back", "C001.dat", 524314, false, 300},
                      RoundTripCase{"japanese_name", "受注データ.dat", 4096, false},
                      RoundTripCase{"zip64_records", "C001.dat", 300000, true},
                      RoundTripCase{"zip64_empty", "C001.dat", 0, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipArchiverTest, StoresTheFileUnderItsBareNameAndReplacesAnOldArchive) {
  const auto send = Dir("send");
  fs::create_directories(send / "sub");
  WriteBytes(send / "sub" / "p.txt", {'h', 'i'});
  WriteBytes(send / "progress.zip", {'o', 'l', 'd'});
  ASSERT_EQ(PackWith(archiver_, send.u16string(), u"progress.zip", {u"sub/p.txt"}).error, kOk);

  const auto recv = Dir("recv");
  fs::copy_file(send / "progress.zip", recv / "so.zip");
  WriteBytes(recv / "p.txt", {'o', 'l', 'd', ' ', 'd', 'a', 't', 'a'});
  ASSERT_EQ(UnpackWith(archiver_, recv.u16string(), u"so.zip").error, kOk);
  EXPECT_EQ(ReadBytes(recv / "p.txt"), (Bytes{'h', 'i'}));
  EXPECT_EQ(ListTree(recv), (std::set<std::string>{"so.zip", "p.txt"}));
}

TEST_F(ZipArchiverTest, PacksSeveralFilesAndUnpacksDirectories) {
  const auto send = Dir("send");
  WriteBytes(send / "a.dat", MixedData(1000, 1));
  WriteBytes(send / "b.dat", MixedData(70000, 2));
  ASSERT_EQ(PackWith(archiver_, send.u16string(), u"x.zip", {u"a.dat", u"b.dat"}).error, kOk);
  const auto recv = Dir("recv");
  fs::copy_file(send / "x.zip", recv / "x.zip");
  ASSERT_EQ(UnpackWith(archiver_, recv.u16string(), u"x.zip").error, kOk);
  EXPECT_EQ(ReadBytes(recv / "a.dat"), MixedData(1000, 1));
  EXPECT_EQ(ReadBytes(recv / "b.dat"), MixedData(70000, 2));

  WriteBytes(recv / "tree.zip", CraftZip({Crafted("d/", "", false), Crafted("d/e/f.txt", "deep")}));
  ASSERT_EQ(UnpackWith(archiver_, recv.u16string(), u"tree.zip").error, kOk);
  EXPECT_EQ(ReadBytes(recv / "d" / "e" / "f.txt"), (Bytes{'d', 'e', 'e', 'p'}));
}

struct FailureCase {
  const char* label;
  bool pack;
  std::string dir;  // below the scratch directory; created unless it starts with "missing"
  std::u16string archive_name;
  std::vector<std::u16string> files;
  ArchiveErrc code;
  std::string text;  // the start of the error text
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class ZipFailureTest : public ZipArchiverTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ZipFailureTest, ReportsCauseAndFileAndLeavesNoTemporaryFile) {
  const auto& c = GetParam();
  const auto dir = scratch_.path() / c.dir;
  if (c.dir.rfind("missing", 0) != 0) {
    fs::create_directories(dir);
    WriteBytes(dir / "present.dat", {'x'});
  }
  const auto before = ListTree(scratch_.path());
  const auto result = c.pack ? PackWith(archiver_, dir.u16string(), c.archive_name, c.files)
                             : UnpackWith(archiver_, dir.u16string(), c.archive_name);
  EXPECT_EQ(result.error, Code(c.code));
  EXPECT_EQ(result.text.rfind(c.text, 0), 0u) << result.text;
  EXPECT_EQ(ListTree(scratch_.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Reported, ZipFailureTest,
    ::testing::Values(
        FailureCase{"missing_file",
                    true,
                    "d",
                    u"p.zip",
                    {u"present.dat", u"gone.dat"},
                    ArchiveErrc::kFileNotFound,
                    "file not found: gone.dat"},
        FailureCase{
            "no_file", true, "d", u"p.zip", {}, ArchiveErrc::kNoFileToPack, "no file to pack"},
        FailureCase{"same_bare_name",
                    true,
                    "d",
                    u"p.zip",
                    {u"present.dat", u"./present.dat"},
                    ArchiveErrc::kDuplicateName,
                    "duplicate name: present.dat"},
        FailureCase{"archive_name_with_dir",
                    true,
                    "d",
                    u"sub/p.zip",
                    {u"present.dat"},
                    ArchiveErrc::kBadArchiveName,
                    "bad archive name: sub/p.zip"},
        FailureCase{"pack_dir_missing",
                    true,
                    "missing",
                    u"p.zip",
                    {u"present.dat"},
                    ArchiveErrc::kDirectoryNotFound,
                    "directory not found: /"},
        FailureCase{"archive_missing",
                    false,
                    "d",
                    u"so.zip",
                    {},
                    ArchiveErrc::kArchiveNotFound,
                    "archive not found: so.zip"},
        FailureCase{"not_a_zip",
                    false,
                    "d",
                    u"present.dat",
                    {},
                    ArchiveErrc::kNotZip,
                    "not a zip archive: present.dat"},
        FailureCase{"unpack_dir_missing",
                    false,
                    "missing",
                    u"so.zip",
                    {},
                    ArchiveErrc::kDirectoryNotFound,
                    "directory not found: /"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZipArchiverTest, EachBeginClearsTheLastError) {
  const auto dir = Dir("d");
  ASSERT_NE(UnpackWith(archiver_, dir.u16string(), u"none.zip").error, kOk);
  archiver_.BeginUnpack();
  EXPECT_EQ(archiver_.GetArchiveError(), kOk);
  EXPECT_EQ(archiver_.GetArchiveErrorText(), u"");

  ASSERT_NE(PackWith(archiver_, dir.u16string(), u"p.zip", {u"none.dat"}).error, kOk);
  archiver_.BeginPack();
  EXPECT_EQ(archiver_.GetArchiveError(), kOk);
  EXPECT_EQ(archiver_.GetArchiveErrorText(), u"");

  // A failure stays readable until the next Begin, whatever is put meanwhile.
  ASSERT_NE(UnpackWith(archiver_, dir.u16string(), u"none.zip").error, kOk);
  std::u16string other = u"elsewhere";
  archiver_.PutPackDir(other);
  EXPECT_EQ(archiver_.GetArchiveError(), Code(ArchiveErrc::kArchiveNotFound));
}

TEST_F(ZipArchiverTest, RefusesCallsOutOfOrder) {
  std::u16string file = u"x.dat";
  EXPECT_THROW(archiver_.Pack(), ArchiveCallError);
  EXPECT_THROW(archiver_.AddPackFile(file), ArchiveCallError);
  EXPECT_THROW(archiver_.Unpack(), ArchiveCallError);
  archiver_.BeginUnpack();
  EXPECT_THROW(archiver_.Pack(), ArchiveCallError);
  EXPECT_THROW(archiver_.AddPackFile(file), ArchiveCallError);

  const auto dir = Dir("d");
  WriteBytes(dir / "x.dat", {'1'});
  ASSERT_EQ(PackWith(archiver_, dir.u16string(), u"p.zip", {file}).error, kOk);
  EXPECT_THROW(archiver_.Pack(), ArchiveCallError) << "each Pack needs its own BeginPack";
}

TEST_F(ZipArchiverTest, KeepsTheControlSettingsWhateverTheirValues) {
  archiver_.PutArchiveMode(7);
  archiver_.PutOwnerHwnd(-12345);
  archiver_.PutOptionA(true);
  archiver_.PutOptionB(true);
  EXPECT_EQ(archiver_.archive_mode(), 7);
  EXPECT_EQ(archiver_.owner_hwnd(), -12345);
  EXPECT_TRUE(archiver_.option_a());
  EXPECT_TRUE(archiver_.option_b());
  EXPECT_EQ(archiver_.GetArchiveError(), kOk);
}

TEST(ArchiveOpsTable, FollowsTheOperationOrderWithDistinctNamesAndIds) {
  std::set<std::u16string> names;
  std::set<std::int32_t> ids;
  for (std::size_t i = 0; i < std::size(kArchiveOps); ++i) {
    EXPECT_EQ(static_cast<std::size_t>(kArchiveOps[i].op), i);
    names.insert(kArchiveOps[i].name);
    ids.insert(kArchiveOps[i].dispid);
  }
  EXPECT_EQ(names.size(), 15u);
  EXPECT_EQ(ids.size(), 15u);
  EXPECT_EQ(ArchiveOpDetails(ArchiveOp::Unpack).dispid, 0x6003003E);
}

}  // namespace
}  // namespace tolvex::test
