// The desktop's settings that other X clients publish (the XSETTINGS
// property of the settings manager, and the server's resources): the
// double-click time and the desktop's scale are read from them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pel::x11 {

// The integer setting of that name in the property's bytes, or nothing when
// it is absent or the bytes are malformed (they come from another client).
std::optional<int32_t> integerSetting(const uint8_t* data, std::size_t size, std::string_view name);

// The whole dots per inch of the "Xft.dpi" line of the server's resources
// (the RESOURCE_MANAGER text, not terminated), 0 when absent or malformed.
int32_t resourceDpi(const char* text, std::size_t size);

}  // namespace pel::x11
