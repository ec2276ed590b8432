#include "app/startup.h"

#include "app/tapplication.h"
#include "About/taboutbox.h"
#include "help/thelpform.h"
#include "main/mainform.h"

#include <QFileInfo>
#include <QMessageBox>

#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace veltrane {

namespace {

// Where the failure was caught: a code address of this program, for the error text.
[[gnu::noinline]] std::uintptr_t CatchSite() {
    return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

} // namespace

QString ApplicationErrorText(const QString& kind, const QString& module, std::uintptr_t address,
                             const QString& message) {
    const QString at = QStringLiteral("%1").arg(static_cast<quint32>(address & 0xFFFFFFFFu), 8, 16, QLatin1Char('0'));
    return QStringLiteral("Exception %1 in module %2 at %3.\n").arg(kind, module, at.toUpper()) + message +
           (message.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral("."));
}

QString FailureKind(const std::exception_ptr& failure) {
    const std::type_info* type = nullptr;
    try {
        std::rethrow_exception(failure);
    } catch (...) {
        type = abi::__cxa_current_exception_type();
    }
    if (type == nullptr)
        return QStringLiteral("Exception");
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                     std::free);
    return QString::fromUtf8(status == 0 && demangled ? demangled.get() : type->name())
        .section(QStringLiteral("::"), -1);
}

int RunProgram(TApplication& application, const ProgramHooks& hooks, const std::vector<QByteArray>& startFiles) {
    std::unique_ptr<TMainForm> MainForm;
    std::unique_ptr<THelpForm> HelpForm;
    std::unique_ptr<TAboutBox> AboutBox;
    try {
        // The first window made is the main window; the other two wait hidden until asked for.
        MainForm = std::make_unique<TMainForm>();
        application.setMainWindow(MainForm.get());
        HelpForm = std::make_unique<THelpForm>();
        AboutBox = std::make_unique<TAboutBox>();
        MainForm->setAboutWindowAction([&AboutBox] { AboutBox->ShowWindow(); });
        MainForm->setReadmeWindowAction([&HelpForm] { HelpForm->ShowWindow(); });
        if (!startFiles.empty())
            MainForm->LoadStartFiles(startFiles);
        if (hooks.beforeEventLoop)
            hooks.beforeEventLoop(*MainForm);
    } catch (...) {
        const std::uintptr_t site = CatchSite();
        const std::exception_ptr failure = std::current_exception();
        const QString text =
            ApplicationErrorText(FailureKind(failure), QFileInfo(QApplication::applicationFilePath()).fileName(), site,
                                 TApplication::FailureMessage(failure));
        const QString caption = QStringLiteral("Application Error");
        if (hooks.showApplicationError) {
            hooks.showApplicationError(caption, text);
        } else {
            QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok);
            box.setWindowModality(Qt::ApplicationModal);
            box.exec();
        }
        return 1;
    }

    MainForm->show();
    TApplication::exec();

    application.setMainWindow(nullptr);
    AboutBox.reset();
    HelpForm.reset();
    MainForm.reset();
    return 0;
}

} // namespace veltrane
