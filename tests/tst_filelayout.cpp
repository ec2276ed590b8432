// The encrypted file's layout and the two per-file sequences: known whole files, round trips,
// every refusal leaving the file as it was, and failing appends and truncations undone.

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filelayout.h"
#include "engine/filesequences.h"
#include "engine/interruptionhints.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;
using veltrane::FileOperation;
using veltrane::FileOutcome;

Q_DECLARE_METATYPE(veltrane::FileOutcome)
Q_DECLARE_METATYPE(veltrane::FileOperation)

namespace {

// Runs a sequence the way the window does, counting the steps it hands back to its caller.
struct Run {
    int Passes = 0;
    int AfterPasses = 0;
    qint64 LengthAtAfterPass = -1;
    RecordingDisplay Display;

    veltrane::FileResult Last; // of the last sequence

    FileOutcome operator()(Command command, EngineUnit& unit) {
        InterferingDisplay shown(&Display);
        shown.BeforePass = [&] { ++Passes; };
        shown.AfterPass = [&] {
            ++AfterPasses;
            LengthAtAfterPass = QFileInfo(QString::fromStdString(unit.CurrentFileName)).size();
        };
        Last = RunSequence(command, unit, shown);
        return Last.Outcome;
    }
    // The message of the sequence's failure; empty when it did not fail.
    QString Failure(Command command, EngineUnit& unit) {
        (*this)(command, unit);
        return FailureMessage(Last);
    }
};

} // namespace

class TestFileLayout : public QObject {
    Q_OBJECT

private slots:
    void init();
    void knownEncryptedFiles_data();
    void knownEncryptedFiles();
    void roundTrip_data();
    void roundTrip();
    void refusalsLeaveTheFile_data();
    void refusalsLeaveTheFile();
    void identicalFilesGiveIdenticalResults();
    void lockHeldForTheWholeCommand_data();
    void lockHeldForTheWholeCommand();
    void refusedWhenTheTrailerCannotFit();
    void appendFailsAfterThePass_data();
    void appendFailsAfterThePass();
    void limitAfterThePass();
    void lastStepFails_data();
    void lastStepFails();
    void resumedPassFails();
    void restoringFailsToo();

private:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void Bind(EngineUnit& unit, const QString& file, const QByteArray& key) {
        unit.KeyText = Key(key);
        unit.CurrentFileName = file.toStdString();
    }

    QTemporaryDir m_dir;
};

void TestFileLayout::init() {
    QVERIFY(m_dir.isValid());
}

void TestFileLayout::knownEncryptedFiles_data() {
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("encrypted");
    QTest::newRow("hello") << QByteArray("Hello, world!\n") << QByteArray("secret")
                           << QByteArray::fromHex(
                                  "d8fd00097a8e22e9b5af44eab64cbab26a6313e747b49f982a2a06060645452a4545");
    QTest::newRow("empty file") << QByteArray() << QByteArray("secret")
                                << QByteArray::fromHex("bab26a6313e747b49f982a2a06060645452a4545");
}

void TestFileLayout::knownEncryptedFiles() {
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, encrypted);
    const QString file = Path("known");
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    Bind(unit, file, key);

    Run encrypt;
    QCOMPARE(encrypt(Command::Encrypt, unit), FileOutcome::Encrypted);
    QCOMPARE(ReadFile(file).toHex(), encrypted.toHex());
    Run decrypt;
    QCOMPARE(decrypt(Command::Decrypt, unit), FileOutcome::Decrypted);
    QCOMPARE(ReadFile(file).toHex(), plain.toHex());
}

void TestFileLayout::roundTrip_data() {
    QTest::addColumn<int>("size");
    // While a command runs the file carries its state past the bytes it transforms: room for the
    // trailer up to a page boundary, then the anchor page. The lengths the caller's completion step
    // finds (an empty file's encryption has nothing to transform and carries none).
    QTest::addColumn<qint64>("encrypting");
    QTest::addColumn<qint64>("decrypting");
    QTest::newRow("0 bytes") << 0 << qint64(0) << qint64(8192);
    for (int size : {1, 9, 10, 19, 20, 21})
        QTest::addRow("%d bytes", size) << size << qint64(8192) << qint64(8192);
    QTest::newRow("4076 bytes") << 4076 << qint64(8192) << qint64(12288);
    QTest::newRow("4077 bytes") << 4077 << qint64(12288) << qint64(12288);
    for (int size : {65536, 65537})
        QTest::addRow("%d bytes", size) << size << qint64(73728) << qint64(73728);
    QTest::newRow("200000 bytes") << 200000 << qint64(204800) << qint64(204800);
}

void TestFileLayout::roundTrip() {
    QFETCH(int, size);
    QFETCH(qint64, encrypting);
    QFETCH(qint64, decrypting);
    const QString file = Path("round");
    const QByteArray plain = Pattern(size, 3);
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    Bind(unit, file, "round trip");

    Run encrypt;
    QCOMPARE(encrypt(Command::Encrypt, unit), FileOutcome::Encrypted);
    QCOMPARE(encrypt.Passes, 1);
    // The caller's completion step comes between the pass and the trailer.
    QCOMPARE(encrypt.AfterPasses, 1);
    QCOMPARE(encrypt.LengthAtAfterPass, encrypting);
    QVERIFY(!unit.CurrentFile.isOpen());
    const QByteArray encrypted = ReadFile(file);
    QCOMPARE(encrypted.size(), size + 20);
    QVERIFY(encrypted == Encrypted(plain, "round trip"));
    QVERIFY(encrypted.endsWith(Marker));
    if (size >= 10) {
        const QByteArray checkBlock = encrypted.mid(size, 10);
        QVERIFY(Xor(checkBlock, Marker) == Xor(encrypted.left(10), plain.left(10)));
    }
    QCOMPARE(encrypt.Display.events().size(), qsizetype((size + 65535) / 65536 + (size == 0 ? 2 : 1)));

    Run decrypt;
    QCOMPARE(decrypt(Command::Decrypt, unit), FileOutcome::Decrypted);
    QCOMPARE(decrypt.LengthAtAfterPass, decrypting);
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == plain);
}

void TestFileLayout::refusalsLeaveTheFile_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("guard");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<FileOutcome>("outcome");

    const QByteArray plain = Pattern(1000, 5);
    const QByteArray encrypted = Encrypted(plain, "secret");
    const int encrypt = int(Command::Encrypt);
    const int decrypt = int(Command::Decrypt);
    QTest::newRow("encrypt encrypted, same key")
        << encrypted << "" << encrypt << QByteArray("secret") << FileOutcome::AlreadyEncrypted;
    QTest::newRow("encrypt encrypted, other key")
        << encrypted << "" << encrypt << QByteArray("other") << FileOutcome::AlreadyEncrypted;
    QTest::newRow("decrypt, wrong key") << encrypted << "" << decrypt << QByteArray("Secret")
                                        << FileOutcome::InvalidKey;
    QTest::newRow("decrypt plain") << plain << "" << decrypt << QByteArray("secret") << FileOutcome::NotEncrypted;
    QTest::newRow("decrypt 9 bytes") << plain.left(9) << "" << decrypt << QByteArray("secret")
                                     << FileOutcome::NotEncrypted;
    QTest::newRow("decrypt empty") << QByteArray() << "" << decrypt << QByteArray("secret")
                                   << FileOutcome::NotEncrypted;
    QTest::newRow("encrypt plain ending in marker")
        << plain + Marker << "" << encrypt << QByteArray("secret") << FileOutcome::AlreadyEncrypted;
    QTest::newRow("decrypt plain ending in marker")
        << plain + Marker << "" << decrypt << QByteArray("secret") << FileOutcome::InvalidKey;
    QTest::newRow("encrypt 15 bytes ending in marker")
        << plain.left(5) + Marker << "" << encrypt << QByteArray("secret") << FileOutcome::AlreadyEncrypted;
    QTest::newRow("decrypt 15 bytes ending in marker")
        << plain.left(5) + Marker << "" << decrypt << QByteArray("secret") << FileOutcome::InvalidKey;
    QTest::newRow("decrypt marker alone") << Marker << "" << decrypt << QByteArray("secret") << FileOutcome::InvalidKey;
    QTest::newRow("encrypt read-only") << plain << "read-only" << encrypt << QByteArray("secret")
                                       << FileOutcome::CannotOpen;
    QTest::newRow("decrypt read-only") << encrypted << "read-only" << decrypt << QByteArray("secret")
                                       << FileOutcome::CannotOpen;
    QTest::newRow("encrypt locked") << plain << "locked" << encrypt << QByteArray("secret") << FileOutcome::CannotOpen;
    QTest::newRow("decrypt locked") << encrypted << "locked" << decrypt << QByteArray("secret")
                                    << FileOutcome::CannotOpen;
    QTest::newRow("encrypt empty read-only")
        << QByteArray() << "read-only" << encrypt << QByteArray("secret") << FileOutcome::CannotOpen;
}

void TestFileLayout::refusalsLeaveTheFile() {
    QFETCH(QByteArray, content);
    QFETCH(QString, guard);
    QFETCH(int, command);
    QFETCH(QByteArray, key);
    QFETCH(FileOutcome, outcome);

    const QString file = Path("refused");
    QVERIFY(WriteFile(file, content));
    const QByteArray fileName = QFile::encodeName(file);
    int lockHolder = -1;
    if (guard == "read-only") {
        QVERIFY(::chmod(fileName.constData(), 0444) == 0);
    } else if (guard == "locked") {
        lockHolder = ::open(fileName.constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lockHolder >= 0);
        QVERIFY(::flock(lockHolder, LOCK_EX | LOCK_NB) == 0);
    }

    EngineUnit unit;
    Bind(unit, file, key);
    Run run;
    QCOMPARE(run(Command(command), unit), outcome);
    QCOMPARE(run.Passes, 0);
    QCOMPARE(run.AfterPasses, 0);
    QVERIFY(!unit.CurrentFile.isOpen());
    if (lockHolder >= 0)
        ::close(lockHolder);
    QVERIFY(ReadFile(file) == content);
    ::chmod(fileName.constData(), 0644);
}

void TestFileLayout::identicalFilesGiveIdenticalResults() {
    const QByteArray plain = Pattern(70000, 11);
    QVERIFY(WriteFile(Path("one"), plain));
    QVERIFY(WriteFile(Path("two"), plain));
    EngineUnit unit;
    for (const char* name : {"one", "two"}) {
        Bind(unit, Path(name), "same key");
        Run run;
        QCOMPARE(run(Command::Encrypt, unit), FileOutcome::Encrypted);
    }
    QVERIFY(ReadFile(Path("one")) == ReadFile(Path("two")));
}

void TestFileLayout::lockHeldForTheWholeCommand_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<bool>("afterThePass"); // where the second command comes: before or after the pass
    QTest::newRow("encrypt, second command before the pass") << Command::Encrypt << false;
    QTest::newRow("encrypt, second command before the trailer") << Command::Encrypt << true;
    QTest::newRow("decrypt, second command before the pass") << Command::Decrypt << false;
    QTest::newRow("decrypt, second command before the trailer is cut off") << Command::Decrypt << true;
}

// A second copy of the program starts the same command on another name of the file while the first
// is between two of its steps: the lock taken for the marker test is still held, so the second is
// refused, and the first completes. (With the lock let go between steps, both would have reported
// success over a doubly transformed file.)
void TestFileLayout::lockHeldForTheWholeCommand() {
    QFETCH(Command, command);
    QFETCH(bool, afterThePass);
    const QString file = Path("held");
    const QString otherName = Path("held, other name");
    const QByteArray plain = Pattern(70000);
    const QByteArray before = command == Command::Encrypt ? plain : Encrypted(plain, "secret");
    QVERIFY(WriteFile(file, before));
    ::unlink(QFile::encodeName(otherName).constData());
    QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(otherName).constData()) == 0);
    EngineUnit unit, second;
    Bind(unit, file, "secret");
    Bind(second, otherName, "secret");
    std::optional<FileOutcome> secondOutcome;
    const auto secondCommand = [&] {
        Run run;
        secondOutcome = run(command, second);
    };
    InterferingDisplay shown;
    (afterThePass ? shown.AfterPass : shown.BeforePass) = secondCommand;
    const FileOutcome outcome = RunSequence(command, unit, shown).Outcome;
    QCOMPARE(outcome, command == Command::Encrypt ? FileOutcome::Encrypted : FileOutcome::Decrypted);
    QCOMPARE(secondOutcome, std::optional(FileOutcome::CannotOpen));
    QCOMPARE(QString::fromStdString(second.CurrentFile.openError()), QStringLiteral("in use by another program"));
    QVERIFY(ReadFile(file) == (command == Command::Encrypt ? Encrypted(plain, "secret") : plain));
}

// A file-size limit that leaves no room for the trailer is found before a byte changes.
void TestFileLayout::refusedWhenTheTrailerCannotFit() {
    const QString file = Path("nofit");
    const QByteArray plain = Pattern(3000);
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    Bind(unit, file, "secret");
    Run run;
    QString message;
    {
        FileSizeLimit limit(3000 + 15);
        QVERIFY(limit.active());
        message = run.Failure(Command::Encrypt, unit);
    }
    QCOMPARE(message, QString("Cannot encrypt \"%1\": file too large; the file was left unchanged").arg(file));
    QCOMPARE(run.Passes, 0);
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == plain);
}

void TestFileLayout::appendFailsAfterThePass_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("partly"); // bytes of the trailer that reach the file before its write fails
    QTest::addColumn<bool>("sparse"); // 64 KiB of data, a hole, 64 KiB of data
    QTest::newRow("trailer's write fails at once") << 70000 << 0 << false;
    QTest::newRow("trailer's write fails part-way") << 70000 << 15 << false;
    QTest::newRow("empty file") << 0 << 10 << false;
    QTest::newRow("size on a block boundary") << 65536 << 0 << false;
    // The pass fills the hole with keystream; the undo must leave it a hole again.
    QTest::newRow("sparse file") << (1 << 20) + 131072 << 10 << true;
}

// The last step fails once the whole body is enciphered (a disk that fails a write): the pass is
// undone, the state cut off, and the disk use is what it was.
void TestFileLayout::appendFailsAfterThePass() {
    QFETCH(int, size);
    QFETCH(int, partly);
    QFETCH(bool, sparse);
    const QString file = Path("append");
    QByteArray plain = Pattern(size, 13);
    if (sparse) {
        plain = plain.left(65536) + QByteArray(size - 2 * 65536, 0) + plain.right(65536);
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(out.write(plain.left(65536)) == 65536 && out.seek(size - 65536) &&
                out.write(plain.right(65536)) == 65536);
    } else {
        QVERIFY(WriteFile(file, plain));
    }
    const auto diskUse = [&] {
        struct stat status {};
        return ::stat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_blocks : -1;
    };
    const auto usedBefore = diskUse();
    EngineUnit unit;
    Bind(unit, file, "secret");
    unit.CurrentFile.SetFaultHook(
        [&, failed = false](FileOperation operation, std::int64_t position, std::size_t& count) mutable {
            if (operation != FileOperation::Write || failed || position < size || position >= size + 20)
                return 0;
            if (position == size && partly > 0) {
                count = static_cast<std::size_t>(partly);
                return 0;
            }
            failed = true;
            return ENOSPC;
        });
    Run run;
    const QString message = run.Failure(Command::Encrypt, unit);
    QCOMPARE(run.AfterPasses, 1);
    QCOMPARE(message, QString("Cannot write \"%1\": no space left on device; the file was %2")
                          .arg(file, size == 0 ? "left unchanged" : "restored"));
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == plain);
    // The holes are given back; the file system may keep one block of its own index more.
    QVERIFY2(diskUse() <= usedBefore + 8, qPrintable(QString("%1 -> %2").arg(usedBefore).arg(diskUse())));
    if (sparse) {
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(::lseek(fd, 0, SEEK_HOLE), off_t(65536));
        QCOMPARE(::lseek(fd, 65536, SEEK_DATA), off_t(size - 65536));
        ::close(fd);
    }
}

// A file-size limit that arrives once the pass is through (another program's doing, as far as the
// command can tell) leaves no room to write even the state past the body: the file is left part-way,
// as it says, and the next command, without the limit, gives the exact result.
void TestFileLayout::limitAfterThePass() {
    const QString file = Path("limited");
    const QByteArray plain = Pattern(70000, 23);
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    Bind(unit, file, "secret");
    std::optional<FileSizeLimit> limit;
    InterferingDisplay limiting;
    limiting.AfterPass = [&] { limit.emplace(rlim_t(plain.size() + 10)); };
    const QString message = FailureMessage(veltrane::EncryptFile(unit, limiting));
    QVERIFY(limit && limit->active());
    limit.reset();
    QVERIFY2(message.startsWith(QString("Cannot write \"%1\": file too large; restoring it failed too").arg(file)),
             qPrintable(message));
    QVERIFY2(message.endsWith("the next command on it with the same key finishes or undoes it"), qPrintable(message));
    Run run;
    QCOMPARE(run(Command::Encrypt, unit), FileOutcome::Encrypted);
    QCOMPARE(run.Last.Recovered, veltrane::Recovery::FinishedEncryption);
    QVERIFY(ReadFile(file) == Encrypted(plain, "secret"));
}

// The last steps of a decryption fail once: the cut of the trailer and the state is undone; a failed
// sync after it cannot be, for the file holds the whole result and nothing else any more.
void TestFileLayout::lastStepFails_data() {
    QTest::addColumn<FileOperation>("failing");
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("restored");
    const QString restored = "Cannot truncate \"%1\": input/output error; the file was restored";
    const QString stored = "Cannot write to the disk \"%1\": input/output error; the file holds the whole result, "
                           "but the disk did not confirm that it is stored";
    QTest::newRow("the cut fails") << FileOperation::Truncate << restored << true;
    QTest::newRow("the sync after the cut fails") << FileOperation::Sync << stored << false;
}

void TestFileLayout::lastStepFails() {
    QFETCH(FileOperation, failing);
    QFETCH(QString, words);
    QFETCH(bool, restored);
    const QString file = Path("stuck");
    const QByteArray plain = Pattern(100000, 17);
    const QByteArray encrypted = Encrypted(plain, "secret");
    QVERIFY(WriteFile(file, encrypted));
    EngineUnit unit;
    Bind(unit, file, "secret");
    // Fails once, from the last step's cut of the trailer and the state on; the undo's own cut works.
    unit.CurrentFile.SetFaultHook(
        [failing, cut = false, failed = false](FileOperation operation, std::int64_t, std::size_t&) mutable {
            cut = cut || operation == FileOperation::Truncate;
            if (!cut || operation != failing || failed)
                return 0;
            failed = true;
            return EIO;
        });
    Run run;
    QCOMPARE(run.Failure(Command::Decrypt, unit), words.arg(file));
    QCOMPARE(run.AfterPasses, 1);
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == (restored ? encrypted : plain));
}

// A command resumed by a unit that finished another file before it fails part-way through its pass:
// it is undone like any other, not taken for finished.
void TestFileLayout::resumedPassFails() {
    const QString file = Path("resumed");
    const QByteArray plain = Pattern(400000, 23);
    QVERIFY(WriteFile(file, plain));
    // Zones of two blocks: the resumed pass goes on past the zone in doubt.
    EngineUnit first;
    first.ZoneLimit = 2 * 65536;
    Bind(first, file, "secret");
    // The disk fills in the middle of the pass and stays full: the file is left part-way.
    first.CurrentFile.SetFaultHook([full = false](FileOperation operation, std::int64_t position, std::size_t&) mutable {
        full = full || (operation == FileOperation::Write && position >= 2 * 65536 && position < 400000);
        return full && operation != FileOperation::Read ? ENOSPC : 0;
    });
    Run run;
    const QString leftPartway = run.Failure(Command::Encrypt, first);
    QVERIFY2(leftPartway.contains("the file is left part-way"), qPrintable(leftPartway));
    // The unit goes on to another file; the note that names the one it left stays.
    first.CurrentFile.SetFaultHook({});
    QVERIFY(WriteFile(Path("next"), plain));
    Bind(first, Path("next"), "secret");
    QCOMPARE(run(Command::Encrypt, first), FileOutcome::Encrypted);
    // A reader removes a note that names nothing (its unit killed between two commands), but not the
    // one a live unit holds between its commands.
    const QString notes = QString::fromStdString(veltrane::InterruptionHints::DefaultFolder()) + "/partway/";
    QVERIFY(WriteFile(notes + "gone.note", "veltrane note 1\n"));
    const qsizetype before = QDir(notes).entryList(QDir::Files).size();
    const std::vector<std::string> noted = veltrane::InterruptionHints().Names();
    QVERIFY(std::ranges::count(noted, file.toStdString()) == 1);
    QCOMPARE(QDir(notes).entryList(QDir::Files).size(), before - 1);
    QVERIFY(!QFile::exists(notes + "gone.note"));

    EngineUnit unit;
    unit.ZoneLimit = 2 * 65536;
    QVERIFY(WriteFile(Path("other"), plain));
    Bind(unit, Path("other"), "secret");
    QCOMPARE(run(Command::Encrypt, unit), FileOutcome::Encrypted);
    Bind(unit, file, "secret");
    unit.CurrentFile.SetFaultHook([failed = false](FileOperation operation, std::int64_t position, std::size_t&) mutable {
        if (failed || operation != FileOperation::Write || position != 5 * 65536)
            return 0;
        failed = true;
        return EIO;
    });
    QCOMPARE(run.Failure(Command::Encrypt, unit),
             QString("Cannot write \"%1\": input/output error; the file was restored").arg(file));
    QVERIFY(ReadFile(file) == plain);
}

// The disk fails for good once the pass is through: the file cannot be put back, so it keeps its
// state and the message says what the next command does with it, which must be true.
void TestFileLayout::restoringFailsToo() {
    const QString file = Path("doomed");
    const QByteArray plain = Pattern(100000, 19);
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    Bind(unit, file, "secret");
    bool broken = false;
    unit.CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t, std::size_t&) {
        return broken && operation != FileOperation::Read ? ENOSPC : 0;
    });
    InterferingDisplay breaking;
    breaking.AfterPass = [&] { broken = true; };
    const QString message = FailureMessage(veltrane::EncryptFile(unit, breaking));
    unit.CurrentFile.SetFaultHook({});
    QCOMPARE(message, QString("Cannot write \"%1\": no space left on device; restoring it failed too (no space "
                              "left on device); the file is left part-way, and the next command on it with the "
                              "same key finishes or undoes it")
                          .arg(file));
    QVERIFY(ReadFile(file).left(plain.size()) == Xor(plain, Keystream("secret", plain.size())));
    Run run;
    QCOMPARE(run(Command::Decrypt, unit), FileOutcome::Decrypted);
    QCOMPARE(run.Last.Recovered, veltrane::Recovery::UndidEncryption);
    QVERIFY(ReadFile(file) == plain);
}

QTEST_APPLESS_MAIN(TestFileLayout)
#include "tst_filelayout.moc"
