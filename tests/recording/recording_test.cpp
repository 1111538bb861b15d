// SPDX-License-Identifier: MIT
// Recordings (sdsmart --record) replayed by the virtual card (sdsim
// --recording): a fresh recording of each sample card replays to the
// original run's JSON but for the redacted fields, adds no transfer and
// holds none of the redacted bytes; the corpus replays to its golden JSON;
// a request that differs from the recorded one is named.
//
// Regenerate the corpus (tests/data/recordings/*.rec) and its golden files
// after a deliberate change:
//   SDSMART_REGENERATE=1 build-asan/tests/recording_tests
#include "tool_run.h"

#include <cstring>

using namespace sdtest;

namespace {

using nlohmann::json;

const std::string kCorpus = kSource + "/tests/data/recordings/";

struct Variant {
  std::string Name, Card, Node, Args;
};
// Every transport, format version and header version the sample cards have;
// the largest card is recorded afresh only (its golden JSON would be huge).
const Variant kVariants[] = {
    {"sdsim-usb-v2", "usb.json", "/dev/sdx", "--smart-version 2"},
    {"sdsim-usb-v3", "usb.json", "/dev/sdx", "--smart-version 3"},
    {"sdsim-native-v2", "native.json", "/dev/mmcblk7", "--smart-version 2 --select 7"},
    {"sdsim-native-v3", "native.json", "/dev/mmcblk7", "--smart-version 3"},
    {"sdsim-native-sdsc-v2", "native_sdsc.json", "/dev/mmcblk6", "--smart-version 2"},
    {"sdsim-native-sdsc-v3-unmounted", "native_sdsc.json", "/dev/mmcblk6", "--smart-version 3"},
    {"largest", "largest.json", "/dev/sdy", "--smart-version 3 --select 7"},
    // Read without the vendor path: the card's description alone.
    {"sdsim-other-family-registers", "other_family.json", "/dev/mmcblk5",
     "--cards " + kCorpus + "never.conf"},
    {"sdsim-emmc", "emmc.json", "/dev/mmcblk2", ""},
};

std::string Base64Decoded(const std::string &text) {
  std::string out;
  unsigned bits = 0;
  int held = 0;
  for (char c : text) {
    const char *digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char *at = std::strchr(digits, c);
    if (c == '=' || !at)
      break;
    bits = bits << 6 | static_cast<unsigned>(at - digits);
    if ((held += 6) >= 8)
      out += static_cast<char>(bits >> (held -= 8));
  }
  return out;
}

std::string Hex(const std::string &bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

class Recording : public ToolTest {
protected:
  void SetUp() override {
    ToolTest::SetUp();
    UseKey(run.state, sdtest::ReadFile(kCorpus + "sdsim-test.key"));
  }
  void UseKey(const std::string &dir, const std::string &key) {
    ::mkdir(dir.c_str(), 0700);
    sdtest::WriteFile(dir + "/recording.key", key);
  }

  // sdsim SIM -- sdsmart --json ARGS in the folder, or with another state
  // folder: the JSON document without the command line (it names scratch
  // paths), standard error in Err.
  json Run(const std::string &sim, const std::string &args, const std::string &state = "") {
    const Result r =
        run.Run(sim, "--json " + (state.empty() ? "" : "--state-dir " + state + " ") + args);
    Err = r.Err;
    json document = json::parse(r.Out, nullptr, false);
    if (document.is_object()) {
      document["sdsmart"].erase("argv");
      // From the history in the state folder, not the card.
      document.erase("forecast");
      for (const char *section : {"emmc", "registers"})
        if (document.contains(section))
          document[section].erase("history");
    }
    return document;
  }
  // The transfers of a transcript, without the run's pid.
  static std::vector<json> Transcript(const std::string &path) {
    std::vector<json> transfers = Transfers(path);
    for (json &t : transfers)
      t.erase("pid");
    return transfers;
  }
  // Every byte of the recording: its text and its data decoded.
  std::string Contents(const std::string &path) {
    std::string all = sdtest::ReadFile(path);
    const std::vector<json> lines = JsonLines(path); // the card, then one request a line
    for (auto line = lines.begin() + 1; line != lines.end(); ++line)
      for (const json *part : {&*line, &line->begin().value()})
        for (const char *key : {"in", "out"})
          if (part->contains(key))
            all += Base64Decoded((*part)[key].get<std::string>());
    return all;
  }

  const ScratchDir &Dir = run.dir;
  std::string Err;
};

TEST_F(Recording, ReplayGivesTheOriginalRunWithTheRedactedFieldsOnly) {
  for (const Variant &v : kVariants) {
    SCOPED_TRACE(v.Name);
    const std::string card = "--card " + kSource + "/sim/cards/" + v.Card;
    const std::string rec = Dir.File(v.Name + ".rec");
    const std::string sector0 =
        Exec(UnderCard(Words(card), {"/usr/bin/head", "-c", "512", v.Node})).Out;
    json original = Run(card + " --transcript " + Dir.File("t0"), v.Args + " " + v.Node);
    Run(card + " --transcript " + Dir.File("t1"), "--record " + rec + " " + v.Args + " " + v.Node);
    EXPECT_EQ(Transcript(Dir.File("t0")), Transcript(Dir.File("t1")));
    // Read without the vendor path, recorded or not: nothing is sent.
    if (!original.contains("card")) {
      EXPECT_EQ(Transcript(Dir.File("t1")), std::vector<json>());
    }
    const json replay = Run("--recording " + rec, v.Args + " " + v.Node);
    ASSERT_TRUE(original.contains("card") || original.contains("registers") ||
                original.contains("emmc"))
        << Err;

    // Redacted: sector 0, the entry string and the CID's serial number (as
    // sysfs shows it: a reading without the vendor path shows no eMMC CID).
    const bool emmc = original.contains("emmc");
    const std::string sysfsCid =
        Exec(UnderCard(Words(card),
                       {"/bin/cat", "/sys/class/block/" + v.Node.substr(5) + "/device/cid"}))
            .Out;
    const char *shown = original.contains("card") ? "card" : "registers";
    const std::string all = Contents(rec), cid = emmc ? sysfsCid : original[shown].value("cid", "");
    std::vector<std::string> secrets = {sector0, "SDSMTEST", Hex("SDSMTEST")};
    if (!cid.empty()) {
      const std::string serial = cid.substr(emmc ? 20 : 18, 8); // bytes 10-13 or 9-12
      std::string upper = serial, raw;
      std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
      for (size_t i = 0; i < 8; i += 2)
        raw += static_cast<char>(std::stoul(serial.substr(i, 2), nullptr, 16));
      secrets.insert(secrets.end(), {serial, upper, raw});
      // What comes before the serial is kept: the model stays known.
      const json registers = JsonLines(rec)[0]["card"].value("registers", json::object());
      if (registers.contains("cid")) {
        EXPECT_EQ(registers["cid"].get<std::string>().substr(0, emmc ? 20 : 18),
                  cid.substr(0, emmc ? 20 : 18));
      }
    }
    if (!emmc && !cid.empty()) {
      EXPECT_NE(original[shown]["serial_number"], replay[shown]["serial_number"]);
      original[shown]["serial_number"] = replay[shown]["serial_number"];
      original[shown]["cid"] = replay[shown]["cid"];
    }
    for (const std::string &secret : secrets) {
      const std::boyer_moore_horspool_searcher find(secret.begin(), secret.end());
      EXPECT_EQ(std::search(all.begin(), all.end(), find), all.end()) << "found " << Hex(secret);
    }
    EXPECT_EQ(original, replay) << Err;
    EXPECT_LT(sdtest::ReadFile(rec).size(), 1u << 20);
    if (std::getenv("SDSMART_REGENERATE") && v.Name != "largest")
      sdtest::WriteFile(kCorpus + v.Name + ".rec", sdtest::ReadFile(rec));
  }
}

TEST_F(Recording, CorpusReplaysToItsGoldenDocuments) {
  for (const Variant &v : kVariants) {
    if (v.Name == "largest")
      continue;
    SCOPED_TRACE(v.Name);
    const json replay = Run("--recording " + kCorpus + v.Name + ".rec", v.Args + " " + v.Node);
    // The rules file a message names lies in the checkout.
    std::string text = replay.dump(1) + "\n";
    for (size_t at; (at = text.find(kSource)) != std::string::npos;)
      text.replace(at, kSource.size(), "SOURCE");
    sdtest::ExpectGolden("recordings/" + v.Name + ".json", text);
  }
}

TEST_F(Recording, OneCardGivesOneHashPerKey) {
  const std::string card = "--card " + kSource + "/sim/cards/usb.json ", other = Dir.File("other");
  UseKey(other, std::string(16, 'k'));
  Run(card, "--record " + Dir.File("a") + " /dev/sdx");
  Run(card, "--record " + Dir.File("b") + " /dev/sdx");
  Run(card, "--record " + Dir.File("c") + " /dev/sdx", other);
  EXPECT_EQ(sdtest::ReadFile(Dir.File("a")), sdtest::ReadFile(Dir.File("b")));
  EXPECT_NE(sdtest::ReadFile(Dir.File("a")), sdtest::ReadFile(Dir.File("c")));
}

// A library that sends one request more, another address or another byte:
// the same as a recording with one request less, another address, another
// byte.
TEST_F(Recording, ADifferentRequestIsADivergenceNamingBoth) {
  const std::string text = sdtest::ReadFile(kCorpus + "sdsim-usb-v2.rec");
  const size_t last = text.rfind('\n', text.size() - 2) + 1;
  const size_t second = text.find('\n') + 1, third = text.find('\n', second) + 1;
  json read0 = json::parse(text.substr(second, third - second - 1));
  read0["sg"]["cdb"] = "28000000000700000100";
  // The first write (the enter pattern), wherever the reads before it put it.
  const size_t writeAt = text.rfind('\n', text.find("\"out\":\"U")) + 1;
  const std::string writeIndex =
      std::to_string(std::count(text.begin(), text.begin() + writeAt, '\n') - 1);
  std::string write0 = text.substr(writeAt, text.find('\n', writeAt) - writeAt);
  write0.replace(write0.find("\"out\":\"U") + 7, 1, "V");
  // Every line but the first (the card's description) is one request.
  const std::string held = std::to_string(std::count(text.begin(), text.begin() + last, '\n') - 1);
  const struct {
    std::string Recording, Message;
  } kCases[] = {
      {text.substr(0, last),
       "divergence at request " + held + ": recorded nothing (the recording holds " + held +
           " requests); received READ(10) lba 0 count 1 (SG_IO, 512 bytes in)"},
      {text.substr(0, second) + read0.dump() + "\n" + text.substr(third),
       "divergence at request 0: recorded READ(10) lba 7 count 1 (SG_IO, 512 bytes in); received "
       "READ(10) lba 0 count 1 (SG_IO, 512 bytes in)"},
      {text.substr(0, writeAt) + write0 + text.substr(text.find('\n', writeAt)),
       "divergence at request " + writeIndex +
           ": recorded WRITE(10) lba 0 count 1 (SG_IO, 512 bytes out), data "
           "byte 0 is 0x56; received WRITE(10) lba 0 count 1 (SG_IO, 512 bytes out), data byte 0 "
           "is "
           "0x53"},
  };
  for (const auto &c : kCases) {
    sdtest::WriteFile(Dir.File("bad.rec"), c.Recording);
    // A state folder of its own: a failed case leaves its sector-0 journal.
    const std::string state = Dir.File("state-" + std::to_string(&c - kCases));
    UseKey(state, sdtest::ReadFile(kCorpus + "sdsim-test.key"));
    const json replay = Run("--recording " + Dir.File("bad.rec") + " --transcript " + Dir.File("t"),
                            "--smart-version 2 /dev/sdx", state);
    EXPECT_NE(replay["sdsmart"]["exit_status"], 0);
    EXPECT_NE(Err.find("sdsim: replay " + c.Message), std::string::npos) << Err;
    EXPECT_NE(sdtest::ReadFile(Dir.File("t")).find(c.Message), std::string::npos);
  }
}

} // namespace
