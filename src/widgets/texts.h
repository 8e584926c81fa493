// User-visible texts of the widget helpers shared by the windows, exactly as they show them.
#pragma once

namespace widgets::texts {

// Message box buttons.
inline constexpr const char* OkButton = "确定";
inline constexpr const char* YesButton = "是(&Y)";
inline constexpr const char* NoButton = "否(&N)";

}  // namespace widgets::texts
