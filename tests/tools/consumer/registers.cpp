// SPDX-License-Identifier: MIT
// A C++ host of the installed library: the tool's use of a register decoder
// (the capacity of a CSD copy) and of the sector-0 journal, through the
// installed public headers alone.
#include <sdsmart/csd.h>
#include <sdsmart/locked_card.h>
#include <sdsmart/sector0_journal.h>

#include <cstdio>
#include <memory>

int main() {
  // An SD CSD 2.0 with C_SIZE 0x3B37: (0x3B37 + 1) x 512 KiB.
  const unsigned char csd[16] = {0x40, 0x0E, 0x00, 0x32, 0x5B, 0x59, 0x00, 0x00,
                                 0x3B, 0x37, 0x7F, 0x80, 0x0A, 0x40, 0x00, 0x00};
  const std::unique_ptr<CCSD> decoded(CCSD::Create(false, csd));
  const unsigned long long capacity = decoded ? decoded->GetCapacity() : 0;
  std::printf("CSD capacity %llu bytes\n", capacity);
  // A journal the host wrote reads back as written.
  CJournalRecord record;
  record.Card.CapacitySectors = 131072;
  record.Sector0[510] = 0x55;
  std::string why;
  const std::optional<CJournalRecord> back =
      CSectorJournal::Decode(CSectorJournal::Encode(record), why);
  std::printf("journal %s\n", back ? "decoded" : why.c_str());
  const bool journal = back && back->Sector0 == record.Sector0 && back->Card.SameCard(record.Card);
  return capacity == (0x3B37ull + 1) * 512 * 1024 && journal ? 0 : 1;
}
