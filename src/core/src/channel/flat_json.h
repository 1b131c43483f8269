// Most payloads of the page channel are flat objects of numbers and
// booleans ({"opacity":0.5}). These read and write exactly those without
// JsonCpp, whose stream set-up for each number costs more than the rest of a
// call's parsing; anything else is left to JsonCpp by the caller.
#pragma once

#include <json/json.h>

#include <optional>
#include <string>
#include <string_view>

namespace vesk::channel {

// |text| as JsonCpp reads it, when it is a flat object in the compact form
// (no white space, plain member names, number or boolean values, no name
// twice); nothing otherwise, also for what JsonCpp would refuse or read
// differently (integers of ten digits or more, numbers out of range).
std::optional<Json::Value> ReadFlatObject(std::string_view text);

// Appends |value| in the compact form when it is such an object (finite
// numbers; reals keep a fraction or exponent, so they read back as reals);
// false and nothing appended otherwise.
bool AppendFlatObject(const Json::Value& value, std::string* out);

}  // namespace vesk::channel
