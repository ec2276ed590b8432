#include "main/handlerfailureevent.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace veltrane {

QEvent::Type HandlerFailureEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool RunHandler(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (...) {
        HandlerFailureEvent event(std::current_exception());
        QCoreApplication* application = QCoreApplication::instance();
        if (application == nullptr || !QCoreApplication::sendEvent(application, &event)) {
            // No application object that shows failures: at least leave a trace on the console.
            try {
                std::rethrow_exception(event.failure());
            } catch (const std::exception& failure) {
                qCritical("Unhandled failure: %s", failure.what());
            } catch (...) {
                qCritical("Unhandled failure of unknown kind");
            }
        }
        return false;
    }
}

} // namespace veltrane
