// The application object: pop-up hints, the error display, start-up and shutdown.

#include "app/programarguments.h"
#include "app/startup.h"
#include "app/tapplication.h"
#include "app/thintmanager.h"
#include "engine/engineerror.h"
#include "main/handlerfailureevent.h"
#include "main/mainform.h"
#include "main/topendialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include <csignal>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <memory>
#include <optional>
#include <stdexcept>

using veltrane::TApplication;
using veltrane::THintManager;
using veltrane::TMainForm;

namespace {

// The hint timings as the design gives them: the pause before a hint, and how long it shows.
constexpr int HintPause = 500;
constexpr int HintHidePause = 2500;

TApplication& App() {
    return *static_cast<TApplication*>(QCoreApplication::instance());
}

// An object whose own event handling fails, as a broken handler would.
class FailingObject : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("Handler broke");
        return QObject::event(event);
    }
};

// When a window was shown and hidden, in milliseconds from the clock's start.
class ShowHideClock : public QObject {
public:
    explicit ShowHideClock(QWidget* window) {
        m_clock.start();
        window->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ShownAt = m_clock.elapsed();
        else if (event->type() == QEvent::Hide)
            HiddenAt = m_clock.elapsed();
        return false;
    }
    qint64 ShownAt = -1;
    qint64 HiddenAt = -1;

private:
    QElapsedTimer m_clock;
};

QWidget* TopLevel(const QString& name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name)
            return widget;
    }
    return nullptr;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void hintShownOnlyForHintedControls_data();
    void hintShownOnlyForHintedControls();
    void hintTimingAndCancelling();
    void hintHiddenAfterDisplayTime();
    void toolkitTooltipsSwallowed();
    void popupPosition_data();
    void popupPosition();

    void errorDisplay_data();
    void errorDisplay();
    void errorDisplayBox();

    void startupAndExit_data();
    void startupAndExit();
    void closeDuringRunHonouredAfterIt();
    void startupFailure_data();
    void startupFailure();
    void applicationErrorText_data();
    void applicationErrorText();
    void processGuards();
    void fileArguments_data();
    void fileArguments();
    void windowSystemCheck_data();
    void windowSystemCheck();

private:
    // Moves the pointer onto `control` (its centre), or onto `point` of the window.
    void PointAt(QWidget* control);
    void PointAtWindow(QPoint point);

    std::unique_ptr<TMainForm> m_form;
    QStringList m_shown;
};

void TestApp::init() {
    m_shown.clear();
    App().setMessageBoxShower([this](const QString& caption, const QString& text) { m_shown << caption << text; });
    m_form = std::make_unique<TMainForm>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    App().Hints().CancelHint();
}

void TestApp::cleanup() {
    m_form.reset();
    App().Hints().CancelHint();
    App().setMessageBoxShower({});
}

void TestApp::PointAt(QWidget* control) {
    PointAtWindow(control->mapTo(m_form.get(), control->rect().center()));
}

void TestApp::PointAtWindow(QPoint point) {
    QTest::mouseMove(m_form->windowHandle(), point);
}

void TestApp::hintShownOnlyForHintedControls_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("hint"); // empty: none shows
    QTest::newRow("EncryptButton") << "EncryptButton"
                                   << "Encrypts or 'Locks' the loaded files";
    QTest::newRow("LabelTitle") << "LabelTitle"
                                << "Leave me alone!";
    QTest::newRow("Image5") << "Image5"
                            << "Click here to load files to be encrypted or decrypted";
    QTest::newRow("Image2") << "Image2"
                            << "Exits the program";
    QTest::newRow("KeyBox") << "KeyBox"
                            << "Type a keyword here. Any character on your keyboard is acceptable";
    QTest::newRow("VKeyBox") << "VKeyBox"
                             << "Type the same keyword here to make sure you got it right";
    QTest::newRow("Image1") << "Image1"
                            << "This symbol means infinity";
    QTest::newRow("FileList") << "FileList"
                              << "This tells you what files are ready to be encrypted or decrypted";
    QTest::newRow("DecryptButton") << "DecryptButton"
                                   << "";
    QTest::newRow("KeyLabel") << "KeyLabel"
                              << "";
    QTest::newRow("StatusText") << "StatusText"
                                << "";
    QTest::newRow("SatusBox") << "SatusBox"
                              << "";
}

void TestApp::hintShownOnlyForHintedControls() {
    QFETCH(QString, control);
    QFETCH(QString, hint);
    QWidget* target = m_form->findChild<QWidget*>(control);
    QVERIFY(target != nullptr);
    // SatusBox: its caption strip, above the status text.
    if (control == "SatusBox")
        PointAtWindow(target->mapTo(m_form.get(), QPoint(300, 5)));
    else
        PointAt(target);

    QLabel* popup = App().Hints().popup();
    if (hint.isEmpty()) {
        QTest::qWait(HintPause + 200);
        QVERIFY(!popup->isVisible());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(popup->isVisible(), 2000);
    QCOMPARE(popup->text(), hint);
    QCOMPARE(App().Hints().hintControl(), target);
    // 6 pixels under the control's bottom edge, at its left edge.
    const QPoint origin = target->mapToGlobal(QPoint(0, 0));
    QCOMPARE(popup->pos(), QPoint(origin.x(), origin.y() + target->height() + 6));
    const QSize text = popup->fontMetrics().boundingRect(QRect(0, 0, 10000, 10000), Qt::TextWordWrap, hint).size();
    QCOMPARE(popup->size(), text + QSize(6, 2));
    QVERIFY(!popup->isActiveWindow());
    // Borderless, the text inset evenly, and all of it fits: no word wraps onto a line cut off below.
    QCOMPARE(popup->frameWidth(), 0);
    QCOMPARE(popup->contentsRect(), popup->rect().adjusted(3, 1, -3, -1));
    QVERIFY2(popup->heightForWidth(popup->width()) <= popup->height(), qPrintable(hint));
}

void TestApp::hintTimingAndCancelling() {
    QLabel* popup = App().Hints().popup();
    auto* encrypt = m_form->findChild<QWidget*>("EncryptButton");
    auto* keyBox = m_form->findChild<QWidget*>("KeyBox");
    auto* verifyBox = m_form->findChild<QWidget*>("VKeyBox");

    // The first hint takes the full pause: timers never fire early.
    PointAt(encrypt);
    QTest::qWait(HintPause - 150);
    QVERIFY(!popup->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(popup->isVisible(), 2000);

    // Straight on to the next hinted control: the short pause.
    PointAt(keyBox);
    QVERIFY(!popup->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(popup->isVisible() && popup->text().startsWith("Type a keyword"),
                             HintPause - 150);

    // A key hides it and cancels the hint state: the next one takes the full pause again.
    QTest::keyClick(m_form.get(), Qt::Key_Shift);
    QVERIFY(!popup->isVisible());
    PointAt(verifyBox);
    QTest::qWait(HintPause - 150);
    QVERIFY(!popup->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(popup->isVisible(), 2000);

    // A click hides it too.
    QTest::mousePress(m_form->windowHandle(), Qt::LeftButton, {}, verifyBox->mapTo(m_form.get(), QPoint(5, 5)));
    QVERIFY(!popup->isVisible());
    QTest::mouseRelease(m_form->windowHandle(), Qt::LeftButton, {}, verifyBox->mapTo(m_form.get(), QPoint(5, 5)));

    // Over a control without a hint nothing pends.
    PointAt(m_form->findChild<QWidget*>("DecryptButton"));
    QCOMPARE(App().Hints().hintControl(), nullptr);
}

void TestApp::hintHiddenAfterDisplayTime() {
    QLabel* popup = App().Hints().popup();
    ShowHideClock clock(popup);
    PointAt(m_form->findChild<QWidget*>("Image2"));
    QTRY_VERIFY_WITH_TIMEOUT(popup->isVisible(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!popup->isVisible(), HintHidePause + 3000);
    QVERIFY(clock.ShownAt >= 0 && clock.HiddenAt >= 0);
    QVERIFY2(clock.HiddenAt - clock.ShownAt >= HintHidePause,
             qPrintable(QString::number(clock.HiddenAt - clock.ShownAt)));
}

void TestApp::toolkitTooltipsSwallowed() {
    auto* button = m_form->findChild<QWidget*>("EncryptButton");
    const QPoint centre = button->rect().center();
    QHelpEvent help(QEvent::ToolTip, centre, button->mapToGlobal(centre));
    QApplication::sendEvent(button, &help);
    QVERIFY(!QToolTip::isVisible());

    // Without the hint manager the toolkit would have shown its own tip.
    App().removeEventFilter(&App().Hints());
    QHelpEvent again(QEvent::ToolTip, centre, button->mapToGlobal(centre));
    QApplication::sendEvent(button, &again);
    const bool toolkitShowed = QToolTip::isVisible();
    QToolTip::hideText();
    App().installEventFilter(&App().Hints());
    QVERIFY(toolkitShowed);
}

void TestApp::popupPosition_data() {
    QTest::addColumn<QRect>("control");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("expected");
    // Screen 0, 0, 800 x 600.
    QTest::newRow("room enough") << QRect(100, 100, 50, 20) << QSize(120, 16) << QPoint(100, 126);
    QTest::newRow("right edge") << QRect(750, 100, 40, 20) << QSize(120, 16) << QPoint(680, 126);
    QTest::newRow("bottom edge") << QRect(100, 570, 50, 20) << QSize(120, 16) << QPoint(100, 584);
    QTest::newRow("corner") << QRect(780, 590, 20, 10) << QSize(100, 30) << QPoint(700, 570);
    QTest::newRow("wider than the screen") << QRect(300, 100, 20, 10) << QSize(900, 16) << QPoint(0, 116);
    QTest::newRow("exactly fits") << QRect(0, 0, 10, 10) << QSize(800, 584) << QPoint(0, 16);
}

void TestApp::popupPosition() {
    QFETCH(QRect, control);
    QFETCH(QSize, size);
    QFETCH(QPoint, expected);
    QCOMPARE(THintManager::PopupPosition(control, size, QRect(0, 0, 800, 600)), expected);
}

void TestApp::errorDisplay_data() {
    QTest::addColumn<QString>("route");
    QTest::addColumn<QString>("text");
    QTest::newRow("event handler") << "event"
                                   << "Handler broke.";
    QTest::newRow("guarded handler") << "guarded"
                                     << "Cannot write \"x\": disk full.";
    QTest::newRow("failure of unknown kind") << "unknown"
                                             << "Unknown failure.";
    QTest::newRow("message with its own full stop") << "full stop"
                                                    << "Ends here..";
}

void TestApp::errorDisplay() {
    QFETCH(QString, route);
    QFETCH(QString, text);
    if (route == "event") {
        FailingObject failing;
        QEvent event(QEvent::User);
        QApplication::sendEvent(&failing, &event);
    } else {
        const bool completed = veltrane::RunHandler([&] {
            if (route == "guarded")
                throw std::runtime_error("Cannot write \"x\": disk full");
            if (route == "full stop")
                throw std::runtime_error("Ends here.");
            throw 42;
        });
        QVERIFY(!completed);
    }
    QCOMPARE(m_shown, (QStringList{"Veltrane Encryption", text}));
    // The program runs on.
    QVERIFY(veltrane::RunHandler([] {}));
    QCOMPARE(m_shown.size(), 2);
}

void TestApp::errorDisplayBox() {
    App().setMessageBoxShower({});
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        seen = true;
        QCOMPARE(box->windowTitle(), QStringLiteral("Veltrane Encryption"));
        QCOMPARE(box->text(), QStringLiteral("Handler broke."));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(box->parentWidget() == nullptr);
        QTest::keyClick(box, Qt::Key_Return);
    });
    veltrane::RunHandler([] { throw std::runtime_error("Handler broke"); });
    QVERIFY(seen);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestApp::startupAndExit_data() {
    QTest::addColumn<QString>("route");
    QTest::newRow("Exit entry") << "exit";
    QTest::newRow("stop picture") << "picture";
    QTest::newRow("close box") << "close box";
    QTest::newRow("Alt+X") << "alt x";
    QTest::newRow("Help and About open") << "others open";
}

void TestApp::startupAndExit() {
    QFETCH(QString, route);
    m_form.reset(); // the program makes its own
    bool checkedBefore = false;
    bool checkedRunning = false;
    veltrane::ProgramHooks hooks;
    hooks.beforeEventLoop = [&](TMainForm& form) {
        checkedBefore = true;
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Veltrane Encryption"));
        QWidget* help = TopLevel("HelpForm");
        QWidget* about = TopLevel("AboutBox");
        QVERIFY(help != nullptr && about != nullptr);
        QVERIFY(!help->isVisible() && !about->isVisible());
        const QWidgetList order = QApplication::topLevelWidgets();
        QVERIFY(order.contains(&form));
        QTimer::singleShot(0, &form, [&form, route, help, about, &checkedRunning] {
            checkedRunning = true;
            QVERIFY(form.isVisible());
            QVERIFY(!help->isVisible() && !about->isVisible());
            if (route == "exit") {
                form.findChild<QAction*>("FileExitItem")->trigger();
            } else if (route == "picture") {
                QTest::mouseClick(form.findChild<QWidget*>("Image2"), Qt::LeftButton);
            } else if (route == "close box") {
                form.windowHandle()->close();
            } else if (route == "alt x") {
                form.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&form));
                QTest::keyClick(&form, Qt::Key_X, Qt::AltModifier);
            } else {
                form.ReadmeClick();
                form.HelpAbout();
                QVERIFY(help->isVisible() && about->isVisible());
                form.FileExit();
            }
        });
    };
    // Should closing fail to end the program, this ends the loop after a while so the test fails.
    QTimer guard;
    guard.setSingleShot(true);
    bool guardFired = false;
    connect(&guard, &QTimer::timeout, this, [&guardFired] {
        guardFired = true;
        QCoreApplication::exit(7);
    });
    guard.start(10000);
    const int exitCode = veltrane::RunProgram(App(), hooks);
    QVERIFY(checkedBefore);
    QVERIFY(checkedRunning);
    QVERIFY(!guardFired);
    QCOMPARE(exitCode, 0);
    // Every window of the program is gone after shutdown.
    for (const char* name : {"MainForm", "HelpForm", "AboutBox"})
        QVERIFY2(TopLevel(name) == nullptr, name);
}

void TestApp::closeDuringRunHonouredAfterIt() {
    m_form.reset();
    QTemporaryDir dir;
    const QString file = dir.filePath("big");
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(3 * 65536, 'p'));
    }
    veltrane::ProgramHooks hooks;
    bool runEnded = false;
    hooks.beforeEventLoop = [&](TMainForm& form) {
        form.OpenDialog().setChooser(
            [&](QWidget*, const QString&) { return std::optional<QStringList>(QStringList{file}); });
        form.FileOpen();
        form.findChild<QLineEdit*>("KeyBox")->setText("key");
        form.findChild<QLineEdit*>("VKeyBox")->setText("key");
        QTimer::singleShot(0, &form, [&form, &runEnded] {
            // The close request arrives while the run holds the thread.
            QCoreApplication::postEvent(&form, new QCloseEvent);
            form.findChild<QPushButton*>("EncryptButton")->click();
            runEnded = form.isVisible() && form.LoadedCount() == 0;
        });
    };
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(7); });
    guard.start(10000);
    QCOMPARE(veltrane::RunProgram(App(), hooks), 0);
    QVERIFY(runEnded);
    QFile encrypted(file);
    QVERIFY(encrypted.open(QIODevice::ReadOnly));
    QCOMPARE(encrypted.size(), 3 * 65536 + 20);
}

void TestApp::startupFailure_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("runtime error")
        << "runtime"
        << R"(^Exception runtime_error in module tst_app at [0-9A-F]{8}\.\nStart-up broke\.$)";
    QTest::newRow("engine error") << "engine"
                                  << R"(^Exception EngineError in module tst_app at [0-9A-F]{8}\.\nNo room\.$)";
}

void TestApp::startupFailure() {
    QFETCH(QString, kind);
    QFETCH(QString, pattern);
    m_form.reset();
    QStringList shown;
    veltrane::ProgramHooks hooks;
    hooks.beforeEventLoop = [&kind](TMainForm&) {
        if (kind == "engine")
            throw veltrane::EngineError({.Reason = "No room."});
        throw std::runtime_error("Start-up broke");
    };
    hooks.showApplicationError = [&shown](const QString& caption, const QString& text) { shown << caption << text; };
    QCOMPARE(veltrane::RunProgram(App(), hooks), 1);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0], QStringLiteral("Application Error"));
    QVERIFY2(QRegularExpression(pattern).match(shown[1]).hasMatch(), qPrintable(shown[1]));
    for (const char* name : {"MainForm", "HelpForm", "AboutBox"})
        QVERIFY2(TopLevel(name) == nullptr, name);
}

void TestApp::applicationErrorText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<quintptr>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "Broke" << quintptr(0x4A2F0) << "Exception E in module m at 0004A2F0.\nBroke.";
    QTest::newRow("own full stop") << "Broke." << quintptr(0x1) << "Exception E in module m at 00000001.\nBroke.";
    QTest::newRow("wide address") << "x" << quintptr(0x7F12DEADBEEF) << "Exception E in module m at DEADBEEF.\nx.";
}

void TestApp::applicationErrorText() {
    QFETCH(QString, message);
    QFETCH(quintptr, address);
    QFETCH(QString, expected);
    QCOMPARE(veltrane::ApplicationErrorText("E", "m", address, message), expected);
}

// The application object ignores the file-size signal: a write past a limit fails with EFBIG, is
// undone and reported, and the program goes on. And the process leaves no core dump that would
// hold the key typed into the window.
void TestApp::processGuards() {
    struct sigaction current {};
    QCOMPARE(::sigaction(SIGXFSZ, nullptr, &current), 0);
    QVERIFY(current.sa_handler == SIG_IGN);
    QCOMPARE(::prctl(PR_GET_DUMPABLE), 0);
    struct rlimit core {};
    QCOMPARE(::getrlimit(RLIMIT_CORE, &core), 0);
    QCOMPARE(core.rlim_cur, rlim_t{0});
}

void TestApp::fileArguments_data() {
    QTest::addColumn<QStringList>("left");        // what the toolkit left of the arguments before "--"
    QTest::addColumn<QStringList>("afterDashes"); // the arguments after "--"
    QTest::addColumn<QString>("working");
    QTest::addColumn<QStringList>("files"); // or {"unknown", OPTION}
    QTest::newRow("absolute names") << QStringList{"/a/b c", "/d"} << QStringList{} << "/w"
                                    << QStringList{"/a/b c", "/d"};
    QTest::newRow("relative names") << QStringList{"b c", "../d", "./e"} << QStringList{} << "/w/x"
                                    << QStringList{"/w/x/b c", "/w/x/../d", "/w/x/./e"};
    QTest::newRow("started in the root folder")
        << QStringList{"etc/f"} << QStringList{} << "/" << QStringList{"/etc/f"};
    QTest::newRow("after --, a dash is a name")
        << QStringList{"a"} << QStringList{"-platform", "--"} << "/w" << QStringList{"/w/a", "/w/-platform", "/w/--"};
    QTest::newRow("an unknown option") << QStringList{"a", "--frobnicate"} << QStringList{"b"} << "/w"
                                       << QStringList{"unknown", "--frobnicate"};
    QTest::newRow("a lone dash") << QStringList{"-"} << QStringList{} << "/w" << QStringList{"unknown", "-"};
    QTest::newRow("no files") << QStringList{} << QStringList{} << "/w" << QStringList{};
}

void TestApp::fileArguments() {
    QFETCH(QStringList, left);
    QFETCH(QStringList, afterDashes);
    QFETCH(QString, working);
    QFETCH(QStringList, files);
    std::vector<QByteArray> storage{QByteArray("veltrane")};
    for (const QString& argument : left)
        storage.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    std::vector<std::string> after;
    for (const QString& argument : afterDashes)
        after.push_back(argument.toStdString());
    std::string unknown;
    const auto found =
        veltrane::FileArguments(static_cast<int>(argv.size()), argv.data(), after, working.toStdString(), unknown);
    QStringList got;
    if (found) {
        for (const std::string& file : *found)
            got.append(QString::fromStdString(file));
    } else {
        got = QStringList{"unknown", QString::fromStdString(unknown)};
    }
    QCOMPARE(got, files);
}

void TestApp::windowSystemCheck_data() {
    QTest::addColumn<QStringList>("environment"); // NAME=VALUE; the others of the check are unset
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("plugins"); // files in the plugin folder
    QTest::addColumn<int>("status");          // -1: the program goes on to its window
    const QStringList x11{"libqxcb.so", "libqoffscreen.so"};
    const QStringList both{"libqxcb.so", "libqwayland-egl.so", "libqwayland-generic.so"};
    QTest::newRow("X11") << QStringList{"DISPLAY=:5", "XDG_SESSION_TYPE=x11"} << QStringList{} << x11 << -1;
    QTest::newRow("Wayland without its plugin")
        << QStringList{"WAYLAND_DISPLAY=wayland-0", "XDG_SESSION_TYPE=wayland", "XDG_CURRENT_DESKTOP=KDE"}
        << QStringList{} << x11 << 1;
    QTest::newRow("Wayland with its plugin")
        << QStringList{"WAYLAND_DISPLAY=wayland-0", "XDG_CURRENT_DESKTOP=KDE"} << QStringList{} << both << -1;
    QTest::newRow("GNOME on Wayland uses X11")
        << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0", "XDG_CURRENT_DESKTOP=ubuntu:GNOME"} << QStringList{}
        << x11 << -1;
    QTest::newRow("a list falls back") << QStringList{"DISPLAY=:5", "QT_QPA_PLATFORM=wayland;xcb"} << QStringList{}
                                       << x11 << -1;
    QTest::newRow("asked for with options, missing")
        << QStringList{"QT_QPA_PLATFORM=vnc:size=800x600"} << QStringList{} << x11 << 1;
    QTest::newRow("-platform over the environment")
        << QStringList{"QT_QPA_PLATFORM=xcb"} << QStringList{"-platform", "wayland"} << x11 << 1;
    QTest::newRow("a name that only begins alike")
        << QStringList{"QT_QPA_PLATFORM=xcb", "DISPLAY=:5"} << QStringList{} << QStringList{"libqxcbx.so"} << 1;
    QTest::newRow("X11 asked for without a display") << QStringList{"QT_QPA_PLATFORM=xcb"} << QStringList{} << x11 << 1;
    QTest::newRow("Wayland without its plugin, beside an X server")
        << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:1", "XDG_CURRENT_DESKTOP=KDE"} << QStringList{} << x11
        << -1;
    QTest::newRow("no display") << QStringList{} << QStringList{} << both << 1;
    QTest::newRow("-platform after -- names a file")
        << QStringList{} << QStringList{"--", "-platform", "xcb"} << both << 1;
}

// Before any window, the program tells a missing display or a window system that the toolkit has
// no plugin for here in its own words, instead of the toolkit's abort.
void TestApp::windowSystemCheck() {
    QFETCH(QStringList, environment);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, plugins);
    QFETCH(int, status);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const QString& plugin : plugins) {
        QFile file(folder.filePath(plugin));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const char* names[] = {"DISPLAY",          "WAYLAND_DISPLAY",     "QT_QPA_PLATFORM",
                           "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP"};
    std::vector<std::optional<QByteArray>> saved;
    for (const char* name : names) {
        saved.push_back(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qunsetenv(name);
    }
    for (const QString& setting : environment)
        qputenv(setting.section('=', 0, 0).toLatin1(), setting.section('=', 1).toUtf8());
    std::vector<QByteArray> storage{QByteArray("veltrane")};
    for (const QString& argument : arguments)
        storage.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    const std::optional<int> answer =
        veltrane::AnswerBeforeWindows(static_cast<int>(argv.size()), argv.data(), {folder.path().toStdString()});
    for (std::size_t n = 0; n < std::size(names); ++n) {
        if (saved[n])
            qputenv(names[n], *saved[n]);
        else
            qunsetenv(names[n]);
    }
    QCOMPARE(answer.value_or(-1), status);
}

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    TestApp test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_app.moc"
