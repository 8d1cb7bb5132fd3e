#include "TypeHash.h"

#include <openssl/evp.h>

#include <cstdio>
#include <set>

namespace skarvdds {

namespace {

const T_TypeDescription* Find(std::string_view name, std::span<const T_TypeDescription> types) {
  for (const T_TypeDescription& type : types) {
    if (type.name == name) {
      return &type;
    }
  }
  return nullptr;
}

// A JSON string as Python's json.dumps writes it. ROS names are ASCII
// identifiers and slashes, so only the escapes below can ever be needed.
void AppendString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

// One type as {"type_name": ..., "fields": [...]}, with the separators
// ", " and ": " of the reference generator, keys in its order.
void AppendType(std::string& out, const T_TypeDescription& type) {
  out += "{\"type_name\": ";
  AppendString(out, type.name);
  out += ", \"fields\": [";
  for (size_t i = 0; i < type.fields.size(); ++i) {
    const T_FieldDescription& field = type.fields[i];
    out += i == 0 ? "{\"name\": " : ", {\"name\": ";
    AppendString(out, field.name);
    out += ", \"type\": {\"type_id\": " + std::to_string(field.typeId);
    out += ", \"capacity\": " + std::to_string(field.capacity);
    out += ", \"string_capacity\": " + std::to_string(field.stringCapacity);
    out += ", \"nested_type_name\": ";
    AppendString(out, field.nestedType);
    out += "}}";
  }
  out += "]}";
}

// Every type `type` refers to, directly or through others; false with
// `error` set when one is not in `types`.
bool CollectReferences(const T_TypeDescription& type, std::span<const T_TypeDescription> types,
                       std::set<std::string_view>& found, std::string& error) {
  for (const T_FieldDescription& field : type.fields) {
    if (field.nestedType.empty() || found.count(field.nestedType)) {
      continue;
    }
    const T_TypeDescription* nested = Find(field.nestedType, types);
    if (!nested) {
      error = "no description of " + std::string(field.nestedType) + ", which " + std::string(type.name) +
              " refers to";
      return false;
    }
    found.insert(field.nestedType);
    if (!CollectReferences(*nested, types, found, error)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string HashableRepresentation(std::string_view typeName, std::span<const T_TypeDescription> types,
                                   std::string& error) {
  const T_TypeDescription* type = Find(typeName, types);
  if (!type) {
    error = "no description of " + std::string(typeName);
    return {};
  }
  std::set<std::string_view> references;  // sorted by name, as the hash wants them
  if (!CollectReferences(*type, types, references, error)) {
    return {};
  }
  std::string out = "{\"type_description\": ";
  AppendType(out, *type);
  out += ", \"referenced_type_descriptions\": [";
  bool first = true;
  for (const std::string_view name : references) {
    out += first ? "" : ", ";
    first = false;
    AppendType(out, *Find(name, types));
  }
  out += "]}";
  return out;
}

std::string Rihs01Hash(std::string_view typeName, std::span<const T_TypeDescription> types, std::string& error) {
  const std::string text = HashableRepresentation(typeName, types, error);
  return text.empty() ? std::string() : "RIHS01_" + Sha256Hex(text);
}

std::string Sha256Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    return {};
  }
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string RosTypeName(std::string_view ddsTypeName) {
  constexpr std::string_view kMiddle = "::msg::dds_::";
  const size_t middle = ddsTypeName.find(kMiddle);
  if (middle == std::string_view::npos || middle == 0 || !ddsTypeName.ends_with('_')) {
    return {};
  }
  const std::string_view package = ddsTypeName.substr(0, middle);
  std::string_view name = ddsTypeName.substr(middle + kMiddle.size());
  name.remove_suffix(1);
  if (name.empty() || package.find(':') != std::string_view::npos || name.find(':') != std::string_view::npos) {
    return {};
  }
  return std::string(package) + "/msg/" + std::string(name);
}

}  // namespace skarvdds
