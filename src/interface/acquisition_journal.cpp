// SPDX-License-Identifier: MIT
#include "interface/acquisition_journal.h"

#include "interface/card_session.h"
#include "sdsmart/convert.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/entry_sector.h"
#include "util/error_catalogue.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string _JournalDirectory;
bool _JournalDirectoryChosen = false;

namespace {

bool Holds(const Bulk<unsigned char> &sector,
           const std::array<unsigned char, CardProtocol::SectorBytes> &copy) {
  return std::memcmp(sector.Data(), copy.data(), copy.size()) == 0;
}

std::wstring Wide(const std::string &text) { return ToWideString(text); }

} // namespace

std::string JournalDirectoryInUse(const std::optional<std::string> &chosen) {
  if (chosen)
    return *chosen;
  const char *named = std::getenv("SDSMART_JOURNAL_DIR");
  if (named == nullptr || *named == '\0')
    return "";
  CheckJournalDirectory(named);
  return named;
}

void CheckJournalDirectory(const std::string &directory) {
  struct stat st {};
  const char *why = nullptr;
  if (stat(directory.c_str(), &st) != 0)
    why = std::strerror(errno);
  else if (!S_ISDIR(st.st_mode))
    why = std::strerror(ENOTDIR);
  else if (access(directory.c_str(), W_OK | X_OK) != 0)
    why = std::strerror(errno);
  if (why)
    throw MakeError(Errors::JournalDirectoryUnusable, {Wide(directory), Wide(why)});
}

CEntryJournal::CEntryJournal(const std::string &directory, CCardSession &session)
    : Session(session),
      ReadSector([&channel = *session.Channel](uint64_t lba, unsigned char *sector) {
        channel.Cmd18(static_cast<unsigned int>(lba), sector, CardProtocol::SectorBytes);
      }),
      Journal(directory, session.Node), Card(IdentifyCard(session.Node, session.Device().Handle())),
      Directory(directory) {}

Bulk<unsigned char> CEntryJournal::ReadSectorZero() {
  Bulk<unsigned char> sector(CardProtocol::SectorBytes);
  ReadSector(0, sector.Data());
  return sector;
}

std::optional<CJournalRecord> CEntryJournal::AdoptJournalOfCard() {
  std::string ambiguous;
  std::optional<CSectorJournal> found =
      CSectorJournal::FindForCard(Directory, Card, ReadSector, ambiguous);
  if (!ambiguous.empty())
    throw MakeError(Errors::JournalAmbiguous, {Wide(ambiguous), Wide(Card.Describe())});
  if (!found)
    return std::nullopt;
  Journal = *found;
  return Journal.Load();
}

void CEntryJournal::Backup() {
  std::optional<CJournalRecord> saved = Journal.Load();
  Bulk<unsigned char> found = ReadSectorZero();
  if (EntrySector::Classify(found.Data()) != EntrySector::Kind::OtherData) {
    // A run died with its pattern in place: only this card's own copy may
    // go back, found by the card's identity whatever node it was taken on.
    if (std::optional<CJournalRecord> own = AdoptJournalOfCard())
      saved = own;
    if (!saved)
      throw MakeError(Errors::PatternInSectorZero);
    if (!JournalFitsCard(*saved, Card, ReadSector))
      throw MakeError(Errors::JournalOfAnotherCard,
                      {Wide(Path()), Wide(saved->Card.Describe()), Wide(Card.Describe())});
    Session.Results.JournalKept = Path();
    std::memcpy(found.Data(), saved->Sector0.data(), CardProtocol::SectorBytes);
    Session.Channel->Cmd25(0, found.Data(), CardProtocol::SectorBytes);
    if (!Holds(ReadSectorZero(), saved->Sector0))
      throw MakeError(Errors::JournalRestoreUnverified, {Wide(Path())});
    Session.Results.RestoredFromJournal = saved->Time.empty() ? "unknown" : saved->Time;
  } else if (saved && !(saved->Card.SameCard(Card) && Holds(found, saved->Sector0))) {
    // Another card's copy, or one this card's sector 0 no longer matches:
    // it is someone's only copy, so it stays and nothing runs over it.
    throw MakeError(Errors::JournalDiffers,
                    {Wide(Path()), Wide(saved->Card.Describe()), Wide(Card.Describe())});
  }
  if (!saved) {
    CJournalRecord record;
    record.Card = Card;
    record.Card.BootDigest = BootDigest(found.Data(), Card.CapacitySectors, ReadSector);
    record.Time = JournalTimeNow();
    std::memcpy(record.Sector0.data(), found.Data(), CardProtocol::SectorBytes);
    Journal.Save(record);
  }
  Session.Results.JournalKept = Path();
  Session.Results.Sector0 = std::move(found);
}

bool CEntryJournal::SectorZeroIsBackup() { return ReadSectorZero() == Session.Results.Sector0; }

void CEntryJournal::CheckAndFinish() {
  if (!SectorZeroIsBackup()) {
    Bulk<unsigned char> &backup = Session.Results.Sector0;
    Session.Channel->Cmd25(0, backup.Data(), backup.Size());
    if (!SectorZeroIsBackup())
      throw MakeError(Errors::JournalRestoreUnverified, {Wide(Path())});
  }
  if (Journal.Remove())
    Session.Results.JournalKept.clear();
}

bool CEntryJournal::FinishAfterRestore() noexcept {
  try {
    if (!SectorZeroIsBackup() || !Journal.Remove())
      return false;
    Session.Results.JournalKept.clear();
    return true;
  } catch (...) {
    return false; // the card did not answer: the journal stays
  }
}
