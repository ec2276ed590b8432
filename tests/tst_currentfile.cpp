// The current-file handle's open rules (existing regular files, read-only by the owner-write bit
// even for root, an exclusive lock while open), the room reservation, and its fault seam.

#include "engine/currentfile.h"
#include "engine/engineerror.h"
#include "tests/support/enginedriver.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace veltrane::testsupport;

namespace {

// Sets the file's inode attributes (chattr); false where that is not allowed or not supported.
bool SetAttributes(const QByteArray& name, int flags) {
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

} // namespace

using veltrane::CurrentFileHandle;
using veltrane::FileOperation;

class TestCurrentFile : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openRules_data();
    void openRules();
    void lockHeldWhileOpen();
    void reserveAfterEnd_data();
    void reserveAfterEnd();
    void shortTransfersAreCompleted();
    void failuresNameTheFile();

private:
    QString Path(const char* name) const { return m_dir->filePath(QString::fromLatin1(name)); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCurrentFile::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

// A row that failed before clearing its file's attributes would leave an immutable file that nobody
// can remove, and with it the whole temporary folder.
void TestCurrentFile::cleanup() {
    const QByteArray name = QFile::encodeName(Path("subject"));
    struct stat status {};
    if (::lstat(name.constData(), &status) == 0 && S_ISREG(status.st_mode))
        SetAttributes(name, 0);
    m_dir.reset();
}

void TestCurrentFile::openRules_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("why");
    QTest::addColumn<bool>("inFolder"); // bound by its name in the open folder, as a folder walk finds it
    QTest::newRow("regular file") << "regular" << true << "" << false;
    QTest::newRow("missing") << "missing" << false << "no such file or directory" << false;
    QTest::newRow("folder") << "folder" << false << "is a directory" << false;
    QTest::newRow("pipe without a writer") << "fifo" << false << "not a regular file" << false;
    QTest::newRow("device") << "device" << false << "not a regular file" << false;
    QTest::newRow("read-only") << "0444" << false << "the file is read-only" << false;
    QTest::newRow("writable by group only") << "0464" << false << "the file is read-only" << false;
    QTest::newRow("link to a file") << "link" << true << "" << false;
    QTest::newRow("locked by another holder") << "locked" << false << "in use by another program" << false;
    // Kernel settings look like small regular files; writing one would change the system.
    QTest::newRow("procfs setting") << "/proc/sys/kernel/hostname" << false << "on a pseudo file system (procfs)"
                                    << false;
    QTest::newRow("sysfs setting") << "/sys/class/net/lo/ifalias" << false << "on a pseudo file system (sysfs)"
                                   << false;
    // Attributes that only root can set; the open fails with a bare "operation not permitted".
    QTest::newRow("immutable") << "immutable" << false << "the file is immutable" << false;
    QTest::newRow("append-only") << "append-only" << false << "the file is append-only" << false;
    // Found in a folder: the name is looked up in that folder alone, follows no link, and must still be
    // the file the folder's listing named.
    QTest::newRow("in a folder: regular file") << "regular" << true << "" << true;
    QTest::newRow("in a folder: link to a file") << "link" << false << "it is a symbolic link" << true;
    QTest::newRow("in a folder: replaced after the listing")
        << "replaced" << false << "it was replaced after its folder was read" << true;
    QTest::newRow("in a folder: immutable") << "immutable" << false << "the file is immutable" << true;
}

void TestCurrentFile::openRules() {
    QFETCH(QString, kind);
    QFETCH(bool, opens);
    QFETCH(QString, why);
    QFETCH(bool, inFolder);

    const QString file = Path("subject");
    const QByteArray name = QFile::encodeName(file);
    QString opened = file;
    int lockHolder = -1;
    if (kind == "folder") {
        QVERIFY(::mkdir(name.constData(), 0755) == 0);
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(name.constData(), 0644) == 0);
    } else if (kind == "device") {
        opened = "/dev/null";
    } else if (kind.startsWith('/')) {
        if (::access(QFile::encodeName(kind).constData(), F_OK) != 0)
            QSKIP("this system has no such file");
        opened = kind;
    } else if (kind != "missing") {
        QVERIFY(WriteFile(kind == "link" ? Path("target") : file, "content"));
        if (kind == "link")
            QVERIFY(::symlink(QFile::encodeName(Path("target")).constData(), name.constData()) == 0);
        if (kind.startsWith('0'))
            QVERIFY(::chmod(name.constData(), kind.toUInt(nullptr, 8)) == 0);
        if (kind == "locked") {
            lockHolder = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(::flock(lockHolder, LOCK_EX | LOCK_NB) == 0);
        }
        if (kind == "immutable" || kind == "append-only") {
            if (!SetAttributes(name, kind == "immutable" ? FS_IMMUTABLE_FL : FS_APPEND_FL))
                QSKIP("setting the attribute needs root and a file system that has it");
        }
    }

    CurrentFileHandle handle;
    if (inFolder) {
        const int folder = ::open(QFile::encodeName(m_dir->path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        const auto held = std::make_shared<const veltrane::FolderDescriptor>(folder);
        struct stat listed {};
        QVERIFY(::fstatat(folder, "subject", &listed, AT_SYMLINK_NOFOLLOW) == 0);
        if (kind == "replaced") {
            // Made before the old one goes, so that it cannot get the old one's inode number.
            QVERIFY(WriteFile(Path("subject.new"), "content"));
            QVERIFY(::rename(QFile::encodeName(Path("subject.new")).constData(), name.constData()) == 0);
        }
        handle.Bind({held, "subject", listed.st_dev, listed.st_ino}, file.toStdString());
    } else {
        handle.Bind(opened.toStdString());
    }
    QCOMPARE(handle.Open(), opens);
    QCOMPARE(handle.isOpen(), opens);
    QCOMPARE(QString::fromStdString(handle.openError()), why);
    if (opens) {
        // Opened for writing, blocking again, and left at the start.
        const int flags = ::fcntl(handle.fd(), F_GETFL);
        QCOMPARE(flags & O_ACCMODE, O_RDWR);
        QCOMPARE(flags & O_NONBLOCK, 0);
        QCOMPARE(handle.Position(), std::int64_t(0));
    }
    if (lockHolder >= 0)
        ::close(lockHolder);
    if (kind.startsWith('0'))
        ::chmod(name.constData(), 0644);
}

void TestCurrentFile::lockHeldWhileOpen() {
    const QString file = Path("shared");
    QVERIFY(WriteFile(file, "content"));
    const QByteArray name = QFile::encodeName(file);

    CurrentFileHandle first;
    first.Bind(file.toStdString());
    QVERIFY(first.Open());

    // Others may read meanwhile, but neither a second handle nor another locker gets in.
    QCOMPARE(ReadFile(file), QByteArray("content"));
    CurrentFileHandle second;
    second.Bind(file.toStdString());
    QVERIFY(!second.Open());
    const int other = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);

    // Opening again closes first: the handle must not lock itself out.
    QVERIFY(first.Open());
    first.Close();
    QVERIFY(second.Open());
    second.Close();
    QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
}

void TestCurrentFile::reserveAfterEnd_data() {
    QTest::addColumn<qint64>("limit"); // 0: none
    QTest::addColumn<bool>("reserved");
    QTest::newRow("no limit") << qint64(0) << true;
    QTest::newRow("room for exactly 20") << qint64(1000 + 20) << true;
    QTest::newRow("room for 19") << qint64(1000 + 19) << false;
}

void TestCurrentFile::reserveAfterEnd() {
    QFETCH(qint64, limit);
    QFETCH(bool, reserved);
    const QString file = Path("room");
    QVERIFY(WriteFile(file, Pattern(1000)));
    CurrentFileHandle handle;
    handle.Bind(file.toStdString());
    QVERIFY(handle.Open());

    std::string reason;
    bool result = false;
    if (limit > 0) {
        FileSizeLimit sizeLimit(static_cast<rlim_t>(limit));
        QVERIFY(sizeLimit.active());
        result = handle.ReserveAfterEnd(20, reason);
    } else {
        result = handle.ReserveAfterEnd(20, reason);
    }
    QCOMPARE(result, reserved);
    QCOMPARE(QString::fromStdString(reason), reserved ? QString() : QString("file too large"));
    QCOMPARE(handle.Size(), std::int64_t(1000));
    handle.Close();
    QVERIFY(ReadFile(file) == Pattern(1000));
}

// A device that hands over a few bytes at a time still gives whole blocks.
void TestCurrentFile::shortTransfersAreCompleted() {
    const QString file = Path("trickle");
    const QByteArray content = Pattern(5000);
    QVERIFY(WriteFile(file, content));
    CurrentFileHandle handle;
    handle.Bind(file.toStdString());
    handle.SetFaultHook([](FileOperation, std::int64_t, std::size_t& count) {
        count = std::min<std::size_t>(count, 7);
        return 0;
    });
    QVERIFY(handle.Open());
    std::vector<std::uint8_t> buffer(6000);
    QCOMPARE(handle.Read(buffer), std::size_t(5000));
    QVERIFY(QByteArray(reinterpret_cast<const char*>(buffer.data()), 5000) == content);

    std::vector<std::uint8_t> more(100, 0xAB);
    handle.SeekTo(4950);
    std::size_t written = 0;
    handle.Write(more, &written);
    QCOMPARE(written, std::size_t(100));
    QCOMPARE(handle.Size(), std::int64_t(5050));
}

void TestCurrentFile::failuresNameTheFile() {
    const QString file = Path("faulty");
    QVERIFY(WriteFile(file, Pattern(100)));
    CurrentFileHandle handle;
    handle.Bind(file.toStdString());
    handle.SetFaultHook([](FileOperation operation, std::int64_t, std::size_t&) {
        return operation == FileOperation::Truncate ? EROFS : 0;
    });
    QVERIFY(handle.Open());
    try {
        handle.Truncate(10);
        QFAIL("the truncation should have failed");
    } catch (const veltrane::EngineError& error) {
        QCOMPARE(error.failure().Operation, veltrane::FailedOperation::Truncate);
        QCOMPARE(QString::fromStdString(error.failure().Path), file);
        QCOMPARE(error.failure().Errno, EROFS);
        QCOMPARE(QString::fromStdString(error.reason()), QString("read-only file system"));
    }
    QCOMPARE(handle.Size(), std::int64_t(100));
}

QTEST_APPLESS_MAIN(TestCurrentFile)
#include "tst_currentfile.moc"
