// SPDX-License-Identifier: MIT
// What a user waits for: one whole GetSmartInfo (erase counts and run-time
// statuses, function select 5) against a baseline that sends the very same
// transfers - same ioctls, same sectors, same order, same data - through the
// virtual card without the library.
//
//   zero-latency: the card answers at once, so the figure is the library's
//     own work; at 4096, 16384 and 65536 VBs, with the heap the library
//     needs and the page faults of a run.
//   latency-1ms:  every transfer takes 1 ms, as through a USB reader; the
//     65536-VB card needs a few hundred transfers, so nine runs a side.
//
// Library and baseline runs alternate, so both see the same load. At zero
// latency the figure is the ratio of the fastest run of each side (thousands
// of runs: on a busy machine the fastest is the least disturbed); at 1 ms it
// is the median of the ratios of each library run to the baseline run after
// it, since a few runs cannot outlast the scheduler's noise on sleeps. Ends
// with one "figure:" line each.
#include "sdsim/sdsim.h"
#include "sdsmart/ini_file.h"
#include "sdsmart/ini_file_loader.h"
#include "sdsmart/sdsmart.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// Heap accounting: every operator new of the process (the library's, the
// card's, the baseline's) counts here, so a run's peak above its start is
// what that run needed on top of what was already held.
namespace {
std::atomic<long> g_heapNow{0};
std::atomic<long> g_heapPeak{0};

void *Allocate(std::size_t n) {
  void *p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr)
    throw std::bad_alloc();
  const long now = g_heapNow += static_cast<long>(malloc_usable_size(p));
  long peak = g_heapPeak.load();
  while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Release(void *p) noexcept {
  if (p == nullptr)
    return;
  g_heapNow -= static_cast<long>(malloc_usable_size(p));
  std::free(p);
}
} // namespace

void *operator new(std::size_t n) { return Allocate(n); }
void *operator new[](std::size_t n) { return Allocate(n); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void *operator new[](std::size_t n, const std::nothrow_t &tag) noexcept {
  return operator new(n, tag);
}
void operator delete(void *p) noexcept { Release(p); }
void operator delete[](void *p) noexcept { Release(p); }
void operator delete(void *p, std::size_t) noexcept { Release(p); }
void operator delete[](void *p, std::size_t) noexcept { Release(p); }

namespace {

using Sector = std::array<std::uint8_t, 512>;
using Clock = std::chrono::steady_clock;

constexpr const char *kEntry = "SDSMTEST";
constexpr unsigned kLargest = 65536;
constexpr std::uint32_t kUsbReaderUs = 1000;

std::string CardJson(const std::string &node, unsigned vbs) {
  const std::string n = std::to_string(vbs);
  return "{\"node\": \"" + node + "\", \"capacity_sectors\": 62333952, \"entry\": \"" +
         std::string(kEntry) +
         "\", \"header\": {\"HWVersion\": \"VC-A100-SDSIM\", \"FlashID\": \"98 3A 98 A3 76 51\", "
         "\"FlashTypeCode\": 2, \"PECycleCount\": 3000, \"BaseVBEntryCount\": " +
         n + ", \"TotalVBCount\": " + n +
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
bool Replay(const std::vector<sdsim::Transfer> &steps, const std::string &node) {
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
      // Patterns and the restored sector 0, exactly as the library wrote them.
      pattern = t.what == "leave" ? leave : t.what == "data" ? backup : enter;
      ok = ScsiIo(fd, true, t.lba, pattern.data()) && ok;
    }
  }
  close(fd);
  return ok;
}

std::string ConfigDir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/sdsmart-bench-XXXXXX";
    if (mkdtemp(templ) == nullptr)
      throw std::runtime_error("mkdtemp failed");
    const std::string config = std::string(templ) + "/config";
    const std::wstring name(config.begin(), config.end());
    CIniFile ini(kConfigFileSeed, name, CIniFile::ModeNew);
    ini.WriteString(L"Authorization", L"Vendor ID", L"7");
    ini.WriteString(L"SMART Entry", L"7", L"SDSMTEST");
    ini.WriteString(L"Flash Type Name", L"98 3a 98 a3 76 51", L"15nm TLC");
    ini.UpdateFile(name, kConfigFileSeed);
    return std::string(templ);
  }();
  return dir;
}

// The library's session on this card: the working directory has no
// configuration, so the node is named first, then the file written here.
void Select(const sdsim::Card &card) {
  SetDiskName(card.Node().c_str());
  if (SetConfigPath((ConfigDir() + "/config").c_str()) != 0)
    throw std::runtime_error(GetErrorMessage());
}

struct BenchCard {
  sdsim::Card *Card = nullptr;
  std::vector<sdsim::Transfer> Transfers;
};

// One card a size, attached once; one acquisition learns the transfers,
// which the replay must reproduce exactly.
BenchCard &CardOf(unsigned vbs) {
  static std::map<unsigned, BenchCard> cards;
  BenchCard &c = cards[vbs];
  if (c.Card != nullptr)
    return c;
  const std::string node = "/dev/sd" + std::string(1, static_cast<char>('t' + cards.size()));
  c.Card = &sdsim::AttachJson(CardJson(node, vbs));
  Select(*c.Card);
  c.Card->ClearTranscript();
  if (GetSmartInfo() != 0)
    throw std::runtime_error(GetErrorMessage());
  c.Transfers = c.Card->Transcript();
  c.Card->ClearTranscript();
  if (!Replay(c.Transfers, c.Card->Node()))
    throw std::runtime_error("replay failed");
  if (c.Card->Transcript() != c.Transfers)
    throw std::runtime_error("the replay does not send the library's transfers");
  c.Card->ClearTranscript();
  return c;
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// One side's runs.
struct Side {
  double FastestMs = 1e300;
  std::vector<double> Ms; // every run, in order
  long Runs = 0;
  long Faults = 0;
  long HeapPeakBytes = 0; // largest heap growth of a run above its start

  template <typename Run> void Measure(Run run) {
    const long heapStart = g_heapNow.load();
    g_heapPeak = heapStart;
    const long faults = MinorFaults();
    const auto start = Clock::now();
    run();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Faults += MinorFaults() - faults;
    HeapPeakBytes = std::max(HeapPeakBytes, g_heapPeak.load() - heapStart);
    FastestMs = std::min(FastestMs, ms);
    Ms.push_back(ms);
    ++Runs;
  }
};

struct Pair {
  Side Library, Baseline;
  double Ratio() const { return Library.FastestMs / Baseline.FastestMs; }
  double MedianPairRatio() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < Library.Ms.size() && i < Baseline.Ms.size(); ++i)
      ratios.push_back(Library.Ms[i] / Baseline.Ms[i]);
    if (ratios.empty())
      return 0;
    std::sort(ratios.begin(), ratios.end());
    const std::size_t mid = ratios.size() / 2;
    return ratios.size() % 2 ? ratios[mid] : (ratios[mid - 1] + ratios[mid]) / 2;
  }
};

std::map<unsigned, Pair> g_zeroLatency; // by VB count
Pair g_latency;

void RunPairs(benchmark::State &state, BenchCard &c, Pair &pair) {
  Select(*c.Card);
  for (auto _ : state) {
    bool ok = true;
    pair.Library.Measure([&] { ok = GetSmartInfo() == 0; });
    if (!ok) {
      state.SkipWithError(GetErrorMessage());
      break;
    }
    pair.Baseline.Measure([&] { ok = Replay(c.Transfers, c.Card->Node()); });
    if (!ok) {
      state.SkipWithError("replay failed");
      break;
    }
    c.Card->ClearTranscript();
  }
  state.counters["lib_fastest_ms"] = pair.Library.FastestMs;
  state.counters["base_fastest_ms"] = pair.Baseline.FastestMs;
  state.counters["ratio"] = pair.Ratio();
  state.counters["median_pair_ratio"] = pair.MedianPairRatio();
}

void BM_ZeroLatency(benchmark::State &state) {
  const auto vbs = static_cast<unsigned>(state.range(0));
  RunPairs(state, CardOf(vbs), g_zeroLatency[vbs]);
}

void BM_Latency1ms(benchmark::State &state) {
  BenchCard &c = CardOf(kLargest);
  c.Card->SetLatency(kUsbReaderUs, kUsbReaderUs);
  RunPairs(state, c, g_latency);
  c.Card->SetLatency(0, 0);
}

BENCHMARK(BM_ZeroLatency)
    ->Arg(4096)
    ->Arg(16384)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
// About 0.6 s a run: nine pairs keep it near eleven seconds.
BENCHMARK(BM_Latency1ms)->Iterations(9)->Unit(benchmark::kMillisecond);

void PrintSummary() {
  std::printf("\nzero latency (fastest run of each side; heap: the most a run needed above "
              "what the process held when it started):\n");
  for (const auto &[vbs, p] : g_zeroLatency) {
    if (p.Library.Runs == 0 || p.Baseline.Runs == 0)
      continue;
    std::printf("  %5u VBs: library %.3f ms (%.2f us per 1000 VBs), same transfers without it "
                "%.3f ms, ratio %.3f; heap %ld KiB (baseline %ld KiB); page faults per run %.2f "
                "(baseline %.2f)\n",
                vbs, p.Library.FastestMs, p.Library.FastestMs * 1e6 / vbs, p.Baseline.FastestMs,
                p.Ratio(), p.Library.HeapPeakBytes / 1024, p.Baseline.HeapPeakBytes / 1024,
                static_cast<double>(p.Library.Faults) / p.Library.Runs,
                static_cast<double>(p.Baseline.Faults) / p.Baseline.Runs);
  }
  if (g_latency.Library.Runs > 0 && g_latency.Baseline.Runs > 0)
    std::printf("1 ms a transfer, %u VBs: library fastest %.1f ms, same transfers without it "
                "fastest %.1f ms; median ratio of %ld pairs %.4f\n",
                kLargest, g_latency.Library.FastestMs, g_latency.Baseline.FastestMs,
                g_latency.Library.Runs, g_latency.MedianPairRatio());
  std::printf("peak memory of the process (ru_maxrss, cards included): %ld KiB\n", PeakRssKiB());
}

void PrintFigures() {
  if (g_latency.Library.Runs > 0 && g_latency.Baseline.Runs > 0)
    std::printf("figure: latency-1ms ratio %.4f\n", g_latency.MedianPairRatio());
  const auto largest = g_zeroLatency.find(kLargest);
  if (largest != g_zeroLatency.end() && largest->second.Library.Runs > 0 &&
      largest->second.Baseline.Runs > 0)
    std::printf("figure: zero-latency ratio %.3f\n", largest->second.Ratio());
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary();
  PrintFigures();
  std::error_code ec;
  std::filesystem::remove_all(ConfigDir(), ec);
  return 0;
}
