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

std::string RenderReport(const RunRecord &run, const ReportStyle &style) {
  std::ostringstream out;
  if (!run.Card)
    return "";
  const CardData &d = *run.Card;
  const CardCounters &c = d.Counters;

  Section dev(out, "Device");
  dev.Row("Device", Printable(d.Device));
  dev.Row("Transport", TransportText(d.Transport));

  IdentitySection(out, d.Identity);

  Section health(out, "Health");
  if (run.Health) {
    health.Row("SMART overall health", VerdictName(run.Health->Status));
    for (const std::string &why : run.Health->Reasons)
      health.Row("  reason", why);
    for (const std::string &what : run.Health->NotRead)
      health.Row("  not read", what);
  }
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
