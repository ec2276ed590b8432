// What the pie gauge costs a run: the real main window encrypts and then decrypts one large file
// (256 MiB by default, or the MiB given as the first argument) while the application object times
// every paint event it delivers. Prints, per run, the gauge's paint count (at most 101: one per
// whole percent, plus the first) and the share of the run's wall-clock time spent painting the
// gauge and painting anything at all. Runs under the offscreen platform unless QT_QPA_PLATFORM
// names another (for example xcb on a real display). Exits with 1 if a limit is broken.

#include "app/tapplication.h"
#include "main/mainform.h"
#include "main/topendialog.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <vector>

namespace {

// The program's application object, timing each paint event from delivery to return.
class PaintTimingApplication : public veltrane::TApplication {
public:
    using TApplication::TApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return TApplication::notify(receiver, event);
        QElapsedTimer timer;
        timer.start();
        const bool handled = TApplication::notify(receiver, event);
        const qint64 spent = timer.nsecsElapsed();
        AllPaintNs += spent;
        if (receiver == Gauge)
            GaugePaintTimes.push_back(spent);
        return handled;
    }

    void Reset() {
        AllPaintNs = 0;
        GaugePaintTimes.clear();
    }

    QObject* Gauge = nullptr;
    qint64 AllPaintNs = 0;
    std::vector<qint64> GaugePaintTimes;
};

bool WriteFile(const QByteArray& path, std::size_t mebibytes) {
    std::vector<char> chunk(std::size_t{1} << 20);
    for (std::size_t n = 0; n < chunk.size(); ++n)
        chunk[n] = static_cast<char>(n * 131 + 7);
    std::ofstream file(path.constData(), std::ios::binary);
    for (std::size_t n = 0; n < mebibytes && file; ++n)
        file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    file.close();
    return !file.fail();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    int qtArgc = 1;
    PaintTimingApplication application(qtArgc, argv);

    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("large"));
    if (mebibytes == 0 || !folder.isValid() || !WriteFile(QFile::encodeName(file), mebibytes)) {
        std::fprintf(stderr, "gaugebench: cannot write a %zu MiB file in the temporary folder\n", mebibytes);
        return 2;
    }

    // The window's notes of files left part-way go with the run's file, not among the user's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(folder.filePath(QStringLiteral("state"))));
    veltrane::TMainForm form;
    application.setMainWindow(&form);
    form.show();
    application.processEvents();
    application.Gauge = form.findChild<QObject*>(QStringLiteral("PercentDoneGauge"));
    form.findChild<QLineEdit*>(QStringLiteral("KeyBox"))->setText(QStringLiteral("gauge bench"));
    form.findChild<QLineEdit*>(QStringLiteral("VKeyBox"))->setText(QStringLiteral("gauge bench"));
    form.OpenDialog().setChooser(
        [file](QWidget*, const QString&) { return std::optional<QStringList>(QStringList{file}); });

    std::printf("%zu MiB file, platform %s\n", mebibytes, qPrintable(QGuiApplication::platformName()));
    bool withinLimits = true;
    for (const char* button : {"EncryptButton", "DecryptButton"}) {
        form.FileOpen();
        application.processEvents();
        application.Reset();
        QElapsedTimer run;
        run.start();
        form.findChild<QPushButton*>(QLatin1String(button))->click();
        const qint64 runNs = run.nsecsElapsed();
        std::vector<qint64> times = application.GaugePaintTimes;
        std::sort(times.begin(), times.end());
        const auto gaugePaints = static_cast<int>(times.size());
        const qint64 gaugePaintNs = std::accumulate(times.begin(), times.end(), qint64{0});
        const double gaugeShare = 100.0 * double(gaugePaintNs) / double(runNs);
        const double allShare = 100.0 * double(application.AllPaintNs) / double(runNs);
        std::printf("%s: %.0f ms (%.0f MB/s); gauge painted %d times in %.2f ms (%.3f %% of the run); "
                    "all painting %.2f ms (%.3f %%); status \"%s\"\n",
                    button, double(runNs) / 1e6, double(mebibytes) * 1048576.0 / (double(runNs) / 1e9) / 1e6,
                    gaugePaints, double(gaugePaintNs) / 1e6, gaugeShare, double(application.AllPaintNs) / 1e6, allShare,
                    qPrintable(form.findChild<QLabel*>(QStringLiteral("StatusText"))->text().trimmed()));
        if (!times.empty())
            std::printf("  one gauge paint: fastest %.3f ms, median %.3f ms, slowest %.3f ms\n",
                        double(times.front()) / 1e6, double(times[times.size() / 2]) / 1e6, double(times.back()) / 1e6);
        withinLimits = withinLimits && gaugePaints <= 101 && gaugeShare < 1.0;
    }
    std::printf("%s\n", withinLimits ? "within limits: at most 101 gauge paints and under 1 % of the run painting it"
                                     : "LIMIT BROKEN");
    return withinLimits ? 0 : 1;
}
