#pragma once
// Keeps the program answering the window system while a run holds the thread: every so often, between
// two blocks of the pass, it lets through what the window system itself asks (repaints of what another
// window uncovered, the window manager's pings, a screen reader's questions), so the window never looks
// hung. What the user does stays where the design has it, waiting for the run's end: keys and clicks
// stay in the window system's queue, a request to close a window is held and carried out after the run,
// and files dropped during a run are refused.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace veltrane {

class RunEventPump : public QObject {
    Q_OBJECT

public:
    // The longest the window system waits for an answer during a run, in milliseconds.
    static constexpr int Interval = 50;

    RunEventPump();
    // Carries out the held close requests once the event loop runs again.
    ~RunEventPump() override;
    RunEventPump(const RunEventPump&) = delete;
    RunEventPump& operator=(const RunEventPump&) = delete;

    // Lets the window system's own events through when Interval has passed since the last time.
    void Pump();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QElapsedTimer m_sinceLast;
    std::vector<QPointer<QWidget>> m_heldCloses;
};

} // namespace veltrane
