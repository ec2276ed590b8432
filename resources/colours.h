#pragma once
// The windows' designed colours: red and yellow texts on black. Every window takes them from here so
// that the windows keep one look.

#include <QColor>

namespace veltrane::colours {

inline constexpr QColor Black(0x00, 0x00, 0x00);
inline constexpr QColor Red(0xFF, 0x00, 0x00);
inline constexpr QColor Yellow(0xFF, 0xFF, 0x00);

} // namespace veltrane::colours
