#include "interface/acquisition_journal.h"

#include "interface/session.h"
#include "sdsmart/convert.h"
#include "sdsmart/special_mode2_cmd.h"
#include "smart/entry_sector.h"
#include "util/error_catalogue.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

std::string _JournalDirectory;

namespace {

Bulk<unsigned char> ReadSectorZero() {
  Bulk<unsigned char> sector(EntrySector::Bytes);
  _SpecialMode2Cmd->Cmd18(0, sector.Data(), EntrySector::Bytes);
  return sector;
}

bool Holds(const Bulk<unsigned char> &sector, const std::array<unsigned char, 512> &copy) {
  return std::memcmp(sector.Data(), copy.data(), copy.size()) == 0;
}

std::wstring Wide(const std::string &text) { return ToWideString(text); }

} // namespace

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

CEntryJournal::CEntryJournal(const std::string &directory, const std::string &node, int fd)
    : Journal(directory, node), Card(IdentifyCard(node, fd)) {}

void CEntryJournal::Backup() {
  const std::optional<JournalRecord> saved = Journal.Load();
  Bulk<unsigned char> found = ReadSectorZero();
  if (EntrySector::Classify(found.Data()) != EntrySector::Kind::OtherData) {
    // A run died with its pattern in place: only this card's own copy may
    // go back.
    if (!saved)
      throw MakeError(Errors::PatternInSectorZero);
    if (!saved->Card.SameCard(Card))
      throw MakeError(Errors::JournalOfAnotherCard,
                      {Wide(Path()), Wide(saved->Card.Describe()), Wide(Card.Describe())});
    std::memcpy(found.Data(), saved->Sector0.data(), EntrySector::Bytes);
    _SpecialMode2Cmd->Cmd25(0, found.Data(), EntrySector::Bytes);
    if (!Holds(ReadSectorZero(), saved->Sector0))
      throw MakeError(Errors::JournalRestoreUnverified, {Wide(Path())});
  } else if (saved && !(saved->Card.SameCard(Card) && Holds(found, saved->Sector0))) {
    // Another card's copy, or one this card's sector 0 no longer matches:
    // it is someone's only copy, so it stays and nothing runs over it.
    throw MakeError(Errors::JournalDiffers,
                    {Wide(Path()), Wide(saved->Card.Describe()), Wide(Card.Describe())});
  }
  if (!saved) {
    JournalRecord record;
    record.Card = Card;
    record.Time = JournalTimeNow();
    std::memcpy(record.Sector0.data(), found.Data(), EntrySector::Bytes);
    Journal.Save(record);
  }
  _MBRBuffer = std::move(found);
}

bool CEntryJournal::SectorZeroIsBackup() { return ReadSectorZero() == _MBRBuffer; }

void CEntryJournal::CheckAndFinish() {
  if (!SectorZeroIsBackup()) {
    _SpecialMode2Cmd->Cmd25(0, _MBRBuffer.Data(), _MBRBuffer.Size());
    if (!SectorZeroIsBackup())
      throw MakeError(Errors::JournalRestoreUnverified, {Wide(Path())});
  }
  Journal.Remove();
}

bool CEntryJournal::FinishAfterRestore() noexcept {
  try {
    return SectorZeroIsBackup() && Journal.Remove();
  } catch (...) {
    return false; // the card did not answer: the journal stays
  }
}
