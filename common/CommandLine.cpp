#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

namespace {

// A finite number in decimal or exponent notation, an optional sign in front
// and nothing else in the text; read the same whatever the locale.
bool ReadNumber(const std::string& text, double& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin != end && *begin == '+' && begin + 1 != end && begin[1] != '-') {
    ++begin;  // from_chars takes a minus sign alone
  }
  double parsed = 0.0;
  const auto [stop, error] = std::from_chars(begin, end, parsed);
  if (error != std::errc() || stop != end || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

T_CommandOption T_CommandOption::Needing(std::string other) && {
  needs = std::move(other);
  return std::move(*this);
}

T_CommandOption FlagOption(std::string name, bool& target, std::string description) {
  return {std::move(name), EOptionValue::eNone,
          [&target](const std::string&) {
            target = true;
            return std::string();
          },
          "", std::move(description)};
}

T_CommandOption TextOption(std::string name, std::string& target, std::string need, std::string valueName,
                           std::string description) {
  return {std::move(name), EOptionValue::eRequired,
          [&target, need = std::move(need)](const std::string& value) {
            if (value.empty() && !need.empty()) {
              return need;
            }
            target = value;
            return std::string();
          },
          std::move(valueName), std::move(description)};
}

T_CommandOption NumbersOption(std::string name, std::span<double> target, std::string need, std::string valueName,
                              std::string description) {
  return {std::move(name), EOptionValue::eRequired,
          [target, need = std::move(need)](const std::string& value) {
            std::vector<double> numbers;
            size_t start = 0;
            while (numbers.size() <= target.size()) {
              const size_t comma = std::min(value.find(',', start), value.size());
              double number = 0.0;
              if (!ReadNumber(value.substr(start, comma - start), number)) {
                return need;
              }
              numbers.push_back(number);
              if (comma == value.size()) {
                break;
              }
              start = comma + 1;
            }
            if (numbers.size() != target.size()) {
              return need;
            }
            std::copy(numbers.begin(), numbers.end(), target.begin());
            return std::string();
          },
          std::move(valueName), std::move(description)};
}

T_CommandOption NumberOption(std::string name, double& target, double minimum, EBound bound, std::string need,
                             std::string valueName, std::string description) {
  return {std::move(name), EOptionValue::eRequired,
          [&target, minimum, bound, need = std::move(need)](const std::string& value) {
            double number = 0.0;
            if (!ReadNumber(value, number) || number < minimum || (bound == EBound::eAbove && number == minimum)) {
              return need;
            }
            target = number;
            return std::string();
          },
          std::move(valueName), std::move(description)};
}

T_CommandOption CountOption(std::string name, unsigned& target, unsigned minimum, unsigned maximum, std::string need,
                            std::string valueName, std::string description) {
  return {std::move(name), EOptionValue::eRequired,
          [&target, minimum, maximum, need = std::move(need)](const std::string& value) {
            double number = 0.0;
            if (!ReadNumber(value, number) || number < minimum || number > maximum || number != std::floor(number)) {
              return need;
            }
            target = static_cast<unsigned>(number);
            return std::string();
          },
          std::move(valueName), std::move(description)};
}

std::string ParseCommandLine(const std::vector<std::string>& arguments, const std::vector<T_CommandOption>& table) {
  const auto find = [&table](const std::string& name) {
    return std::find_if(table.begin(), table.end(), [&name](const T_CommandOption& option) {
      return name == option.name || (!option.alias.empty() && name == option.alias);
    });
  };
  std::vector<bool> given(table.size(), false);
  for (size_t at = 0; at < arguments.size(); ++at) {
    const std::string& argument = arguments[at];
    std::string name = argument;
    std::optional<std::string> attached;
    if (const size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      name = argument.substr(0, equals);
      attached = argument.substr(equals + 1);
    }
    const auto option = find(name);
    if (option == table.end()) {
      return "unknown argument " + Quoted(argument);
    }
    std::string value;
    if (attached) {
      if (option->value == EOptionValue::eNone) {
        return "option " + Quoted(name) + " takes no value";
      }
      value = *attached;
    } else if (option->value == EOptionValue::eRequired) {
      if (at + 1 >= arguments.size()) {
        return "option " + Quoted(name) + " needs a value";
      }
      value = arguments[++at];
    } else if (option->value == EOptionValue::eOptional && at + 1 < arguments.size() &&
               arguments[at + 1].rfind('-', 0) != 0) {
      value = arguments[++at];
    }
    if (const std::string need = option->take(value); !need.empty()) {
      return "option " + Quoted(name) + " needs " + need + (value.empty() ? "" : ", not " + Quoted(value));
    }
    given[static_cast<size_t>(option - table.begin())] = true;
  }
  for (size_t i = 0; i < table.size(); ++i) {
    if (!given[i] || table[i].needs.empty()) {
      continue;
    }
    const auto needed = find(table[i].needs);
    if (needed == table.end() || !given[static_cast<size_t>(needed - table.begin())]) {
      return table[i].name + " needs " + table[i].needs;
    }
  }
  return {};
}

std::string CommandUsage(const std::vector<T_CommandOption>& table, size_t column) {
  const std::string indent(column, ' ');
  std::string usage;
  for (const T_CommandOption& option : table) {
    if (option.description.empty()) {
      continue;
    }
    std::string label = "  " + option.name;
    if (!option.valueName.empty()) {
      label += " " + option.valueName;
    }
    usage += label.size() < column ? label + std::string(column - label.size(), ' ') : label + "\n" + indent;
    for (size_t start = 0;;) {
      const size_t end = option.description.find('\n', start);
      usage += option.description.substr(start, end - start) + "\n";
      if (end == std::string::npos) {
        break;
      }
      start = end + 1;
      usage += indent;
    }
  }
  return usage;
}
