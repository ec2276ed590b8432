#pragma once
// Key boxes hide what is typed behind one "*" per character, whatever the style would draw.

#include <QProxyStyle>

namespace veltrane {

class PasswordStarStyle : public QProxyStyle {
    Q_OBJECT

public:
    explicit PasswordStarStyle(QStyle* base = nullptr);

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace veltrane
