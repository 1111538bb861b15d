// SPDX-License-Identifier: MIT
#include "card/replay.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sdsim {
namespace {

constexpr std::size_t kMarker = 8;

std::string HexText(const std::vector<std::uint8_t> &bytes) {
  std::string out;
  char b[4];
  for (std::uint8_t v : bytes) {
    std::snprintf(b, sizeof b, out.empty() ? "%02x" : " %02x", v);
    out += b;
  }
  return out;
}

std::uint32_t Big32(const std::vector<std::uint8_t> &p, std::size_t at) {
  return std::uint32_t{p[at]} << 24 | std::uint32_t{p[at + 1]} << 16 |
         std::uint32_t{p[at + 2]} << 8 | p[at + 3];
}

bool IsReadWrite10(const RecordedStep &s) {
  return s.Cdb.size() >= 10 && (s.Cdb[0] == 0x28 || s.Cdb[0] == 0x2A);
}

int Failed(int error) {
  errno = error;
  return -1;
}

} // namespace

std::string Replay::Describe(const RecordedStep &s) const {
  char text[160];
  switch (s.Kind) {
  case StepKind::Scsi:
    if (IsReadWrite10(s))
      std::snprintf(text, sizeof text, "%s lba %u count %u (SG_IO, %u bytes %s)",
                    s.Cdb[0] == 0x28 ? "READ(10)" : "WRITE(10)", Big32(s.Cdb, 2),
                    unsigned{s.Cdb[7]} << 8 | s.Cdb[8], s.Length,
                    s.Direction == SG_DXFER_TO_DEV ? "out" : "in");
    else
      std::snprintf(text, sizeof text, "SG_IO cdb %s, direction %d, %u bytes",
                    HexText(s.Cdb).c_str(), s.Direction, s.Length);
    return text;
  case StepKind::Mmc:
    std::snprintf(text, sizeof text, "CMD%u arg 0x%x blocks %u blksz %u flags 0x%x%s%s", s.Opcode,
                  s.Arg, s.Blocks, s.BlockSize, s.Flags, s.WriteFlag ? " write" : "",
                  s.AppCommand ? " acmd" : "");
    return text;
  default:
    std::snprintf(text, sizeof text, "host-file %s at offset %llu, %u bytes",
                  s.Kind == StepKind::FileWrite ? "write" : "read",
                  static_cast<unsigned long long>(s.Offset), s.Length);
    return text;
  }
}

void Replay::Note(const RecordedStep &s, ReplayNote &note) const {
  note.Op = "cmd";
  if (s.Kind == StepKind::Scsi && IsReadWrite10(s)) {
    note.Op = s.Cdb[0] == 0x28 ? "read" : "write";
    note.Lba = Big32(s.Cdb, 2);
    note.Count = unsigned{s.Cdb[7]} << 8 | s.Cdb[8];
  } else if (s.Kind == StepKind::Mmc && s.Opcode >= 17 && s.Opcode <= 25 && s.BlockSize) {
    note.Op = s.WriteFlag ? "write" : "read";
    note.Lba = ByteAddressed ? s.Arg / 512 : s.Arg;
    note.Count = s.Blocks;
  } else if (s.Kind == StepKind::FileWrite || s.Kind == StepKind::FileRead) {
    note.Op = s.Kind == StepKind::FileWrite ? "write" : "read";
    note.Lba = static_cast<std::uint32_t>(s.Offset / 512);
    note.Count = (s.Length + 511) / 512;
  }
}

void Replay::Diverge(const std::string &recorded, const std::string &received, ReplayNote &note) {
  Diverged = true;
  note.What = "divergence at request " + std::to_string(Next) + ": recorded " + recorded +
              "; received " + received;
  std::fprintf(stderr, "sdsim: replay %s\n", note.What.c_str());
}

bool Replay::SameData(const RecordedStep &step, const std::uint8_t *got, std::size_t &at) {
  const std::vector<std::uint8_t> &want = step.Out;
  for (at = 0; at < want.size(); ++at) {
    const bool marker =
        at + kMarker <= want.size() && std::memcmp(&want[at], kEntryMarker, kMarker) == 0;
    const bool mirrored =
        at + kMarker <= want.size() && std::memcmp(&want[at], kEntryMarkerMirrored, kMarker) == 0;
    if (!marker && !mirrored) {
      if (want[at] != got[at])
        return false;
      continue;
    }
    std::string seen(reinterpret_cast<const char *>(got + at), kMarker);
    if (mirrored)
      seen.assign(seen.rbegin(), seen.rend());
    if (Entry.empty())
      Entry = seen;
    if (seen != Entry)
      return false;
    at += kMarker - 1;
  }
  return true;
}

const RecordedStep *Replay::Match(const RecordedStep &got, const std::uint8_t *out,
                                  ReplayNote &note) {
  Note(got, note);
  if (Diverged) {
    note.What = "failed after the divergence";
    return nullptr;
  }
  const std::string received = Describe(got);
  if (Next >= Script->Steps.size()) {
    Diverge("nothing (the recording holds " + std::to_string(Next) + " requests)", received, note);
    return nullptr;
  }
  const RecordedStep &step = Script->Steps[Next];
  const std::string recorded = Describe(step);
  if (recorded != received) {
    Diverge(recorded, received, note);
    return nullptr;
  }
  std::size_t at = 0;
  if (out && !SameData(step, out, at)) {
    char where[96];
    std::snprintf(where, sizeof where, ", data byte %zu is 0x%02x", at,
                  at < step.Out.size() ? step.Out[at] : 0);
    std::string recordedData = recorded + where;
    std::snprintf(where, sizeof where, ", data byte %zu is 0x%02x", at, out[at]);
    Diverge(recordedData, received + where, note);
    return nullptr;
  }
  note.What = "replay " + std::to_string(Next);
  ++Next;
  return &step;
}

void Replay::Answer(const RecordedStep &step, std::uint8_t *out, std::size_t n) const {
  if (!out)
    return;
  std::memcpy(out, step.In.data(), std::min(n, step.In.size()));
  if (Entry.size() != kMarker)
    return;
  // The entry string goes back where the redaction took it out.
  const std::string mirrored(Entry.rbegin(), Entry.rend());
  for (std::size_t at = 0; at + kMarker <= n; ++at) {
    if (std::memcmp(out + at, kEntryMarker, kMarker) == 0)
      std::memcpy(out + at, Entry.data(), kMarker);
    else if (std::memcmp(out + at, kEntryMarkerMirrored, kMarker) == 0)
      std::memcpy(out + at, mirrored.data(), kMarker);
  }
}

int Replay::Scsi(sg_io_hdr_t &h, ReplayNote &note) {
  RecordedStep got;
  got.Kind = StepKind::Scsi;
  got.Cdb.assign(h.cmdp, h.cmdp + h.cmd_len);
  got.Direction = h.dxfer_direction;
  got.Length = h.dxfer_len;
  auto *data = static_cast<std::uint8_t *>(h.dxferp);
  const bool toDevice = h.dxfer_direction == SG_DXFER_TO_DEV;
  const RecordedStep *step = Match(got, toDevice ? data : nullptr, note);
  if (!step)
    return Failed(EIO);
  if (!toDevice)
    Answer(*step, data, h.dxfer_len);
  h.status = static_cast<unsigned char>(step->Status);
  h.masked_status = static_cast<unsigned char>(step->MaskedStatus);
  h.msg_status = static_cast<unsigned char>(step->MsgStatus);
  h.host_status = static_cast<unsigned short>(step->HostStatus);
  h.driver_status = static_cast<unsigned short>(step->DriverStatus);
  h.resid = step->Resid;
  h.info = step->Info;
  h.duration = 0;
  const std::size_t sense = std::min<std::size_t>(step->Sense.size(), h.mx_sb_len);
  if (sense)
    std::memcpy(h.sbp, step->Sense.data(), sense);
  h.sb_len_wr = static_cast<unsigned char>(sense);
  return step->Result < 0 ? Failed(step->Error) : step->Result;
}

int Replay::Mmc(mmc_ioc_cmd &c, ReplayNote &note) {
  RecordedStep got;
  got.Kind = StepKind::Mmc;
  got.Opcode = c.opcode;
  got.Arg = c.arg;
  got.Flags = c.flags;
  got.BlockSize = c.blksz;
  got.Blocks = c.blocks;
  got.WriteFlag = c.write_flag;
  got.AppCommand = c.is_acmd;
  auto *data = reinterpret_cast<std::uint8_t *>(static_cast<std::uintptr_t>(c.data_ptr));
  const RecordedStep *step = Match(got, c.write_flag ? data : nullptr, note);
  if (!step)
    return Failed(EIO);
  if (!c.write_flag)
    Answer(*step, data, std::size_t{c.blksz} * c.blocks);
  for (int i = 0; i < 4; ++i)
    c.response[i] = step->Response[i];
  return step->Result < 0 ? Failed(step->Error) : step->Result;
}

long Replay::File(bool write, std::uint64_t offset, std::uint8_t *data, std::size_t length,
                  long done, ReplayNote &note) {
  RecordedStep got;
  got.Kind = write ? StepKind::FileWrite : StepKind::FileRead;
  got.Offset = offset;
  got.Length = static_cast<std::uint32_t>(length);
  const RecordedStep *step = Match(got, write ? data : nullptr, note);
  if (!step)
    return Failed(EIO);
  if (!write)
    Answer(*step, data, length);
  return done;
}

} // namespace sdsim
