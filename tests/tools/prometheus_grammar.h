// A checker of the Prometheus text exposition format (version 0.0.4), as a
// textfile collector reads it: HELP/TYPE lines, metric and label names,
// label-value quoting and escapes, sample values, grouping of a metric's
// samples, and no repeated series.
#pragma once

#include <cmath>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace prometheus_text {

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct Parsed {
  std::vector<Sample> samples;
  std::map<std::string, std::string> types;
  std::map<std::string, std::string> help;
};

// Empty string when the text is valid; otherwise the first problem.
inline std::string Check(const std::string &text, Parsed &out) {
  static const std::regex metric_name("[a-zA-Z_:][a-zA-Z0-9_:]*");
  static const std::regex label_name("[a-zA-Z_][a-zA-Z0-9_]*");
  if (!text.empty() && text.back() != '\n')
    return "the text does not end with a line feed";
  std::istringstream in(text);
  std::string line;
  int n = 0;
  std::string current;
  std::set<std::string> finished, series;
  while (std::getline(in, line)) {
    ++n;
    std::string where = "line " + std::to_string(n) + ": ";
    if (line.empty())
      continue;
    if (line[0] == '#') {
      std::istringstream words(line.substr(1));
      std::string kw, name;
      words >> kw >> name;
      if (kw != "HELP" && kw != "TYPE")
        continue; // a plain comment
      if (!std::regex_match(name, metric_name))
        return where + "bad metric name in " + kw;
      std::string rest;
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ')
        rest.erase(0, 1);
      if (kw == "TYPE") {
        static const std::set<std::string> kinds{"counter", "gauge", "histogram", "summary",
                                                 "untyped"};
        if (!kinds.count(rest))
          return where + "unknown type '" + rest + "'";
        if (out.types.count(name))
          return where + "second TYPE line for " + name;
        for (const Sample &s : out.samples)
          if (s.name == name)
            return where + "TYPE after samples of " + name;
        out.types[name] = rest;
      } else {
        if (out.help.count(name))
          return where + "second HELP line for " + name;
        for (size_t i = 0; i < rest.size(); ++i)
          if (rest[i] == '\\' &&
              (i + 1 >= rest.size() || (rest[i + 1] != '\\' && rest[i + 1] != 'n')))
            return where + "bad escape in HELP";
          else if (rest[i] == '\\')
            ++i;
        out.help[name] = rest;
      }
      continue;
    }
    Sample s;
    size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ')
      ++i;
    s.name = line.substr(0, i);
    if (!std::regex_match(s.name, metric_name))
      return where + "bad metric name '" + s.name + "'";
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (true) {
        if (i < line.size() && line[i] == '}') {
          ++i;
          break;
        }
        size_t eq = line.find('=', i);
        if (eq == std::string::npos)
          return where + "label without '='";
        std::string lname = line.substr(i, eq - i);
        if (!std::regex_match(lname, label_name) || lname.compare(0, 2, "__") == 0)
          return where + "bad label name '" + lname + "'";
        i = eq + 1;
        if (i >= line.size() || line[i] != '"')
          return where + "label value not quoted";
        ++i;
        std::string value;
        bool closed = false;
        while (i < line.size()) {
          char c = line[i++];
          if (c == '"') {
            closed = true;
            break;
          }
          if (c == '\\') {
            if (i >= line.size())
              return where + "dangling backslash";
            char e = line[i++];
            if (e == 'n')
              value += '\n';
            else if (e == '\\' || e == '"')
              value += e;
            else
              return where + "bad escape \\" + std::string(1, e);
          } else {
            value += c;
          }
        }
        if (!closed)
          return where + "unterminated label value";
        if (s.labels.count(lname))
          return where + "repeated label " + lname;
        s.labels[lname] = value;
        if (i < line.size() && line[i] == ',')
          ++i;
        else if (i >= line.size() || line[i] != '}')
          return where + "expected ',' or '}' after a label";
      }
    }
    if (i >= line.size() || line[i] != ' ')
      return where + "no blank before the value";
    std::istringstream rest(line.substr(i + 1));
    std::string value, timestamp, extra;
    rest >> value >> timestamp >> extra;
    if (!extra.empty())
      return where + "trailing text";
    if (value == "NaN" || value == "+Inf" || value == "-Inf" || value == "Inf") {
      s.value = value == "NaN" ? NAN : (value[0] == '-' ? -HUGE_VAL : HUGE_VAL);
    } else {
      char *end = nullptr;
      s.value = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0')
        return where + "bad value '" + value + "'";
    }
    if (!timestamp.empty() && timestamp.find_first_not_of("-0123456789") != std::string::npos)
      return where + "bad timestamp";
    if (s.name != current) {
      if (finished.count(s.name))
        return where + "samples of " + s.name + " are not grouped together";
      if (!current.empty())
        finished.insert(current);
      current = s.name;
    }
    std::string key = s.name;
    for (const auto &l : s.labels)
      key += "|" + l.first + "=" + l.second;
    if (!series.insert(key).second)
      return where + "repeated series " + key;
    out.samples.push_back(s);
  }
  return "";
}

} // namespace prometheus_text
