// How the request and result structs of the page channel's operations go to
// and from the wire. A struct lists its members once, in a static function
// template that hands each member with its wire name to a visitor:
//
//   struct Result {
//     double opacity = 1;
//     static void Members(auto& self, auto&& member) { member("opacity", self.opacity); }
//   };
//
// Encoding and decoding both walk that list, so a member's name is written
// once for both processes. Decoding is strict: a missing or mistyped member
// refuses the whole struct, except for the member types that say otherwise
// below (optional values, position members, error-data entries).
#pragma once

#include <json/json.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "vesk/core/browser/window_geometry.h"

namespace vesk::channel {

// A struct without members.
struct NoMembers {
  static void Members(auto&, auto&&) {}
};

// One member type's encoding. Encode writes parent[name]; Decode reads it
// and returns false when it is unusable.
template <typename T>
struct MemberCodec;

template <>
struct MemberCodec<int> {
  static void Encode(int value, Json::Value* parent, const char* name) { (*parent)[name] = value; }
  static bool Decode(const Json::Value& parent, const char* name, int* value) {
    const Json::Value* member = parent.find(name, name + std::char_traits<char>::length(name));
    if (!member || !member->isInt()) return false;
    *value = member->asInt();
    return true;
  }
};

// A port: 0..65535; anything else refuses the struct.
template <>
struct MemberCodec<uint16_t> {
  static void Encode(uint16_t value, Json::Value* parent, const char* name) { (*parent)[name] = value; }
  static bool Decode(const Json::Value& parent, const char* name, uint16_t* value) {
    int number = 0;
    if (!MemberCodec<int>::Decode(parent, name, &number) || number < 0 || number > 65535) return false;
    *value = static_cast<uint16_t>(number);
    return true;
  }
};

template <>
struct MemberCodec<bool> {
  static void Encode(bool value, Json::Value* parent, const char* name) { (*parent)[name] = value; }
  static bool Decode(const Json::Value& parent, const char* name, bool* value) {
    const Json::Value* member = parent.find(name, name + std::char_traits<char>::length(name));
    if (!member || !member->isBool()) return false;
    *value = member->asBool();
    return true;
  }
};

// JSON has no infinities: they travel as the strings "Infinity" and
// "-Infinity" (a page may pass them, and they are numbers to it). NaN is not
// encoded, so the receiver refuses the struct.
template <>
struct MemberCodec<double> {
  static void Encode(double value, Json::Value* parent, const char* name) {
    if (std::isfinite(value))
      (*parent)[name] = value;
    else if (std::isinf(value))
      (*parent)[name] = value > 0 ? "Infinity" : "-Infinity";
  }
  static bool Decode(const Json::Value& parent, const char* name, double* value) {
    const Json::Value* member = parent.find(name, name + std::char_traits<char>::length(name));
    if (!member) return false;
    if (member->isString()) {
      const std::string text = member->asString();
      if (text != "Infinity" && text != "-Infinity") return false;
      *value =
          text[0] == '-' ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
      return true;
    }
    if (!member->isNumeric()) return false;
    *value = member->asDouble();
    return true;
  }
};

template <>
struct MemberCodec<std::string> {
  static void Encode(const std::string& value, Json::Value* parent, const char* name) {
    (*parent)[name] = value;
  }
  static bool Decode(const Json::Value& parent, const char* name, std::string* value) {
    const Json::Value* member = parent.find(name, name + std::char_traits<char>::length(name));
    if (!member || !member->isString()) return false;
    *value = member->asString();
    return true;
  }
};

// Absent when empty; a present member must decode.
template <typename T>
struct MemberCodec<std::optional<T>> {
  static void Encode(const std::optional<T>& value, Json::Value* parent, const char* name) {
    if (value) MemberCodec<T>::Encode(*value, parent, name);
  }
  static bool Decode(const Json::Value& parent, const char* name, std::optional<T>* value) {
    if (!parent.isMember(name)) {
      value->reset();
      return true;
    }
    T decoded{};
    if (!MemberCodec<T>::Decode(parent, name, &decoded)) return false;
    *value = std::move(decoded);
    return true;
  }
};

template <>
struct MemberCodec<WindowRect> {
  static void Encode(const WindowRect& rect, Json::Value* parent, const char* name) {
    Json::Value& value = (*parent)[name] = Json::Value(Json::objectValue);
    value["left"] = rect.left;
    value["top"] = rect.top;
    value["right"] = rect.right;
    value["bottom"] = rect.bottom;
  }
  static bool Decode(const Json::Value& parent, const char* name, WindowRect* rect) {
    const Json::Value* value = parent.find(name, name + std::char_traits<char>::length(name));
    return value && value->isObject() && MemberCodec<int>::Decode(*value, "left", &rect->left) &&
           MemberCodec<int>::Decode(*value, "top", &rect->top) &&
           MemberCodec<int>::Decode(*value, "right", &rect->right) &&
           MemberCodec<int>::Decode(*value, "bottom", &rect->bottom);
  }
};

// A position member as the page gave it: absent, a value, or present with
// the wrong type (the host names that in its error text).
template <typename Member, typename Value>
struct PositionMemberCodec {
  static void Encode(const Member& member, Json::Value* parent, const char* name) {
    if (member.type == PositionRequest::Type::kValid) (*parent)[name] = member.value;
    if (member.type == PositionRequest::Type::kWrongType) (*parent)[name] = "wrong type";
  }
  static bool Decode(const Json::Value& parent, const char* name, Member* member) {
    *member = Member{};
    if (!parent.isMember(name)) return true;
    Value value{};
    member->type = MemberCodec<Value>::Decode(parent, name, &value) ? PositionRequest::Type::kValid
                                                                    : PositionRequest::Type::kWrongType;
    member->value = value;
    return true;
  }
};
template <>
struct MemberCodec<PositionRequest::IntValue> : PositionMemberCodec<PositionRequest::IntValue, int> {};
template <>
struct MemberCodec<PositionRequest::BoolValue> : PositionMemberCodec<PositionRequest::BoolValue, bool> {};

// Key and value pairs; pairs that are not two strings are left out, and a
// member that is not a list is an empty list.
using StringPairs = std::vector<std::pair<std::string, std::string>>;
template <>
struct MemberCodec<StringPairs> {
  static void Encode(const StringPairs& pairs, Json::Value* parent, const char* name) {
    Json::Value& list = (*parent)[name] = Json::Value(Json::arrayValue);
    for (const auto& [key, value] : pairs) {
      Json::Value pair(Json::arrayValue);
      pair.append(key);
      pair.append(value);
      list.append(std::move(pair));
    }
  }
  static bool Decode(const Json::Value& parent, const char* name, StringPairs* pairs) {
    pairs->clear();
    const Json::Value* list = parent.find(name, name + std::char_traits<char>::length(name));
    if (!list || !list->isArray()) return true;
    for (const Json::Value& pair : *list)
      if (pair.isArray() && pair.size() == 2 && pair[0].isString() && pair[1].isString())
        pairs->emplace_back(pair[0].asString(), pair[1].asString());
    return true;
  }
};

// Enumerations travel as their names; a name the table does not know
// refuses the struct. The enumeration supplies the list:
//   std::span<const std::pair<const char*, E>> NamesOf(E);
template <typename E>
requires std::is_enum_v<E>
struct MemberCodec<E> {
  static void Encode(E value, Json::Value* parent, const char* name) {
    for (const auto& [text, item] : NamesOf(E{}))
      if (item == value) (*parent)[name] = text;
  }
  static bool Decode(const Json::Value& parent, const char* name, E* value) {
    std::string text;
    if (!MemberCodec<std::string>::Decode(parent, name, &text)) return false;
    for (const auto& [known, item] : NamesOf(E{})) {
      if (text == known) {
        *value = item;
        return true;
      }
    }
    return false;
  }
};

template <typename Struct>
Json::Value EncodeMembers(const Struct& value) {
  Json::Value encoded(Json::objectValue);
  Struct::Members(value, [&encoded](const char* name, const auto& member) {
    MemberCodec<std::decay_t<decltype(member)>>::Encode(member, &encoded, name);
  });
  return encoded;
}

template <typename Struct>
std::optional<Struct> DecodeMembers(const Json::Value& encoded) {
  if (!encoded.isObject()) return std::nullopt;
  Struct value{};
  bool usable = true;
  Struct::Members(value, [&encoded, &usable](const char* name, auto& member) {
    usable = usable && MemberCodec<std::decay_t<decltype(member)>>::Decode(encoded, name, &member);
  });
  if (!usable) return std::nullopt;
  return value;
}

}  // namespace vesk::channel
