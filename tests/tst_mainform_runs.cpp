// The Encrypt and Decrypt runs, driven through the window: phrases, files on disk, the list and
// LoadedCount after each run.

#include "tst_mainform.h"

#include "main/runeventpump.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QUrl>

#include <csignal>
#include <utime.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

using veltrane::TMainForm;

namespace {

const QByteArray TheKey("key");

// Records what a control showed each time it was painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QLabel* label) : m_label(label) { label->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            Painted.append(m_label->text());
            Spoken.append(QAccessible::queryAccessibleInterface(m_label)->text(QAccessible::Name));
        }
        return false;
    }
    QStringList Painted;
    QStringList Spoken;

private:
    QLabel* m_label;
};

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) : m_widget(widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++Paints;
            VisibleWhenPainted = VisibleWhenPainted && m_widget->isVisible();
        }
        return false;
    }
    int Paints = 0;
    bool VisibleWhenPainted = true;

private:
    QWidget* m_widget;
};

// Holds an exclusive lock on a file, as another program holding it open for writing would.
class HeldLock {
public:
    explicit HeldLock(const QString& path) : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY)) {
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            qFatal("cannot lock %s", qPrintable(path));
    }
    ~HeldLock() { ::close(m_fd); }

private:
    int m_fd;
};

} // namespace

void TestMainForm::keyCheck_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("verify");
    for (const char* command : {"encrypt", "decrypt"}) {
        QTest::addRow("%s, letter case differs", command) << command << "Key"
                                                          << "key";
        QTest::addRow("%s, trailing blank", command) << command << "key"
                                                     << "key ";
        QTest::addRow("%s, leading blank", command) << command << " key"
                                                    << "key";
        QTest::addRow("%s, both empty", command) << command << ""
                                                 << "";
        QTest::addRow("%s, key empty", command) << command << ""
                                                << "key";
        QTest::addRow("%s, verify empty", command) << command << "key"
                                                   << "";
    }
}

void TestMainForm::keyCheck() {
    QFETCH(QString, command);
    QFETCH(QString, key);
    QFETCH(QString, verify);
    const QByteArray plain = Pattern(100, 7);
    const QString file = MakeFile("f", plain);
    Load({file});
    Form->Unit().KeyText = {1, 2, 3};
    SetKeys(key, verify);
    if (command == "encrypt")
        Form->EncryptButtonClick();
    else
        Form->DecryptButtonClick();
    QCOMPARE(Status(), KeysPhrase);
    QCOMPARE(Entries(), QStringList{file});
    QCOMPARE(Form->LoadedCount(), 1);
    QCOMPARE(Form->Unit().KeyText, (std::vector<std::uint8_t>{1, 2, 3}));
    QCOMPARE(ReadFile(file), plain);
}

void TestMainForm::noFilesLoaded() {
    SetKeys("key", "key");
    Form->DecryptButtonClick();
    QCOMPARE(Status(), WelcomeText);
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptingPhrase);
    QCOMPARE(Status().size(), 74);
    QCOMPARE(Form->LoadedCount(), 0);
    // The key text becomes the engine's key bytes even when there is nothing to do.
    QCOMPARE(Form->Unit().KeyText, (std::vector<std::uint8_t>{'k', 'e', 'y'}));
}

void TestMainForm::singleFileOutcome_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("result"); // unchanged, encrypted or decrypted
    QTest::addColumn<int>("loadedAfter");
    QTest::newRow("encrypt plain") << "encrypt"
                                   << "plain" << EncryptedPhrase << "encrypted" << 0;
    QTest::newRow("encrypt empty file") << "encrypt"
                                        << "empty" << EncryptedPhrase << "encrypted" << 0;
    QTest::newRow("encrypt encrypted") << "encrypt"
                                       << "encrypted" << AlreadyPhrase << "unchanged" << 0;
    QTest::newRow("encrypt read-only") << "encrypt"
                                       << "read-only" << CannotOpenPhrase << "unchanged" << 0;
    QTest::newRow("encrypt locked") << "encrypt"
                                    << "locked" << CannotOpenPhrase << "unchanged" << 0;
    QTest::newRow("encrypt missing") << "encrypt"
                                     << "missing" << NoFilePhrase << "unchanged" << 1;
    QTest::newRow("encrypt folder") << "encrypt"
                                    << "folder" << NoFilePhrase << "unchanged" << 1;
    QTest::newRow("encrypt dated 1975") << "encrypt"
                                        << "old" << NoFilePhrase << "unchanged" << 1;
    QTest::newRow("decrypt encrypted") << "decrypt"
                                       << "encrypted" << DecryptedPhrase << "decrypted" << 0;
    QTest::newRow("decrypt plain") << "decrypt"
                                   << "plain" << NotEncryptedPhrase << "unchanged" << 0;
    QTest::newRow("decrypt short file") << "decrypt"
                                        << "short" << NotEncryptedPhrase << "unchanged" << 0;
    QTest::newRow("decrypt other key") << "decrypt"
                                       << "other key" << InvalidKeyPhrase << "unchanged" << 0;
    QTest::newRow("decrypt read-only") << "decrypt"
                                       << "encrypted read-only" << CannotOpenPhrase << "unchanged" << 0;
    QTest::newRow("decrypt locked") << "decrypt"
                                    << "encrypted locked" << CannotOpenPhrase << "unchanged" << 0;
    QTest::newRow("decrypt missing") << "decrypt"
                                     << "missing" << NoFilePhrase << "unchanged" << 1;
}

void TestMainForm::singleFileOutcome() {
    QFETCH(QString, command);
    QFETCH(QString, kind);
    QFETCH(QString, status);
    QFETCH(QString, result);
    QFETCH(int, loadedAfter);

    const QByteArray plain = kind == "empty" ? QByteArray() : kind == "short" ? QByteArray("abc") : Pattern(70000, 3);
    QString file = Path("file");
    std::unique_ptr<HeldLock> lock;
    if (kind == "folder") {
        QVERIFY(QDir(Dir->path()).mkdir("file"));
    } else if (kind != "missing") {
        MakeFile("file", plain);
        if (kind.startsWith("encrypted"))
            EncryptOutside(file, TheKey);
        if (kind == "other key")
            EncryptOutside(file, "other");
        if (kind == "old") {
            utimbuf times{.actime = 173000000, .modtime = 173000000}; // 1975
            QCOMPARE(::utime(QFile::encodeName(file).constData(), &times), 0);
        }
    }
    // The dialog refuses read-only files: the file turns read-only, or gets locked, once loaded.
    Load({file});
    if (kind.endsWith("read-only"))
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));
    if (kind.endsWith("locked"))
        lock = std::make_unique<HeldLock>(file);
    const QByteArray before = QFileInfo(file).isFile() ? ReadFile(file) : QByteArray();

    // What encrypting the plain bytes with the window's key gives, made outside the window.
    const QString reference = MakeFile("reference", plain);
    EncryptOutside(reference, TheKey);

    SetKeys(QString::fromLatin1(TheKey), QString::fromLatin1(TheKey));
    QSignalSpy clickSpy(Find<QPushButton>(command == "encrypt" ? "EncryptButton" : "DecryptButton"),
                        &QAbstractButton::clicked);
    QTest::mouseClick(Find<QPushButton>(command == "encrypt" ? "EncryptButton" : "DecryptButton"), Qt::LeftButton);
    QCOMPARE(clickSpy.count(), 1);

    QCOMPARE(Status(), status);
    QVERIFY(Entries().isEmpty());
    QCOMPARE(Form->LoadedCount(), loadedAfter);
    QVERIFY(ErrorDisplayTexts.isEmpty());
    lock.reset();
    if (result == "unchanged" && QFileInfo(file).isFile())
        QCOMPARE(ReadFile(file), before);
    else if (result == "encrypted")
        QCOMPARE(ReadFile(file), ReadFile(reference));
    else if (result == "decrypted")
        QCOMPARE(ReadFile(file), plain);
}

void TestMainForm::mixedBatch() {
    const QByteArray plain1 = Pattern(5000, 1);
    const QByteArray plain2 = Pattern(140000, 2);
    const QByteArray locked = Pattern(300, 4);
    const QString p1 = MakeFile("plain1", plain1);
    const QString enc = MakeFile("encrypted", Pattern(2000, 3));
    EncryptOutside(enc, TheKey);
    const QByteArray encBefore = ReadFile(enc);
    const QString lck = MakeFile("locked", locked);
    const QString missing = Path("missing");
    const QString p2 = MakeFile("plain2", plain2);
    SetKeys("key", "key");

    // First run: processed, skipped, skipped, then the missing file stops it.
    {
        HeldLock hold(lck);
        Load({p1, enc, lck, missing, p2});
        Form->EncryptButtonClick();
    }
    QCOMPARE(Status(), NoFilePhrase);
    QCOMPARE(Entries(), QStringList{p2});
    QCOMPARE(Form->LoadedCount(), 5);
    QCOMPARE(ReadFile(p1).size(), plain1.size() + 20);
    QVERIFY(ReadFile(p1).endsWith(Marker));
    QCOMPARE(ReadFile(enc), encBefore);
    QCOMPARE(ReadFile(lck), locked);
    QCOMPARE(ReadFile(p2), plain2);

    // The run after it takes the one entry left and ends normally.
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(Entries().isEmpty());
    QCOMPARE(Form->LoadedCount(), 0);
    QCOMPARE(ReadFile(p2).size(), plain2.size() + 20);

    // Decrypt everything that exists; the locked file is skipped and stays plain.
    {
        HeldLock hold(lck);
        Load({p1, enc, lck, p2});
        Form->DecryptButtonClick();
    }
    QCOMPARE(Status(), DecryptedPhrase);
    QVERIFY(Entries().isEmpty());
    QCOMPARE(Form->LoadedCount(), 0);
    QCOMPARE(ReadFile(p1), plain1);
    QCOMPARE(ReadFile(enc), Pattern(2000, 3));
    QCOMPARE(ReadFile(lck), locked);
    QCOMPARE(ReadFile(p2), plain2);
    QVERIFY(ErrorDisplayTexts.isEmpty());

    // The last outcome is what the status line keeps, whatever came before.
    EncryptOutside(enc, TheKey);
    Load({p1, enc});
    Form->EncryptButtonClick();
    QCOMPARE(Status(), AlreadyPhrase);
    Load({enc, p2});
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptedPhrase);
    QCOMPARE(ReadFile(enc), encBefore);
}

void TestMainForm::earlyStopAndTheRunAfter() {
    const QByteArray a = Pattern(1000, 11);
    const QByteArray c = Pattern(1000, 13);
    const QString fa = MakeFile("a", a);
    const QString fb = MakeFile("b", "b");
    const QString fc = MakeFile("c", c);
    SetKeys("key", "key");
    Load({fa, fb, fc});
    QVERIFY(QFile::remove(fb));

    Form->EncryptButtonClick();
    QCOMPARE(Status(), NoFilePhrase);
    QCOMPARE(Entries(), QStringList{fc});
    QCOMPARE(Form->LoadedCount(), 3);
    QVERIFY(ReadFile(fa).endsWith(Marker));
    QCOMPARE(ReadFile(fc), c);

    // Three turns are due but one entry is left: it is processed and the run ends normally.
    QTest::mouseClick(Find<QPushButton>("EncryptButton"), Qt::LeftButton);
    QVERIFY2(ErrorDisplayTexts.isEmpty(), qPrintable(ErrorDisplayTexts.join('\n')));
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(Entries().isEmpty());
    QCOMPARE(Form->LoadedCount(), 0);
    QVERIFY(ReadFile(fc).endsWith(Marker));

    // And the next command has nothing to do.
    QTest::mouseClick(Find<QPushButton>("DecryptButton"), Qt::LeftButton);
    QVERIFY(ErrorDisplayTexts.isEmpty());
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(fc).endsWith(Marker));

    // The same for Decrypt.
    Load({fa, fb, fc});
    Form->DecryptButtonClick();
    QCOMPARE(Status(), NoFilePhrase);
    QCOMPARE(ReadFile(fa), a);
    QCOMPARE(Form->LoadedCount(), 3);
    Form->DecryptButtonClick();
    QVERIFY(ErrorDisplayTexts.isEmpty());
    QCOMPARE(Status(), DecryptedPhrase);
    QCOMPARE(ReadFile(fc), c);
    QCOMPARE(Form->LoadedCount(), 0);
}

void TestMainForm::loadingAfterEarlyStopReplacesLeftovers() {
    const QString fa = MakeFile("a", "aaaa");
    const QString fc = MakeFile("c", "cccc");
    const QString fd = MakeFile("d", "dddd");
    SetKeys("key", "key");
    Load({Path("gone"), fa, fc});
    Form->EncryptButtonClick();
    QCOMPARE(Entries(), (QStringList{fa, fc}));
    Load({fd});
    QCOMPARE(Entries(), QStringList{fd});
    QCOMPARE(Form->LoadedCount(), 1);
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(fd).endsWith(Marker));
    QCOMPARE(ReadFile(fa), QByteArray("aaaa"));
    QCOMPARE(ReadFile(fc), QByteArray("cccc"));
}

void TestMainForm::roundTrip_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("key");
    QTest::newRow("empty") << 0 << "key";
    QTest::newRow("one byte") << 1 << "key";
    QTest::newRow("trailer size") << 20 << "key";
    QTest::newRow("block minus one") << 65535 << "key";
    QTest::newRow("one block") << 65536 << "key";
    QTest::newRow("block plus one") << 65537 << "key";
    QTest::newRow("three blocks and a bit") << 200000 << "key";
    QTest::newRow("key with blanks") << 1000 << " a b ";
    QTest::newRow("key beyond ASCII") << 1000 << QStringLiteral("\u00e9\u20ac\u4e2d");
    QTest::newRow("long key") << 1000 << QString(400, QLatin1Char('z'));
}

void TestMainForm::roundTrip() {
    QFETCH(int, size);
    QFETCH(QString, key);
    const QByteArray plain = Pattern(size, static_cast<quint32>(size) + 5);
    const QString first = MakeFile("first", plain);
    const QString second = MakeFile("second", plain);
    SetKeys(key, key);
    Load({first, second});
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptedPhrase);
    const QByteArray encrypted = ReadFile(first);
    QCOMPARE(encrypted.size(), plain.size() + 20);
    QVERIFY(encrypted.endsWith(Marker));
    if (size >= 8)
        QVERIFY(encrypted.left(size) != plain);
    QCOMPARE(ReadFile(second), encrypted);

    Load({first, second});
    Form->DecryptButtonClick();
    QCOMPARE(Status(), DecryptedPhrase);
    QCOMPARE(ReadFile(first), plain);
    QCOMPARE(ReadFile(second), plain);
    QVERIFY(ErrorDisplayTexts.isEmpty());
}

void TestMainForm::immediateRepaints_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("files"); // p: plain, e: encrypted, m: missing
    QTest::addColumn<QStringList>("painted");
    QTest::addColumn<QStringList>("spoken"); // the status line's accessible name at each of those paints
    const QString encrypting = QStringLiteral("Encrypting...");
    const QString encrypted = QStringLiteral("Encryption Complete!");
    const QString decrypting = QStringLiteral("Decrypting...");
    const QString decrypted = QStringLiteral("Decryption Complete!");
    QTest::newRow("encrypt, keys differ")
        << "encrypt"
        << "differ" << QStringList{"p"} << QStringList{EncryptingPhrase} << QStringList{encrypting};
    QTest::newRow("encrypt, two plain") << "encrypt"
                                        << "same" << QStringList{"p", "p"}
                                        << QStringList{EncryptingPhrase, EncryptedPhrase, EncryptedPhrase}
                                        << QStringList{encrypting, encrypted, encrypted};
    QTest::newRow("encrypt, skip then plain")
        << "encrypt"
        << "same" << QStringList{"e", "p"} << QStringList{EncryptingPhrase, EncryptedPhrase}
        << QStringList{encrypting, encrypted};
    QTest::newRow("encrypt, missing") << "encrypt"
                                      << "same" << QStringList{"m"} << QStringList{EncryptingPhrase}
                                      << QStringList{encrypting};
    QTest::newRow("decrypt, keys differ") << "decrypt"
                                          << "differ" << QStringList{"e"} << QStringList{} << QStringList{};
    QTest::newRow("decrypt, two encrypted")
        << "decrypt"
        << "same" << QStringList{"e", "e"}
        << QStringList{DecryptingPhrase, DecryptedPhrase, DecryptingPhrase, DecryptedPhrase}
        << QStringList{decrypting, decrypted, decrypting, decrypted};
    QTest::newRow("decrypt, plain then encrypted")
        << "decrypt"
        << "same" << QStringList{"p", "e"} << QStringList{DecryptingPhrase, DecryptingPhrase, DecryptedPhrase}
        << QStringList{decrypting, decrypting, decrypted};
    QTest::newRow("decrypt, missing") << "decrypt"
                                      << "same" << QStringList{"m"} << QStringList{} << QStringList{};
}

void TestMainForm::immediateRepaints() {
    QFETCH(QString, command);
    QFETCH(QString, keys);
    QFETCH(QStringList, files);
    QFETCH(QStringList, painted);
    QFETCH(QStringList, spoken);
    QStringList paths;
    for (int n = 0; n < files.size(); ++n) {
        const QString name = QStringLiteral("f%1").arg(n);
        if (files[n] == "m") {
            paths.append(Path(name));
            continue;
        }
        paths.append(MakeFile(name, Pattern(1000, 9)));
        if (files[n] == "e")
            EncryptOutside(paths.last(), TheKey);
    }
    Load(paths);
    SetKeys("key", keys == "same" ? "key" : "KEY");
    QTest::qWait(1); // let the window paint what loading changed

    PaintRecorder status(Find<QLabel>("StatusText"));
    PaintCounter list(Find<QListWidget>("FileList")->viewport());
    if (command == "encrypt")
        Form->EncryptButtonClick();
    else
        Form->DecryptButtonClick();
    // Only what the run drew at once, before the event loop ran again.
    QCOMPARE(status.Painted, painted);
    // What a screen reader is told is the phrase without the padding that covers the one before it.
    QCOMPARE(status.Spoken, spoken);
    if (keys == "same")
        QVERIFY2(list.Paints >= files.size(), qPrintable(QString::number(list.Paints)));

    // Afterwards the window shows the last phrase.
    status.Painted.clear();
    QTRY_VERIFY(!status.Painted.isEmpty());
    QCOMPARE(status.Painted.last(), Status());
}

// While the first of three large files is in its pass, the list shows the two still queued.
void TestMainForm::queueVisibleDuringPass() {
    QStringList paths;
    for (const char* name : {"one", "two", "three"})
        paths.append(MakeFile(QLatin1String(name), Pattern(4 * 65536, 40)));
    SetKeys("key", "key");
    Load(paths);
    QTest::qWait(1);
    auto* list = Find<QListWidget>("FileList");
    int rowsShown = -1;
    Form->Unit().CurrentFile.SetFaultHook([&](veltrane::FileOperation operation, std::int64_t position, std::size_t&) {
        if (rowsShown < 0 && operation == veltrane::FileOperation::Read && position == 2 * 65536) {
            // Bands of text rows drawn in the list's red.
            const QImage shot = list->viewport()->grab().toImage();
            rowsShown = 0;
            bool inRow = false;
            for (int y = 0; y < shot.height(); ++y) {
                bool red = false;
                for (int x = 0; x < shot.width() && !red; ++x)
                    red = qRed(shot.pixel(x, y)) > 128 && qGreen(shot.pixel(x, y)) < 100;
                rowsShown += red && !inRow ? 1 : 0;
                inRow = red;
            }
        }
        return 0;
    });
    Form->EncryptButtonClick();
    Form->Unit().CurrentFile.SetFaultHook({});
    QCOMPARE(rowsShown, 2);
    QCOMPARE(Status(), EncryptedPhrase);
}

void TestMainForm::gaugeDuringAndAfterPass() {
    auto* gauge = Find<veltrane::TGauge>("PercentDoneGauge");
    const QString file = MakeFile("big", Pattern(5 * 65536 + 10, 21));
    SetKeys("key", "key");
    Load({file});
    PaintCounter paints(gauge);
    Form->EncryptButtonClick();
    // The pass showed the gauge and drew it at once; the run then hid it and reset it.
    QVERIFY(paints.Paints >= 1);
    QVERIFY(paints.VisibleWhenPainted);
    QVERIFY(!gauge->isVisible());
    QCOMPARE(gauge->Progress(), 0);
    QVERIFY(Find<QWidget>("Image1")->isVisible());

    // A skipped file leaves the gauge alone.
    paints.Paints = 0;
    Load({file});
    Form->EncryptButtonClick();
    QCOMPARE(paints.Paints, 0);
    QVERIFY(!gauge->isVisible());
}

void TestMainForm::engineFailureReachesErrorDisplay() {
    const QByteArray plain = Pattern(4096, 31);
    const QString first = MakeFile("first", Pattern(100, 30));
    const QString file = MakeFile("file", plain);
    const QString after = MakeFile("after", Pattern(100, 32));
    SetKeys("key", "key");
    Load({first, file, after});
    {
        // A file-size limit that the first file (with the state it carries while it is encrypted) fits
        // under but the second does not.
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = static_cast<rlim_t>(10000);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        QTest::mouseClick(Find<QPushButton>("EncryptButton"), Qt::LeftButton);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    QCOMPARE(ErrorDisplayTexts.size(), 1);
    QVERIFY(ErrorDisplayTexts[0].endsWith('.'));
    QVERIFY2(ErrorDisplayTexts[0].contains(QFileInfo(file).fileName()), qPrintable(ErrorDisplayTexts[0]));
    // The file in hand is as it was, the first one stays encrypted, the rest waits in the list.
    QCOMPARE(ReadFile(file), plain);
    QVERIFY(ReadFile(first).endsWith(Marker));
    QCOMPARE(ReadFile(after), Pattern(100, 32));
    QCOMPARE(Entries(), QStringList{after});
    QCOMPARE(Form->LoadedCount(), 3);
    QVERIFY(!Form->Unit().CurrentFile.isOpen());

    // The program runs on: the next command works.
    Form->EncryptButtonClick();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(after).endsWith(Marker));
}

void TestMainForm::windowSystemDuringRun_data() {
    QTest::addColumn<QString>("arrival"); // what comes in part-way through the run
    QTest::addColumn<bool>("handledDuringRun");
    QTest::newRow("an event posted to the program") << "posted" << true;
    QTest::newRow("a request to close the window") << "close" << false;
    QTest::newRow("About chosen (by a screen reader's press)") << "about" << false;
    QTest::newRow("files dropped on the window") << "drop" << false;
}

// During a run the window answers the window system (the events it posts, such as a screen reader's
// questions) but what the user asks for waits for the run's end, and is done then; a drop, which
// cannot wait, is refused.
void TestMainForm::windowSystemDuringRun() {
    QFETCH(QString, arrival);
    QFETCH(bool, handledDuringRun);
    const QByteArray plain = Pattern(6 * 65536, 50);
    const QString file = MakeFile("big", plain);
    const QString other = MakeFile("other", "x");
    SetKeys("key", "key");
    Load({file});
    QTest::qWait(1);

    class Receiver : public QObject {
    public:
        bool event(QEvent* event) override {
            if (event->type() != QEvent::User)
                return QObject::event(event);
            ++Delivered;
            return true;
        }
        int Delivered = 0;
    } receiver;
    int aboutShown = 0;
    Form->setAboutWindowAction([&aboutShown] { ++aboutShown; });
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(other)});
    bool arrived = false;
    bool dropAccepted = false;
    Form->Unit().CurrentFile.SetFaultHook([&](veltrane::FileOperation operation, std::int64_t position, std::size_t&) {
        if (arrived || operation != veltrane::FileOperation::Read || position != 65536)
            return 0;
        arrived = true;
        if (arrival == "posted") {
            QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
        } else if (arrival == "close") {
            QCoreApplication::postEvent(Form->windowHandle(), new QCloseEvent);
        } else if (arrival == "about") {
            Form->findChild<QAction*>("About1")->trigger();
        } else {
            QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(Form.get(), &enter);
            dropAccepted = enter.isAccepted();
        }
        // Longer than the pump's interval, so that the window system is answered after this block.
        QThread::msleep(veltrane::RunEventPump::Interval + 10);
        return 0;
    });
    Form->EncryptButtonClick();
    Form->Unit().CurrentFile.SetFaultHook({});
    QVERIFY(arrived);

    // Handled during the run, or left for its end.
    bool handled = false;
    if (arrival == "posted")
        handled = receiver.Delivered == 1;
    else if (arrival == "close")
        handled = !Form->isVisible();
    else if (arrival == "about")
        handled = aboutShown > 0;
    else
        handled = dropAccepted;
    QCOMPARE(handled, handledDuringRun);
    // The run itself went through untouched.
    QCOMPARE(ReadFile(file), Encrypted(plain, TheKey));
    QCOMPARE(Status(), EncryptedPhrase);

    // Once the run is over, what waited is done.
    QTest::qWait(50);
    if (arrival == "close") {
        QVERIFY(!Form->isVisible());
    } else if (arrival == "about") {
        QCOMPARE(aboutShown, 1);
    } else {
        QVERIFY(Form->isVisible());
        QVERIFY(Entries().isEmpty());
    }
}
