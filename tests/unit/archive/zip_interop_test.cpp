// Interchange with the archivers the server side is likely to use: Info-ZIP
// and Python's zipfile. Skipped where those tools are not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "archive/zip_archiver.h"
#include "archive_test_support.h"

namespace tolvex::test {
namespace {

namespace fs = std::filesystem;

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

const char* const kJapaneseName = "受注.dat";

class ZipInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(source_);
    fs::create_directories(target_);
    WriteBytes(source_ / "a.dat", MixedData(1500000, 7));
    WriteBytes(source_ / "empty.dat", {});
    WriteBytes(source_ / fs::u8path(kJapaneseName), MixedData(3000, 8));
  }

  void RequireTools(std::initializer_list<const char*> tools) {
    for (const auto* tool : tools) {
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }

  fs::path WriteScript(const std::string& text) {
    const auto path = scratch_.path() / "script.py";
    std::ofstream(path) << text;
    return path;
  }

  ScratchDir scratch_;
  fs::path source_ = scratch_.path() / "src";
  fs::path target_ = scratch_.path() / "out";
  StdFileSystem files_;
};

class OurArchiveTest : public ZipInteropTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OurArchiveTest, OpensInInfoZipAndPython) {
  RequireTools({"unzip", "python3"});
  if (IsSkipped()) return;
  ZipArchiver archiver(files_, kPosixPathStyle, {6, GetParam()});
  const auto result = PackWith(archiver, source_.u16string(), u"ours.zip",
                               {u"a.dat", u"empty.dat", fs::u8path(kJapaneseName).u16string()});
  ASSERT_EQ(result.error, 0) << result.text;
  const auto archive = source_ / "ours.zip";

  EXPECT_EQ(Shell("unzip -tqq " + Quoted(archive)), 0);
  const auto script = WriteScript(R"(
import sys, zipfile
archive, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(archive) as z:
    if z.testzip() is not None or sorted(z.namelist()) != sorted(names):
        sys.exit(2)
    for name in names:
        with open(folder + '/' + name, 'rb') as f:
            if z.read(name) != f.read():
                sys.exit(3)
)");
  EXPECT_EQ(Shell("python3 " + Quoted(script) + " " + Quoted(archive) + " " + Quoted(source_) +
                  " a.dat empty.dat " + kJapaneseName),
            0);
  EXPECT_EQ(Shell("unzip -qq -o " + Quoted(archive) + " a.dat -d " + Quoted(target_)), 0);
  EXPECT_EQ(ReadBytes(target_ / "a.dat"), ReadBytes(source_ / "a.dat"));
}

INSTANTIATE_TEST_SUITE_P(Zip64, OurArchiveTest, ::testing::Bool());

struct Extracted {
  std::string name;
  std::string source;  // the file whose bytes it must hold
};

struct ForeignCase {
  const char* label;
  const char* tool;
  std::string command;  // run in the source folder; writes the archive to $OUT
  std::vector<Extracted> expected;
};
void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.label; }

const std::string kPython = R"(python3 -c "
import sys, zipfile
mode, names = sys.argv[1], sys.argv[2:]
target = sys.stdout.buffer if mode == 'pipe' else open('$OUT', 'wb')
method = zipfile.ZIP_STORED if mode == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(target, 'w', method) as z:
    for name in names:
        if mode == 'zip64':
            with open(name, 'rb') as f, z.open(name, 'w', force_zip64=True) as w:
                w.write(f.read())
        elif mode == 'tree':
            z.writestr('d/', '')
            z.write(name, 'd/e/' + name)
        else:
            z.write(name)
" )";

const std::vector<Extracted> kAll = {
    {"a.dat", "a.dat"}, {"empty.dat", "empty.dat"}, {kJapaneseName, kJapaneseName}};
const std::string kAllNames = std::string(" a.dat empty.dat ") + kJapaneseName;

class ForeignArchiveTest : public ZipInteropTest,
                           public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignArchiveTest, UnpacksHere) {
  const auto& c = GetParam();
  RequireTools({c.tool});
  if (IsSkipped()) return;
  const auto archive = target_ / "so.zip";
  ASSERT_EQ(Shell("cd " + Quoted(source_) + " && OUT=" + Quoted(archive) + " && " + c.command), 0);

  ZipArchiver archiver(files_, kPosixPathStyle);
  const auto result = UnpackWith(archiver, target_.u16string(), u"so.zip");
  ASSERT_EQ(result.error, 0) << result.text;
  for (const auto& file : c.expected) {
    EXPECT_EQ(ReadBytes(target_ / fs::u8path(file.name)),
              ReadBytes(source_ / fs::u8path(file.source)))
        << file.name;
  }
}

std::vector<ForeignCase> ForeignCases() {
  return {

      ForeignCase{"python_deflated", "python3", kPython + "deflated" + kAllNames, kAll},
      ForeignCase{"python_stored", "python3", kPython + "stored" + kAllNames, kAll},
      ForeignCase{"python_data_descriptors", "python3",
                  kPython + "pipe" + kAllNames + " | cat > \"$OUT\"", kAll},
      ForeignCase{"python_zip64", "python3", kPython + "zip64" + kAllNames, kAll},
      ForeignCase{"python_directories",
                  "python3",
                  kPython + "tree a.dat",
                  {Extracted{"d/e/a.dat", "a.dat"}}},
      ForeignCase{"infozip", "zip", "zip -q -6 \"$OUT\"" + kAllNames, kAll},
      ForeignCase{"infozip_zip64",
                  "zip",
                  "zip -q -fz \"$OUT\" a.dat empty.dat",
                  {Extracted{"a.dat", "a.dat"}, Extracted{"empty.dat", "empty.dat"}}},
      ForeignCase{"infozip_to_pipe",
                  "zip",
                  "zip -q - a.dat empty.dat | cat > \"$OUT\"",
                  {Extracted{"a.dat", "a.dat"}, Extracted{"empty.dat", "empty.dat"}}},
      ForeignCase{
          "infozip_from_pipe", "zip", "cat a.dat | zip -q \"$OUT\" -", {Extracted{"-", "a.dat"}}}};
}

INSTANTIATE_TEST_SUITE_P(Tools, ForeignArchiveTest, ::testing::ValuesIn(ForeignCases()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tolvex::test
