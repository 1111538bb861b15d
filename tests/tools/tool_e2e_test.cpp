// The built sdsmart tool run against the virtual card (sdsim): what a user
// sees, the documents it writes, its exit bits, and that the card's sector 0
// survives interruptions.
#include "config_codec.h"
#include "files.h"
#include "journal.h"
#include "prometheus_grammar.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

const std::string kBin = std::string(SDSMART_BINARY_DIR) + "/bin/";
const std::string kSource = SDSMART_SOURCE_DIR;
const std::string kNative = kSource + "/sim/cards/native.json";

struct Result {
  int status = -1; // exit status, or 128 + signal
  std::string out, err;
};

class Sandbox : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access((kBin + "sdsim").c_str(), X_OK) != 0 ||
        ::access((kBin + "sdsmart").c_str(), X_OK) != 0)
      GTEST_SKIP() << "sdsim or sdsmart is not built";
    char tmpl[] = "/tmp/sdsmart-e2e-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    state_ = dir_ + "/state";
    config_ = dir_ + "/config";
    image_ = dir_ + "/card.img";
    std::string plain;
    ASSERT_TRUE(ReadWholeFile(kSource + "/demo/config.ini", plain));
    WriteFileAtomically(config_, EncodeConfig(plain), 0644, false);
  }
  void TearDown() override {
    if (!dir_.empty())
      std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  // A card file derived from the bundled USB card; small, so that an image
  // of it is cheap.
  std::string Card(const std::string &name, const std::function<void(json &)> &change = {}) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(kSource + "/sim/cards/usb.json", text));
    json card = json::parse(text);
    card["capacity_bytes"] = 64 * 1024 * 1024;
    if (change)
      change(card);
    std::string path = dir_ + "/" + name + ".json";
    WriteFileAtomically(path, card.dump(2), 0644, false);
    return path;
  }

  // A card backed by an image whose sector 0 holds known bytes that are no
  // command pattern, as a card with a partition table would.
  std::string ImageCard(const std::string &name, Sector &original) {
    for (size_t i = 0; i < original.size(); ++i)
      original[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
    original[510] = 0x55;
    original[511] = 0xAA;
    std::string data(original.begin(), original.end());
    data.resize(1024 * 1024, '\0'); // the sim extends it to the card size
    WriteFileAtomically(image_, data, 0644, false);
    return Card(name, [&](json &c) { c["image"] = image_; });
  }

  Sector ImageSector0() {
    std::string data;
    EXPECT_TRUE(ReadWholeFile(image_, data));
    Sector s{};
    std::copy_n(data.begin(), std::min(data.size(), s.size()), s.begin());
    return s;
  }

  // sdsim [sim_args] -- sdsmart args; the run gets its own process group (as
  // a shell job has), which on_start may signal.
  Result Run(Args argv, const Args &tool_args, const std::function<void(pid_t)> &on_start = {}) {
    argv.insert(argv.begin(), kBin + "sdsim");
    argv.insert(argv.end(), {"--", kBin + "sdsmart"});
    argv.insert(argv.end(), tool_args.begin(), tool_args.end());
    return Exec(argv, on_start);
  }

  Result Exec(const Args &argv, const std::function<void(pid_t)> &on_start = {}) {
    std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char *> args;
      for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::setpgid(pid, pid);
    if (on_start)
      on_start(pid);
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ReadWholeFile(out, r.out);
    ReadWholeFile(err, r.err);
    return r;
  }

  Args Tool(Args extra) {
    extra.insert(extra.begin(), {"--config", config_, "--state-dir", state_});
    return extra;
  }

  // Until the card has seen n transfers (the run is inside the acquisition)
  // or the run has ended: the state is waited for, not a time.
  static void WaitForTransfers(pid_t run, const std::string &transcript, size_t n) {
    for (std::string text;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
      if (ReadWholeFile(transcript, text) &&
          static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n)
        return;
      siginfo_t info{};
      if (::waitid(P_PID, static_cast<id_t>(run), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == run)
        return;
    }
  }

  // Every value of want is at the same place in have.
  static void ExpectSubset(const json &have, const json &want) {
    const json flat = want.flatten();
    for (const auto &item : flat.items())
      EXPECT_EQ(have.value(json::json_pointer(item.key()), json()), item.value()) << item.key();
  }

  static void ExpectSnakeCase(const json &v) {
    for (auto it = v.begin(); v.is_structured() && it != v.end(); ++it) {
      if (v.is_object()) {
        EXPECT_TRUE(std::regex_match(it.key(), std::regex("[a-z][a-z0-9_]*"))) << it.key();
      }
      ExpectSnakeCase(it.value());
    }
  }

  // The exit status, and text the run printed (on either stream).
  static void Expect(const Result &r, int status, const std::string &text = "",
                     int line = __builtin_LINE()) {
    SCOPED_TRACE("checked at line " + std::to_string(line));
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(text), std::string::npos) << text << "\n" << r.out << r.err;
  }

  bool NoJournal(const std::string &node = "/dev/sdx") {
    return ::access((state_ + "/" + JournalFileName(node)).c_str(), F_OK) != 0;
  }

  std::string dir_, state_, config_, image_;
};

// What a newcomer's `make demo` runs: the bundled card, the bundled
// configuration, the full report.
TEST_F(Sandbox, DemoPrintsAPassedReportWithTheChart) {
  std::string build = dir_ + "/build";
  ASSERT_TRUE(MakeDirectories(build + "/demo", 0755));
  ASSERT_EQ(::symlink(SDSMART_BINARY_DIR "/bin", (build + "/bin").c_str()), 0);
  ASSERT_EQ(::symlink(config_.c_str(), (build + "/demo/config").c_str()), 0);
  Result r = Exec({"/usr/bin/env", "COLUMNS=72", "/bin/sh", kSource + "/demo/run.sh", build});
  for (const char *needle :
       {"SMART overall health:     PASSED\n", "Flash maker:              Toshiba\n",
        "Power cycles:             812\n", "=== Erase-count distribution (", " VBs |#",
        "exit status 0: health PASSED\n"})
    Expect(r, 0, needle);
  for (size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
    if (r.out.find(" VBs |", start) < end) {
      EXPECT_LE(end - start, 72u) << r.out.substr(start, end - start);
    }
}

TEST_F(Sandbox, JsonCarriesTheVirtualCardsValues) {
  Result r = Run({"--card", Card("usb")}, Tool({"--json", "/dev/sdx"}));
  ASSERT_EQ(r.status, 0) << r.err; // the bundled card is healthy
  json j = json::parse(r.out);
  ExpectSubset(j, json::parse(R"({"json_format_version": [1, 0],
    "sdsmart": {"exit_status": 0}, "error": null,
    "device": {"name": "/dev/sdx", "transport": "usb"},
    "smart_status": {"passed": true, "verdict": "PASSED"},
    "card": {"manufacturer": "Tolvarex", "hardware_version": "SM2708-SDSIM",
      "firmware_version": "FW1.07.22", "flash_id": "98 3A 98 A3 76 51", "flash_maker": "Toshiba",
      "flash_type": "15nm TLC", "client_mark": "SDSIM VIRTUAL CARD", "capacity_bytes": 67108864,
      "mp_version": "6437.7.3.12"},
    "life": {"rated_pe_cycles": 3000}, "power": {"cycles": 812, "abnormal_shutdowns": 3},
    "blocks": {"initial_bad": 12, "later_bad": 8, "min_spare": 160, "virtual_blocks": 4096,
      "blocks_per_vb": 4},
    "ecc": {"capacity": 72, "uncorrectable": 0}})"));
  ExpectSnakeCase(j);
  EXPECT_EQ(j["sdsmart"]["argv"].back(), "/dev/sdx");
  const json &table = j["per_vb_erase_counts"];
  ASSERT_EQ(table.size(), 4096u);
  uint64_t used = 0, lo = ~0ull, hi = 0, in_regions = 0;
  for (const json &v : table)
    if (!v.is_null()) {
      ++used;
      lo = std::min<uint64_t>(lo, v.get<uint64_t>());
      hi = std::max<uint64_t>(hi, v.get<uint64_t>());
    }
  EXPECT_LT(used, table.size()) << "unused blocks are null, not the card's marker";
  EXPECT_EQ(j["erase_count"]["min"], lo);
  EXPECT_EQ(j["erase_count"]["max"], hi);
  for (const json &region : j["erase_count"]["distribution"])
    in_regions += region["vbs"].get<uint64_t>();
  EXPECT_EQ(in_regions, used);
  EXPECT_NEAR(j["life"]["remaining_percent"].get<double>() +
                  j["life"]["used_percent"].get<double>(),
              100.0, 1e-3);
  EXPECT_TRUE(NoJournal()) << "the journal is removed after a verified run";

  // The native SD host's card, through the MMC path.
  r = Run({"--card", kNative}, Tool({"--json", "/dev/mmcblk7"}));
  ASSERT_EQ(r.status & 7, 0) << r.err;
  j = json::parse(r.out);
  ExpectSubset(
      j, {{"device", {{"transport", "mmc"}}}, {"card", {{"client_mark", "SDSIM NATIVE CARD"}}}});
  EXPECT_FALSE(j["per_vb_erase_counts"].empty());
  EXPECT_TRUE(NoJournal("/dev/mmcblk7"));
}

TEST_F(Sandbox, PrometheusFileIsValidAndAtomic) {
  std::string prom = dir_ + "/textfile/sdsmart.prom", text;
  ASSERT_TRUE(MakeDirectories(dir_ + "/textfile", 0755));
  Result r = Run({"--card", Card("usb")}, Tool({"--prometheus=" + prom, "/dev/sdx"}));
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(ReadWholeFile(prom, text));
  prometheus_text::Parsed parsed;
  ASSERT_EQ(prometheus_text::Check(text, parsed), "") << text;
  std::map<std::string, double> values;
  for (const auto &s : parsed.samples)
    values.emplace(s.name, s.value);
  std::istringstream want(
      "sdsmart_smart_read_success 1 sdsmart_device_info 1 "
      "sdsmart_smart_healthy 1 sdsmart_smart_warning 0 "
      "sdsmart_power_cycles_total 812 sdsmart_ecc_uncorrectable_errors_total 0");
  std::string name;
  for (double value; want >> name >> value;)
    EXPECT_EQ(values.count(name) ? values[name] : -1, value) << name;
  EXPECT_GT(values["sdsmart_remaining_life_ratio"], 0.0);
  EXPECT_LT(values["sdsmart_remaining_life_ratio"], 1.0);
  // Only the file itself is left in the directory: the temporary was renamed.
  EXPECT_EQ(Exec({"/bin/ls", "-A", dir_ + "/textfile"}).out, "sdsmart.prom\n");
}

// -H and the exit bits on cards made healthy, worn and failed. The bundled
// card averages about 120 erases per block: 3000 rated cycles is a healthy
// card, 125 a worn one (about 4 % left), 100 one past its rating.
TEST_F(Sandbox, HealthVerdictAndExitBitsOnCards) {
  const std::tuple<const char *, int, int, int, Args, int, std::string> cases[] = {
      {"healthy", 3000, 0, 0, {}, 0, "PASSED"},
      {"ecc", 3000, 0, 3, {}, 16, "WARNING"},
      {"worn", 125, 0, 0, {}, 16, "WARNING"},
      {"worn_out", 100, 0, 0, {}, 8, "FAILED"},
      {"write_protected", 3000, 1, 0, {}, 8, "FAILED"},
      {"warn_limit", 3000, 0, 0, {"--warn-life", "99"}, 16, "WARNING"},
      {"fail_limit", 3000, 0, 0, {"--warn-life", "99", "--fail-life", "98"}, 8, "FAILED"}};
  for (const auto &[name, pe_cycles, wp, ecc, limits, status, verdict] : cases) {
    std::string card = Card(name, [&, pe = pe_cycles, wp = wp, ecc = ecc](json &c) {
      c["header"]["PECycleCount"] = pe;
      c["header"]["WPStatus"] = wp;
      c["runtime_status"]["generate"]["ecc_errors"] = ecc;
    });
    Args args = Tool(limits);
    args.insert(args.end(), {"-H", "/dev/sdx"});
    Expect(Run({"--card", card}, args), status,
           "SMART overall-health self-assessment: " + verdict + "\n");
    args.insert(args.end() - 1, "--json");
    Result j = Run({"--card", card}, args);
    EXPECT_EQ(j.status, status) << name;
    ExpectSubset(json::parse(j.out),
                 {{"smart_status", {{"verdict", verdict}, {"passed", verdict != "FAILED"}}},
                  {"sdsmart", {{"exit_status", status}}}});
  }
}

TEST_F(Sandbox, ScanListsTheVirtualCards) {
  std::string usb = Card("usb");
  Result r =
      Run({"--card", usb, "--card", kNative}, {"--scan", "/dev/sdx", "/dev/mmcblk7", "/dev/sdx"});
  Expect(r, 0, "/dev/sdx -d usb # USB card reader, ");
  Expect(r, 0, "\n/dev/mmcblk7 -d mmc # native SD host");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
  // Without candidates the virtual cards are found by their node names.
  r = Run({"--card", usb, "--card", kNative}, {"--scan"});
  Expect(r, 0, "/dev/sdx -d usb");
  Expect(r, 0, "/dev/mmcblk7 -d mmc");
  r = Run({"--card", usb}, {"--scan", "--json", "/dev/sdx", "/dev/sdnothere"});
  Expect(r, 2, "/dev/sdnothere"); // the named node that does not open
  json doc = json::parse(r.out);
  EXPECT_EQ(doc["devices"].size(), 1u);
  ExpectSubset(doc, json::parse(R"({"devices": [{"name": "/dev/sdx", "transport": "usb",
                                                 "size_bytes": 67108864}]})"));
}

TEST_F(Sandbox, FailuresSetTheirBitsAndSayWhy) {
  Expect(Run({"--card", Card("usb")}, Tool({"/dev/sdnothere"})), 2, "no such device");
  Expect(
      Run({"--card", Card("usb")}, {"--config", dir_ + "/none", "--state-dir", state_, "/dev/sdx"}),
      4, "library error 16384 (0x4000): config file not exist.");
  Expect(Exec({kBin + "sdsmart", "--bogus"}), 1, "--help");
  // A card that does not take our entry string: the library's error, and no
  // journal left behind.
  std::string card = Card("other_entry", [](json &c) { c["entry"] = "NOTOURS1"; });
  Result r = Run({"--card", card}, Tool({"--json", "/dev/sdx"}));
  Expect(r, 4, "library error");
  json doc = json::parse(r.out);
  EXPECT_NE(doc.at("error").at("code"), 0);
  EXPECT_FALSE(doc.contains("card") || doc.contains("smart_status"));
  EXPECT_EQ(doc["sdsmart"]["exit_status"], 4);
  EXPECT_TRUE(NoJournal());
}

TEST_F(Sandbox, PermissionDeniedSaysWhoMayRead) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run the tool as another user";
  std::string node = dir_ + "/rootonly";
  WriteFileAtomically(node, std::string(512, '\0'), 0600, false);
  // The other user may not reach the build tree (a checkout in a private
  // folder), so it runs copies of the tool and the library from here.
  namespace fs = std::filesystem;
  fs::create_directories(dir_ + "/lib");
  fs::copy_file(kBin + "sdsmart", dir_ + "/sdsmart");
  fs::copy_file(SDSMART_BINARY_DIR "/lib/libsdsmart.so.1", dir_ + "/lib/libsdsmart.so.1");
  ::chmod(dir_.c_str(), 0755);
  Expect(Exec({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
               "/usr/bin/env", "LD_LIBRARY_PATH=" + dir_ + "/lib", dir_ + "/sdsmart", node}),
         2, "run sdsmart as root or as a member of the disk group");
}

// Ctrl-C (SIGINT to the whole job) or SIGTERM while the card answers busy
// for ever from its seventh transfer on: the first header read, after sector
// 0 was saved and special mode entered.
TEST_F(Sandbox, InterruptWhileTheCardIsBusyLeavesSectorZero) {
  for (const auto &[sig, status, name] :
       {std::tuple{SIGINT, 130, "SIGINT"}, std::tuple{SIGTERM, 143, "SIGTERM"}}) {
    Sector original;
    std::string card = ImageCard("busy", original), transcript = dir_ + "/transcript";
    ::unlink(transcript.c_str());
    Expect(Run({"--card", card, "--busy-forever", "7", "--transcript", transcript},
               Tool({"/dev/sdx"}),
               [&, sig = sig](pid_t group) {
                 WaitForTransfers(group, transcript, 20);
                 ::kill(-group, sig);
               }),
           status, std::string("interrupted by ") + name);
    EXPECT_EQ(ImageSector0(), original) << name;
    EXPECT_TRUE(NoJournal()) << name;
  }
}

TEST_F(Sandbox, KilledRunLeavesAJournalThatRestores) {
  Sector original;
  std::string card = ImageCard("killed", original);
  ASSERT_EQ(Run({"--card", card, "--kill", "10"}, Tool({"/dev/sdx"})).status, 128 + SIGKILL);
  Journal journal(state_, "/dev/sdx");
  ASSERT_EQ(journal.Load(), original);
  Sector pattern = ImageSector0();
  ASSERT_NE(ClassifySector(pattern), SectorPattern::None) << "the card was left in special mode";
  // Without its journal such a card is not touched: its sector 0 could not be
  // protected.
  ASSERT_TRUE(journal.Remove());
  Expect(Run({"--card", card}, Tool({"/dev/sdx"})), 4,
         "Not reading the card, as its sector 0 could not be protected.");
  EXPECT_EQ(ImageSector0(), pattern) << "nothing was written";
  // With the journal a run refuses too, and says how to restore.
  journal.Save(original);
  Expect(Run({"--card", card}, Tool({"/dev/sdx"})), 4, "sdsmart --restore-sector0 /dev/sdx");
  Expect(Run({"--card", card}, {"--restore-sector0", "--state-dir", state_, "/dev/sdx"}), 0);
  EXPECT_EQ(ImageSector0(), original);
  EXPECT_FALSE(journal.Exists());
  Expect(Run({"--card", card}, Tool({"-H", "/dev/sdx"})), 0, "PASSED"); // reads again
}

TEST_F(Sandbox, RestoreRefusesAnOrdinarySectorUnlessForced) {
  Sector original;
  std::string card = ImageCard("plain", original);
  Sector other = original;
  other[0] ^= 0xFF;
  ASSERT_FALSE(ChooseStateDir(state_).empty());
  Journal(state_, "/dev/sdx").Save(other);
  Args restore{"--restore-sector0", "--state-dir", state_, "/dev/sdx"};
  Expect(Run({"--card", card}, restore), 4, "--force");
  EXPECT_EQ(ImageSector0(), original);
  restore.push_back("--force");
  Expect(Run({"--card", card}, restore), 0);
  EXPECT_EQ(ImageSector0(), other);
  Expect(Run({"--card", card}, restore), 4, "no saved sector 0");
}

TEST_F(Sandbox, ConfigSubcommands) {
  std::string plain = dir_ + "/plain.txt", stored = dir_ + "/stored", back = dir_ + "/back.txt";
  std::string a = "[Authorization]\r\nVendor ID = 9;\r\n[SMART Entry]\r\n9 = \"ABCDEFGH\";\r\n", b;
  WriteFileAtomically(plain, a, 0644, false);
  auto config = [&](Args args) {
    args.insert(args.begin(), {kBin + "sdsmart", "config"});
    return Exec(args);
  };
  Expect(config({"encode", plain, "-o", stored}), 0);
  Expect(config({"decode", stored, "-o", back}), 0);
  ASSERT_TRUE(ReadWholeFile(back, b));
  EXPECT_EQ(a, b);
  Result check = config({"check", stored});
  Expect(check, 0, "[Authorization]\n");
  Expect(check, 0, "2 sections, 2 keys");
  EXPECT_EQ(check.out.find("ABCDEFGH"), std::string::npos) << "values stay secret";
  Expect(config({"check", plain}), 4, "FF FE");
  // A text the library cannot read is not stored, and the earlier file stays.
  WriteFileAtomically(plain, "[A]\r\nk = a/b;\r\n", 0644, false);
  Expect(config({"encode", plain, "-o", stored}), 4);
  Expect(config({"check", stored}), 0, "Vendor ID");
  WriteFileAtomically(stored, EncodeConfig("[A]\r\nk = a/b;\r\n"), 0644, false);
  Expect(config({"check", stored}), 4, "error 20480");
  Expect(config({"check", stored}), 4, "line 2");
  WriteFileAtomically(stored, EncodeConfig("[Version]\r\nSMART Version Support = 2;\r\n"), 0644,
                      false);
  Expect(config({"check", stored}), 4, "error 20481");
}

} // namespace
} // namespace sdsmart_tool
