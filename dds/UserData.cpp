#include "UserData.h"

namespace skarvdds {

namespace {

// Calls `use(part)` for each part between ';' until it returns true; whether
// one did.
template <typename Use>
bool AnyPart(std::string_view userData, Use use) {
  while (!userData.empty()) {
    const size_t end = userData.find(';');
    if (use(userData.substr(0, end))) {
      return true;
    }
    if (end == std::string_view::npos) {
      break;
    }
    userData.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace

std::string UserDataEntry(std::string_view key, std::string_view value) {
  std::string entry(key);
  entry += '=';
  entry += value;
  entry += ';';
  return entry;
}

std::optional<std::string_view> UserDataValue(std::string_view userData, std::string_view key) {
  std::optional<std::string_view> value;
  AnyPart(userData, [&](std::string_view part) {
    const size_t equals = part.find('=');
    if (equals != std::string_view::npos && part.substr(0, equals) == key) {
      value = part.substr(equals + 1);
      return true;
    }
    return false;
  });
  return value;
}

bool IsEntryList(std::string_view userData) {
  return !AnyPart(userData, [](std::string_view part) {
    const size_t equals = part.find('=');
    return !part.empty() && (equals == std::string_view::npos || equals == 0);
  });
}

}  // namespace skarvdds
