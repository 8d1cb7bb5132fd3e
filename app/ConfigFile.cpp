#include "ConfigFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

constexpr char kOption[] = "--config";

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ReadOptions(const std::string& file, std::vector<std::string>& out, std::string& error) {
  std::ifstream in(file);
  if (!in) {
    error = file + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("--", 0) == 0) line.erase(0, 2);
    const size_t space = line.find_first_of(" \t");
    const std::string name = "--" + line.substr(0, space);
    if (line[0] == '-' || name == kOption) {
      error = file + ":" + std::to_string(number) + ": not an option of the recorder: " + line;
      return false;
    }
    out.push_back(name);
    if (space != std::string::npos) out.push_back(Trimmed(line.substr(space)));
  }
  if (in.bad()) {
    error = file + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool ExpandConfigFiles(std::vector<std::string>& arguments, std::string& error) {
  std::vector<std::string> expanded;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string file;
    if (argument == kOption) {
      if (i + 1 == arguments.size()) {
        error = "option '--config' needs a value";
        return false;
      }
      file = arguments[++i];
    } else if (argument.rfind(std::string(kOption) + "=", 0) == 0) {
      file = argument.substr(sizeof kOption);
    } else {
      expanded.push_back(argument);
      continue;
    }
    if (!ReadOptions(file, expanded, error)) return false;
  }
  arguments = std::move(expanded);
  return true;
}
