// A checker of the Prometheus text exposition format (version 0.0.4), as a
// textfile collector reads it: HELP/TYPE lines, metric and label names,
// label-value quoting and escapes, sample values, grouping of a metric's
// samples, and no repeated series.
#pragma once

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
  std::map<std::string, std::string> types, help;
};

// Empty string when the text is valid; otherwise the first problem.
inline std::string Check(const std::string &text, Parsed &out) {
  static const std::string name = "([a-zA-Z_:][a-zA-Z0-9_:]*)",
                           label = R"(([a-zA-Z_][a-zA-Z0-9_]*)=\"((?:[^"\\]|\\[\\"n])*)\")";
  static const std::regex help("# HELP " + name + R"( ((?:[^\\]|\\[\\n])*))"),
      type("# TYPE " + name + " (counter|gauge|histogram|summary|untyped)"), one_label(label),
      sample(name + "(?:\\{((?:" + label + ",)*(?:" + label + ",?)?)\\})? " +
             R"((NaN|[+-]Inf|[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?)(?: -?\d+)?)");
  if (!text.empty() && text.back() != '\n')
    return "the text does not end with a line feed";
  std::istringstream in(text);
  std::string line, current;
  std::set<std::string> finished, series;
  for (int n = 1; std::getline(in, line); ++n) {
    std::string where = "line " + std::to_string(n) + ": ";
    std::smatch m;
    bool is_help = line.compare(0, 7, "# HELP ") == 0, is_type = line.compare(0, 7, "# TYPE ") == 0;
    if (line.empty() || (line[0] == '#' && !is_help && !is_type))
      continue; // a plain comment
    if (is_help || is_type) {
      if (!std::regex_match(line, m, is_help ? help : type))
        return where + "bad HELP or TYPE line";
      if (is_type && (finished.count(m[1]) || current == m[1]))
        return where + "TYPE after samples of " + std::string(m[1]);
      if (!(is_help ? out.help : out.types).emplace(m[1], m[2]).second)
        return where + "second HELP or TYPE line for " + std::string(m[1]);
      continue;
    }
    if (!std::regex_match(line, m, sample))
      return where + "not a sample line";
    Sample s{m[1], {}, std::strtod(std::string(m.str(m.size() - 1)).c_str(), nullptr)};
    std::string labels = m[2];
    for (std::sregex_iterator it(labels.begin(), labels.end(), one_label), end; it != end; ++it) {
      std::string value, escaped = (*it)[2];
      for (size_t i = 0; i < escaped.size(); ++i)
        value += escaped[i] != '\\' ? escaped[i] : escaped[++i] == 'n' ? '\n' : escaped[i];
      if ((*it)[1].str().compare(0, 2, "__") == 0 || !s.labels.emplace((*it)[1], value).second)
        return where + "reserved or repeated label " + (*it)[1].str();
    }
    if (s.name != current) {
      if (finished.count(s.name))
        return where + "samples of " + s.name + " are not grouped together";
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
