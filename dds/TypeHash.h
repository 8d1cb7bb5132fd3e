#pragma once
// ROS 2's type hash (RIHS01, "ROS Interface Hashing Standard" version 1):
// the SHA-256 of a type's description written as canonical JSON. ROS 2
// nodes read it from every endpoint's USER_DATA ("typehash=RIHS01_...;") and
// take an endpoint without one for a type they cannot check.
//
// The description is the type's own fields together with every type it
// refers to, directly or not, sorted by name. A field carries its name, its
// type id (type_description_interfaces/FieldType), the capacity of a fixed
// array or bounded sequence, the bound of a bounded string and the name of a
// nested type. Constants, default values and comments do not enter it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace skarvdds {

// The field type ids of type_description_interfaces/msg/FieldType. ROS's
// .msg `byte` is kByte and `char` is kUint8 (both go through IDL as octet
// and uint8); float32 and float64 are kFloat and kDouble.
namespace fieldtype {
inline constexpr uint8_t kNested = 1;
inline constexpr uint8_t kInt8 = 2;
inline constexpr uint8_t kUint8 = 3;
inline constexpr uint8_t kInt16 = 4;
inline constexpr uint8_t kUint16 = 5;
inline constexpr uint8_t kInt32 = 6;
inline constexpr uint8_t kUint32 = 7;
inline constexpr uint8_t kInt64 = 8;
inline constexpr uint8_t kUint64 = 9;
inline constexpr uint8_t kFloat = 10;
inline constexpr uint8_t kDouble = 11;
inline constexpr uint8_t kLongDouble = 12;
inline constexpr uint8_t kChar = 13;
inline constexpr uint8_t kWChar = 14;
inline constexpr uint8_t kBoolean = 15;
inline constexpr uint8_t kByte = 16;
inline constexpr uint8_t kString = 17;
inline constexpr uint8_t kWString = 18;
inline constexpr uint8_t kBoundedString = 21;
inline constexpr uint8_t kBoundedWString = 22;
// Added to an element's id: T[N], T[<=N] and T[].
inline constexpr uint8_t kArray = 48;
inline constexpr uint8_t kBoundedSequence = 96;
inline constexpr uint8_t kUnboundedSequence = 144;
}  // namespace fieldtype

struct T_FieldDescription {
  std::string_view name;
  uint8_t typeId = 0;
  // The size of a fixed array or the bound of a bounded sequence, else 0.
  uint64_t capacity = 0;
  // The bound of a bounded string (or of each string of an array), else 0.
  uint64_t stringCapacity = 0;
  // "package/msg/Name" of a nested type (or of the elements of an array of
  // them), else empty.
  std::string_view nestedType = {};
};

struct T_TypeDescription {
  std::string_view name;  // "package/msg/Name"
  std::span<const T_FieldDescription> fields;
};

// The canonical JSON of `typeName` and the types it refers to, all looked up
// in `types`: what the hash is taken of. Empty, with `error` set, when a type
// is not in `types`.
std::string HashableRepresentation(std::string_view typeName, std::span<const T_TypeDescription> types,
                                   std::string& error);

// "RIHS01_" and the SHA-256 of HashableRepresentation in lowercase hex, or
// empty with `error` set.
std::string Rihs01Hash(std::string_view typeName, std::span<const T_TypeDescription> types, std::string& error);

// The SHA-256 of `text` in lowercase hex.
std::string Sha256Hex(std::string_view text);

// The ROS 2 name of a type from the name DDS carries for it:
// "sensor_msgs::msg::dds_::LaserScan_" gives "sensor_msgs/msg/LaserScan".
// Empty for a name not of that form.
std::string RosTypeName(std::string_view ddsTypeName);

}  // namespace skarvdds
