// SPDX-License-Identifier: MIT
#include "record/record.h"

#include "run/run_plan.h"
#include "util/files.h"

#include <sdsmart/sdsmart.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/mmc/ioctl.h>
#include <scsi/sg.h>
#include <sys/random.h>
#include <unistd.h>

namespace sdsmart_tool {
namespace {

std::vector<uint8_t> Bytes(const void *p, size_t n) {
  if (!p || n == 0)
    return {};
  const auto *b = static_cast<const uint8_t *>(p);
  return {b, b + n};
}

void TakeScsi(const sg_io_hdr_t &h, RecordedRequest &r) {
  r.Cdb = Bytes(h.cmdp, h.cmd_len);
  r.Direction = h.dxfer_direction;
  r.Length = h.dxfer_len;
  r.SenseMax = h.mx_sb_len;
  // The buffer holds what was sent, or what came back.
  (h.dxfer_direction == SG_DXFER_TO_DEV ? r.Out : r.In) = Bytes(h.dxferp, h.dxfer_len);
  r.Status = h.status;
  r.MaskedStatus = h.masked_status;
  r.MsgStatus = h.msg_status;
  r.HostStatus = h.host_status;
  r.DriverStatus = h.driver_status;
  r.Resid = h.resid;
  r.Info = h.info;
  r.Sense = Bytes(h.sbp, h.sb_len_wr <= h.mx_sb_len ? h.sb_len_wr : h.mx_sb_len);
}

void TakeMmc(const mmc_ioc_cmd &c, RecordedRequest &r) {
  r.Opcode = c.opcode;
  r.Arg = c.arg;
  r.Flags = c.flags;
  r.BlockSize = c.blksz;
  r.Blocks = c.blocks;
  r.WriteFlag = c.write_flag;
  r.AppCommand = c.is_acmd;
  r.Length = c.blksz * c.blocks;
  const void *data = reinterpret_cast<const void *>(static_cast<uintptr_t>(c.data_ptr));
  (c.write_flag ? r.Out : r.In) = Bytes(data, r.Length);
  for (int i = 0; i < 4; ++i)
    r.Response[i] = c.response[i];
}

extern "C" void Observe(const SdsmartTransfer *t, void *context) {
  RecordedRequest r;
  r.Kind = t->kind;
  r.Result = t->result;
  r.Error = t->error;
  if (t->kind == SDSMART_TRANSFER_SG_IO)
    TakeScsi(*static_cast<const sg_io_hdr_t *>(t->request), r);
  else if (t->kind == SDSMART_TRANSFER_MMC_CMD)
    TakeMmc(*static_cast<const mmc_ioc_cmd *>(t->request), r);
  else {
    r.Offset = t->offset;
    r.Length = t->length;
    (t->kind == SDSMART_TRANSFER_FILE_WRITE ? r.Out : r.In) = Bytes(t->data, t->length);
  }
  static_cast<Recording *>(context)->Requests.push_back(std::move(r));
}

// The key of the hashed serial numbers: made once per state directory, so
// that the recordings of one card by one user carry the same hashes and
// nobody else can reproduce them.
bool RecordingKey(const std::string &stateDir, std::array<uint8_t, 16> &key) {
  if (stateDir.empty())
    return false;
  const std::string path = stateDir + "/recording.key";
  std::string text;
  if (ReadWholeFile(path, text) && text.size() == key.size()) {
    std::memcpy(key.data(), text.data(), key.size());
    return true;
  }
  if (::getrandom(key.data(), key.size(), 0) != static_cast<ssize_t>(key.size()))
    return false;
  try {
    WriteFileAtomically(path, std::string(key.begin(), key.end()), 0600, Sync::Rename);
  } catch (const std::exception &) {
    return false;
  }
  return true;
}

} // namespace

bool PrepareRecording(RunPlan &plan, RunStatus &status) {
  const Options &o = plan.Opts;
  if (o.RecordFile.empty())
    return true;
  if (!o.RecordRaw && !RecordingKey(plan.StateDir, plan.RecordingKey)) {
    status.Say("error", "no recording can be written: the key of the hashed serial numbers "
                        "cannot be kept in the state directory (name one with --state-dir); "
                        "nothing was written to the card");
    status.Fail(kExitOutput);
    return false;
  }
  return PrepareOutputFile(o.RecordFile, 0600, status, plan.Recording);
}

Recorder::Recorder(RunPlan &plan, RunStatus &status)
    : Opts(plan.Opts), File(std::move(plan.Recording)), Key(plan.RecordingKey), Status(status) {
  if (!File)
    return;
  Data.Raw = Opts.RecordRaw;
  Data.Card = DescribeCard(Opts.Device, plan.Verdict.Transport);
  Data.Card.Source = plan.Source;
  SetTransferObserver(Observe, &Data);
  Active = true;
}

Recorder::~Recorder() {
  if (Active)
    SetTransferObserver(nullptr, nullptr);
}

void Recorder::Finish(const RunRecord &run) {
  if (!Active)
    return;
  SetTransferObserver(nullptr, nullptr);
  Active = false;
  NoteSector0(Data);
  Data.Card.Emmc = run.Emmc;
  if (Data.Raw)
    Status.Say("warning", "the recording " + Opts.RecordFile + " is not redacted: it holds " +
                              (Data.Card.Source == HealthSource::VendorSmart
                                   ? "the card's sector 0, its serial number and the entry string"
                                   : "the serial number of its CID") +
                              ". Do not publish it.");
  else
    Redact(Data, run.Card ? run.Card->Identity.Cid : std::vector<uint8_t>{}, Key);
  try {
    File->Commit(RecordingText(Data, run), Sync::Rename);
  } catch (const std::exception &e) {
    Status.Say("error", std::string("no recording written: ") + e.what());
    Status.Fail(kExitOutput);
  }
}

} // namespace sdsmart_tool
