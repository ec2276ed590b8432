#pragma once
// The windows' designed colours, red and yellow texts on black, and the labels drawn in them. Every
// window takes them from here so that the windows keep one look.

#include <QColor>

class QFont;
class QLabel;
class QRect;
class QString;
class QWidget;

namespace veltrane {

namespace colours {

inline constexpr QColor Black(0x00, 0x00, 0x00);
inline constexpr QColor Red(0xFF, 0x00, 0x00);
inline constexpr QColor Yellow(0xFF, 0xFF, 0x00);

} // namespace colours

// Text colour `text` on a solid background `back`, for every role a control paints with.
void SetColours(QWidget* widget, const QColor& text, const QColor& back);

// A label at its designed place, its text from the top-left corner in `font` and `colour` on black;
// opaque, so that it hides what lies beneath.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry, const QFont& font,
                  const QColor& colour);

} // namespace veltrane
