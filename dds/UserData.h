#pragma once
// An endpoint's USER_DATA as ROS 2 reads it: "key=value;" entries, of which
// ROS 2 takes the ones it knows ("typehash") and ignores the rest. A value
// must not hold ';'.

#include <optional>
#include <string>
#include <string_view>

namespace skarvdds {

// The type's RIHS01 hash, which every endpoint carries.
inline constexpr std::string_view kTypeHashKey = "typehash";
// Who publishes ("skarv-record pid 4242 on robot1"), for readers to name it.
inline constexpr std::string_view kPublisherKey = "publisher";

// "key=value;"
std::string UserDataEntry(std::string_view key, std::string_view value);

// The value of the first entry of `key` in `userData`, nothing when there is
// none. A part without a key before its "=" is no entry.
std::optional<std::string_view> UserDataValue(std::string_view userData, std::string_view key);

// Whether every part of `userData` is an entry (true when it is empty):
// false for the plain text an older publisher sends as its name.
bool IsEntryList(std::string_view userData);

}  // namespace skarvdds
