// The run's existence test: regular files dated 1980 to 2107 in local time exist, nothing else.

#include "engine/fileexists.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

class TestFileExists : public QObject {
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void dates_data();
    void dates();

private:
    QTemporaryDir m_dir;
};

void TestFileExists::kinds_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("exists");
    QTest::newRow("regular file") << "regular" << true;
    QTest::newRow("empty file") << "empty" << true;
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("pipe") << "fifo" << false;
    QTest::newRow("link to a file") << "link" << true;
    QTest::newRow("dangling link") << "dangling" << false;
    QTest::newRow("device") << "device" << false;
}

void TestFileExists::kinds() {
    QFETCH(QString, kind);
    QFETCH(bool, exists);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(kind);
    const QByteArray name = QFile::encodeName(path);
    const QByteArray target = QFile::encodeName(m_dir.filePath("target"));
    QFile targetFile(m_dir.filePath("target"));
    QVERIFY(targetFile.open(QIODevice::WriteOnly));
    targetFile.write("x");
    targetFile.close();

    QString tested = path;
    if (kind == "regular") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("content");
    } else if (kind == "empty") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == "folder") {
        QVERIFY(::mkdir(name.constData(), 0755) == 0);
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(name.constData(), 0644) == 0);
    } else if (kind == "link") {
        QVERIFY(::symlink(target.constData(), name.constData()) == 0);
    } else if (kind == "dangling") {
        QVERIFY(::symlink((target + ".gone").constData(), name.constData()) == 0);
    } else if (kind == "device") {
        tested = "/dev/null";
    }
    QCOMPARE(veltrane::FileExists(tested.toStdString()), exists);
}

void TestFileExists::dates_data() {
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<bool>("exists");
    QTest::newRow("last day of 1979") << 1979 << 12 << 31 << false;
    QTest::newRow("first day of 1980") << 1980 << 1 << 1 << true;
    QTest::newRow("today's kind of date") << 2024 << 6 << 15 << true;
    QTest::newRow("last day of 2107") << 2107 << 12 << 31 << true;
    QTest::newRow("first day of 2108") << 2108 << 1 << 1 << false;
    QTest::newRow("1970") << 1970 << 1 << 2 << false;
}

void TestFileExists::dates() {
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(bool, exists);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath("dated");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    // Noon, local time: the test is about the local calendar year.
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    const utimbuf times{when, when};
    QVERIFY(::utime(QFile::encodeName(path).constData(), &times) == 0);
    QCOMPARE(veltrane::FileExists(path.toStdString()), exists);
}

QTEST_APPLESS_MAIN(TestFileExists)
#include "tst_fileexists.moc"
