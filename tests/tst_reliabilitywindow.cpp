// Faults and bad entries met by the window's runs, driven through its public face: the chooser
// stand-in, the key boxes, the buttons, the status line, the list and the error display.

#include "app/tapplication.h"
#include "engine/secretmemory.h"
#include "gauge/tgauge.h"
#include "main/filechooser.h"
#include "main/mainform.h"
#include "main/nativepath.h"
#include "main/topendialog.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"
#include "tests/support/windowtexts.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::FileOperation;
using veltrane::TApplication;
using veltrane::TMainForm;

namespace {

const QByteArray TheKey("window key");

} // namespace

class TestReliabilityWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void badEntryStopsTheRun_data();
    void badEntryStopsTheRun();
    void nameThatIsNotText();
    void namesThatAreNotTextInTheDialog();
    void nativePaths_data();
    void nativePaths();
    void replacedBetweenMarkerTestAndPass();
    void writeFailsMidPass_data();
    void writeFailsMidPass();
    void manyFiles();
    void interruptedEarlier_data();
    void interruptedEarlier();
    void signalDuringRun_data();
    void signalDuringRun();
    void keyOutOfCoreDumps();

private:
    template <typename T> T* Find(const char* name) const { return m_form->findChild<T*>(QLatin1String(name)); }
    QString Status() const { return Find<QLabel>("StatusText")->text(); }
    int Entries() const { return Find<QListWidget>("FileList")->count(); }
    void Load(const QStringList& paths) {
        m_form->OpenDialog().setChooser(
            [paths](QWidget*, const QString&) { return std::optional<QStringList>(paths); });
        m_form->FileOpen();
    }
    void Encrypt() { QTest::mouseClick(Find<QPushButton>("EncryptButton"), Qt::LeftButton); }
    void Decrypt() { QTest::mouseClick(Find<QPushButton>("DecryptButton"), Qt::LeftButton); }
    QString MakeFile(const QString& name, const QByteArray& bytes) const {
        const QString path = m_dir->filePath(name);
        if (!WriteFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMainForm> m_form;
    QStringList m_errors;
    // The status line and the gauge as the error display found them.
    QString m_sceneAtError;
};

void TestReliabilityWindow::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_errors.clear();
    static_cast<TApplication*>(QCoreApplication::instance())
        ->setMessageBoxShower([this](const QString&, const QString& text) {
            m_errors.append(text);
            const auto* gauge = Find<veltrane::TGauge>("PercentDoneGauge");
            m_sceneAtError = QStringLiteral("%1, gauge %2 at %3")
                                 .arg(Status(), gauge->isVisible() ? "shown" : "hidden")
                                 .arg(gauge->Progress());
        });
    m_form = std::make_unique<TMainForm>();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    Find<QLineEdit>("KeyBox")->setText(QString::fromLatin1(TheKey));
    Find<QLineEdit>("VKeyBox")->setText(QString::fromLatin1(TheKey));
}

void TestReliabilityWindow::cleanup() {
    m_form.reset();
    static_cast<TApplication*>(QCoreApplication::instance())->setMessageBoxShower({});
    m_dir.reset();
}

void TestReliabilityWindow::badEntryStopsTheRun_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"folder", "FIFO", "/dev/null", "dangling link", "link to a folder", "missing"})
        QTest::newRow(kind) << kind;
}

// An entry that names no ordinary file ends the run with "No File Chosen" at once (a FIFO must not
// hang it); the files before it are done, the ones after it wait in the list for the next run.
void TestReliabilityWindow::badEntryStopsTheRun() {
    QFETCH(QString, kind);
    const QByteArray plain = Pattern(3000, 1);
    const QString first = MakeFile("first", plain);
    const QString last = MakeFile("last", plain);
    const QString bad = m_dir->filePath("bad");
    const QByteArray badPath = QFile::encodeName(bad);
    if (kind == "folder")
        QVERIFY(::mkdir(badPath.constData(), 0700) == 0);
    else if (kind == "FIFO")
        QVERIFY(::mkfifo(badPath.constData(), 0600) == 0);
    else if (kind == "/dev/null")
        QVERIFY(::symlink("/dev/null", badPath.constData()) == 0);
    else if (kind == "dangling link")
        QVERIFY(::symlink("nowhere", badPath.constData()) == 0);
    else if (kind == "link to a folder")
        QVERIFY(::symlink("/", badPath.constData()) == 0);

    Load({first, bad, last});
    QElapsedTimer timer;
    timer.start();
    Encrypt();
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(Status(), NoFilePhrase);
    QVERIFY(m_errors.isEmpty());
    QVERIFY(ReadFile(first) == Encrypted(plain, TheKey));
    QVERIFY(ReadFile(last) == plain);
    QCOMPARE(Entries(), 1);
    QVERIFY(!QFileInfo::exists(m_dir->filePath("nowhere")));

    Encrypt();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(last) == Encrypted(plain, TheKey));
}

// A chosen file whose name is not UTF-8 reaches the window as text with replacement characters.
// Alone in its folder under that reading, it is the file the run works on; beside a file whose
// name is that very text, which of the two was meant cannot be told, and neither is touched.
void TestReliabilityWindow::nameThatIsNotText() {
    const QByteArray raw = QFile::encodeName(m_dir->path()) + "/name \xff\xfe";
    const QString asText = QFile::decodeName(raw);
    const QByteArray lookAlike = QFile::encodeName(asText);
    QVERIFY(lookAlike != raw);
    const QByteArray plain = Pattern(2000, 2);
    QVERIFY(WriteFile(raw, plain));

    Load({asText});
    Encrypt();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(raw) == Encrypted(plain, TheKey));
    Load({asText});
    Decrypt();
    QVERIFY(ReadFile(raw) == plain);

    // Two names that read alike, and a plain file after them that is still done.
    QVERIFY(WriteFile(lookAlike, plain));
    const QString next = MakeFile("after the look-alikes", plain);
    Load({asText, next});
    Encrypt();
    QCOMPARE(Status(), EncryptedPhrase);
    QVERIFY(ReadFile(raw) == plain);
    QVERIFY(ReadFile(lookAlike) == plain);
    QVERIFY(ReadFile(next) == Encrypted(plain, TheKey));
    Load({asText});
    Encrypt();
    QCOMPARE(Status(), CannotOpenPhrase);
    QCOMPARE(Entries(), 0);
    QVERIFY(ReadFile(raw) == plain);
    QVERIFY(ReadFile(lookAlike) == plain);
    ::unlink(raw.constData());
    ::unlink(lookAlike.constData());
}

// The program's dialog lists names that are not text, look-alikes each on its own row, and hands
// back the very bytes of the rows chosen.
void TestReliabilityWindow::namesThatAreNotTextInTheDialog() {
    const QByteArray base = QFile::encodeName(m_dir->path()) + '/';
    const QByteArrayList names{base + "name \xff\xfe", QFile::encodeName(QFile::decodeName(base + "name \xff\xfe"))};
    const QByteArray plain = Pattern(2000, 7);
    for (const QByteArray& name : names)
        QVERIFY(WriteFile(name, plain));
    const auto choose = [&](int rows) {
        m_form->OpenDialog().setChooser({});
        QTimer::singleShot(0, this, [&, rows] {
            auto* dialog = qobject_cast<veltrane::FileChooser*>(QApplication::activeModalWidget());
            QVERIFY(dialog != nullptr);
            dialog->OpenFolder(base.chopped(1));
            auto* list = dialog->findChild<QTreeWidget*>("FolderList");
            const auto found = list->findItems(QFile::decodeName(names[0]).section('/', -1), Qt::MatchExactly);
            QCOMPARE(found.size(), 2);
            for (int n = 0; n < rows; ++n)
                found[n]->setSelected(true);
            dialog->accept();
        });
        m_form->FileOpen();
    };
    choose(1);
    Encrypt();
    QCOMPARE(Status(), EncryptedPhrase);
    QCOMPARE(int(ReadFile(names[0]) == plain) + int(ReadFile(names[1]) == plain), 1);
    choose(2);
    Encrypt();
    QCOMPARE(Entries(), 0);
    for (const QByteArray& name : names) {
        QVERIFY(ReadFile(name) == Encrypted(plain, TheKey));
        ::unlink(name.constData());
    }
}

void TestReliabilityWindow::nativePaths_data() {
    QTest::addColumn<QByteArrayList>("made"); // names made under the temporary folder, "/" ending folders
    QTest::addColumn<QByteArray>("chosen");   // the name chosen, as bytes; it reaches us decoded
    QTest::addColumn<QByteArray>("expected"); // the bytes it resolves to, or "?" for none
    QTest::newRow("UTF-8 name") << QByteArrayList{"caf\xc3\xa9"} << QByteArray("caf\xc3\xa9")
                                << QByteArray("caf\xc3\xa9");
    QTest::newRow("Latin-1 name") << QByteArrayList{"caf\xe9"} << QByteArray("caf\xe9") << QByteArray("caf\xe9");
    QTest::newRow("Latin-1 folder and name") << QByteArrayList{"d\xe9j\xe0/", "d\xe9j\xe0/\xff"}
                                             << QByteArray("d\xe9j\xe0/\xff") << QByteArray("d\xe9j\xe0/\xff");
    QTest::newRow("missing, left as text")
        << QByteArrayList{} << QByteArray("gone \xff") << QByteArray("gone \xef\xbf\xbd");
    QTest::newRow("two names read alike") << QByteArrayList{"x\xff", "x\xfe"} << QByteArray("x\xff") << QByteArray("?");
    QTest::newRow("look-alike in a folder that is not")
        << QByteArrayList{"a\xff/", "a\xfe/", "a\xff/f"} << QByteArray("a\xff/f") << QByteArray("?");
}

void TestReliabilityWindow::nativePaths() {
    QFETCH(QByteArrayList, made);
    QFETCH(QByteArray, chosen);
    QFETCH(QByteArray, expected);
    const QByteArray base = QFile::encodeName(m_dir->path()) + '/';
    for (const QByteArray& name : made) {
        const QByteArray path = base + name;
        if (name.endsWith('/'))
            QCOMPARE(::mkdir(path.constData(), 0700), 0);
        else
            QCOMPARE(::close(::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)), 0);
    }
    const std::optional<QByteArray> native = veltrane::NativePathOf(QFile::decodeName(base + chosen));
    // The temporary folder cannot remove names that are not text by itself.
    for (auto name = made.crbegin(); name != made.crend(); ++name)
        (name->endsWith('/') ? ::rmdir : ::unlink)((base + *name).constData());
    if (expected == "?")
        QVERIFY(!native);
    else
        QCOMPARE(native.value_or("?"), base + expected);
}

// Another program renames a file over the chosen one after the marker test: the window must not
// encipher the newcomer, which no marker test has seen; the error display says so and the run stops
// there, leaving the next file in the list.
void TestReliabilityWindow::replacedBetweenMarkerTestAndPass() {
    const QByteArray plain = Pattern(5000, 3);
    const QString victim = MakeFile("victim", plain);
    const QString next = MakeFile("next", plain);
    const QByteArray newcomer = Encrypted(Pattern(700, 4), "somebody else's key");
    const QString staged = MakeFile("staged", newcomer);
    bool swapped = false;
    m_form->Unit().CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t, std::size_t&) {
        if (operation == FileOperation::Read && !swapped &&
            m_form->Unit().CurrentFileName == QFile::encodeName(victim).toStdString()) {
            swapped = true;
            ::rename(QFile::encodeName(staged).constData(), QFile::encodeName(victim).constData());
        }
        return 0;
    });
    Load({victim, next});
    Encrypt();
    m_form->Unit().CurrentFile.SetFaultHook({});
    QVERIFY(swapped);
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].endsWith("another program deleted the file; it was not written further, and none of "
                                  "its bytes had been changed."),
             qPrintable(m_errors[0]));
    QVERIFY(ReadFile(victim) == newcomer);
    QVERIFY(ReadFile(next) == plain);
    QCOMPARE(Entries(), 1);
}

void TestReliabilityWindow::writeFailsMidPass_data() {
    QTest::addColumn<bool>("decrypting");
    QTest::newRow("encrypt") << false;
    QTest::newRow("decrypt") << true;
}

// A disk fault in the middle of a file's pass: the error display says the file was restored, the
// file is as it was, the window behind the display no longer looks busy, and the next command picks
// up the files left in the list.
void TestReliabilityWindow::writeFailsMidPass() {
    QFETCH(bool, decrypting);
    const auto start = [&](const QByteArray& plain) { return decrypting ? Encrypted(plain, TheKey) : plain; };
    const auto done = [&](const QByteArray& plain) { return decrypting ? plain : Encrypted(plain, TheKey); };
    const QByteArray small = Pattern(1000, 5);
    const QByteArray large = Pattern(4 * 65536 + 9, 6);
    const QString first = MakeFile("first", start(small));
    const QString failing = MakeFile("failing", start(large));
    const QString last = MakeFile("last", start(small));
    m_form->Unit().CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t position, std::size_t&) {
        return operation == FileOperation::Write && position == 2 * 65536 &&
                       m_form->Unit().CurrentFileName == QFile::encodeName(failing).toStdString()
                   ? EIO
                   : 0;
    });
    Load({first, failing, last});
    decrypting ? Decrypt() : Encrypt();
    m_form->Unit().CurrentFile.SetFaultHook({});
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].endsWith("input/output error; the file was restored."), qPrintable(m_errors[0]));
    QCOMPARE(m_sceneAtError, (decrypting ? DecryptionStoppedPhrase : EncryptionStoppedPhrase) + ", gauge hidden at 0");
    QVERIFY(ReadFile(first) == done(small));
    QVERIFY(ReadFile(failing) == start(large));
    QVERIFY(ReadFile(last) == start(small));
    QCOMPARE(Entries(), 1);

    decrypting ? Decrypt() : Encrypt();
    QVERIFY(ReadFile(last) == done(small));
    QCOMPARE(m_errors.size(), 1);
}

void TestReliabilityWindow::interruptedEarlier_data() {
    QTest::addColumn<bool>("decrypting"); // the command that was killed
    QTest::addColumn<bool>("thenEncrypt");
    QTest::addColumn<QString>("phrase");
    QTest::newRow("encryption killed, Encrypt finishes it") << false << true << FinishedEncryptionPhrase;
    QTest::newRow("encryption killed, Decrypt undoes it") << false << false << UndidEncryptionPhrase;
    QTest::newRow("decryption killed, Decrypt finishes it") << true << false << FinishedDecryptionPhrase;
    QTest::newRow("decryption killed, Encrypt undoes it") << true << true << UndidDecryptionPhrase;
}

// A run killed part-way (SIGKILL, a crash): the next start names the file in the status line, a
// wrong key leaves it alone, and either button with the right key gives the whole result and says
// what it found. The start after that shows the welcome again.
void TestReliabilityWindow::interruptedEarlier() {
    QFETCH(bool, decrypting);
    QFETCH(bool, thenEncrypt);
    QFETCH(QString, phrase);
    const QByteArray plain = Pattern(20 * 65536 + 123, 5);
    const QString path = MakeFile(QStringLiteral("report.bin"), decrypting ? Encrypted(plain, TheKey) : plain);
    QCOMPARE(RunInChild([&] {
                 veltrane::EngineUnit unit;
                 unit.KeyText = Key(TheKey);
                 // Short zones, so that the kill comes with some of them done.
                 unit.Durable = false;
                 RunOne(unit, decrypting ? Command::Decrypt : Command::Encrypt, path,
                        Interference{{}, {}, KillAtBodyWrite(6, plain.size() + (decrypting ? 20 : 0))});
             }),
             SIGKILL);

    m_form = std::make_unique<TMainForm>();
    // The file by its name and folder, so that it can be found again; the home folder as "~".
    QString folder = QFileInfo(path).path();
    if (folder.startsWith(QDir::homePath() + '/'))
        folder = '~' + folder.mid(QDir::homePath().size());
    QVERIFY2(QRegularExpression(QStringLiteral("^Interrupted earlier: report\\.bin in %1 \\(%2, [1-9][0-9]?%\\)\\.\n"
                                               "Load it and press Encrypt or Decrypt with the same key to finish or "
                                               "undo it\\.$")
                                    .arg(QRegularExpression::escape(folder), decrypting ? "decrypting" : "encrypting"))
                 .match(Status())
                 .hasMatch(),
             qPrintable(Status()));
    const QByteArray left = ReadFile(path);
    Find<QLineEdit>("KeyBox")->setText(QStringLiteral("other key"));
    Find<QLineEdit>("VKeyBox")->setText(QStringLiteral("other key"));
    Load({path});
    thenEncrypt ? Encrypt() : Decrypt();
    QCOMPARE(Status(), InvalidKeyPhrase);
    QVERIFY(ReadFile(path) == left);

    Find<QLineEdit>("KeyBox")->setText(QString::fromLatin1(TheKey));
    Find<QLineEdit>("VKeyBox")->setText(QString::fromLatin1(TheKey));
    Load({path});
    thenEncrypt ? Encrypt() : Decrypt();
    QCOMPARE(Status(), phrase);
    QVERIFY(ReadFile(path) == (thenEncrypt ? Encrypted(plain, TheKey) : plain));
    QVERIFY(m_errors.isEmpty());
    m_form = std::make_unique<TMainForm>();
    QCOMPARE(Status(), WelcomeText);
}

void TestReliabilityWindow::signalDuringRun_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("decrypting");
    QTest::newRow("termination request, encrypting") << int(SIGTERM) << false;
    QTest::newRow("hang-up, decrypting") << int(SIGHUP) << true;
    QTest::newRow("Ctrl-C, encrypting") << int(SIGINT) << false;
}

// A signal that asks the program to stop (logout, a closed terminal) in the middle of a run: the
// file in hand is put back as it was, the next is not begun, and the program ends by that signal.
void TestReliabilityWindow::signalDuringRun() {
    QFETCH(int, signal);
    QFETCH(bool, decrypting);
    const QByteArray plain = Pattern(12 * 65536, 9);
    const QByteArray start = decrypting ? Encrypted(plain, TheKey) : plain;
    const QString first = MakeFile(QStringLiteral("first"), start);
    const QString second = MakeFile(QStringLiteral("second"), start);
    Load({first, second});
    const int ended = RunInChild([&] {
        m_form->Unit().CurrentFile.SetFaultHook(
            [signal, writes = 0](FileOperation operation, std::int64_t, std::size_t&) mutable {
                if (operation == FileOperation::Write && ++writes == 4)
                    ::raise(signal);
                return 0;
            });
        decrypting ? Decrypt() : Encrypt();
    });
    QCOMPARE(ended, signal);
    QVERIFY(ReadFile(first) == start);
    QVERIFY(ReadFile(second) == start);
}

// A long list through the window: every file done, the list drained, the count reset.
void TestReliabilityWindow::manyFiles() {
    constexpr int Count = 10000;
    QStringList paths;
    for (int n = 0; n < Count; ++n)
        paths << MakeFile(QString::number(n), Pattern(n % 100 + 1, std::uint32_t(n)));
    Load(paths);
    // What is under load here is the run over many files, not the disk: each file's steps do not
    // wait for it (the engine's own suites check what waiting gives).
    m_form->Unit().Durable = false;
    QElapsedTimer timer;
    timer.start();
    Encrypt();
    qInfo("encrypting %d files through the window: %lld ms", Count, timer.elapsed());
    QCOMPARE(Status(), EncryptedPhrase);
    QCOMPARE(Entries(), 0);
    QCOMPARE(m_form->LoadedCount(), 0);
    for (int n = 0; n < Count; ++n)
        QVERIFY(ReadFile(paths[n]) == Encrypted(Pattern(n % 100 + 1, std::uint32_t(n)), TheKey));
}

int main(int argc, char* argv[]) {
    TApplication application(argc, argv);
    TestReliabilityWindow test;
    return QTest::qExec(&test, argc, argv);
}

// A core of the window taken in the middle of a run (gcore, which leaves out what the program marked
// so, as the kernel's dumps do) holds none of the key bytes the engine works with, though it holds the
// rest of the program's memory.
void TestReliabilityWindow::keyOutOfCoreDumps() {
    const QString gcore = QStandardPaths::findExecutable(QStringLiteral("gcore"));
    if (gcore.isEmpty())
        QSKIP("gcore is not installed");
    if (::geteuid() != 0)
        QSKIP("only root can take a core of a process that is not dumpable");
#ifdef VELTRANE_SANITIZED_BUILD
    QSKIP("the sanitizers' shadow memory makes the core too large to search");
#endif
    // A key of this run's own, so that no copy of it sits in the program's text, kept here where dumps
    // leave it out too; beside it, in plain memory, the same letters reversed, which the core must hold.
    veltrane::SecretBytes key;
    for (int n = 0; n < 24; ++n)
        key.push_back(std::uint8_t('a' + QRandomGenerator::global()->bounded(26)));
    QByteArray reversed(reinterpret_cast<const char*>(key.data()), qsizetype(key.size()));
    std::reverse(reversed.begin(), reversed.end());
    const QByteArrayView keyView(key.data(), qsizetype(key.size()));
    Find<QLineEdit>("KeyBox")->setText(QString::fromLatin1(keyView));
    Find<QLineEdit>("VKeyBox")->setText(QString::fromLatin1(keyView));
    const QString file = MakeFile(QStringLiteral("dumped.bin"), Pattern(8 * 65536, 9));
    const QString core = m_dir->filePath(QStringLiteral("core"));
    QString failure;
    m_form->Unit().CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t position, std::size_t&) {
        if (operation == FileOperation::Write && position == 4 * 65536 && failure.isEmpty()) {
            QProcess dump;
            dump.start(gcore, {QStringLiteral("-o"), core, QString::number(::getpid())});
            if (!dump.waitForFinished(120000) || dump.exitCode() != 0)
                failure = QString::fromLocal8Bit(dump.readAllStandardError()).simplified() + ' ';
            failure += QStringLiteral("dumped");
        }
        return 0;
    });
    Load({file});
    Encrypt();
    m_form->Unit().CurrentFile.SetFaultHook({});
    QVERIFY(ReadFile(file) == Encrypted(Pattern(8 * 65536, 9), keyView.toByteArray()));
    QFile dumped(core + '.' + QString::number(::getpid()));
    if (failure != QStringLiteral("dumped") || !dumped.open(QIODevice::ReadOnly))
        QSKIP(qPrintable(QStringLiteral("no core taken: ") + failure));
    const uchar* bytes = dumped.map(0, dumped.size());
    QVERIFY(bytes != nullptr);
    const QByteArrayView whole(bytes, dumped.size());
    QVERIFY2(whole.indexOf(reversed) >= 0, "the core holds the program's plain memory");
    QVERIFY2(whole.indexOf(keyView) < 0, "the core holds the key bytes");
    dumped.unmap(const_cast<uchar*>(bytes));
    dumped.remove();
}

#include "tst_reliabilitywindow.moc"
