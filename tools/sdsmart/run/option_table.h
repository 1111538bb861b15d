// SPDX-License-Identifier: MIT
// The tool's options: one table drives getopt_long, what each option sets
// and --help. A row names the option, its short form, its argument, the
// setter that puts its value into Options, and its help: a new option is one
// row (and its field).
#pragma once

#include "run/options.h"

#include <cstddef>
#include <string>

namespace sdsmart_tool {

enum class Section { Output, HealthRules, Acquisition, OtherActions, Hidden };

// What an option takes after it.
enum class Arg { None, Required, Optional };

// What a setter works on: the options so far, the option as typed ("-c" or
// "--config") and its value (null when none was given). A refusal is put in
// Error and the setter returns false.
struct OptionUse {
  Options &O;
  const std::string &Name;
  const char *Value;
  bool &ActionGiven; // an action option came before
  std::string &Error;

  std::string Text() const { return Value ? Value : ""; }
  // The action the command line asks for; one only.
  bool Action(Mode mode);
  // "NAME WHAT" (a refusal), false.
  bool Refuse(const std::string &what);
  // "NAME wants WHAT, not 'VALUE'" (a refusal), false.
  bool Wants(const std::string &what);
  // An unsigned number from min to max (decimal, 0x hexadecimal or 0
  // octal), else Wants(what).
  bool Number(std::optional<unsigned> &field, unsigned long min, unsigned long max,
              const char *what);
  bool Number(unsigned &field, unsigned long min, unsigned long max, const char *what);
  // A percentage from 0 to 100.
  bool Percent(double &field);
};

using OptionSetter = bool (*)(OptionUse &use);

// One row of the table: an option (Name set) or a help row that is none
// (Shown set). Value is what --help prints after the name; Help holds the
// description, one line per '\n'. PassOn: whether each card's own run of
// --all gets the option as it was typed.
struct OptionSpec {
  Section Where;
  const char *Name;
  char Short; // 0: a long option only
  Arg Argument;
  OptionSetter Set;
  const char *Value;
  const char *Help;
  const char *Shown = nullptr;
  bool PassOn = true;
};

extern const OptionSpec kOptionTable[];
extern const std::size_t kOptionCount;

// Every row of the table, for range-for loops.
struct OptionRange {
  const OptionSpec *First, *Last;
  const OptionSpec *begin() const { return First; }
  const OptionSpec *end() const { return Last; }
};
inline OptionRange OptionRows() { return {kOptionTable, kOptionTable + kOptionCount}; }

// The value getopt_long returns for a row: its short form, else 256 and up.
int OptionId(const OptionSpec &spec);
// The row of an option id; null for none.
const OptionSpec *FindOption(int id);

} // namespace sdsmart_tool
