#pragma once
// Checks that the suites of the program's windows share: what a screen reader is told of a control,
// and how a window that is shown on demand comes forward and goes away. Header only, so that each
// suite still links just the unit it tests.

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace veltrane::testsupport {

// What a screen reader is told of a control: its role, name and description, and the object
// names of the controls that label it.
struct AccessibleFacts {
    int Role = -1;
    QString Name;
    QString Description;
    QStringList LabelledBy;
    bool operator==(const AccessibleFacts&) const = default;
};

inline AccessibleFacts AccessibleFactsOf(QWidget* control) {
    AccessibleFacts facts;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    if (accessible == nullptr)
        return facts;
    facts.Role = int(accessible->role());
    facts.Name = accessible->text(QAccessible::Name);
    facts.Description = accessible->text(QAccessible::Description);
    for (const auto& [label, relation] : accessible->relations(QAccessible::Label))
        facts.LabelledBy.append(label->object()->objectName());
    return facts;
}

inline char* toString(const AccessibleFacts& facts) {
    return QTest::toString(QStringLiteral("role %1, name \"%2\", description \"%3\", labelled by [%4]")
                               .arg(facts.Role)
                               .arg(facts.Name, facts.Description, facts.LabelledBy.join(u", ")));
}

// Showing the window again brings the same window forward, also out of the minimised state; no
// second window appears and no other window is disabled.
template <typename Window> void CheckShowingRaisesTheOneWindow(Window& window) {
    QWidget other;
    other.resize(200, 100);
    const auto windowsBefore = QApplication::topLevelWidgets().size();
    window.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QVERIFY(!window.isActiveWindow());
    window.ShowWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.isVisible());
    QCOMPARE(QApplication::topLevelWidgets().size(), windowsBefore);
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());
    window.ShowWindow();
    QVERIFY(!window.isMinimized());
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(!window.isModal());
    QVERIFY(other.isEnabled());
}

// Closing the window only hides it: the window lives on and shows again. `route` 0 clicks its
// closing `button`, 1 closes it as the close box or the close key does, 2 calls the button's `click`.
template <typename Window, typename Button>
void CheckClosingOnlyHides(int route, Button* Window::*button, void (Window::*click)()) {
    QPointer<Window> window = new Window;
    window->ShowWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    if (route == 0)
        QTest::mouseClick(window->*button, Qt::LeftButton);
    else if (route == 1)
        QVERIFY(window->close());
    else
        (window->*click)();
    QVERIFY(!window->isVisible());
    QCoreApplication::processEvents();
    QVERIFY(!window.isNull());
    window->ShowWindow();
    QVERIFY(window->isVisible());
    delete window;
}

} // namespace veltrane::testsupport
