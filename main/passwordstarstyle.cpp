#include "main/passwordstarstyle.h"

namespace veltrane {

PasswordStarStyle::PasswordStarStyle(QStyle* base) : QProxyStyle(base) {}

int PasswordStarStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                 QStyleHintReturn* returnData) const {
    if (hint == SH_LineEdit_PasswordCharacter)
        return u'*';
    // No delay in which the last typed character would show in clear.
    if (hint == SH_LineEdit_PasswordMaskDelay)
        return 0;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

} // namespace veltrane
