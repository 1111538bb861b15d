// SPDX-License-Identifier: MIT
// history [DEVICE|ID]: what the state folder knows of a card, read from
// files only (no card is touched, no root is needed): its readings as a table
// with a chart of remaining life, or every known card with its last reading
// and forecast.
#include "state/history.h"
#include "modes/modes.h"
#include "output/histogram.h"
#include "output/history_chart.h"
#include "run/run_plan.h"
#include "state/state_file.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <sys/stat.h>

namespace sdsmart_tool {
namespace {

// The cards with a history; false (errno set) when the folder exists and
// cannot be read.
bool KnownCards(const std::string &stateDir, std::vector<std::string> &ids) {
  std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir((stateDir + "/history").c_str()), &::closedir);
  if (!dir)
    return errno == ENOENT;
  for (dirent *e; (e = ::readdir(dir.get()));) {
    std::string name = e->d_name;
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".jsonl") == 0 && name[0] != '.')
      ids.push_back(name.substr(0, name.size() - 6));
  }
  std::sort(ids.begin(), ids.end());
  return true;
}

std::string Percent(const std::optional<double> &v) {
  char text[32];
  if (!v)
    return "not read";
  std::snprintf(text, sizeof text, "%.2f %%", *v);
  return text;
}

std::string Row(const HistoryReading &r) {
  char line[160];
  std::snprintf(line, sizeof line, "%-16s  %10s  %10s  %12llu  %s%s\n",
                DateText(r.Time, "%Y-%m-%d %H:%M").c_str(), Percent(r.RemainingPercent).c_str(),
                Percent(r.UsedPercent).c_str(), static_cast<unsigned long long>(r.TotalErases),
                r.Verdict.c_str(), r.Implausible ? " (implausible reading)" : "");
  return line;
}

const char kRowHead[] = "Time (UTC)         Remaining        Used   Erase total  Verdict\n";

struct CardHistory {
  std::string Id, Path;
  LoadedHistory History;
  WearForecast Forecast;
};

bool LoadCard(const Options &o, const std::string &stateDir, const std::string &id,
              CardHistory &card, RunStatus &status) {
  card.Id = id;
  card.Path = HistoryPath(stateDir, id);
  const bool loaded = LoadHistory(card.Path, card.History); // a missing file is no history
  if (!loaded || card.History.Readings.empty()) {
    status.Say("error", loaded ? "no history of card " + id + " in " + card.Path
                               : HistoryLoadFailure(card.Path));
    return false;
  }
  if (card.History.Skipped)
    status.Say("warning", card.Path + ": skipped " + std::to_string(card.History.Skipped) +
                              " lines that are no reading (the next reading moves them to " +
                              RejectedPath(card.Path) + ")");
  card.Forecast = MakeForecast(card.History.Readings, o.WindowDays, o.Limits.FailLife);
  card.Forecast.CardId = id;
  card.Forecast.HistoryFile = card.Path;
  card.Forecast.StateFile = StatePath(stateDir, id);
  card.Forecast.Skipped = card.History.Skipped;
  return true;
}

Json CardJson(const CardHistory &card, bool allReadings) {
  Json readings = Json::array();
  const auto &all = card.History.Readings;
  for (size_t i = allReadings ? 0 : all.size() - 1; i < all.size(); ++i)
    readings.push_back(ReadingJson(all[i]));
  return {{"card_id", card.Id},
          {"history_file", card.Path},
          {"readings", readings},
          {"forecast", ForecastJson(card.Forecast)}};
}

std::string CardText(const CardHistory &card, bool ascii) {
  std::string text = "Card " + card.Id + "\nHistory: " + card.Path + "\n\n" + kRowHead;
  for (const HistoryReading &r : card.History.Readings)
    text += Row(r);
  return text + "\nRemaining life\n" + RenderLifeChart(card.History.Readings, ascii) + "\n" +
         ForecastLine(card.Forecast) +
         WriteVolumeLine(card.Forecast.Writes, card.Forecast.WritesWhy);
}

std::string ListText(const std::vector<CardHistory> &cards) {
  std::string text = "Card                              " + std::string(kRowHead);
  for (const CardHistory &c : cards)
    text += c.Id + "  " + Row(c.History.Readings.back()) + "  " + ForecastLine(c.Forecast);
  return text;
}

} // namespace

int RunHistory(const Options &given, RunStatus &status) {
  RunPlan plan;
  plan.Opts = given;
  SettleStateDir(plan, StateUse::Read);
  const Options &o = plan.Opts;
  const std::string &stateDir = plan.StateDir;
  std::vector<std::string> ids;
  if (o.Device.empty()) {
    if (!KnownCards(stateDir, ids)) {
      status.Say("error", "cannot read " + stateDir + "/history: " + std::strerror(errno));
      status.Fail(kExitAcquisition);
    } else if (ids.empty()) {
      status.Say("information", "no card histories in " + stateDir + "/history");
    }
  } else {
    errno = 0;
    std::string id = o.Device.find('/') == std::string::npos && o.Device.size() == 32
                         ? o.Device
                         : LatestCardId(stateDir + "/latest", o.Device);
    if (id.empty()) {
      const bool denied = errno == EACCES;
      status.Say("error", denied ? "cannot read " + stateDir + "/latest: " + std::strerror(EACCES)
                                 : "no card was read through " + o.Device + " (no " + stateDir +
                                       "/latest link for it)");
      status.Fail(kExitAcquisition);
    } else {
      ids.push_back(id);
    }
  }
  std::vector<CardHistory> cards;
  for (const std::string &id : ids) {
    CardHistory card;
    if (LoadCard(o, stateDir, id, card, status))
      cards.push_back(std::move(card));
    else
      status.Fail(kExitAcquisition);
  }
  RunRecord &run = status.Run();
  run.ExitStatus = status.Status();
  if (o.Json) {
    Json document = BuildJson(run);
    Json list = Json::array();
    for (const CardHistory &c : cards)
      list.push_back(CardJson(c, !o.Device.empty()));
    document["cards"] = list;
    std::cout << JsonText(document);
  } else if (!o.Device.empty() && !cards.empty()) {
    std::cout << CardText(cards.front(), o.Ascii || !Utf8Locale());
  } else if (!cards.empty()) {
    std::cout << ListText(cards);
  }
  std::cout.flush();
  return run.ExitStatus;
}

} // namespace sdsmart_tool
