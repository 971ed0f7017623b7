// Published properties: the per-class list of a component's properties with
// their kind, accessors and stream default, and their text form.
//
// Text form: integers in decimal, Booleans "True"/"False" (any case on
// input), enumerations by value name, strings as they are.  The form
// streams, the command line (--set Name=value) and JSON output all go
// through GetPropText/SetPropText.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "velmora/host/classes.h"
#include "velmora/host/exception.h"

namespace velmora::host {

enum class TypeKind { Integer, Boolean, String, Enumeration };

struct PropInfo {
  std::string name;
  TypeKind kind = TypeKind::Integer;
  // Enumeration value names, ordinal 0 first.
  std::vector<std::string> enum_names;
  // The range of the property's C++ type (Integer).
  int64_t min_value = std::numeric_limits<int32_t>::min();
  int64_t max_value = std::numeric_limits<int32_t>::max();
  // Integer, Boolean (0/1) and Enumeration (ordinal) properties.
  std::function<int64_t(const TObject&)> get_ordinal;
  std::function<void(TObject&, int64_t)> set_ordinal;
  // String properties.
  std::function<std::string(const TObject&)> get_string;
  std::function<void(TObject&, const std::string&)> set_string;
  // The stream default in text form; a property whose text equals it is not
  // written to a form stream.  No default: always written.
  std::optional<std::string> stream_default;
};

// Property values in text form.
std::string GetPropText(const TObject& object, const PropInfo& prop);
// Assigns through the property's setter.  Text that does not convert raises
// EConvertError naming the property and the value.
void SetPropText(TObject& object, const PropInfo& prop, std::string_view text);

// The published property of that name (exact name first, then ignoring ASCII
// case); nullptr if the class has none.
const PropInfo* FindProperty(const TComponent& component, std::string_view name);
const PropInfo* FindProperty(const std::vector<PropInfo>& props, std::string_view name);

// True when the property holds its stream default.
bool IsDefaultPropValue(const TObject& object, const PropInfo& prop);

namespace detail {

[[noreturn]] void ThrowWrongClass(const std::string& prop, const TObject& object);

template <class C>
const C& As(const TObject& o, const std::string& prop) {
  auto* c = dynamic_cast<const C*>(&o);
  if (!c) ThrowWrongClass(prop, o);
  return *c;
}

template <class C>
C& As(TObject& o, const std::string& prop) {
  auto* c = dynamic_cast<C*>(&o);
  if (!c) ThrowWrongClass(prop, o);
  return *c;
}

// Calls a getter (member function or data member).
template <class C, class G>
decltype(auto) Get(const C& object, G getter) {
  return std::invoke(getter, object);
}

// Calls a setter (member function taking the value, or data member).
template <class C, class S, class V>
void Set(C& object, S setter, V&& value) {
  if constexpr (std::is_member_object_pointer_v<S>) {
    object.*setter = std::forward<V>(value);
  } else {
    std::invoke(setter, object, std::forward<V>(value));
  }
}

std::string OrdinalDefaultText(TypeKind kind, int64_t value, const std::vector<std::string>& names);

}  // namespace detail

// An Integer (or Cardinal, Word, Byte ...) property; the accepted range is
// that of the getter's type.
template <class C, class G, class S>
PropInfo IntegerProperty(std::string name, G getter, S setter,
                         std::optional<int64_t> stream_default = std::nullopt) {
  using T = std::remove_cvref_t<decltype(detail::Get(std::declval<const C&>(), getter))>;
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>, "integer getter expected");
  PropInfo p;
  p.name = std::move(name);
  p.kind = TypeKind::Integer;
  p.min_value = static_cast<int64_t>(std::numeric_limits<T>::min());
  p.max_value = std::numeric_limits<T>::max() > static_cast<uint64_t>(INT64_MAX)
                    ? INT64_MAX
                    : static_cast<int64_t>(std::numeric_limits<T>::max());
  std::string n = p.name;
  p.get_ordinal = [getter, n](const TObject& o) {
    return static_cast<int64_t>(detail::Get(detail::As<C>(o, n), getter));
  };
  p.set_ordinal = [setter, n](TObject& o, int64_t v) {
    detail::Set(detail::As<C>(o, n), setter, static_cast<T>(v));
  };
  if (stream_default) p.stream_default = std::to_string(*stream_default);
  return p;
}

template <class C, class G, class S>
PropInfo BooleanProperty(std::string name, G getter, S setter,
                         std::optional<bool> stream_default = std::nullopt) {
  PropInfo p;
  p.name = std::move(name);
  p.kind = TypeKind::Boolean;
  p.min_value = 0;
  p.max_value = 1;
  std::string n = p.name;
  p.get_ordinal = [getter, n](const TObject& o) -> int64_t {
    return detail::Get(detail::As<C>(o, n), getter) ? 1 : 0;
  };
  p.set_ordinal = [setter, n](TObject& o, int64_t v) {
    detail::Set(detail::As<C>(o, n), setter, v != 0);
  };
  if (stream_default) p.stream_default = *stream_default ? "True" : "False";
  return p;
}

template <class C, class G, class S>
PropInfo StringProperty(std::string name, G getter, S setter,
                        std::optional<std::string> stream_default = std::nullopt) {
  PropInfo p;
  p.name = std::move(name);
  p.kind = TypeKind::String;
  std::string n = p.name;
  p.get_string = [getter, n](const TObject& o) {
    return std::string(detail::Get(detail::As<C>(o, n), getter));
  };
  p.set_string = [setter, n](TObject& o, const std::string& v) {
    detail::Set(detail::As<C>(o, n), setter, v);
  };
  p.stream_default = std::move(stream_default);
  return p;
}

// An enumeration property; `names` lists the value names in ordinal order.
template <class C, class E, class G, class S>
PropInfo EnumProperty(std::string name, std::vector<std::string> names, G getter, S setter,
                      std::optional<E> stream_default = std::nullopt) {
  PropInfo p;
  p.name = std::move(name);
  p.kind = TypeKind::Enumeration;
  p.enum_names = std::move(names);
  p.min_value = 0;
  p.max_value = static_cast<int64_t>(p.enum_names.size()) - 1;
  std::string n = p.name;
  p.get_ordinal = [getter, n](const TObject& o) {
    return static_cast<int64_t>(detail::Get(detail::As<C>(o, n), getter));
  };
  p.set_ordinal = [setter, n](TObject& o, int64_t v) {
    detail::Set(detail::As<C>(o, n), setter, static_cast<E>(v));
  };
  if (stream_default) {
    p.stream_default = detail::OrdinalDefaultText(
        TypeKind::Enumeration, static_cast<int64_t>(*stream_default), p.enum_names);
  }
  return p;
}

}  // namespace velmora::host
