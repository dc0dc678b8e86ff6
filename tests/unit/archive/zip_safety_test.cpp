// Hostile and broken archives: each must be refused with its own error,
// and nothing may be written outside the target directory, nor any
// half-written member left inside it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <string>

#include "archive/archive_errors.h"
#include "archive/zip_archiver.h"
#include "archive_test_support.h"
#include "support/faulty_file_system.h"

namespace tolvex::test {
namespace {

namespace fs = std::filesystem;

std::int32_t Code(ArchiveErrc code) { return static_cast<std::int32_t>(code); }

CraftedMember Member(std::string name, std::string data = "payload") {
  return Crafted(std::move(name), std::move(data));
}

template <typename Change>
CraftedMember With(CraftedMember m, Change change) {
  change(m);
  return m;
}

struct SafetyCase {
  const char* label;
  std::function<Bytes()> archive;
  ArchiveErrc code;
  std::string text;
};
void PrintTo(const SafetyCase& c, std::ostream* os) { *os << c.label; }

class UnpackFixture : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(target_); }

  UnpackResult Unpack(const Bytes& archive) {
    WriteBytes(target_ / "so.zip", archive);
    return UnpackWith(archiver_, target_.u16string(), u"so.zip");
  }

  ScratchDir scratch_;
  fs::path target_ = scratch_.path() / "out";
  // A disk of unbounded room unless a test says otherwise.
  testing::FaultyFileSystem files_ = [] {
    testing::FaultyFileSystem made;
    made.free_space = UINT64_MAX;
    return made;
  }();
  ZipArchiver archiver_{files_, kNativePathStyle};
};

class ZipSafetyTest : public UnpackFixture, public ::testing::WithParamInterface<SafetyCase> {};

TEST_P(ZipSafetyTest, RefusesTheArchiveBeforeWritingAnything) {
  const auto& c = GetParam();
  const auto result = Unpack(c.archive());
  EXPECT_EQ(result.error, Code(c.code)) << result.text;
  EXPECT_EQ(result.text, c.text);
  EXPECT_EQ(ListTree(scratch_.path()), (std::set<std::string>{"out", "out/so.zip"}));
}

Bytes Valid() { return CraftZip({Member("C001.dat")}); }

INSTANTIATE_TEST_SUITE_P(
    Crafted, ZipSafetyTest,
    ::testing::Values(
        SafetyCase{"absolute", [] { return CraftZip({Member("/tmp/evil")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: /tmp/evil"},
        SafetyCase{"parent", [] { return CraftZip({Member("../evil")}); }, ArchiveErrc::kUnsafeName,
                   "unsafe member name: ../evil"},
        SafetyCase{"inner_parent", [] { return CraftZip({Member("a/../../evil")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: a/../../evil"},
        SafetyCase{"drive", [] { return CraftZip({Member("C:evil")}); }, ArchiveErrc::kUnsafeName,
                   "unsafe member name: C:evil"},
        SafetyCase{"backslash_parent", [] { return CraftZip({Member("..\\evil")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: ..\\evil"},
        SafetyCase{"backslash_root", [] { return CraftZip({Member("\\evil")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: \\evil"},
        SafetyCase{"device", [] { return CraftZip({Member("sub/NUL.dat")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: sub/NUL.dat"},
        SafetyCase{"trailing_dot", [] { return CraftZip({Member("evil.")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: evil."},
        SafetyCase{"control_char", [] { return CraftZip({Member("a\nb")}); },
                   ArchiveErrc::kUnsafeName, "unsafe member name: a?b"},
        SafetyCase{
            "bad_utf8_flagged",
            [] { return CraftZip({With(Member("\xC0\xAF"), [](auto& m) { m.flags = 0x800; })}); },
            ArchiveErrc::kUnsafeName, "unsafe member name: \xEF\xBF\xBD"},
        SafetyCase{"symlink",
                   [] {
                     return CraftZip({With(Member("link", "/etc/passwd"), [](auto& m) {
                       m.made_by = 0x031E;
                       m.external_attributes = 0xA1FFu << 16;
                     })});
                   },
                   ArchiveErrc::kLinkMember, "link member: link"},
        SafetyCase{
            "encrypted",
            [] { return CraftZip({With(Member("C001.dat"), [](auto& m) { m.flags = 1; })}); },
            ArchiveErrc::kEncrypted, "encrypted member: C001.dat"},
        SafetyCase{"bzip2",
                   [] {
                     return CraftZip(
                         {With(Member("C001.dat"), [](auto& m) { m.method_override = 12; })});
                   },
                   ArchiveErrc::kUnsupportedMethod, "unsupported compression method: C001.dat"},
        SafetyCase{"duplicate",
                   [] {
                     return CraftZip({Member("C001.dat"), Member("c001.DAT")});
                   },
                   ArchiveErrc::kDuplicateName, "duplicate name: c001.DAT"},
        SafetyCase{"file_and_directory",
                   [] {
                     return CraftZip({Member("a"), Member("a/b")});
                   },
                   ArchiveErrc::kDuplicateName, "duplicate name: a/b"},
        SafetyCase{"too_many_members",
                   [] {
                     std::vector<CraftedMember> members;
                     for (int i = 0; i <= 1024; ++i) {
                       members.push_back(Member("m" + std::to_string(i), ""));
                     }
                     return CraftZip(members);
                   },
                   ArchiveErrc::kTooManyMembers, "too many members: so.zip"},
        SafetyCase{"replaces_archive", [] { return CraftZip({Member("SO.ZIP")}); },
                   ArchiveErrc::kReplacesArchive, "member would replace the archive: SO.ZIP"},
        SafetyCase{"stored_sizes_differ",
                   [] {
                     return CraftZip({With(Member("C001.dat"), [](auto& m) {
                       m.deflate = false;
                       m.uncompressed_size = 3;
                     })});
                   },
                   ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        SafetyCase{"beyond_deflate_ratio",
                   [] {
                     return CraftZip({With(Member("C001.dat"),
                                           [](auto& m) { m.uncompressed_size = 0x7FFFFFFF; })});
                   },
                   ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        SafetyCase{"local_name_differs",
                   [] {
                     return CraftZip(
                         {With(Member("C001.dat"), [](auto& m) { m.local_name = "../x.dat"; })});
                   },
                   ArchiveErrc::kDamaged, "archive damaged: so.zip"},
        SafetyCase{"data_past_directory",
                   [] {
                     return CraftZip(
                         {With(Member("C001.dat"), [](auto& m) { m.compressed_size = 4000; })});
                   },
                   ArchiveErrc::kDamaged, "archive damaged: so.zip"},
        SafetyCase{"front_cut",
                   [] {
                     auto zip = Valid();
                     zip.erase(zip.begin(), zip.begin() + 10);
                     return zip;
                   },
                   ArchiveErrc::kDamaged, "archive damaged: so.zip"},
        SafetyCase{"tail_cut",
                   [] {
                     auto zip = Valid();
                     zip.resize(zip.size() - 5);
                     return zip;
                   },
                   ArchiveErrc::kNotZip, "not a zip archive: so.zip"},
        SafetyCase{"garbage", [] { return MixedData(5000); }, ArchiveErrc::kNotZip,
                   "not a zip archive: so.zip"},
        SafetyCase{"empty_file", [] { return Bytes{}; }, ArchiveErrc::kNotZip,
                   "not a zip archive: so.zip"}),
    [](const auto& info) { return std::string(info.param.label); });

// Members of several MiB, whose data is inflated on a thread of its own
// while the unpack reads, checks and writes.
std::string Large(std::size_t size) {
  const auto data = MixedData(size, 7);
  return std::string(data.begin(), data.end());
}

// Deflate data of stored blocks, so that its bytes lie where a row wants
// them; a final empty block ends the stream when `last`.
std::string StoredBlocks(const std::string& data, bool last) {
  std::string out;
  for (std::size_t at = 0; at < data.size(); at += 0xFFFF) {
    const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(0xFFFF, data.size() - at));
    const auto x = static_cast<std::uint16_t>(~n);
    out += {'\0', static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(x),
            static_cast<char>(x >> 8)};
    out.append(data, at, n);
  }
  if (last) out += std::string("\x01\x00\x00\xff\xff", 5);
  return out;
}

std::string Deflated(const std::string& data) {
  const auto body = RawDeflate(data);
  return std::string(body.begin(), body.end());
}

// C001.dat, declared as `data`, holding `body` as its deflate data.
CraftedMember DeflatedAs(const std::string& data, std::string body) {
  auto m = Member("C001.dat", std::move(body));
  m.deflate = false;
  m.method_override = 8;
  m.crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  m.uncompressed_size = static_cast<std::uint32_t>(data.size());
  return m;
}

struct DataCase {
  const char* label;
  std::function<CraftedMember()> bad;  // made by the test that needs it
  ArchiveErrc code;
  std::string text;
  std::function<void(testing::FaultyFileSystem&)> fault = nullptr;
};
void PrintTo(const DataCase& c, std::ostream* os) { *os << c.label; }

class ZipDataCheckTest : public UnpackFixture, public ::testing::WithParamInterface<DataCase> {};

// Data faults show only while inflating: the members before the faulty one
// are complete, the faulty one leaves nothing behind.
TEST_P(ZipDataCheckTest, LeavesNoPartOfTheFaultyMember) {
  const auto& c = GetParam();
  if (c.fault) c.fault(files_);
  const auto result = Unpack(CraftZip({Member("first.dat", "complete"), c.bad()}));
  EXPECT_EQ(result.error, Code(c.code));
  EXPECT_EQ(result.text, c.text);
  EXPECT_EQ(ListTree(scratch_.path()),
            (std::set<std::string>{"out", "out/so.zip", "out/first.dat"}));
}

INSTANTIATE_TEST_SUITE_P(
    Crafted, ZipDataCheckTest,
    ::testing::Values(
        DataCase{"crc",
                 [] {
                   return With(Member("C001.dat", std::string(300000, 'a')),
                               [](auto& m) { m.crc = 1; });
                 },
                 ArchiveErrc::kCrcMismatch, "CRC mismatch: C001.dat"},
        DataCase{"inflates_beyond_declared",
                 [] {
                   return With(Member("C001.dat", std::string(600000, 'b')),
                               [](auto& m) { m.uncompressed_size = 1000; });
                 },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"inflates_short_of_declared",
                 [] {
                   return With(Member("C001.dat", "short"),
                               [](auto& m) { m.uncompressed_size = 6; });
                 },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"corrupt_deflate",
                 [] {
                   return With(Member("C001.dat"), [](auto& m) {
                     m.deflate = false;
                     m.method_override = 8;
                     m.data = std::string("\xff\xff\xff\xff\xff\xff\xff", 7);
                   });
                 },
                 ArchiveErrc::kDamaged, "archive damaged: C001.dat"},
        DataCase{
            "large_crc",
            [] { return With(Member("C001.dat", Large(6 << 20)), [](auto& m) { m.crc = 1; }); },
            ArchiveErrc::kCrcMismatch, "CRC mismatch: C001.dat"},
        DataCase{"large_inflates_beyond_declared",
                 [] {
                   return With(Member("C001.dat", Large(6 << 20)),
                               [](auto& m) { m.uncompressed_size = 3 << 20; });
                 },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"large_inflates_short_of_declared",
                 [] {
                   return With(Member("C001.dat", Large(6 << 20)),
                               [](auto& m) { m.uncompressed_size = (6 << 20) + 1; });
                 },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"large_damaged_in_the_middle",
                 [] {
                   return DeflatedAs(Large(8 << 20), StoredBlocks(Large(4 << 20), false) + "\x06" +
                                                         Large(64 << 10));
                 },
                 ArchiveErrc::kDamaged, "archive damaged: C001.dat"},
        // The output before the damage is checked, and found too large,
        // first.
        DataCase{"large_beyond_declared_before_damage",
                 [] {
                   return With(DeflatedAs(Large(8 << 20), StoredBlocks(Large(4 << 20), false) +
                                                              "\x06" + Large(64 << 10)),
                               [](auto& m) { m.uncompressed_size = 3 << 20; });
                 },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"large_data_ends_early",
                 [] { return DeflatedAs(Large(4 << 20), StoredBlocks(Large(4 << 20), false)); },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"large_data_past_the_stream",
                 [] { return DeflatedAs(Large(6 << 20), Deflated(Large(6 << 20)) + Large(1000)); },
                 ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat"},
        DataCase{"large_read_fails_midway",
                 [] { return DeflatedAs(Large(4 << 20), StoredBlocks(Large(4 << 20), true)); },
                 ArchiveErrc::kReadFailed, "read error: so.zip",
                 [](auto& files) { files.readable = 2 << 20; }},
        // Data past the stream's end, read ahead of need, fails nothing by
        // being unreadable: the end is found first.
        DataCase{
            "large_read_fails_past_the_stream",
            [] {
              const auto data = Large(6 << 20);
              return DeflatedAs(data, Deflated(data) + Large(2 << 20));
            },
            ArchiveErrc::kSizeMismatch, "size mismatch: C001.dat",
            [](auto& files) { files.readable = Deflated(Large(6 << 20)).size() + (400 << 10); }},
        DataCase{"large_disk_fills_up_midway", [] { return Member("C001.dat", Large(8 << 20)); },
                 ArchiveErrc::kWriteFailed, "write error: C001.dat",
                 [](auto& files) { files.room = 3 << 20; }},
        DataCase{
            "large_write_fails_after_pieces", [] { return Member("C001.dat", Large(8 << 20)); },
            ArchiveErrc::kWriteFailed, "write error: C001.dat",
            [](auto& files) {
              // The first write is first.dat's.
              files.Fail(
                  testing::FileOp::kWrite,
                  FileError("write: Input/output error", FileFault::kOther, "Input/output error"),
                  "", 4);
            }}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(UnpackFixture, RefusesAnArchiveLargerThanTheFreeSpace) {
  // A margin of a tenth of the free space, up to 64 MiB, stays free.
  const struct {
    std::uint64_t free_space;
    std::size_t each;  // two members of this size
    bool refused;
    // Past the space check: the whole unpack, or, for members that only
    // declare their size, the first member's shortfall.
    ArchiveErrc then = ArchiveErrc::kNone;
    const char* then_text = "";
  } cases[] = {
      {100, 60, true},
      {1000, 450, false},
      {1000, 451, true},
      {(1ull << 30) + 60, (1ull << 30) / 2 - (32ull << 20), false, ArchiveErrc::kSizeMismatch,
       "size mismatch: a.dat"},
      {(1ull << 30) + 60, (1ull << 30) / 2 - (32ull << 20) + 31, true},
  };
  for (const auto& c : cases) {
    files_.free_space = c.free_space;
    Bytes zip;
    if (c.each > 1000) {
      // Declared sizes only: the space check comes before any data is
      // read. Data that does not shrink keeps the declared ratio plausible.
      std::string data(c.each / 1000, '\0');
      std::uint32_t x = 1;
      for (auto& ch : data) {
        x = x * 1664525u + 1013904223u;
        ch = static_cast<char>(x >> 24);
      }
      zip = CraftZip({With(Member("a.dat", data), [&](auto& m) { m.uncompressed_size = c.each; }),
                      With(Member("b.dat", data), [&](auto& m) { m.uncompressed_size = c.each; })});
    } else {
      zip = CraftZip(
          {Member("a.dat", std::string(c.each, 'a')), Member("b.dat", std::string(c.each, 'b'))});
    }
    fs::remove_all(target_);
    fs::create_directories(target_);
    const auto result = Unpack(zip);
    if (c.refused) {
      EXPECT_EQ(result.error, Code(ArchiveErrc::kNoSpace)) << c.free_space << " " << c.each;
      EXPECT_EQ(result.text, "not enough disk space: so.zip");
      EXPECT_EQ(ListTree(target_), (std::set<std::string>{"so.zip"}));
    } else {
      EXPECT_EQ(result.error, Code(c.then)) << c.free_space << " " << c.each;
      EXPECT_EQ(result.text, c.then_text) << c.free_space << " " << c.each;
      EXPECT_EQ(ListTree(target_), c.then == ArchiveErrc::kNone
                                       ? (std::set<std::string>{"a.dat", "b.dat", "so.zip"})
                                       : (std::set<std::string>{"so.zip"}))
          << c.free_space << " " << c.each;
    }
  }
}

TEST_F(UnpackFixture, NeverExtractsThroughALinkInTheTarget) {
  const auto elsewhere = scratch_.path() / "elsewhere";
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, target_ / "linked");
  const auto result = Unpack(CraftZip({Member("linked/x.dat")}));
  EXPECT_EQ(result.error, Code(ArchiveErrc::kLinkMember));
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

}  // namespace
}  // namespace tolvex::test
