// The desktop's settings that other X clients publish (the XSETTINGS
// property of the settings manager): the double-click time is read from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pel::x11 {

// The integer setting of that name in the property's bytes, or nothing when
// it is absent or the bytes are malformed (they come from another client).
std::optional<int32_t> integerSetting(const uint8_t* data, std::size_t size, std::string_view name);

}  // namespace pel::x11
