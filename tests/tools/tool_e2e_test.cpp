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
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

using nlohmann::json;

const std::string kBin = std::string(SDSMART_BINARY_DIR) + "/bin/";
const std::string kSource = SDSMART_SOURCE_DIR;

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

  // sdsim [sim_args] -- sdsmart args; with new_group the run gets its own
  // process group (as a shell job has), which on_start may signal.
  Result Run(const std::vector<std::string> &sim_args, const std::vector<std::string> &tool_args,
             const std::function<void(pid_t)> &on_start = {}) {
    std::vector<std::string> argv{kBin + "sdsim"};
    argv.insert(argv.end(), sim_args.begin(), sim_args.end());
    argv.push_back("--");
    argv.push_back(kBin + "sdsmart");
    argv.insert(argv.end(), tool_args.begin(), tool_args.end());
    return Exec(argv, on_start);
  }

  Result Exec(const std::vector<std::string> &argv,
              const std::function<void(pid_t)> &on_start = {}) {
    std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      ::dup2(e, 2);
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

  std::vector<std::string> Tool(std::vector<std::string> extra) {
    std::vector<std::string> args{"--config", config_, "--state-dir", state_};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // A backing image whose sector 0 holds known bytes that are no command
  // pattern, as a card with a partition table would.
  Sector MakeImage(const std::string &path) {
    Sector s{};
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<uint8_t>((i * 131 + 7) & 0xFF);
    s[510] = 0x55;
    s[511] = 0xAA;
    std::string data(s.begin(), s.end());
    data.resize(64 * 1024 * 1024 / 64, '\0'); // the sim extends it to the card size
    WriteFileAtomically(path, data, 0644, false);
    return s;
  }

  Sector ImageSector0(const std::string &path) {
    std::string data;
    EXPECT_TRUE(ReadWholeFile(path, data));
    Sector s{};
    for (size_t i = 0; i < s.size() && i < data.size(); ++i)
      s[i] = static_cast<uint8_t>(data[i]);
    return s;
  }

  // Until the card has seen n transfers (the run is inside the acquisition).
  static void WaitForTransfers(const std::string &transcript, size_t n) {
    for (int i = 0; i < 2000; ++i) {
      std::string text;
      if (ReadWholeFile(transcript, text) &&
          static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= n)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  bool StateDirEmpty() {
    std::string journal = state_ + "/" + JournalFileName("/dev/sdx");
    return ::access(journal.c_str(), F_OK) != 0;
  }

  std::string dir_, state_, config_;
};

TEST_F(Sandbox, JsonCarriesTheVirtualCardsValues) {
  Result r = Run({"--card", Card("usb")}, Tool({"--json", "/dev/sdx"}));
  ASSERT_EQ(r.status, 0) << r.err; // the bundled card is healthy
  json j = json::parse(r.out);
  EXPECT_EQ(j["json_format_version"][0], 1);
  EXPECT_EQ(j["sdsmart"]["exit_status"], 0);
  EXPECT_EQ(j["sdsmart"]["argv"].back(), "/dev/sdx");
  EXPECT_EQ(j["device"]["name"], "/dev/sdx");
  EXPECT_EQ(j["device"]["transport"], "usb");
  EXPECT_EQ(j["smart_status"]["passed"], true);
  EXPECT_EQ(j["smart_status"]["verdict"], "PASSED");
  EXPECT_EQ(j["card"]["manufacturer"], "Tolvarex");
  EXPECT_EQ(j["card"]["hardware_version"], "SM2708-SDSIM");
  EXPECT_EQ(j["card"]["firmware_version"], "FW1.07.22");
  EXPECT_EQ(j["card"]["flash_id"], "98 3A 98 A3 76 51");
  EXPECT_EQ(j["card"]["flash_maker"], "Toshiba");
  EXPECT_EQ(j["card"]["flash_type"], "15nm TLC");
  EXPECT_EQ(j["card"]["client_mark"], "SDSIM VIRTUAL CARD");
  EXPECT_EQ(j["card"]["capacity_bytes"], 64 * 1024 * 1024);
  EXPECT_EQ(j["card"]["mp_version"], "6437.7.3.12");
  EXPECT_EQ(j["life"]["rated_pe_cycles"], 3000);
  EXPECT_EQ(j["power"]["cycles"], 812);
  EXPECT_EQ(j["power"]["abnormal_shutdowns"], 3);
  EXPECT_EQ(j["blocks"]["initial_bad"], 12);
  EXPECT_EQ(j["blocks"]["later_bad"], 2 * 4);
  EXPECT_EQ(j["blocks"]["min_spare"], 40 * 4);
  EXPECT_EQ(j["blocks"]["virtual_blocks"], 4096);
  EXPECT_EQ(j["blocks"]["blocks_per_vb"], 4);
  EXPECT_EQ(j["ecc"]["capacity"], 72);
  EXPECT_EQ(j["ecc"]["uncorrectable"], 0);
  const json &table = j["per_vb_erase_counts"];
  ASSERT_EQ(table.size(), 4096u);
  uint64_t used = 0, lo = ~0ull, hi = 0;
  for (const json &v : table)
    if (!v.is_null()) {
      ++used;
      lo = std::min<uint64_t>(lo, v.get<uint64_t>());
      hi = std::max<uint64_t>(hi, v.get<uint64_t>());
    }
  EXPECT_EQ(j["erase_count"]["min"], lo);
  EXPECT_EQ(j["erase_count"]["max"], hi);
  uint64_t in_regions = 0;
  for (const json &region : j["erase_count"]["distribution"])
    in_regions += region["vbs"].get<uint64_t>();
  EXPECT_EQ(in_regions, used);
  double remaining = j["life"]["remaining_percent"], used_pct = j["life"]["used_percent"];
  EXPECT_NEAR(remaining + used_pct, 100.0, 1e-3);
  EXPECT_TRUE(StateDirEmpty()) << "the journal is removed after a verified run";
}

TEST_F(Sandbox, NativeHostCardReadsAndLeavesNoJournal) {
  std::string text;
  ASSERT_TRUE(ReadWholeFile(kSource + "/sim/cards/native.json", text));
  std::string node = json::parse(text)["node"];
  Result r = Run({"--card", kSource + "/sim/cards/native.json"}, Tool({"--json", node}));
  ASSERT_EQ(r.status & 7, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j["device"]["transport"], "mmc");
  EXPECT_EQ(j["card"]["client_mark"], "SDSIM NATIVE CARD");
  EXPECT_FALSE(j["per_vb_erase_counts"].empty());
  EXPECT_NE(::access((state_ + "/" + JournalFileName(node)).c_str(), F_OK), 0);
}

TEST_F(Sandbox, ReportShowsTheCardAndTheChart) {
  std::string card = Card("usb");
  Result r = Exec({"/usr/bin/env", "COLUMNS=72", kBin + "sdsim", "--card", card, "--",
                   kBin + "sdsmart", "--config", config_, "--state-dir", state_, "/dev/sdx"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char *needle : {"SMART overall health:     PASSED", "Toshiba", "15nm TLC",
                             "Power cycles:", "812", "Erase-count distribution", " VBs |#"})
    EXPECT_NE(r.out.find(needle), std::string::npos) << needle << "\n" << r.out;
  for (size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 72u);
}

TEST_F(Sandbox, PrometheusFileIsValidAndAtomic) {
  std::string prom = dir_ + "/textfile/sdsmart.prom";
  ASSERT_TRUE(MakeDirectories(dir_ + "/textfile", 0755));
  Result r = Run({"--card", Card("usb")}, Tool({"--prometheus=" + prom, "/dev/sdx"}));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text;
  ASSERT_TRUE(ReadWholeFile(prom, text));
  prometheus_text::Parsed parsed;
  ASSERT_EQ(prometheus_text::Check(text, parsed), "") << text;
  std::map<std::string, double> values;
  for (const auto &s : parsed.samples)
    values.emplace(s.name, s.value);
  EXPECT_EQ(values["sdsmart_smart_read_success"], 1);
  EXPECT_EQ(values["sdsmart_device_info"], 1);
  EXPECT_EQ(values["sdsmart_smart_healthy"], 1);
  EXPECT_EQ(values["sdsmart_smart_warning"], 0);
  EXPECT_EQ(values["sdsmart_power_cycles_total"], 812);
  EXPECT_EQ(values["sdsmart_ecc_uncorrectable_errors_total"], 0);
  EXPECT_GT(values["sdsmart_remaining_life_ratio"], 0.0);
  EXPECT_LT(values["sdsmart_remaining_life_ratio"], 1.0);
  // Only the file itself is left in the directory: the temporary was renamed.
  std::string listing;
  Result ls = Exec({"/bin/ls", "-A", dir_ + "/textfile"});
  EXPECT_EQ(ls.out, "sdsmart.prom\n");
}

struct HealthCard {
  const char *name;
  uint32_t pe_cycles;
  uint32_t wp;
  unsigned ecc_errors;
  int status;
  const char *verdict;
};

class HealthOnCards : public Sandbox, public ::testing::WithParamInterface<HealthCard> {};

TEST_P(HealthOnCards, VerdictAndExitBits) {
  const HealthCard &k = GetParam();
  std::string card = Card(k.name, [&](json &c) {
    c["header"]["PECycleCount"] = k.pe_cycles;
    c["header"]["WPStatus"] = k.wp;
    c["runtime_status"]["generate"]["ecc_errors"] = k.ecc_errors;
  });
  Result r = Run({"--card", card}, Tool({"-H", "/dev/sdx"}));
  EXPECT_EQ(r.status, k.status) << r.out << r.err;
  EXPECT_NE(r.out.find(std::string("self-assessment: ") + k.verdict), std::string::npos) << r.out;
  Result j = Run({"--card", card}, Tool({"-H", "--json", "/dev/sdx"}));
  EXPECT_EQ(j.status, k.status);
  json doc = json::parse(j.out);
  EXPECT_EQ(doc["smart_status"]["verdict"], k.verdict);
  EXPECT_EQ(doc["smart_status"]["passed"], std::string(k.verdict) != "FAILED");
}

// The bundled card averages about 120 erases per block: 3000 rated cycles is
// a healthy card, 125 a worn one (about 4 % left), 100 one past its rating.
INSTANTIATE_TEST_SUITE_P(Tool, HealthOnCards,
                         ::testing::Values(HealthCard{"healthy", 3000, 0, 0, 0, "PASSED"},
                                           HealthCard{"ecc", 3000, 0, 3, 16, "WARNING"},
                                           HealthCard{"worn", 125, 0, 0, 16, "WARNING"},
                                           HealthCard{"worn_out", 100, 0, 0, 8, "FAILED"},
                                           HealthCard{"write_protected", 3000, 1, 0, 8, "FAILED"}));

TEST_F(Sandbox, LimitsFromTheCommandLine) {
  std::string card =
      Card("healthy", [](json &c) { c["runtime_status"]["generate"]["ecc_errors"] = 0; });
  EXPECT_EQ(Run({"--card", card}, Tool({"-H", "--warn-life", "99", "/dev/sdx"})).status, 16);
  EXPECT_EQ(
      Run({"--card", card}, Tool({"-H", "--warn-life", "99", "--fail-life", "98", "/dev/sdx"}))
          .status,
      8);
}

TEST_F(Sandbox, ScanListsTheVirtualCards) {
  std::string usb = Card("usb");
  std::string text;
  ASSERT_TRUE(ReadWholeFile(kSource + "/sim/cards/native.json", text));
  std::string native_node = json::parse(text)["node"];
  Result r = Run({"--card", usb, "--card", kSource + "/sim/cards/native.json"},
                 {"--scan", "/dev/sdx", native_node, "/dev/sdx"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("/dev/sdx -d usb # USB card reader"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(native_node + " -d mmc # native SD host"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;

  // Without candidates the virtual cards are found by their node names.
  Result plain = Run({"--card", usb, "--card", kSource + "/sim/cards/native.json"}, {"--scan"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("/dev/sdx -d usb"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find(native_node + " -d mmc"), std::string::npos) << plain.out;

  Result j = Run({"--card", usb}, {"--scan", "--json", "/dev/sdx", "/dev/sdnothere"});
  EXPECT_EQ(j.status, 2) << j.err; // the named node that does not open
  json doc = json::parse(j.out);
  ASSERT_EQ(doc["devices"].size(), 1u);
  EXPECT_EQ(doc["devices"][0]["name"], "/dev/sdx");
  EXPECT_EQ(doc["devices"][0]["transport"], "usb");
  EXPECT_EQ(doc["devices"][0]["size_bytes"], 64 * 1024 * 1024);
}

TEST_F(Sandbox, MissingDeviceAndConfigurationSetTheirBits) {
  Result r = Run({"--card", Card("usb")}, Tool({"/dev/sdnothere"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
  Result c =
      Run({"--card", Card("usb")}, {"--config", dir_ + "/none", "--state-dir", state_, "/dev/sdx"});
  EXPECT_EQ(c.status, 4);
  EXPECT_NE(c.err.find("library error 16384 (0x4000): config file not exist."), std::string::npos)
      << c.err;
  Result bad = Exec({kBin + "sdsmart", "--bogus"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("--help"), std::string::npos);
}

TEST_F(Sandbox, PermissionDeniedSaysWhoMayRead) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0)
    GTEST_SKIP() << "needs root and setpriv to run the tool as another user";
  std::string node = dir_ + "/rootonly";
  WriteFileAtomically(node, std::string(512, '\0'), 0600, false);
  ::chmod(dir_.c_str(), 0755);
  Result r = Exec({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                   kBin + "sdsmart", node});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("run sdsmart as root or as a member of the disk group"), std::string::npos)
      << r.err;
}

TEST_F(Sandbox, WrongEntryStringFailsWithTheLibraryError) {
  std::string card = Card("other_entry", [](json &c) { c["entry"] = "NOTOURS1"; });
  Result r = Run({"--card", card}, Tool({"--json", "/dev/sdx"}));
  EXPECT_EQ(r.status & 4, 4) << r.err;
  json j = json::parse(r.out);
  ASSERT_TRUE(j.contains("error"));
  EXPECT_NE(j["error"]["code"], 0);
  EXPECT_NE(r.err.find("library error"), std::string::npos);
  EXPECT_TRUE(StateDirEmpty());
}

TEST_F(Sandbox, InterruptWhileTheCardIsBusyLeavesSectorZero) {
  std::string image = dir_ + "/card.img";
  Sector original = MakeImage(image);
  std::string card = Card("busy", [&](json &c) { c["image"] = image; });
  // The card answers busy for ever from its seventh transfer on: the first
  // header read, after sector 0 was saved and special mode entered.
  std::string transcript = dir_ + "/transcript";
  Result r = Run({"--card", card, "--busy-forever", "7", "--transcript", transcript},
                 Tool({"/dev/sdx"}), [&](pid_t group) {
                   WaitForTransfers(transcript, 20);
                   ::kill(-group, SIGINT); // Ctrl-C reaches the whole job
                 });
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGINT"), std::string::npos) << r.err;
  EXPECT_EQ(ImageSector0(image), original);
  EXPECT_TRUE(StateDirEmpty());
}

TEST_F(Sandbox, TerminateGivesExitStatus143) {
  std::string transcript = dir_ + "/transcript";
  Result r = Run({"--card", Card("busy"), "--busy-forever", "7", "--transcript", transcript},
                 Tool({"/dev/sdx"}), [&](pid_t group) {
                   WaitForTransfers(transcript, 20);
                   ::kill(-group, SIGTERM);
                 });
  EXPECT_EQ(r.status, 143) << r.err;
  EXPECT_NE(r.err.find("interrupted by SIGTERM"), std::string::npos) << r.err;
}

TEST_F(Sandbox, KilledRunLeavesAJournalThatRestores) {
  std::string image = dir_ + "/card.img";
  Sector original = MakeImage(image);
  std::string card = Card("killed", [&](json &c) { c["image"] = image; });
  Result killed = Run({"--card", card, "--kill", "10"}, Tool({"/dev/sdx"}));
  ASSERT_EQ(killed.status, 128 + SIGKILL) << killed.err;
  Journal journal(state_, "/dev/sdx");
  ASSERT_TRUE(journal.Load().has_value());
  EXPECT_EQ(*journal.Load(), original);
  EXPECT_NE(ClassifySector(ImageSector0(image)), SectorPattern::None)
      << "the card was left in special mode";

  // A later run finds the journal and says how to restore.
  Result refused = Run({"--card", card}, Tool({"/dev/sdx"}));
  EXPECT_EQ(refused.status, 4);
  EXPECT_NE(refused.err.find("sdsmart --restore-sector0 /dev/sdx"), std::string::npos)
      << refused.err;

  Result restored = Run({"--card", card}, {"--restore-sector0", "--state-dir", state_, "/dev/sdx"});
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(ImageSector0(image), original);
  EXPECT_FALSE(journal.Exists());

  // And the card reads normally again.
  EXPECT_EQ(Run({"--card", card}, Tool({"-H", "/dev/sdx"})).status & 7, 0);
}

TEST_F(Sandbox, RestoreRefusesAnOrdinarySectorUnlessForced) {
  std::string image = dir_ + "/card.img";
  Sector original = MakeImage(image);
  std::string card = Card("plain", [&](json &c) { c["image"] = image; });
  Sector other = original;
  other[0] ^= 0xFF;
  ASSERT_FALSE(ChooseStateDir(state_).empty());
  Journal(state_, "/dev/sdx").Save(other);
  Result refused = Run({"--card", card}, {"--restore-sector0", "--state-dir", state_, "/dev/sdx"});
  EXPECT_EQ(refused.status, 4);
  EXPECT_NE(refused.err.find("--force"), std::string::npos);
  EXPECT_EQ(ImageSector0(image), original);
  Result forced =
      Run({"--card", card}, {"--restore-sector0", "--force", "--state-dir", state_, "/dev/sdx"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(ImageSector0(image), other);
  Result none = Run({"--card", card}, {"--restore-sector0", "--state-dir", state_, "/dev/sdx"});
  EXPECT_EQ(none.status, 4);
  EXPECT_NE(none.err.find("no saved sector 0"), std::string::npos);
}

TEST_F(Sandbox, CardLeftInSpecialModeWithoutJournalIsNotRead) {
  std::string image = dir_ + "/card.img";
  MakeImage(image);
  std::string card = Card("left", [&](json &c) { c["image"] = image; });
  ASSERT_EQ(Run({"--card", card, "--kill", "10"}, Tool({"/dev/sdx"})).status, 128 + SIGKILL);
  Sector pattern = ImageSector0(image);
  ASSERT_TRUE(Journal(state_, "/dev/sdx").Remove());
  Result r = Run({"--card", card}, Tool({"/dev/sdx"}));
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("special-mode"), std::string::npos) << r.err;
  EXPECT_EQ(ImageSector0(image), pattern) << "nothing was written";
}

TEST_F(Sandbox, ConfigSubcommandsRoundTrip) {
  std::string plain = dir_ + "/plain.txt", stored = dir_ + "/stored", back = dir_ + "/back.txt";
  WriteFileAtomically(plain,
                      "[Authorization]\r\nVendor ID = 9;\r\n[SMART Entry]\r\n9 = \"ABCDEFGH\";\r\n",
                      0644, false);
  EXPECT_EQ(Exec({kBin + "sdsmart", "config", "encode", plain, "-o", stored}).status, 0);
  EXPECT_EQ(Exec({kBin + "sdsmart", "config", "decode", stored, "-o", back}).status, 0);
  std::string a, b;
  ASSERT_TRUE(ReadWholeFile(plain, a));
  ASSERT_TRUE(ReadWholeFile(back, b));
  EXPECT_EQ(a, b);
  Result check = Exec({kBin + "sdsmart", "config", "check", stored});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_NE(check.out.find("Vendor ID"), std::string::npos);
  Result bad = Exec({kBin + "sdsmart", "config", "check", plain});
  EXPECT_EQ(bad.status, 4);
  EXPECT_NE(bad.err.find("FF FE"), std::string::npos) << bad.err;
  WriteFileAtomically(plain, "[A]\r\nk = a/b;\r\n", 0644, false);
  EXPECT_EQ(Exec({kBin + "sdsmart", "config", "encode", plain, "-o", stored}).status, 4);
  Result still = Exec({kBin + "sdsmart", "config", "check", stored});
  EXPECT_EQ(still.status, 0) << "a failed encode leaves the earlier file alone";
  std::string broken = dir_ + "/broken";
  WriteFileAtomically(broken, EncodeConfig("[A]\r\nk = a/b;\r\n"), 0644, false);
  Result syntax = Exec({kBin + "sdsmart", "config", "check", broken});
  EXPECT_EQ(syntax.status, 4);
  EXPECT_NE(syntax.err.find("error 20480"), std::string::npos) << syntax.err;
  EXPECT_NE(syntax.err.find("line 2"), std::string::npos) << syntax.err;
}

// The bundled demo configuration belongs to the bundled virtual card.
TEST(DemoConfiguration, MatchesTheBundledCard) {
  std::string text, plain, why;
  ASSERT_TRUE(ReadWholeFile(kSource + "/sim/cards/usb.json", text));
  json card = json::parse(text);
  ASSERT_TRUE(ReadWholeFile(kSource + "/demo/config.ini", plain));
  char tmpl[] = "/tmp/sdsmart-democfg-XXXXXX";
  int fd = ::mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  ::close(fd);
  WriteFileAtomically(tmpl, EncodeConfig(plain), 0644, false);
  std::ostringstream out, err;
  EXPECT_TRUE(CheckConfig(tmpl, out, err)) << err.str();
  EXPECT_NE(out.str().find("entry string of 8 characters"), std::string::npos);
  EXPECT_NE(plain.find("\"" + card["entry"].get<std::string>() + "\""), std::string::npos);
  ::unlink(tmpl);
}

} // namespace
} // namespace sdsmart_tool
