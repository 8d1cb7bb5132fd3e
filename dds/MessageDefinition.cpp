#include "MessageDefinition.h"

#include <algorithm>
#include <vector>

namespace skarvdds {

namespace {

using namespace fieldtype;

// "package/Name" of "package/msg/Name", as a .msg file refers to a type.
std::string MsgName(std::string_view typeName) {
  std::string name(typeName);
  const size_t at = name.find("/msg/");
  if (at != std::string::npos) name.erase(at, 4);
  return name;
}

std::string ElementType(const T_FieldDescription& field, std::string& error) {
  switch (field.typeId % kArray) {
    case kNested: return MsgName(field.nestedType);
    case kInt8: return "int8";
    case kUint8: return "uint8";
    case kInt16: return "int16";
    case kUint16: return "uint16";
    case kInt32: return "int32";
    case kUint32: return "uint32";
    case kInt64: return "int64";
    case kUint64: return "uint64";
    case kFloat: return "float32";
    case kDouble: return "float64";
    case kBoolean: return "bool";
    case kByte: return "byte";
    case kChar: return "char";
    case kString: return "string";
    case kBoundedString: return "string<=" + std::to_string(field.stringCapacity);
    default:
      error = "field " + std::string(field.name) + " has a type no definition is written for";
      return {};
  }
}

const T_TypeDescription* Find(std::string_view name, std::span<const T_TypeDescription> types) {
  const auto found = std::find_if(types.begin(), types.end(), [&](const T_TypeDescription& t) { return t.name == name; });
  return found == types.end() ? nullptr : &*found;
}

}  // namespace

std::string MessageDefinition(std::string_view typeName, std::span<const T_TypeDescription> types,
                              std::string& error) {
  // The type, then those it refers to in the order they are first met.
  std::vector<const T_TypeDescription*> order;
  const T_TypeDescription* first = Find(typeName, types);
  if (!first) {
    error = "no description of " + std::string(typeName);
    return {};
  }
  order.push_back(first);
  std::string text;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0) text += std::string(80, '=') + "\nMSG: " + MsgName(order[i]->name) + "\n";
    for (const T_FieldDescription& field : order[i]->fields) {
      std::string type = ElementType(field, error);
      if (type.empty()) return {};
      const uint8_t container = field.typeId / kArray * kArray;
      if (container == kArray) type += "[" + std::to_string(field.capacity) + "]";
      if (container == kBoundedSequence) type += "[<=" + std::to_string(field.capacity) + "]";
      if (container == kUnboundedSequence) type += "[]";
      text += type + " " + std::string(field.name) + "\n";
      if (field.typeId % kArray != kNested) continue;
      const T_TypeDescription* nested = Find(field.nestedType, types);
      if (!nested) {
        error = "no description of " + std::string(field.nestedType);
        return {};
      }
      if (std::find(order.begin(), order.end(), nested) == order.end()) order.push_back(nested);
    }
  }
  return text;
}

}  // namespace skarvdds
