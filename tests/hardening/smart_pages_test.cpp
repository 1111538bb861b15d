// Regressions of the fuzzed SMART page parsers: headers a damaged or hostile
// card (or a saved page file) can carry. Runs that could read out of bounds
// run in a child process, so that a fault fails this test alone.
#include "hardening_support.h"

#include "smart/smart_info_header.h"
#include "smart/smart_info_reader.h"
#include "smart/special_mode2_cmd.h"
#include "transport/usb_drive.h"
#include "util/bulk.h"
#include "util/error.h"

#include <cstring>
#include <vector>

using namespace hardening;

namespace {

_SMART_INFO_HEADER ReadCountHeader(unsigned char remainderSectors, unsigned short detailSectors) {
  _SMART_INFO_HEADER h;
  std::memset(&h, 0, sizeof h);
  std::memcpy(h.Signature, "SI0", 3);
  h.DetailType = CSmartInfoReader::DetailReadCount;
  h.BaseVBEntryCount = 600;
  h.TotalVBCount = 600;
  h.GlobalRemainderSectorCount = remainderSectors;
  h.DetailSectorCount = static_cast<unsigned char>(detailSectors);
  h.DetailSectorCountEx = detailSectors;
  return h;
}

// A reader over a drive that is never opened: the version-3 parsers only
// take the bytes handed to them.
struct OfflineReader {
  CUsbDrive drive;
  CSpecialMode2Cmd channel{drive, L"SDSMTEST"};
  bool terminated = false;
  unsigned char version = 3;
  CSmartInfoReader reader{channel, L"SDSMTEST", L"/dev/sdfuzz", terminated, version};
};

// Found by the smart_file fuzzer (known/smart_file-native-read-count-global-flag): a
// header in the global read-count format with no detail sectors, handed to
// the native read-count parser, sized its table by the global rule (1024
// remainder bytes hold 600 entries) and then read 600 entries from an empty
// detail buffer.
TEST(SmartPages, NativeReadCountParserStaysInsideItsData) {
  const int status = RunInChild(
      [] {
        OfflineReader r;
        r.reader.LoadHeader(ReadCountHeader(2, 0));
        const std::vector<unsigned char> data(1024, 0x11);
        try {
          r.reader.ReadNativeReadCountData(3, data.data(), data.size());
        } catch (const CError &) {
          return 0; // the entries do not fit the (no) detail sectors
        }
        return 2;
      },
      20);
  EXPECT_NE(status, 2) << "the native parser accepted 600 entries from no detail sectors";
  EXPECT_EQ(status, 0) << "the native parser read past its data (status " << status << ")";
}

// Found by the smart_file fuzzer (tests/hardening/known): a hardware version
// text that ran past its 16 bytes to "NV6461" decided the byte order of two
// fields one way when the header was read and the other way when it was
// written back, so ToBuffer did not give back the card's bytes.
TEST(SmartPages, HeaderConvertsBackWhenTheHardwareTextRunsOn) {
  const std::string card = ReadBytes(HARDENING_DIR "/known/smart_file-header-roundtrip-nv6461");
  ASSERT_GE(card.size(), 512u);
  const auto *bytes = reinterpret_cast<const unsigned char *>(card.data());
  CSmartInfoHeader header(bytes);
  Bulk<unsigned char> back(512);
  header.ToBuffer(back);
  for (unsigned int i = 0; i < 512; ++i)
    EXPECT_EQ(back[i], bytes[i]) << "byte " << i;
}

} // namespace
