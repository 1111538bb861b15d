// SPDX-License-Identifier: MIT
#include "smart/entry_sector.h"

#include "sdsmart/partition_table.h"

#include <cstring>

namespace EntrySector {

namespace {

using CardProtocol::EntryLength;
using P = CardProtocol::Pattern;
constexpr unsigned int CommandAt = CardProtocol::CommandAt;
constexpr unsigned int MarkerAt = CardProtocol::SelectorAt;

constexpr P::Marker NoMarker{};

// The fixed bytes of one pattern.
struct Signature {
  Kind PatternKind;
  const P::Group &Command;
  const P::Marker &HostFile;
  const P::Group &Closing;
};

const Signature EnterSignature{Kind::Enter, P::EnterCommand, NoMarker, P::EnterClosing};
const Signature EnterVersion3Signature{Kind::EnterVersion3, P::EnterCommand, P::HostFileMarker,
                                       P::EnterClosing};
const Signature LeaveSignature{Kind::Leave, P::LeaveCommand, NoMarker, P::LeaveClosing};

void PlaceFixed(unsigned char *sector, const Signature &pattern) {
  std::memcpy(sector + CommandAt, pattern.Command.data(), pattern.Command.size());
  std::memcpy(sector + MarkerAt, pattern.HostFile.data(), pattern.HostFile.size());
  std::memcpy(sector + P::ClosingAt, pattern.Closing.data(), pattern.Closing.size());
}

template <typename Expected>
unsigned int Differences(const unsigned char *at, const Expected &expected) {
  unsigned int n = 0;
  for (unsigned int i = 0; i < expected.size(); ++i)
    n += at[i] != expected[i] ? 1 : 0;
  return n;
}

unsigned int FixedDifferences(const unsigned char *sector, const Signature &pattern) {
  return Differences(sector + CommandAt, pattern.Command) +
         Differences(sector + MarkerAt, pattern.HostFile) +
         Differences(sector + P::ClosingAt, pattern.Closing);
}

} // namespace

void BuildEnter(unsigned char *sector, const unsigned char *entry, bool hostFileMarker) {
  std::memset(sector, 0, CardProtocol::SectorBytes);
  for (unsigned int i = 0; i < EntryLength; ++i)
    sector[i] = sector[P::MirrorAt + EntryLength - 1 - i] = entry[i];
  PlaceFixed(sector, hostFileMarker ? EnterVersion3Signature : EnterSignature);
}

void BuildLeave(unsigned char *sector, const unsigned char *entry) {
  std::memset(sector, 0, CardProtocol::SectorBytes);
  for (unsigned int i = 0; i < EntryLength; ++i)
    sector[EntryLength - 1 - i] = sector[P::MirrorAt + i] = entry[i];
  PlaceFixed(sector, LeaveSignature);
}

Kind Classify(const unsigned char *sector) {
  if (PartitionTable::HasSignature(sector))
    return Kind::OtherData;
  unsigned int unmirrored = 0;
  for (unsigned int i = 0; i < EntryLength; ++i)
    unmirrored += sector[i] != sector[P::MirrorAt + EntryLength - 1 - i] ? 1 : 0;

  Kind nearest = Kind::OtherData;
  unsigned int fewest = ToleratedDifferences + 1;
  // The patterns lie at least 4 bytes apart, so no sector is within the
  // tolerance of two of them but for half a marker, which stays a plain enter.
  for (const Signature *pattern : {&EnterSignature, &EnterVersion3Signature, &LeaveSignature}) {
    const unsigned int n = unmirrored + FixedDifferences(sector, *pattern);
    if (n < fewest) {
      fewest = n;
      nearest = pattern->PatternKind;
    }
  }
  return nearest;
}

} // namespace EntrySector
