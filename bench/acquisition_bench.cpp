// One whole GetSmartInfo of a large virtual card (65536 VBs, erase counts and
// run-time statuses, function select 5) against a baseline that sends the
// very same transfers - same ioctls, same sectors, same order, same data -
// through the virtual card without the library. Prints the ratio of the two
// and the peak memory.
#include "sdsim/sdsim.h"
#include "sdsmart/sdsmart.h"
#include "util/convert.h"
#include "util/ini_file.h"
#include "util/ini_file_loader.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Sector = std::array<std::uint8_t, 512>;

constexpr const char *kEntry = "SDSMTEST";
constexpr unsigned kVBs = 65536;

std::string CardJson() {
  const std::string vbs = std::to_string(kVBs);
  return "{\"node\": \"/dev/sdx\", \"capacity_sectors\": 62333952, \"entry\": \"" +
         std::string(kEntry) +
         "\", \"header\": {\"HWVersion\": \"VC-A100-SDSIM\", \"FlashID\": \"98 3A 98 A3 76 51\", "
         "\"FlashTypeCode\": 2, \"PECycleCount\": 3000, \"BaseVBEntryCount\": " +
         vbs + ", \"TotalVBCount\": " + vbs +
         ", \"VBsPerUnit\": 0, \"ExtraVBEntriesPerUnit\": 0, \"BlocksPerVB\": 4, "
         "\"HeaderVersion\": 2}, "
         "\"erase_counts\": {\"generate\": {\"seed\": 5, \"mean\": 800, \"spread\": 90, "
         "\"unused\": 0.01}}, "
         "\"runtime_status\": {\"generate\": {\"seed\": 6, \"ecc_errors\": 40, \"other\": 20}}, "
         "\"busy\": {\"header\": 1}}";
}

// The command patterns the card knows, built here from the card's format.
Sector EnterPattern() {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[i] = static_cast<std::uint8_t>(kEntry[i]);
    s[255 - i] = static_cast<std::uint8_t>(kEntry[i]);
  }
  s[256] = 0x02, s[257] = 0x01, s[510] = 0x01, s[511] = 0x02;
  return s;
}

Sector LeavePattern() {
  Sector s{};
  for (int i = 0; i < 8; ++i) {
    s[7 - i] = static_cast<std::uint8_t>(kEntry[i]);
    s[248 + i] = static_cast<std::uint8_t>(kEntry[i]);
  }
  s[256] = 0x02, s[262] = 0x01, s[263] = 0x02, s[504] = 0x02, s[505] = 0x01;
  return s;
}

bool ScsiIo(int fd, bool write, std::uint32_t lba, void *data) {
  unsigned char cdb[10] = {static_cast<unsigned char>(write ? 0x2A : 0x28),
                           0,
                           static_cast<unsigned char>(lba >> 24),
                           static_cast<unsigned char>(lba >> 16),
                           static_cast<unsigned char>(lba >> 8),
                           static_cast<unsigned char>(lba),
                           0,
                           0,
                           1,
                           0};
  unsigned char sense[32];
  sg_io_hdr_t h{};
  h.interface_id = 'S';
  h.dxfer_direction = write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
  h.cmd_len = 10;
  h.mx_sb_len = sizeof sense;
  h.dxfer_len = 512;
  h.dxferp = data;
  h.cmdp = cdb;
  h.sbp = sense;
  h.timeout = 20000;
  return ioctl(fd, SG_IO, &h) == 0 && h.status == 0 && h.host_status == 0 && h.driver_status == 0 &&
         h.resid == 0;
}

// What the library sent in one acquisition, replayed without it.
class Replay {
public:
  explicit Replay(std::vector<sdsim::Transfer> transcript) : steps(std::move(transcript)) {}

  bool Run(const std::string &node) const {
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd == -1)
      return false;
    const Sector enter = EnterPattern();
    const Sector leave = LeavePattern();
    Sector backup{};
    Sector buffer{};
    Sector pattern{};
    bool ok = true;
    bool first = true;
    for (const auto &t : steps) {
      if (t.op == "read") {
        ok = ScsiIo(fd, false, t.lba, first ? backup.data() : buffer.data()) && ok;
        first = false;
      } else {
        // Patterns and the restored sector 0, exactly as the library wrote
        // them.
        pattern = t.what == "leave" ? leave : t.what == "data" ? backup : enter;
        ok = ScsiIo(fd, true, t.lba, pattern.data()) && ok;
      }
    }
    close(fd);
    return ok;
  }

private:
  std::vector<sdsim::Transfer> steps;
};

struct Setup {
  sdsim::Card *card = nullptr;
  std::string dir;
  std::vector<sdsim::Transfer> transcript;
};

Setup &Card() {
  static Setup setup = [] {
    Setup s;
    s.card = &sdsim::AttachJson(CardJson());
    char templ[] = "/tmp/sdsmart-bench-XXXXXX";
    if (mkdtemp(templ) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    s.dir = templ;
    const std::string config = s.dir + "/config";
    const std::wstring name(config.begin(), config.end());
    CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
    ini.WriteString(L"Authorization", L"Vendor ID", L"7");
    ini.WriteString(L"SMART Entry", L"7", L"SDSMTEST");
    ini.WriteString(L"Flash Type Name", L"98 3a 98 a3 76 51", L"15nm TLC");
    ini.UpdateFile(name, kConfigFileSeed);
    // The working directory has no configuration: name the node, then load
    // the file written here.
    SetDiskName(s.card->Node().c_str());
    if (SetConfigPath(config.c_str()) != 0)
      throw std::runtime_error(GetErrorMessage());

    // One acquisition to learn its transfers; the replay must reproduce them.
    s.card->ClearTranscript();
    if (GetSmartInfo() != 0)
      throw std::runtime_error(GetErrorMessage());
    s.transcript = s.card->Transcript();
    s.card->ClearTranscript();
    if (!Replay(s.transcript).Run(s.card->Node()))
      throw std::runtime_error("replay failed");
    const auto replayed = s.card->Transcript();
    if (replayed != s.transcript)
      throw std::runtime_error("the replay does not send the library's transfers");
    s.card->ClearTranscript();
    return s;
  }();
  return setup;
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::map<std::string, double> g_seconds; // per iteration, by benchmark
std::map<std::string, long> g_peak;      // ru_maxrss after the benchmark

void BM_Baseline_SameTransfers(benchmark::State &state) {
  Setup &s = Card();
  const Replay replay(s.transcript);
  for (auto _ : state) {
    if (!replay.Run(s.card->Node())) {
      state.SkipWithError("replay failed");
      break;
    }
    s.card->ClearTranscript();
  }
  state.counters["transfers"] = static_cast<double>(s.transcript.size());
  state.counters["peak_KiB"] = static_cast<double>(PeakKiB());
}

void BM_Library_GetSmartInfo(benchmark::State &state) {
  Setup &s = Card();
  for (auto _ : state) {
    if (GetSmartInfo() != 0) {
      state.SkipWithError(GetErrorMessage());
      break;
    }
    s.card->ClearTranscript();
  }
  unsigned bytes = 0;
  GetDetailEraseCount(nullptr, 0, bytes);
  state.counters["vb_entries"] = bytes / 4.0;
  state.counters["peak_KiB"] = static_cast<double>(PeakKiB());
}

// One text conversion as the library makes them for every command pattern,
// node name and file name: where a large part of its own time goes.
void BM_Library_ToNarrowString(benchmark::State &state) {
  const std::wstring entry = L"SDSMTEST";
  for (auto _ : state)
    benchmark::DoNotOptimize(ToNarrowString(entry));
}

BENCHMARK(BM_Baseline_SameTransfers)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Library_GetSmartInfo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Library_ToNarrowString)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration for the closing comparison.
class Recorder : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs)
      if (!run.error_occurred && run.iterations > 0 && run.run_type == Run::RT_Iteration) {
        // "BM_Name/min_time:2.000": keyed by the function's name alone.
        const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
        g_seconds[name] = run.GetAdjustedRealTime();
        const auto peak = run.counters.find("peak_KiB");
        if (peak != run.counters.end())
          g_peak[name] = static_cast<long>(peak->second.value);
      }
    ConsoleReporter::ReportRuns(runs);
  }
};

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  const long before = PeakKiB();
  Recorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  benchmark::Shutdown();

  const auto base = g_seconds.find("BM_Baseline_SameTransfers");
  const auto lib = g_seconds.find("BM_Library_GetSmartInfo");
  if (base != g_seconds.end() && lib != g_seconds.end() && base->second > 0) {
    const double ratio = lib->second / base->second;
    std::printf("acquisition of %u VBs: library %.3f ms, same transfers without it %.3f ms, "
                "ratio (library / baseline) %.3f, library adds %.1f%%\n",
                kVBs, lib->second, base->second, ratio, (ratio - 1.0) * 100.0);
  }
  const auto conversion = g_seconds.find("BM_Library_ToNarrowString");
  if (conversion != g_seconds.end())
    std::printf("one text conversion of the library (ToNarrowString): %.2f us\n",
                conversion->second);
  std::printf("peak memory (ru_maxrss): %ld KiB before the runs, %ld KiB after the baseline, "
              "%ld KiB after the library runs\n",
              before, g_peak["BM_Baseline_SameTransfers"], g_peak["BM_Library_GetSmartInfo"]);
  std::error_code ec;
  if (!Card().dir.empty())
    std::filesystem::remove_all(Card().dir, ec);
  return 0;
}
