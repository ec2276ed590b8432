// Load: one run of the command-line tool over 10,000 small files (one after another and four at once),
// encrypted and decrypted with every byte checked. (The file above 4 GiB is tst_blockpass's.)

#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace veltrane::testsupport;

class TestLoad : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void tenThousandSmallFiles_data();
    void tenThousandSmallFiles();

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

QTEST_APPLESS_MAIN(TestLoad)
#include "tst_load.moc"
