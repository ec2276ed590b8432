// Load: one run of the command-line tool over 10,000 small files (one after another and four at once), and the per-file
// sequences over a sparse file above 4 GiB, each encrypted and decrypted with every byte checked where it counts.
//
// The large file is skipped when VELTRANE_SKIP_LARGE_FILES is set to 1 (the sanitized build sets
// it, where the pass runs several times slower) or when its file system lacks the room.

#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <sys/statvfs.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;

class TestLoad : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tenThousandSmallFiles_data();
    void tenThousandSmallFiles();
    void sparseFileAbove4GiB();

private:
    std::optional<QTemporaryDir> m_dir;
};

void TestLoad::init() {
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestLoad::cleanup() {
    m_dir.reset();
}

void TestLoad::tenThousandSmallFiles_data() {
    QTest::addColumn<QString>("jobs");
    QTest::newRow("one after another") << "1";
    // Later small files finish before the large ones among them; the lines keep the order.
    QTest::newRow("four at once") << "4";
}

void TestLoad::tenThousandSmallFiles() {
    QFETCH(QString, jobs);
    constexpr int Count = 10000;
    const QByteArray key("many files");
    QStringList files;
    QList<QByteArray> contents;
    for (int n = 0; n < Count; ++n) {
        // Sizes 0 to 299, a few of them ending with the marker (those must be skipped, unchanged).
        QByteArray content = Pattern(n % 2500 == 1 ? 3 << 20 : n % 300, std::uint32_t(n));
        if (n % 1000 == 999)
            content += Marker;
        files << m_dir->filePath(QString::number(n));
        contents << content;
        QVERIFY(WriteFile(files.last(), content));
    }

    const auto run = [&](const char* command) {
        QProcess tool;
        // Without syncs: what is under load here is the run over many files, not the disk.
        tool.start(QStringLiteral(VELTRANE_CLI_PATH), QStringList{command, "--no-sync", "-j", jobs} + files);
        tool.write(key + '\n');
        tool.closeWriteChannel();
        QElapsedTimer timer;
        timer.start();
        const bool finished = tool.waitForFinished(120000);
        qInfo("%s over %d files with -j %s: %lld ms", command, Count, qPrintable(jobs), timer.elapsed());
        return finished ? tool.readAllStandardOutput().split('\n') : QList<QByteArray>{};
    };

    const QList<QByteArray> encrypted = run("encrypt");
    QCOMPARE(encrypted.size(), Count + 1);
    for (int n = 0; n < Count; ++n) {
        const bool marked = contents[n].endsWith(Marker);
        QCOMPARE(encrypted[n], QFile::encodeName(files[n]) + (marked ? ": skipped: already encrypted" : ": encrypted"));
        QVERIFY2(ReadFile(files[n]) == (marked ? contents[n] : Encrypted(contents[n], key)), qPrintable(files[n]));
    }

    const QList<QByteArray> decrypted = run("decrypt");
    QCOMPARE(decrypted.size(), Count + 1);
    for (int n = 0; n < Count; ++n) {
        const bool marked = contents[n].endsWith(Marker);
        QCOMPARE(decrypted[n], QFile::encodeName(files[n]) + (marked ? ": skipped: invalid key" : ": decrypted"));
        QVERIFY2(ReadFile(files[n]) == contents[n], qPrintable(files[n]));
    }
}

void TestLoad::sparseFileAbove4GiB() {
    if (qEnvironmentVariableIntValue("VELTRANE_SKIP_LARGE_FILES") == 1)
        QSKIP("VELTRANE_SKIP_LARGE_FILES=1");
    const std::int64_t size = (std::int64_t(1) << 32) + 3 * 65536 + 77;
    // The pass writes every block, so the sparse file becomes a whole one.
    struct statvfs room {};
    if (::statvfs(QFile::encodeName(m_dir->path()).constData(), &room) != 0 ||
        std::int64_t(room.f_bavail) * std::int64_t(room.f_frsize) < size + (std::int64_t(1) << 30))
        QSKIP("not enough room for a file above 4 GiB");

    const QString file = m_dir->filePath("large");
    const QByteArray head = Pattern(70000, 21);
    const QByteArray tail = Pattern(1000, 22);
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(head) == head.size());
        if (!out.resize(size - tail.size()))
            QSKIP("the file system cannot hold a file above 4 GiB");
        QVERIFY(out.seek(size - tail.size()));
        QVERIFY(out.write(tail) == tail.size());
    }

    const QByteArray key("large");
    EngineUnit unit;
    unit.KeyText = Key(key);
    RecordingDisplay display;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(RunOne(unit, Command::Encrypt, file, {}, &display).Outcome, QStringLiteral("encrypted"));
    qInfo("encrypting %lld bytes: %lld ms", static_cast<long long>(size), timer.restart());

    // The trailer sits past 4 GiB; the body starts as the keystream says; the figures climbed to 100.
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.size(), size + 20);
    QVERIFY(in.read(head.size()) == Xor(head, Keystream(key, head.size())));
    QVERIFY(in.seek(size));
    QVERIFY(in.read(20) == CheckBlockOf(key) + Marker);
    in.close();
    QCOMPARE(display.events().first(), -1);
    QCOMPARE(display.events().last(), 100);
    QCOMPARE(display.events().size(), qsizetype((size + 65535) / 65536 + 1));

    QCOMPARE(RunOne(unit, Command::Decrypt, file, {}, &display).Outcome, QStringLiteral("decrypted"));
    qInfo("decrypting: %lld ms", timer.elapsed());
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.size(), size);
    QVERIFY(in.read(head.size()) == head);
    // Zeros all the way across the 4 GiB boundary, and the tail intact.
    QVERIFY(in.seek((std::int64_t(1) << 32) - 4096));
    QVERIFY(in.read(8192) == QByteArray(8192, '\0'));
    QVERIFY(in.seek(size - tail.size() - 16));
    QVERIFY(in.read(tail.size() + 16) == QByteArray(16, '\0') + tail);
}

QTEST_APPLESS_MAIN(TestLoad)
#include "tst_load.moc"
