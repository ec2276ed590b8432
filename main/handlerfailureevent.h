#pragma once
// Carries a failure that escaped an event handler to the application object, which shows it in the
// error display. Handlers are run through RunHandler because Qt's widget libraries are built
// without exception support: a C++ exception must never unwind through their frames, so it is
// caught where our handler returns to Qt and handed on as this event instead.

#include <QEvent>

#include <exception>
#include <functional>
#include <utility>

namespace veltrane {

class HandlerFailureEvent : public QEvent {
public:
    explicit HandlerFailureEvent(std::exception_ptr failure) : QEvent(eventType()), m_failure(std::move(failure)) {}

    static QEvent::Type eventType();
    const std::exception_ptr& failure() const { return m_failure; }

private:
    std::exception_ptr m_failure;
};

// Runs `handler`; a failure escaping it is sent to the application object as a HandlerFailureEvent
// (delivered before RunHandler returns). Returns false when the handler failed.
bool RunHandler(const std::function<void()>& handler);

} // namespace veltrane
