// SPDX-License-Identifier: MIT
// A fault at every transfer of a whole acquisition, on both transports and
// for each way a transfer can go wrong: the host gets the transport's error,
// and the card is left as it was found - sector 0 restored, special mode
// left. The host-file method is swept the same way, file steps included.
#include "virtual_card.h"

#include <iostream>

using namespace sdtest;
using sdsim::FaultKind;

namespace {

// An ioctl error, a completed command with an error status (CHECK CONDITION
// on the reader), a short transfer, an error status after all the data moved.
const FaultKind kTransferFaults[] = {FaultKind::FailTransfer, FaultKind::ErrorStatus,
                                     FaultKind::ShortTransfer, FaultKind::ErrorStatusWithData};

struct Tally {
  unsigned points = 0;
  unsigned recovered = 0;
  void Print(const std::string &sweep) const {
    std::cout << sweep << ": fault points: " << points << ", recovered: " << recovered << std::endl;
  }
};

} // namespace

class FaultSweep : public AcquisitionTest {
protected:
  // A clean run first: its transcript numbers the fault points, and its
  // values are what a run that recovers must deliver.
  Seq CleanRun(sdsim::Card &card) {
    original = card.ReadSector(0);
    card.ClearTranscript();
    EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    values = AccessorReport();
    return card.Transcript();
  }

  // One run with `fault` set. `error` is what the host must get ("code
  // text"); when empty, the run may also fall back to the direct method and
  // succeed with the clean run's values. Either way the card must be left as it
  // was found.
  void Probe(sdsim::Card &card, const sdsim::Fault &fault, const std::string &error) {
    card.ClearFaults();
    card.ClearTranscript();
    card.AddFault(fault);
    const int rc = GetSmartInfo();
    const std::string got = std::to_string(GetErrorCode()) + " " + GetErrorMessage();
    const bool outcome = !error.empty() ? rc == 1 && got == error
                         : rc == 0      ? AccessorReport() == values
                                        : rc == 1 && GetErrorCode() != 0;
    const bool restored =
        card.ReadSector(0) == original && !card.InSpecialMode() && !Exists(card.HostFilePath());
    EXPECT_TRUE(outcome) << "rc " << rc << ", " << got;
    EXPECT_TRUE(restored) << Describe(card.Transcript());
    ++tally.points;
    tally.recovered += outcome && restored;
    succeeded += rc == 0;
  }

  Sector original{};
  std::string values;
  Tally tally;
  unsigned succeeded = 0;
};

TEST_F(FaultSweep, EveryTransferOfTheDirectMethodOnBothTransports) {
  for (const char *file : {"usb.json", "native.json"}) {
    SCOPED_TRACE(file);
    const Json json = LoadCardJson(file);
    sdsim::Card *card = &AttachNamed(json);
    const Seq clean = CleanRun(*card);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(Count(clean, "file"), 0u);

    tally = Tally();
    for (FaultKind kind : kTransferFaults)
      for (size_t k = 0; k < clean.size(); ++k) {
        SCOPED_TRACE(std::string(sdsim::FaultName(kind)) + " at " + sdsim::ToString(clean[k]));
        const bool write = clean[k].op == "write";
        Probe(*card, {kind, card->TransferCount() + k, 1},
              card->IsNative() ? std::to_string(SDSMART_E_UNCODED) + " ReadWriteSector error!!"
                               : std::to_string(SDSMART_E_USB_TRANSACTION) +
                                     " USB Transaction Error (" + (write ? "1)" : "0)"));
      }
    tally.Print(std::string(file) + " (fail, error, short, error with data)");

    // The card vanishing: the error is reported; nothing can be said about a
    // card that is gone.
    Tally vanish;
    for (size_t k = 0; k < clean.size(); ++k) {
      SCOPED_TRACE("vanish at " + std::to_string(k));
      sdsim::DetachAll();
      card = &Attach(json);
      card->SetFault(FaultKind::Vanish, card->TransferCount() + k);
      const int rc = GetSmartInfo();
      EXPECT_EQ(rc, 1);
      EXPECT_NE(GetErrorCode(), 0);
      EXPECT_STRNE(GetErrorMessage(), "");
      ++vanish.points;
      vanish.recovered += rc == 1 && GetErrorCode() != 0;
    }
    vanish.Print(std::string(file) + " (vanish)");
    sdsim::DetachAll();
  }
}

TEST_F(FaultSweep, EveryStepOfTheHostFileMethod) {
  sdsim::Card &card = AttachNamed(LoadCardJson("usb.json"));
  SetSmartVersion(3);
  const uint64_t stepsBefore = card.FileStepCount();
  const Seq clean = CleanRun(card);
  ASSERT_FALSE(HasFailure());
  const uint64_t fileSteps = card.FileStepCount() - stepsBefore;
  ASSERT_GT(fileSteps, 0u) << Describe(clean);

  for (FaultKind kind : kTransferFaults)
    for (size_t k = 0; k < clean.size() - Count(clean, "file"); ++k) {
      SCOPED_TRACE(std::string(sdsim::FaultName(kind)) + " at transfer " + std::to_string(k));
      Probe(card, {kind, card.TransferCount() + k, 1}, "");
    }
  for (FaultKind kind : {FaultKind::FileIoFail, FaultKind::NoFileAnswer, FaultKind::BadSignature,
                         FaultKind::WrongDetailType})
    for (uint64_t j = 0; j < fileSteps; ++j) {
      SCOPED_TRACE(std::string(sdsim::FaultName(kind)) + " at file step " + std::to_string(j));
      Probe(card, {kind, card.FileStepCount() + j, 1}, "");
    }
  tally.Print("usb.json version 3");
  std::cout << "usb.json version 3: succeeded after the fault: " << succeeded << std::endl;
  EXPECT_GT(succeeded, 0u) << "some faults fall back to the direct method";
}
