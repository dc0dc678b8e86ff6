// Pack and unpack of a large file of mixed text and binary data, measured
// against Info-ZIP `zip -6` / `unzip` on the same file in the same run.
// Every contender runs as a child process so that its wall time and peak
// resident memory are its own. Linux only.
//
//   archive_bench [--size-mib N] [--reps R] [--dir D] [--level L] [--zip64]
//   archive_bench --unpack-file F [--against B] [--reps R] [--dir D] [--level L]
//
// --zip64 adds a round trip of a member larger than 4 GiB (slow, needs
// about 9 GiB of disk). --unpack-file packs F once and times its unpack,
// run after run alternating with B, another build of this benchmark (the
// code before a change, say), and gives the medians and their ratio.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/zip_archiver.h"
#include "component/file_system.h"

namespace fs = std::filesystem;

namespace {

struct Measure {
  double seconds = 0;
  long peak_rss_kib = 0;
  int status = 0;
};

Measure RunChild(const std::vector<std::string>& args, const fs::path& cwd = {}) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peak_rss_kib = usage.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return m;
}

// Half text (order lines), a quarter noise, a quarter slowly changing
// integers: roughly what the archived order files and their attachments
// look like, and neither trivially compressible nor incompressible.
void GenerateFile(const fs::path& path, std::uint64_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"C001", "order", "2026-12-08", "qty", "ship",    "item",
                                       "受注", "出荷",  "0.50",       "12",  "pending", "done"};
  std::mt19937 random(seed);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block;
  std::uint32_t counter = 0;
  for (std::uint64_t written = 0; written < size;) {
    block.clear();
    const auto kind = random() % 4;
    while (block.size() < 64 * 1024) {
      if (kind < 2) {
        const std::string word = kWords[random() % std::size(kWords)];
        block.insert(block.end(), word.begin(), word.end());
        const std::string number = std::to_string(random() % 100000);
        block.push_back(',');
        block.insert(block.end(), number.begin(), number.end());
        block.push_back(random() % 8 == 0 ? '\n' : ',');
      } else if (kind == 2) {
        const auto r = random();
        block.insert(block.end(), reinterpret_cast<const char*>(&r),
                     reinterpret_cast<const char*>(&r) + 4);
      } else {
        counter += random() % 16;
        block.insert(block.end(), reinterpret_cast<const char*>(&counter),
                     reinterpret_cast<const char*>(&counter) + 4);
      }
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - written));
    out.write(block.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

int PackMode(const std::string& dir, const std::string& file, const std::string& archive,
             int level) {
  tolvex::StdFileSystem files;
  tolvex::ZipArchiverSettings settings;
  if (level >= 0) settings.level = level;
  tolvex::ZipArchiver archiver(files, tolvex::kPosixPathStyle, settings);
  std::u16string d = fs::path(dir).u16string();
  std::u16string f = fs::path(file).u16string();
  archiver.PutPackDir(d);
  archiver.PutPackArchiveName(fs::path(archive).u16string());
  archiver.BeginPack();
  archiver.AddPackFile(f);
  archiver.Pack();
  return archiver.GetArchiveError() == 0 ? 0 : 1;
}

int UnpackMode(const std::string& dir, const std::string& archive) {
  tolvex::StdFileSystem files;
  tolvex::ZipArchiver archiver(files, tolvex::kPosixPathStyle);
  std::u16string d = fs::path(dir).u16string();
  archiver.PutUnpackDir(d);
  archiver.PutUnpackArchiveName(fs::path(archive).u16string());
  archiver.BeginUnpack();
  archiver.Unpack();
  return archiver.GetArchiveError() == 0 ? 0 : 1;
}

bool SameContents(const fs::path& a, const fs::path& b) {
  return std::system(("cmp -s '" + a.string() + "' '" + b.string() + "'").c_str()) == 0;
}

Measure Median(std::vector<Measure> runs) {
  for (const auto& m : runs) {
    if (m.status != 0) return m;
  }
  std::sort(runs.begin(), runs.end(),
            [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

Measure Best(const std::vector<Measure>& runs) {
  Measure best = runs.front();
  for (const auto& m : runs) {
    if (m.status != 0) return m;
    if (m.seconds < best.seconds) best.seconds = m.seconds;
    best.peak_rss_kib = std::max(best.peak_rss_kib, m.peak_rss_kib);
  }
  return best;
}

struct Round {
  Measure our_pack, zip_pack, our_unpack, zip_unpack;
  std::uint64_t our_size = 0, zip_size = 0;
  bool identical = false;
};

// -1: the archiver's default level.
int g_level = -1;

Round RunRound(const std::string& self, const fs::path& work, std::uint64_t size, int reps) {
  const auto src = work / "src";
  const auto ours = work / "ours";
  const auto theirs = work / "theirs";
  fs::remove_all(work);
  for (const auto& d : {src, ours, theirs}) fs::create_directories(d);
  GenerateFile(src / "data.bin", size, 42);

  std::vector<Measure> op, zp, ou, zu;
  for (int i = 0; i < reps; ++i) {
    op.push_back(
        RunChild({self, "--pack", src.string(), "data.bin", "ours.zip", std::to_string(g_level)}));
    fs::remove(src / "iz.zip");
    zp.push_back(RunChild({"zip", "-q", "-6", "iz.zip", "data.bin"}, src));
    fs::remove(ours / "data.bin");
    fs::copy_file(src / "ours.zip", ours / "so.zip", fs::copy_options::overwrite_existing);
    ou.push_back(RunChild({self, "--unpack", ours.string(), "so.zip"}));
    fs::remove(theirs / "data.bin");
    zu.push_back(
        RunChild({"unzip", "-qq", "-o", (src / "iz.zip").string(), "-d", theirs.string()}));
  }
  Round r{Best(op), Best(zp), Best(ou), Best(zu)};
  r.our_size = fs::file_size(src / "ours.zip");
  r.zip_size = fs::file_size(src / "iz.zip");
  r.identical = SameContents(ours / "data.bin", src / "data.bin") &&
                SameContents(theirs / "data.bin", src / "data.bin") &&
                std::system(("unzip -tqq '" + (src / "ours.zip").string() + "'").c_str()) == 0;
  return r;
}

void Print(const char* label, const Measure& ours, const Measure& theirs, double mib) {
  std::printf(
      "%-8s ours %7.2f s (%6.1f MiB/s, peak RSS %6ld KiB)   Info-ZIP %7.2f s (%6.1f MiB/s, "
      "peak RSS %6ld KiB)   time ratio ours/Info-ZIP %.2f\n",
      label, ours.seconds, mib / ours.seconds, ours.peak_rss_kib, theirs.seconds,
      mib / theirs.seconds, theirs.peak_rss_kib, ours.seconds / theirs.seconds);
}

int Zip64Round(const std::string& self, const fs::path& work) {
  const auto src = work / "big";
  const auto out = work / "bigout";
  fs::remove_all(src);
  fs::remove_all(out);
  fs::create_directories(src);
  fs::create_directories(out);
  const std::uint64_t size = (4ull << 30) + (64ull << 20);
  GenerateFile(src / "big.bin", size, 7);
  const auto pack =
      RunChild({self, "--pack", src.string(), "big.bin", "big.zip", std::to_string(g_level)});
  fs::copy_file(src / "big.zip", out / "so.zip");
  const auto unpack = RunChild({self, "--unpack", out.string(), "so.zip"});
  const bool same = pack.status == 0 && unpack.status == 0 &&
                    SameContents(src / "big.bin", out / "big.bin") &&
                    std::system(("unzip -tqq '" + (src / "big.zip").string() + "'").c_str()) == 0;
  std::printf(
      "zip64    member of %llu bytes: pack %.1f s (peak RSS %ld KiB), unpack %.1f s "
      "(peak RSS %ld KiB), round trip and unzip -t %s\n",
      static_cast<unsigned long long>(size), pack.seconds, pack.peak_rss_kib, unpack.seconds,
      unpack.peak_rss_kib, same ? "ok" : "FAILED");
  fs::remove_all(src);
  fs::remove_all(out);
  return same ? 0 : 1;
}

int CompareUnpack(const std::string& self, const fs::path& work, const fs::path& file,
                  const std::string& against, int reps) {
  const auto src = work / "src";
  const auto out = work / "out";
  fs::remove_all(work);
  fs::create_directories(src);
  fs::create_directories(out);
  const auto name = file.filename();
  fs::copy_file(file, src / name);
  if (RunChild({self, "--pack", src.string(), name.string(), "so.zip", std::to_string(g_level)})
          .status != 0) {
    std::fprintf(stderr, "cannot pack %s\n", file.c_str());
    return 1;
  }
  const double mib = static_cast<double>(fs::file_size(file)) / (1 << 20);
  std::vector<std::string> builds{self};
  if (!against.empty()) builds.push_back(against);
  std::vector<std::vector<Measure>> runs(builds.size());
  bool same = true;
  for (int i = 0; i < reps; ++i) {
    for (std::size_t b = 0; b < builds.size(); ++b) {
      fs::remove(out / name);
      fs::copy_file(src / "so.zip", out / "so.zip", fs::copy_options::overwrite_existing);
      runs[b].push_back(RunChild({builds[b], "--unpack", out.string(), "so.zip"}));
      same = same && SameContents(out / name, src / name);
    }
  }
  std::printf("file     %s, %.1f MiB, archive %llu bytes, median of %d runs\n", name.c_str(), mib,
              static_cast<unsigned long long>(fs::file_size(src / "so.zip")), reps);
  std::vector<Measure> medians;
  for (std::size_t b = 0; b < builds.size(); ++b) {
    std::string all;
    for (const auto& m : runs[b]) all += " " + std::to_string(std::lround(m.seconds * 1000));
    medians.push_back(Median(runs[b]));
    std::printf("unpack   %-6s %7.1f ms (%6.1f MiB/s, peak RSS %6ld KiB); runs in ms:%s\n",
                b == 0 ? "this" : "other", medians[b].seconds * 1000, mib / medians[b].seconds,
                medians[b].peak_rss_kib, all.c_str());
  }
  if (medians.size() == 2) {
    std::printf("ratio    this/other %.3f\n", medians[0].seconds / medians[1].seconds);
  }
  bool ok = same;
  for (const auto& m : medians) ok = ok && m.status == 0;
  std::printf("check    unpacked files equal the original: %s\n", ok ? "ok" : "FAILED");
  fs::remove_all(work);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--pack") == 0) {
    return PackMode(argv[2], argv[3], argv[4], std::atoi(argv[5]));
  }
  if (argc == 4 && std::strcmp(argv[1], "--unpack") == 0) return UnpackMode(argv[2], argv[3]);

  std::uint64_t size_mib = 256;
  int reps = 3;
  fs::path dir = fs::temp_directory_path() / "tolvex-archive-bench";
  bool zip64 = false;
  fs::path unpack_file;
  std::string against;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mib" && i + 1 < argc) {
      size_mib = std::stoull(argv[++i]);
    } else if (arg == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--level" && i + 1 < argc) {
      g_level = std::atoi(argv[++i]);
    } else if (arg == "--zip64") {
      zip64 = true;
    } else if (arg == "--unpack-file" && i + 1 < argc) {
      unpack_file = argv[++i];
    } else if (arg == "--against" && i + 1 < argc) {
      against = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--size-mib N] [--reps R] [--dir D] [--level L] [--zip64]\n"
                   "       %s --unpack-file F [--against B] [--reps R] [--dir D] [--level L]\n",
                   argv[0], argv[0]);
      return 2;
    }
  }
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  if (!unpack_file.empty()) return CompareUnpack(self, dir, unpack_file, against, reps);

  // A small round first: the same peak memory at both sizes shows that
  // memory does not grow with the file.
  const auto small = RunRound(self, dir, 16ull << 20, 1);
  const auto round = RunRound(self, dir, size_mib << 20, reps);
  const double mib = static_cast<double>(size_mib);
  std::printf("file     %llu MiB of mixed text and binary data, best of %d runs\n",
              static_cast<unsigned long long>(size_mib), reps);
  std::printf("size     ours %llu bytes, Info-ZIP %llu bytes, size ratio ours/Info-ZIP %.4f\n",
              static_cast<unsigned long long>(round.our_size),
              static_cast<unsigned long long>(round.zip_size),
              static_cast<double>(round.our_size) / static_cast<double>(round.zip_size));
  Print("pack", round.our_pack, round.zip_pack, mib);
  Print("unpack", round.our_unpack, round.zip_unpack, mib);
  std::printf(
      "memory   our peak RSS at 16 MiB / %llu MiB: pack %ld / %ld KiB, unpack %ld / %ld KiB\n",
      static_cast<unsigned long long>(size_mib), small.our_pack.peak_rss_kib,
      round.our_pack.peak_rss_kib, small.our_unpack.peak_rss_kib, round.our_unpack.peak_rss_kib);
  bool ok = round.identical && small.identical && round.our_pack.status == 0 &&
            round.our_unpack.status == 0;
  std::printf("check    round trips and unzip -t: %s\n", ok ? "ok" : "FAILED");
  if (zip64) ok = Zip64Round(self, dir) == 0 && ok;
  fs::remove_all(dir);
  return ok ? 0 : 1;
}
