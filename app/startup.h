#pragma once
// The program's life: the three windows made in their fixed order, the event loop, and shutdown in
// reverse order; a failure before the event loop is reported as an application error.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

namespace veltrane {

class TApplication;
class TMainForm;

struct ProgramHooks {
    // Runs after the windows are made, before the event loop (tests drive or break the start-up).
    std::function<void(TMainForm&)> beforeEventLoop;
    // Shows the application error (caption, text) instead of the modal box (tests).
    std::function<void(const QString&, const QString&)> showApplicationError;
};

// Makes MainForm, HelpForm and AboutBox (the last two hidden), loads `startFiles` (names on disk,
// absolute) into the main window as a choice in its open dialog would, runs the event loop until
// the main window closes and destroys the windows in reverse order. Returns the exit code: 0 after
// the event loop, 1 when start-up failed before it.
int RunProgram(TApplication& application, const ProgramHooks& hooks = {},
               const std::vector<QByteArray>& startFiles = {});

// The application error's text: "Exception KIND in module MODULE at ADDRESS." then the message on
// its own line, with a final "." unless it already ends with one.
QString ApplicationErrorText(const QString& kind, const QString& module, std::uintptr_t address,
                             const QString& message);
// The kind of a failure, as its class name without namespaces.
QString FailureKind(const std::exception_ptr& failure);

} // namespace veltrane
