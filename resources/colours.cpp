#include "resources/colours.h"

#include <QLabel>
#include <QPalette>

namespace veltrane {

void SetColours(QWidget* widget, const QColor& text, const QColor& back) {
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, text);
    palette.setColor(QPalette::Window, back);
    palette.setColor(QPalette::Base, back);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry, const QFont& font,
                  const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetColours(label, colour, colours::Black);
    return label;
}

} // namespace veltrane
