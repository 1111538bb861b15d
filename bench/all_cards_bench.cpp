// SPDX-License-Identifier: MIT
// `sdsmart --all` over 8 virtual cards against `sdsmart` on one, every card
// taking 1 ms a transfer as behind a USB reader (the card file's "latency"
// key): the wall time of a whole run, tool and virtual card started afresh
// each time. The cards are read side by side, so the ratio says what reading
// a fleet host's cards costs over reading one.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kCards = 8;
constexpr int kTransferMicroseconds = 1000;
// A delay no run of the tool comes near without it: the card under it shows
// whether the virtual card honours "latency" at all.
constexpr int kProbeMicroseconds = 20000;
const std::string kBin = SDSMART_BINARY_DIR "/bin/";

struct Setup {
  fs::path Dir;
  std::vector<std::string> Nodes, CardFiles;
  std::string ProbeCard; // the first card, slowed down
};

std::string ReadFile(const fs::path &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The bundled reader card under another node, with a latency.
std::string CardText(const std::string &node, int transferMicroseconds) {
  std::string text = ReadFile(SDSMART_SOURCE_DIR "/sim/cards/usb.json");
  const std::string bundled = "\"node\": \"/dev/sdx\"";
  const std::size_t at = text.find(bundled);
  if (at == std::string::npos)
    throw std::runtime_error("sim/cards/usb.json has no node /dev/sdx");
  return text.replace(at, bundled.size(),
                      "\"node\": \"" + node + "\", \"latency\": {\"transfer_us\": " +
                          std::to_string(transferMicroseconds) + "}");
}

Setup &Cards() {
  static Setup setup = [] {
    Setup s;
    char tmpl[] = "/tmp/sdsmart-all-bench-XXXXXX";
    if (!::mkdtemp(tmpl))
      throw std::runtime_error("mkdtemp failed");
    s.Dir = tmpl;
    fs::create_directories(s.Dir / "state");
    for (int i = 0; i < kCards; ++i) {
      s.Nodes.push_back("/dev/sd" + std::string(1, static_cast<char>('q' + i)));
      s.CardFiles.push_back((s.Dir / ("card" + std::to_string(i) + ".json")).string());
      std::ofstream(s.CardFiles.back()) << CardText(s.Nodes.back(), kTransferMicroseconds);
    }
    s.ProbeCard = (s.Dir / "probe.json").string();
    std::ofstream(s.ProbeCard) << CardText(s.Nodes[0], kProbeMicroseconds);
    return s;
  }();
  return setup;
}

// The tool's command line with `options`.
std::vector<std::string> Tool(const std::vector<std::string> &options) {
  Setup &s = Cards();
  std::vector<std::string> argv{kBin + "sdsmart",
                                "--config",
                                SDSMART_BINARY_DIR "/demo/config",
                                "--state-dir",
                                (s.Dir / "state").string(),
                                "--prometheus=" + (s.Dir / "sdsmart.prom").string()};
  argv.insert(argv.end(), options.begin(), options.end());
  return argv;
}

// sdsim with the card files, running `program`; its exit status (128 +
// signal when a signal ended it).
int RunUnderSim(const std::vector<std::string> &cardFiles, const std::vector<std::string> &program,
                const std::string &transcript = "") {
  std::vector<std::string> argv{kBin + "sdsim"};
  for (const std::string &file : cardFiles)
    argv.insert(argv.end(), {"--card", file});
  if (!transcript.empty())
    argv.insert(argv.end(), {"--transcript", transcript});
  argv.push_back("--");
  argv.insert(argv.end(), program.begin(), program.end());
  std::vector<char *> args;
  for (std::string &a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> OneCard() { return Tool({Cards().Nodes[0]}); }

std::vector<std::string> AllCards() {
  std::vector<std::string> options{"--all"}; // the nodes named: no real card is read
  options.insert(options.end(), Cards().Nodes.begin(), Cards().Nodes.end());
  return Tool(options);
}

// The virtual card's own start and end, with no tool: the launcher, and one
// process attaching the cards.
std::vector<std::string> NoTool() { return {"/bin/true"}; }

void Measure(benchmark::State &state, int cards, const std::vector<std::string> &program) {
  const std::vector<std::string> files(Cards().CardFiles.begin(),
                                       Cards().CardFiles.begin() + cards);
  for (auto _ : state) {
    const int status = RunUnderSim(files, program);
    if (status != 0) {
      state.SkipWithError((program[0] + " ended with status " + std::to_string(status)).c_str());
      break;
    }
  }
  state.counters["cards"] = cards;
}

void BM_OneCard(benchmark::State &state) { Measure(state, 1, OneCard()); }
void BM_AllOf8Cards(benchmark::State &state) { Measure(state, kCards, AllCards()); }
void BM_VirtualCardAlone1(benchmark::State &state) { Measure(state, 1, NoTool()); }
void BM_VirtualCardAlone8(benchmark::State &state) { Measure(state, kCards, NoTool()); }

BENCHMARK(BM_OneCard)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_AllOf8Cards)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_VirtualCardAlone1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_VirtualCardAlone8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

std::map<std::string, double> g_ms; // wall time per run, by benchmark

class Recorder : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs)
      if (!run.error_occurred && run.iterations > 0 && run.run_type == Run::RT_Iteration)
        g_ms[run.benchmark_name().substr(0, run.benchmark_name().find('/'))] =
            run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// Whether the virtual card delays its transfers: a run on the slowed-down
// card must take at least its transfers' delay. Without the model a ratio
// would say nothing about readers.
bool CardsHaveLatency(double &runMs, std::size_t &transfers) {
  const fs::path transcript = Cards().Dir / "transcript.jsonl";
  const auto start = std::chrono::steady_clock::now();
  if (RunUnderSim({Cards().ProbeCard}, OneCard(), transcript.string()) != 0)
    return false;
  runMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const std::string text = ReadFile(transcript);
  transfers = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  return runMs >= 0.9 * static_cast<double>(transfers) * kProbeMicroseconds / 1000.0;
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  double calibrationMs = 0;
  std::size_t transfers = 0;
  const bool latency = CardsHaveLatency(calibrationMs, transfers);
  Recorder recorder;
  if (latency)
    benchmark::RunSpecifiedBenchmarks(&recorder);
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(Cards().Dir, ec);
  double loads[3] = {0, 0, 0};
  std::ifstream("/proc/loadavg") >> loads[0] >> loads[1] >> loads[2];
  if (!latency) {
    std::printf("all-8-cards: not measured: a run took %.1f ms for %zu transfers of %d us "
                "each, so the virtual card does not delay them as its \"latency\" key asks\n",
                calibrationMs, transfers, kProbeMicroseconds);
    return 0;
  }
  const double one = g_ms["BM_OneCard"], all = g_ms["BM_AllOf8Cards"];
  if (one <= 0 || all <= 0) {
    std::printf("all-8-cards: not measured: a run failed\n");
    return 1;
  }
  std::printf("all-8-cards: %d cards at %d us a transfer (%zu transfers a card): --all %.1f ms, "
              "one card %.1f ms; load average %.2f %.2f %.2f\n",
              kCards, kTransferMicroseconds, transfers, all, one, loads[0], loads[1], loads[2]);
  // The figure is of whole runs, the virtual card's own start included, as a
  // user of the virtual card sees them; this line takes that start out.
  const double alone1 = g_ms["BM_VirtualCardAlone1"], alone8 = g_ms["BM_VirtualCardAlone8"];
  if (alone1 > 0 && alone8 > 0)
    std::printf("all-8-cards: the virtual card alone (its launcher running /bin/true) %.1f ms "
                "with 8 cards, %.1f ms with one; without it: --all %.1f ms, one card %.1f ms, "
                "ratio %.3f\n",
                alone8, alone1, all - alone8, one - alone1, (all - alone8) / (one - alone1));
  std::printf("figure: all-8-cards ratio %.3f\n", all / one);
  return 0;
}
