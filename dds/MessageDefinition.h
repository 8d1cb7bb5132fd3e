#pragma once
// A ROS 2 message type's definition as the .msg text a ROS 2 recorder
// stores for it (schema encoding "ros2msg"): the type's own fields, then
// each type it refers to, directly or not, after a line of 80 '=' and
// "MSG: package/Name". Written from the same descriptions the type hashes
// are taken of, so a file's schema and a topic's hash never disagree.

#include <span>
#include <string>
#include <string_view>

#include "TypeHash.h"

namespace skarvdds {

// Empty, with `error` set, when a type is not in `types`.
std::string MessageDefinition(std::string_view typeName, std::span<const T_TypeDescription> types,
                              std::string& error);

}  // namespace skarvdds
