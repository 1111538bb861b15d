// A fault at every transfer of a whole acquisition, on both transports and
// for each way a transfer can go wrong: the host gets the transport's error,
// and the card is left as it was found - sector 0 restored, special mode
// left. The host-file method is swept the same way, file steps included.
#include "acquisition_support.h"

#include <iostream>

using namespace acqtest;
using sdsim::FaultKind;

namespace {

struct Tally {
  unsigned points = 0;
  unsigned recovered = 0;
  void Print(const std::string &sweep) const {
    std::cout << sweep << ": fault points: " << points << ", recovered: " << recovered << std::endl;
  }
};

// The error the transport reports when a transfer of this kind fails.
void ExpectedError(bool native, const sdsim::Transfer &t, int &code, std::string &text) {
  if (native) {
    code = -1;
    text = "ReadWriteSector error!!";
    return;
  }
  code = 4098;
  text = t.op == "write" ? "USB Transaction Error (1)" : "USB Transaction Error (0)";
}

size_t CardTransfers(const Seq &ts) {
  size_t n = 0;
  for (const auto &t : ts)
    n += t.what.rfind("file", 0) != 0;
  return n;
}

} // namespace

class FaultSweep : public AcquisitionTest {
protected:
  // A clean run first: its transcript numbers the fault points.
  Seq CleanRun(sdsim::Card &card) {
    card.ClearFaults();
    card.ClearTranscript();
    EXPECT_EQ(GetSmartInfo(), 0) << GetErrorMessage();
    return card.Transcript();
  }

  // What a run that ended successfully after a fault must have produced.
  static bool ValuesAreTheCards(const sdsim::Card &card) {
    return Table(true) == ExpectedEraseCounts(card) &&
           GetECCUncorrectableCount() == ExpectedEccErrors(card) &&
           GetPowerCycleCount() == Be32(card.HeaderSector(3), 65);
  }
};

TEST_F(FaultSweep, EveryTransferOfTheDirectMethodOnBothTransports) {
  for (const char *file : {"usb.json", "native.json"}) {
    SCOPED_TRACE(file);
    const Json json = LoadCardJson(file);
    sdsim::Card *card = &AttachCard(json);
    Name(*card);
    const bool native = card->IsNative();
    const Sector original = card->ReadSector(0);
    const Seq clean = CleanRun(*card);
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(CardTransfers(clean), clean.size());

    Tally tally;
    for (FaultKind kind :
         {FaultKind::FailTransfer, FaultKind::ErrorStatus, FaultKind::ShortTransfer}) {
      for (size_t k = 0; k < clean.size(); ++k) {
        SCOPED_TRACE(std::string(sdsim::FaultName(kind)) + " at " + std::to_string(k) + " (" +
                     sdsim::ToString(clean[k]) + ")");
        card->ClearFaults();
        card->ClearTranscript();
        card->SetFault(kind, card->TransferCount() + k, 1);
        const int rc = GetSmartInfo();
        int code = 0;
        std::string text;
        ExpectedError(native, clean[k], code, text);
        const bool reported =
            rc == 1 && GetErrorCode() == code && std::string(GetErrorMessage()) == text;
        const bool restored = card->ReadSector(0) == original;
        const bool left = !card->InSpecialMode();
        EXPECT_TRUE(reported) << "rc " << rc << ", " << GetErrorCode() << " " << GetErrorMessage();
        EXPECT_TRUE(restored) << Describe(card->Transcript());
        EXPECT_TRUE(left) << Describe(card->Transcript());
        ++tally.points;
        tally.recovered += reported && restored && left;
      }
    }
    tally.Print(std::string(file) + " (fail, error, short)");

    // The card vanishing: the error is reported; nothing can be said about a
    // card that is gone.
    Tally vanish;
    for (size_t k = 0; k < clean.size(); ++k) {
      SCOPED_TRACE("vanish at " + std::to_string(k));
      sdsim::DetachAll();
      card = &AttachCard(json);
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
  const Json json = LoadCardJson("usb.json");
  sdsim::Card &card = AttachCard(json);
  Name(card);
  SetSmartVersion(3);
  const Sector original = card.ReadSector(0);
  const uint64_t stepsBefore = card.FileStepCount();
  const Seq clean = CleanRun(card);
  ASSERT_FALSE(HasFailure());
  const uint64_t fileSteps = card.FileStepCount() - stepsBefore;
  const size_t transfers = CardTransfers(clean);
  ASSERT_GT(fileSteps, 0u) << Describe(clean);
  ASSERT_TRUE(ValuesAreTheCards(card));

  Tally tally;
  unsigned succeeded = 0;
  // After a fault the run may fall back to the direct method and succeed, or
  // end with an error; either way the card must be left as it was found.
  auto check = [&](const std::string &what) {
    SCOPED_TRACE(what);
    const int rc = GetSmartInfo();
    const bool outcome = rc == 0 ? ValuesAreTheCards(card) : (rc == 1 && GetErrorCode() != 0);
    const bool restored = card.ReadSector(0) == original;
    const bool left = !card.InSpecialMode();
    const bool fileGone = !PathExists(card.HostFilePath());
    EXPECT_TRUE(outcome) << "rc " << rc << ", " << GetErrorCode() << " " << GetErrorMessage();
    EXPECT_TRUE(restored) << Describe(card.Transcript());
    EXPECT_TRUE(left) << Describe(card.Transcript());
    EXPECT_TRUE(fileGone) << card.HostFilePath();
    ++tally.points;
    tally.recovered += outcome && restored && left && fileGone;
    succeeded += rc == 0;
  };

  for (FaultKind kind :
       {FaultKind::FailTransfer, FaultKind::ErrorStatus, FaultKind::ShortTransfer}) {
    for (size_t k = 0; k < transfers; ++k) {
      card.ClearFaults();
      card.ClearTranscript();
      card.SetFault(kind, card.TransferCount() + k, 1);
      check(std::string(sdsim::FaultName(kind)) + " at transfer " + std::to_string(k));
    }
  }
  for (FaultKind kind : {FaultKind::FileIoFail, FaultKind::NoFileAnswer, FaultKind::BadSignature,
                         FaultKind::WrongDetailType}) {
    for (uint64_t j = 0; j < fileSteps; ++j) {
      card.ClearFaults();
      card.ClearTranscript();
      card.SetFault(kind, card.FileStepCount() + j, 1);
      check(std::string(sdsim::FaultName(kind)) + " at file step " + std::to_string(j));
    }
  }
  tally.Print("usb.json version 3");
  std::cout << "usb.json version 3: succeeded after the fault: " << succeeded << std::endl;
}
