// SPDX-License-Identifier: MIT
#include "output/output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <sstream>

namespace sdsmart_tool {
namespace {

class Section {
public:
  explicit Section(std::ostringstream &out, const std::string &title) : Out(out) {
    Out << "\n=== " << title << " ===\n";
  }
  void Row(const std::string &label, const std::string &value) {
    std::string l = label + ":";
    if (l.size() < 26)
      l.resize(26, ' ');
    else
      l += ' ';
    Out << l << value << "\n";
  }

private:
  std::ostringstream &Out;
};

std::string Num(uint64_t v) {
  // Thousands separated by commas, as the reports of other disk tools do.
  std::string digits = std::to_string(v), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0)
      out += ',';
    out += digits[i];
  }
  return out;
}

std::string Pct(double v) {
  if (std::isnan(v))
    return "unknown";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %%", v);
  return text;
}

std::string NotRead(unsigned bit) { return "not read (select bit " + std::to_string(bit) + ")"; }

std::string Hex(uint64_t v, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llx", width, static_cast<unsigned long long>(v));
  return text;
}

std::string TransportText(CardTransport t) {
  return t == CardTransport::NativeHost ? "native SD host (MMC block ioctl)"
                                        : "USB card reader (SCSI pass-through)";
}

void IdentitySection(std::ostringstream &out, const CardIdentity &id) {
  Section ident(out, "Card identity");
  ident.Row("Manufacturer", Printable(id.Manufacturer));
  if (id.RegistersPresent) {
    char mid[16];
    std::snprintf(mid, sizeof mid, "0x%02x", id.ManufacturerId);
    ident.Row("CID manufacturer ID", mid);
    ident.Row("OEM ID", Printable(id.OemId));
    ident.Row("Product name", Printable(id.ProductName));
    char rev[32];
    std::snprintf(rev, sizeof rev, "%u.%u (0x%02x)", id.ProductRevision >> 4,
                  id.ProductRevision & 15, id.ProductRevision);
    ident.Row("Product revision", rev);
    ident.Row("Serial number", Hex(id.SerialNumber, 8));
    ident.Row("Manufacturing date", Printable(id.ManufacturingDate));
    ident.Row("Capacity (CSD)", id.CapacityBytes ? Num(id.CapacityBytes) + " bytes [" +
                                                       HumanBytes(id.CapacityBytes) + "]"
                                                 : "unknown");
    ident.Row("CID", HexBytes(id.Cid));
    ident.Row("CSD", HexBytes(id.Csd));
    ident.Row("SCR", HexBytes(id.Scr));
  } else {
    ident.Row("Card registers", "not carried by this header version");
  }
  ident.Row("Firmware version", Printable(id.FirmwareVersion));
  ident.Row("Hardware version", Printable(id.HardwareVersion));
  ident.Row("MP version", Printable(id.MpVersion));
  ident.Row("Library version", Printable(id.LibraryVersion));
  ident.Row("Flash ID", Printable(id.FlashId));
  ident.Row("Flash maker", Printable(id.FlashMaker));
  ident.Row("Flash type", Printable(id.FlashType));
  if (!id.ClientMark.empty())
    ident.Row("Client mark", Printable(id.ClientMark));
  ident.Row("SMART header version", std::to_string(id.HeaderVersion));
}

} // namespace

namespace {

void VerdictRows(Section &health, const std::optional<HealthResult> &verdict) {
  if (!verdict)
    return;
  health.Row("SMART overall health", VerdictName(verdict->Status));
  for (const std::string &why : verdict->Reasons)
    health.Row("  reason", why);
  for (const std::string &what : verdict->NotRead)
    health.Row("  not read", what);
}

} // namespace

std::string RenderHealthOnly(const RunRecord &run) {
  std::ostringstream out;
  if (!run.Health)
    return "";
  out << "SMART overall-health self-assessment: " << VerdictName(run.Health->Status) << "\n";
  for (const std::string &why : run.Health->Reasons)
    out << "  - " << why << "\n";
  for (const std::string &what : run.Health->NotRead)
    out << "  - not read: " << what << "\n";
  return out.str();
}

namespace {

// An eMMC: its life estimate and the verdict it gives.
std::string EmmcReport(const RunRecord &run) {
  std::ostringstream out;
  const EmmcLife &life = *run.Emmc;
  Section dev(out, "Device");
  dev.Row("Device", Printable(run.Device));
  dev.Row("Kind", "eMMC (read without writing)");
  Section health(out, "Health");
  VerdictRows(health, run.Health);
  health.Row("Life estimate, type A", BandText(life.LifeA));
  health.Row("Life estimate, type B", BandText(life.LifeB));
  health.Row("Pre-EOL state", PreEolText(life.PreEol));
  health.Row("Read from",
             life.From == "sysfs" ? "sysfs (life_time, pre_eol_info)" : "the extended CSD (CMD8)");
  return out.str();
}

template <typename T> std::string Shown(const std::optional<T> &v, const std::string &unit = "") {
  return v ? Num(*v) + unit : "not shown";
}

std::string Shown(const std::string &v) { return v.empty() ? "not shown" : Printable(v); }

// A card that gave no SMART data: what sysfs shows of it.
std::string RegistersReport(const RunRecord &run) {
  std::ostringstream out;
  const CardRegisters &r = *run.Registers;
  Section dev(out, "Device");
  dev.Row("Device", Printable(run.Device));
  dev.Row("Transport", TransportText(run.Transport));
  dev.Row("Health source", HealthSourceText(run.Source));
  Section health(out, "Health");
  health.Row("SMART overall health", "no health data from this card");
  Section ident(out, "Card identity (sysfs, read without writing)");
  if (run.Transport == CardTransport::UsbReader) {
    ident.Row("Card reader", Shown(r.ReaderVendor) + " " + Shown(r.ReaderModel));
    ident.Row("Reader serial", Shown(r.ReaderSerial));
    ident.Row("Size of the node", Shown(r.NodeBytes, " bytes"));
    ident.Row("Card registers", "not shown through a USB card reader");
    return out.str();
  }
  ident.Row("CID manufacturer ID", r.ManufacturerId ? Hex(*r.ManufacturerId, 2) : "not shown");
  ident.Row("OEM ID", Shown(r.OemId));
  ident.Row("Product name", Shown(r.ProductName));
  ident.Row("Product revision", r.ProductRevision ? Hex(*r.ProductRevision, 2) : "not shown");
  ident.Row("Serial number", r.SerialNumber ? Hex(*r.SerialNumber, 8) : "not shown");
  ident.Row("Manufacturing date", Shown(r.ManufacturingDate));
  ident.Row("Capacity (CSD)", Shown(r.CapacityBytes, " bytes"));
  ident.Row("Speed class", r.SpeedClass ? "class " + std::to_string(*r.SpeedClass) : "not shown");
  ident.Row("UHS speed grade", Shown(r.UhsSpeedGrade));
  ident.Row("Video speed class", Shown(r.VideoSpeedClass));
  ident.Row("Allocation unit", Shown(r.AuSizeBytes, " bytes"));
  ident.Row("Preferred erase size", Shown(r.PreferredEraseSize, " bytes"));
  ident.Row("CID", r.Cid.empty() ? "not shown" : HexBytes(r.Cid));
  ident.Row("CSD", r.Csd.empty() ? "not shown" : HexBytes(r.Csd));
  ident.Row("SCR", r.Scr.empty() ? "not shown" : HexBytes(r.Scr));
  ident.Row("SD Status", r.Ssr.empty() ? "not shown" : HexBytes(r.Ssr));
  ident.Row("OCR", r.Ocr ? Hex(*r.Ocr, 8) : "not shown");
  return out.str();
}

} // namespace

std::string RenderReport(const RunRecord &run, const ReportStyle &style) {
  std::ostringstream out;
  if (run.Emmc)
    return EmmcReport(run);
  if (run.Registers && !run.Card)
    return RegistersReport(run);
  if (!run.Card)
    return "";
  const CardData &d = *run.Card;
  const CardCounters &c = d.Counters;

  Section dev(out, "Device");
  dev.Row("Device", Printable(d.Device));
  dev.Row("Transport", TransportText(d.Transport));

  IdentitySection(out, d.Identity);

  Section health(out, "Health");
  VerdictRows(health, run.Health);
  std::optional<LifeFigures> life = Life(c);
  health.Row("Remaining life", life ? Pct(life->Remaining) : "unknown");
  health.Row("Life used", (life ? Pct(life->Used) : std::string("unknown")) + " of " +
                              Num(c.PeCycleCount) + " rated P/E cycles");
  health.Row("Write protected", c.WriteProtectStatus
                                    ? "yes (status " + std::to_string(c.WriteProtectStatus) + ")"
                                    : "no");

  Section erase(out, "Erase counts");
  erase.Row("Total erases", Num(c.TotalEraseCount) + " (physical blocks)");
  erase.Row("Average per VB", Num(c.AverageEraseCount));
  erase.Row("Min / max (table)", c.MinEraseCount && c.MaxEraseCount
                                     ? Num(*c.MinEraseCount) + " / " + Num(*c.MaxEraseCount)
                                     : NotRead(kSelectEraseCounts));
  erase.Row("Min / max (header)", Num(c.MinEraseCountHeader) + " / " + Num(c.MaxEraseCountHeader));
  erase.Row("Erase-count offset", Num(c.EraseCountOffset));

  Section reads(out, "Read counts");
  if (d.ReadTableRead) {
    std::optional<uint32_t> low, high;
    for (uint32_t v : d.ReadCounts)
      if (v <= kLargestCountedValue) {
        low = std::min(low.value_or(v), v);
        high = std::max(high.value_or(v), v);
      }
    reads.Row("Min / max per VB", low ? Num(*low) + " / " + Num(*high) : "no VB counted");
  } else {
    reads.Row("Min / max per VB", NotRead(kSelectReadCounts));
  }

  // The card counts these in VBs (chip enables for the CE count); the
  // library multiplies them by the blocks of a VB.
  auto perVb = [&](uint32_t total, const char *unit) {
    return c.BlocksPerVb ? Num(total) + " (" + Num(total / c.BlocksPerVb) + " " + unit + " x " +
                               Num(c.BlocksPerVb) + " blocks per VB)"
                         : Num(total);
  };
  Section blocks(out, "Blocks");
  blocks.Row("Virtual blocks (VB)", Num(c.TotalVbCount) + " x " + Num(c.BlocksPerVb) + " = " +
                                        Num(c.TotalPhysicalBlocks) + " physical blocks");
  blocks.Row("Initial bad blocks", Num(c.InitialBadBlocks));
  blocks.Row("Later bad blocks", perVb(c.LaterBadBlocks, "VBs"));
  blocks.Row("Min spare blocks", perVb(c.MinSpareBlocks, "VBs"));
  blocks.Row("Total CE count", perVb(c.TotalCeCount, "chip enables"));

  Section power(out, "Power and errors");
  power.Row("Power cycles", Num(c.PowerCycles));
  power.Row("Abnormal shutdowns", Num(c.AbnormalShutdowns));
  power.Row("Uncorrectable ECC",
            c.EccUncorrectable ? Num(*c.EccUncorrectable) : NotRead(kSelectRuntime));
  power.Row("ECC capacity", Num(c.EccCapacity));

  if (!d.EraseTableRead) {
    out << "\n=== Erase-count distribution ===\n  " << NotRead(kSelectEraseCounts) << "\n";
    return out.str();
  }
  size_t used = 0;
  for (uint32_t v : d.EraseCounts)
    used += v <= kLargestCountedValue;
  out << "\n=== Erase-count distribution (" << Num(used) << " of " << Num(d.EraseCounts.size())
      << " VBs in use) ===\n";
  if (run.Distribution.empty()) {
    out << "  no per-VB erase counts were read\n";
  } else {
    for (const std::string &line : DrawBarChart(run.Distribution, style.Width, style.Glyph))
      out << line << "\n";
  }
  return out.str();
}

} // namespace sdsmart_tool
