#pragma once
// One grammar for the command line of every program. Options are declared in
// tables (a name, whether it takes a value, what it sets, its lines in the
// usage text) and one parser walks the arguments against them. An option's
// value follows it as the next argument or after '=' ("--name value",
// "--name=value"), and every usage error reads the same whichever program
// finds it.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

enum class EOptionValue {
  eNone,      // a flag: "--name=value" is refused
  eRequired,  // the next argument, whatever it is, or the text after '='
  eOptional,  // the next argument unless it starts with '-', or the text after '='
};

// Every member has its default, so that a table lists only what it sets.
struct T_CommandOption {
  std::string name{};  // "--name"
  EOptionValue value = EOptionValue::eNone;
  // Takes the option with its value ("" for a flag, or an optional value left
  // out). Returns what a usable value would be ("a folder") when this one is
  // not, "" once it is taken.
  std::function<std::string(const std::string& value)> take{};
  std::string valueName{};    // after the name in the usage text: "FILE", "[NS]"
  std::string description{};  // its usage, lines apart by '\n'; empty: not listed
  std::string alias{};        // a second name ("-h"), never listed
  std::string needs{};        // an option it is only used together with

  // This option, refused unless `other` is given too.
  T_CommandOption Needing(std::string other) &&;
};

// The commonest kinds of option.
T_CommandOption FlagOption(std::string name, bool& target, std::string description);
// Any text, or any but the empty one when `need` says what it must be
// instead ("a folder").
T_CommandOption TextOption(std::string name, std::string& target, std::string need, std::string valueName,
                           std::string description);
// A finite decimal number of at least `minimum`, or above it; `need` says so
// ("a number of seconds above 0").
enum class EBound { eAtLeast, eAbove };
T_CommandOption NumberOption(std::string name, double& target, double minimum, EBound bound, std::string need,
                             std::string valueName, std::string description);

// Exactly target.size() finite decimal numbers, separated by commas, into
// `target` (left as it was when the text is refused); `need` says so.
T_CommandOption NumbersOption(std::string name, std::span<double> target, std::string need, std::string valueName,
                              std::string description);

// A whole number from `minimum` to `maximum`; `need` says so.
T_CommandOption CountOption(std::string name, unsigned& target, unsigned minimum, unsigned maximum, std::string need,
                            std::string valueName, std::string description);

// Walks `arguments` against `table`, each option taking its value as it
// comes; then checks that every option given has the one it needs. Returns
// the first usage error, "" when the whole command line is usable.
std::string ParseCommandLine(const std::vector<std::string>& arguments, const std::vector<T_CommandOption>& table);

// The table's lines of a usage text: "  --name VALUE" with its description
// starting at `column` and each further line of it indented to there; a name
// too long for the column stands on a line of its own.
std::string CommandUsage(const std::vector<T_CommandOption>& table, size_t column);
