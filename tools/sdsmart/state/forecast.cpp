// SPDX-License-Identifier: MIT
#include "state/forecast.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace sdsmart_tool {
namespace {

constexpr double kDay = 86400;
constexpr double kMonthDays = 365.25 / 12;

// Slope of the least-squares line through (x, y).
double Slope(const std::vector<double> &x, const std::vector<double> &y) {
  double mx = 0, my = 0;
  for (size_t i = 0; i < x.size(); ++i)
    mx += x[i], my += y[i];
  mx /= static_cast<double>(x.size());
  my /= static_cast<double>(x.size());
  double sxy = 0, sxx = 0;
  for (size_t i = 0; i < x.size(); ++i)
    sxy += (x[i] - mx) * (y[i] - my), sxx += (x[i] - mx) * (x[i] - mx);
  return sxx > 0 ? sxy / sxx : 0;
}

double Mean(const std::vector<double> &v) {
  double sum = 0;
  for (double d : v)
    sum += d;
  return sum / static_cast<double>(v.size());
}

std::string Fixed(double v, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string Plural(double n, const char *one, const char *many) {
  return Fixed(n, 0) + " " + (std::lround(n) == 1 ? one : many);
}

} // namespace

WearForecast MakeForecast(const std::vector<HistoryReading> &readings, unsigned windowDays,
                          double limitPercent) {
  WearForecast f;
  f.WindowDays = windowDays;
  f.LimitPercent = limitPercent;
  f.Status = "not enough history";
  WriteVolume writes;
  f.WritesWhy = WriteVolumeOf(readings, windowDays, writes);
  if (f.WritesWhy.empty())
    f.Writes = writes;
  // An implausible reading decides nothing (plausibility.h), nor does one
  // without a life figure.
  std::vector<const HistoryReading *> usable;
  for (const HistoryReading &r : readings)
    if (!r.Implausible && r.UsedPercent && r.RemainingPercent && std::isfinite(*r.UsedPercent))
      usable.push_back(&r);
  if (readings.empty() || usable.empty())
    return f;
  const double newest = static_cast<double>(readings.back().Time);
  std::vector<double> days, used, erases;
  for (const HistoryReading *r : usable)
    if (newest - static_cast<double>(r->Time) <= windowDays * kDay) {
      days.push_back((static_cast<double>(r->Time) - newest) / kDay);
      used.push_back(*r->UsedPercent);
      erases.push_back(static_cast<double>(r->TotalErases));
    }
  f.Readings = days.size();
  f.Days = days.empty() ? 0 : days.back() - days.front();
  f.RateKnown = f.Readings >= kForecastMinReadings && f.Days >= kForecastMinDays;
  // A limit the readings have reached: since the first of the readings at
  // or below it that run up to the newest.
  auto since = [&](double remaining) -> std::optional<int64_t> {
    std::optional<int64_t> first;
    for (auto r = usable.rbegin(); r != usable.rend() && *(*r)->RemainingPercent <= remaining; ++r)
      first = (*r)->Time;
    return first;
  };
  f.LimitAt = since(limitPercent);
  f.LimitReached = f.LimitAt.has_value();
  f.ZeroAt = since(0);
  if (f.RateKnown) {
    // Used life and erases only grow: a line that falls is no wear.
    f.UsedPerDay = std::max(0.0, Slope(days, used));
    f.ErasesPerDay = std::max(0.0, Slope(days, erases));
    // A slope far below what one erase makes is the rounding of equal
    // readings taken at uneven times; its limit dates would lie past any date.
    if (!(f.UsedPerDay >= kLeastWearPercentPerDay))
      f.UsedPerDay = 0;
    if (f.Writes && f.Writes->BytesPerDay > 0)
      f.Writes->LifePercentPerTb = f.UsedPerDay / (f.Writes->BytesPerDay / 1e12);
  }
  if (f.ZeroAt) {
    f.Status = "exhausted";
    return f;
  }
  if (!f.RateKnown)
    return f;
  if (f.UsedPerDay == 0) {
    f.Status = "no wear seen";
    return f;
  }
  f.Status = "ok";
  // The fitted line's value at the newest reading, then onwards at its rate
  // (never before the newest reading: those limits were not reached).
  const double usedNow = Mean(used) - f.UsedPerDay * Mean(days);
  auto when = [&](double remaining) {
    double daysLeft = std::max(0.0, (100.0 - remaining - usedNow) / f.UsedPerDay);
    return static_cast<int64_t>(std::llround(newest + daysLeft * kDay));
  };
  if (!f.LimitAt)
    f.LimitAt = when(limitPercent);
  f.ZeroAt = when(0);
  return f;
}

std::string DateText(int64_t time, const char *format) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  char text[32] = "";
  if (::gmtime_r(&t, &tm))
    std::strftime(text, sizeof text, format, &tm);
  return text;
}

std::string ForecastLine(const WearForecast &f) {
  std::string over = " over " + Plural(f.Days, "day", "days") + " (" +
                     Plural(static_cast<double>(f.Readings), "reading", "readings") + ")";
  std::string line;
  if (!f.RateKnown)
    line = "Wear rate: not enough history (" +
           Plural(static_cast<double>(f.Readings), "reading", "readings") + " over " +
           Plural(f.Days, "day", "days") + "; a forecast needs at least " +
           std::to_string(kForecastMinReadings) + " over " + Fixed(kForecastMinDays, 0) + " days)";
  else if (!(f.UsedPerDay > 0))
    line = "Wear rate: no wear seen" + over;
  else
    line = "Wear rate: " + Fixed(f.UsedPerDay * kMonthDays, 2) + " % a month" + over;
  if (f.Status == "exhausted")
    return line + "; life exhausted since " + DateText(*f.ZeroAt) + "\n";
  if (f.LimitReached)
    line += "; remaining life at or below " + Fixed(f.LimitPercent, 0) + " % since " +
            DateText(*f.LimitAt);
  else if (f.LimitAt)
    line += "; remaining life reaches " + Fixed(f.LimitPercent, 0) + " % around " +
            DateText(*f.LimitAt).substr(0, 7);
  if (f.ZeroAt && f.LimitPercent != 0)
    line += ", 0 % around " + DateText(*f.ZeroAt).substr(0, 7);
  return line + "\n";
}

nlohmann::ordered_json ForecastJson(const WearForecast &f) {
  using J = nlohmann::ordered_json;
  J j;
  j["card_id"] = f.CardId;
  j["status"] = f.Status;
  j["window_days"] = f.WindowDays;
  j["readings"] = f.Readings;
  j["days"] = std::round(f.Days * 100) / 100; // runs minutes apart read the same
  j["used_percent_per_day"] = f.RateKnown ? J(f.UsedPerDay) : J(nullptr);
  j["erases_per_day"] = f.RateKnown ? J(f.ErasesPerDay) : J(nullptr);
  j["limit_percent"] = f.LimitPercent;
  j["limit_date"] = f.LimitAt ? J(DateText(*f.LimitAt)) : J(nullptr);
  j["limit_timestamp"] = f.LimitAt ? J(*f.LimitAt) : J(nullptr);
  j["zero_date"] = f.ZeroAt ? J(DateText(*f.ZeroAt)) : J(nullptr);
  j["zero_timestamp"] = f.ZeroAt ? J(*f.ZeroAt) : J(nullptr);
  j["skipped_lines"] = f.Skipped;
  j["write_volume"] = WriteVolumeJson(f.Writes);
  return j;
}

std::string ForecastMetrics(const std::string &labels, const WearForecast &f) {
  std::string text;
  char value[64];
  if (f.RateKnown) {
    std::snprintf(value, sizeof value, "%.12g", f.UsedPerDay / 100);
    text += "# HELP sdsmart_life_used_ratio_per_day Share of the rated life the card uses a day, "
            "from its history.\n# TYPE sdsmart_life_used_ratio_per_day gauge\n"
            "sdsmart_life_used_ratio_per_day{" +
            labels + "} " + value + "\n";
  }
  if (f.LimitAt) {
    std::snprintf(value, sizeof value, "%lld", static_cast<long long>(*f.LimitAt));
    text += "# HELP sdsmart_life_end_timestamp_seconds When the remaining life reaches the "
            "failure limit at the present wear rate (reached: when a reading first showed it).\n"
            "# TYPE sdsmart_life_end_timestamp_seconds gauge\nsdsmart_life_end_timestamp_seconds{" +
            labels + "} " + value + "\n";
  }
  return text + WriteVolumeMetrics(labels, f.Writes);
}

} // namespace sdsmart_tool
