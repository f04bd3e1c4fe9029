#pragma once
// Error boxes shared by the monitor windows.
#include <string>
#include <string_view>

class QWidget;

namespace app {

inline constexpr std::u16string_view kDirectXErrorCaption = u"DirectX Error";

// "Description: %s \nModule: %s \nRoutine: %s".
std::u16string DirectXErrorText(std::u16string_view description, std::u16string_view module,
                                std::u16string_view routine);

// The information box titled "DirectX Error" for a rendering failure.
void ReportDirectXError(QWidget* parent, std::u16string_view description, std::u16string_view module,
                        std::u16string_view routine);

} // namespace app
