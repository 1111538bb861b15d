// SPDX-License-Identifier: MIT
// The host-file method (version 3) against the virtual card, its fall-backs
// to the direct method, and the handling of hostile mount tables and paths.
// A whole select-5 run is checked transfer by transfer in the acquisition
// area; every run here also checks that no descriptor is left open, the host
// file is gone and the card is out of special mode.
#include "virtual_card.h"

using namespace sdtest;
using sdsim::FaultKind;

namespace {

Json MountJson(const std::string &options = "rw,nosuid,nodev,relatime",
               const std::string &point = "auto") {
  return {{"mount", {{"point", point}, {"options", options}}}};
}

} // namespace

class ExtensionMode : public CardTest {}; // runs the reader with SMART version 3

// The mount table decides between the methods. It is read without a shell:
// a device name full of shell syntax runs nothing, a mount point may hold a
// blank, a tab or a backslash (escaped in the table), "ro" counts wherever it
// stands in the options, and only the card's own partitions count (mmcblk12p1
// is not one of mmcblk1's).
TEST_F(ExtensionMode, MountStateDecidesTheMethod) {
  const std::string marker = dir.path + "/ran", spaced = dir.path + "/SD card\t\\2";
  ASSERT_EQ(mkdir(spaced.c_str(), 0700), 0);
  // No plain spaces (a mount source never holds one unescaped); the shell
  // would still split at ${IFS}.
  const std::string hostile = "/dev/sdx;touch${IFS}" + marker + ";$(touch${IFS}" + marker +
                              ")|`touch${IFS}" + marker + "`&&touch${IFS}" + marker;
  struct Case {
    const char *what;
    Json mount; // empty: not mounted
    int64_t code;
    bool v3;
    std::string node = "/dev/sdx", point = "";
    bool beside12 = false; // a mounted mmcblk12 attached first
  };
  const Case cases[] = {
      {"not mounted: direct method at once", Json::object(), 0, false},
      {"ro at the end of a long option list",
       MountJson("rw,nosuid,nodev,noexec,relatime,uid=1000,gid=1000,fmask=0022,dmask=0022,"
                 "codepage=437,iocharset=ascii,shortname=mixed,showexec,utf8,flush,"
                 "errors=remount-ro,ro"),
       SDSMART_E_WRITE_PROTECTED, false},
      {"remount-ro and rootcontext are not ro", MountJson("rw,errors=remount-ro,rootcontext=x"), 0,
       true},
      {"shell syntax in the device name", MountJson(), 0, true, hostile},
      {"escaped mount point", MountJson("rw", spaced), 0, true, "/dev/sdx", spaced},
      {"mmcblk12's own partition", MountJson(), 0, true, "/dev/mmcblk12"},
      {"mmcblk1 beside a mounted mmcblk12", Json::object(), 0, false, "/dev/mmcblk1", "", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.beside12) {
      Json mounted = MountJson();
      mounted["mmc_host"] = 5;
      Attach(CardJson("/dev/mmcblk12", mounted));
    }
    sdsim::Card &card = Attach(CardJson(c.node, c.beside12 ? Json{{"mmc_host", 6}} : c.mount));
    const Outcome o = RunReader(card, 3, 1);
    EXPECT_EQ(o.code, c.code);
    EXPECT_EQ(Contains(o.seen, "enter v3"), c.v3) << Describe(o.seen);
    EXPECT_EQ(Contains(o.seen, "file command 0x101"), c.v3) << Describe(o.seen);
    EXPECT_EQ(Contains(o.seen, "enter v2"), c.code == 0 && !c.v3) << Describe(o.seen);
    EXPECT_EQ(o.unformatted, c.mount.empty());
    EXPECT_EQ(o.writeProtected, c.code == SDSMART_E_WRITE_PROTECTED);
    EXPECT_EQ(o.erase, c.code ? std::vector<unsigned>{} : ExpectedErase(card));
    if (!c.point.empty()) {
      EXPECT_EQ(o.filePath, ToWideString(c.point + "/SmartFile6459.txt"));
    }
    if (c.code == SDSMART_E_WRITE_PROTECTED) {
      EXPECT_EQ(o.text, L"Card Write Protected");
      EXPECT_TRUE(o.seen.empty()) << "nothing written";
    }
    sdsim::DetachAll();
  }
  EXPECT_FALSE(Exists(marker)) << "a shell ran";
}

// No answer in the file falls back to the direct method; an answer found
// there is final, whatever follows it.
TEST_F(ExtensionMode, AnswersInTheFile) {
  struct Case {
    const char *what;
    FaultKind fault;
    int64_t code;
    const wchar_t *text;
    unsigned entries = 300;
  };
  const Case cases[] = {
      {"no answer: fall-back", FaultKind::NoFileAnswer, 0, L""},
      {"file I/O fails: fall-back", FaultKind::FileIoFail, 0, L""},
      {"only busy headers", FaultKind::BusyForever, -1, L"Header is busy."},
      {"wrong type", FaultKind::WrongDetailType, SDSMART_E_DETAIL_TYPE_MISMATCH,
       L"Type to indicated detail data is mismatched"},
      // 65536 entries need 256 detail sectors: they cannot all follow the
      // answer inside the 256 sectors read back.
      {"detail beyond the read-back", FaultKind::FailTransfer, SDSMART_E_SMART_CONTENTS,
       L"Incorrect S.M.A.R.T contents.", 65536},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson(), c.entries));
    const Outcome o =
        RunReader(card, 3, 1, c.fault == FaultKind::FailTransfer ? nullptr : &c.fault);
    const bool final = c.code != 0;
    EXPECT_EQ(o.code, c.code);
    EXPECT_EQ(o.text, c.text);
    EXPECT_TRUE(Contains(o.seen, "enter v3"));
    EXPECT_EQ(Contains(o.seen, "enter v2"), !final) << Describe(o.seen);
    EXPECT_EQ(o.fileHeaderFound, final);
    EXPECT_EQ(o.erase, final ? std::vector<unsigned>{} : ExpectedErase(card));
    if (final) {
      EXPECT_EQ(Seq(o.seen.end() - 2, o.seen.end()), (Seq{W0("enter v3"), W0("leave")}));
    }
    sdsim::DetachAll();
  }
}

TEST_F(ExtensionMode, LinkAtTheHostFilePathIsNotFollowed) {
  const std::string point = dir.path + "/card", target = dir.path + "/precious";
  ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
  WriteFile(target, "keep me");
  ASSERT_EQ(symlink(target.c_str(), (point + "/SmartFile6459.txt").c_str()), 0);
  sdsim::Card &card = Attach(CardJson("/dev/sdx", MountJson("rw", point)));
  const Outcome o = RunReader(card, 3, 1);
  ASSERT_EQ(o.code, 0) << "falls back to the direct method";
  EXPECT_TRUE(Contains(o.seen, "enter v2"));
  EXPECT_EQ(o.erase, ExpectedErase(card));
  EXPECT_EQ(ReadFile(target), "keep me");
}
