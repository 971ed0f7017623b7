#include "velmora/host/properties.h"

#include <charconv>

#include "velmora/host/text.h"

namespace velmora::host {

namespace detail {

void ThrowWrongClass(const std::string& prop, const TObject& object) {
  throw Exception("Property " + prop + " does not belong to class " + object.ClassName());
}

std::string OrdinalDefaultText(TypeKind kind, int64_t value,
                               const std::vector<std::string>& names) {
  if (kind == TypeKind::Boolean) return value ? "True" : "False";
  if (kind == TypeKind::Enumeration && value >= 0 && value < static_cast<int64_t>(names.size())) {
    return names[static_cast<size_t>(value)];
  }
  return std::to_string(value);
}

}  // namespace detail

namespace {

[[noreturn]] void BadValue(const PropInfo& prop, std::string_view text) {
  throw EConvertError("Invalid value '" + std::string(text) + "' for property " + prop.name);
}

[[noreturn]] void NoAccessor(const PropInfo& prop, const char* what) {
  throw Exception(std::string("Property ") + prop.name + " has no " + what);
}

}  // namespace

std::string GetPropText(const TObject& object, const PropInfo& prop) {
  if (prop.kind == TypeKind::String) {
    if (!prop.get_string) NoAccessor(prop, "getter");
    return prop.get_string(object);
  }
  if (!prop.get_ordinal) NoAccessor(prop, "getter");
  return detail::OrdinalDefaultText(prop.kind, prop.get_ordinal(object), prop.enum_names);
}

void SetPropText(TObject& object, const PropInfo& prop, std::string_view text) {
  if (prop.kind == TypeKind::String) {
    if (!prop.set_string) NoAccessor(prop, "setter");
    prop.set_string(object, std::string(text));
    return;
  }
  if (!prop.set_ordinal) NoAccessor(prop, "setter");
  int64_t value = 0;
  switch (prop.kind) {
    case TypeKind::Boolean:
      if (SameText(text, "True")) {
        value = 1;
      } else if (SameText(text, "False")) {
        value = 0;
      } else {
        BadValue(prop, text);
      }
      break;
    case TypeKind::Enumeration: {
      int found = -1;
      for (size_t i = 0; i < prop.enum_names.size() && found < 0; ++i) {
        if (prop.enum_names[i] == text) found = static_cast<int>(i);
      }
      for (size_t i = 0; i < prop.enum_names.size() && found < 0; ++i) {
        if (SameText(prop.enum_names[i], text)) found = static_cast<int>(i);
      }
      if (found < 0) BadValue(prop, text);
      value = found;
      break;
    }
    default: {
      std::string_view digits = text;
      if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
      if (digits.empty() || digits[0] == '+' || (digits[0] == '-' && text[0] == '+')) {
        BadValue(prop, text);
      }
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
      if (ec != std::errc() || end != digits.data() + digits.size()) BadValue(prop, text);
      if (value < prop.min_value || value > prop.max_value) BadValue(prop, text);
      break;
    }
  }
  prop.set_ordinal(object, value);
}

const PropInfo* FindProperty(const std::vector<PropInfo>& props, std::string_view name) {
  for (const PropInfo& p : props) {
    if (p.name == name) return &p;
  }
  for (const PropInfo& p : props) {
    if (SameText(p.name, name)) return &p;
  }
  return nullptr;
}

const PropInfo* FindProperty(const TComponent& component, std::string_view name) {
  return FindProperty(component.PublishedProperties(), name);
}

bool IsDefaultPropValue(const TObject& object, const PropInfo& prop) {
  return prop.stream_default && GetPropText(object, prop) == *prop.stream_default;
}

}  // namespace velmora::host
