// Faults injected into real files in the middle of a batch: a file-size limit, failing reads, writes
// and truncations, a file deleted, replaced, locked or made read-only between the steps of one
// command, and the process killed half-way. Each row checks the bytes on disk afterwards, what the
// user is told, and that the files after it in the batch are still handled correctly.

#include "engine/interruption.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"
#include "tests/support/testrounds.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;
using veltrane::FileOperation;

namespace {

const QByteArray BatchKey("key of the batch");
// Four blocks, the last one short, so that a fault can strike before, inside and after a block.
constexpr qsizetype VictimSize = 3 * 65536 + 3392;

enum class Fault {
    LimitBeforeTheCommand,
    LimitAtCheckBlock,
    LimitAtMarker,
    WriteFailsMidPass,
    WriteStopsPartWay,
    ReadFailsMidPass,
    TruncationFails,
    DeletedBeforePass,
    ReplacedBeforePass,
    ReplacedByACopyBeforePass,
    LockTriedBeforePass,
    ReadOnlyBeforePass,
    CutToNothingMidPass,
    AppendedToMidPass,
    RewrittenAfterPass,
    RenamedAfterPass,
    DeletedBetweenAppends,
    ReplacedBetweenAppends,
    ReadOnlyBetweenAppends,
};

// What the victim's path holds afterwards.
enum class Left {
    AsBefore,                      // exactly the bytes it had before the command
    Gone,                          // nothing: it was deleted
    Done,                          // the command's result: the command was not disturbed
    Replacement,                   // the replacing file, untouched; the original, moved aside, untouched too
    Moved,                         // nothing; the original, moved aside, untouched
    Empty,                         // nothing: another program cut it to 0 bytes
    AsBeforeThenAppended,          // as before, then what another program appended
    AsBeforeButRewritten,          // transformed and part-way, but for the bytes another program wrote into it
    PartWay,                       // part-way through the command, which the next one finishes
};

class HeldLock {
public:
    explicit HeldLock(const QString& path) : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {
        m_locked = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool locked() const { return m_locked; }

private:
    int m_fd;
    bool m_locked = false;
};

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Left)

class TestFaultMatrix : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void faultInBatch_data();
    void faultInBatch();
    void killedMidway_data();
    void killedMidway();
    void killedAtRandomMoment();
    void killedBeforeARestart_data();
    void killedBeforeARestart();
    void otherWriterDuringThePass_data();
    void otherWriterDuringThePass();
    void interruptedBySignal_data();
    void interruptedBySignal();

private:
    QString Path(const QString& name) const { return m_dir->filePath(name); }
    std::optional<QTemporaryDir> m_dir;
};

void TestFaultMatrix::init() {
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestFaultMatrix::cleanup() {
    // Files made read-only by a row must be removable again.
    for (const QFileInfo& info : QDir(m_dir->path()).entryInfoList(QDir::Files))
        QFile::setPermissions(info.filePath(), QFile::ReadOwner | QFile::WriteOwner);
    m_dir.reset();
}

void TestFaultMatrix::faultInBatch_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("messageEnd"); // how the failure's message ends
    QTest::addColumn<Left>("left");

    const auto E = Command::Encrypt;
    const auto D = Command::Decrypt;
    const QString restored = QStringLiteral("; the file was restored");

    QTest::newRow("encrypt: size limit leaves no room for the trailer")
        << E << Fault::LimitBeforeTheCommand << "failed"
        << "file too large; the file was left unchanged" << Left::AsBefore;
    // A limit that arrives after the room was reserved leaves no room even for the undo's state.
    const QString partWay = QStringLiteral("; the file is left part-way, and the next command on it with the same key "
                                           "finishes or undoes it");
    QTest::newRow("encrypt: size limit hit by the check block")
        << E << Fault::LimitAtCheckBlock << "failed" << "file too large; restoring it failed too (file too large)" + partWay
        << Left::PartWay;
    QTest::newRow("encrypt: size limit hit by the marker")
        << E << Fault::LimitAtMarker << "failed" << "file too large; restoring it failed too (file too large)" + partWay
        << Left::PartWay;
    QTest::newRow("encrypt: write fails mid-pass") << E << Fault::WriteFailsMidPass << "failed"
                                                   << "input/output error" + restored << Left::AsBefore;
    QTest::newRow("encrypt: write stops part-way through a block")
        << E << Fault::WriteStopsPartWay << "failed"
        << "no space left on device" + restored << Left::AsBefore;
    // A durable zone is read whole before a byte of it is written back.
    const QString unchanged = QStringLiteral("; the file was left unchanged");
    QTest::newRow("encrypt: read fails mid-pass") << E << Fault::ReadFailsMidPass << "failed"
                                                  << "input/output error" + unchanged << Left::AsBefore;
    const QString untouched = QStringLiteral("; it was not written further, and none of its bytes had been changed");
    const QString leftAsItIs = QStringLiteral("; it was not written further, so the file is left as it is now");
    const QString deleted = QStringLiteral("another program deleted the file");
    const QString replaced = QStringLiteral("another program replaced the file with another one");
    QTest::newRow("encrypt: deleted between marker test and pass")
        << E << Fault::DeletedBeforePass << "failed" << deleted + untouched << Left::Gone;
    QTest::newRow("encrypt: replaced by an encrypted file between marker test and pass")
        << E << Fault::ReplacedBeforePass << "failed" << replaced + "; the file was left unchanged"
        << Left::Replacement;
    // Deleted and copied back: the copy may get the inode number of the original on some file
    // systems, but the original's inode stays in use while it is held open.
    QTest::newRow("encrypt: replaced by a copy of itself between marker test and pass")
        << E << Fault::ReplacedByACopyBeforePass << "failed" << deleted + untouched << Left::AsBefore;
    QTest::newRow("encrypt: another holder tries for the lock between marker test and pass")
        << E << Fault::LockTriedBeforePass << "encrypted" << QString() << Left::Done;
    QTest::newRow("encrypt: made read-only between marker test and pass")
        << E << Fault::ReadOnlyBeforePass << "encrypted" << QString() << Left::Done;
    QTest::newRow("encrypt: cut to nothing during the pass")
        << E << Fault::CutToNothingMidPass << "failed"
        << "another program made the file shorter (from " + QString::number(VictimSize) + " to 0 bytes)" + untouched
        << Left::Empty;
    QTest::newRow("encrypt: appended to during the pass")
        << E << Fault::AppendedToMidPass << "failed"
        << "another program made the file longer (from " + QString::number(VictimSize) + " to " +
               QString::number(VictimSize + 5) + " bytes); none of its bytes had been changed"
        << Left::AsBeforeThenAppended;
    QTest::newRow("encrypt: written to between the pass and the trailer")
        << E << Fault::RewrittenAfterPass << "failed"
        << "another program wrote to the file; it was not written further, so the file is left part-way: Encrypt "
           "with the same key finishes it, leaving what the other program wrote as it is"
        << Left::AsBeforeButRewritten;
    QTest::newRow("encrypt: renamed between the pass and the trailer")
        << E << Fault::RenamedAfterPass << "failed"
        << "another program renamed or moved the file; the file was restored" << Left::Moved;
    QTest::newRow("encrypt: deleted between the two appends")
        << E << Fault::DeletedBetweenAppends << "failed" << deleted + leftAsItIs << Left::Gone;
    QTest::newRow("encrypt: replaced between the two appends")
        << E << Fault::ReplacedBetweenAppends << "failed" << replaced + "; the file was restored" << Left::Replacement;
    QTest::newRow("encrypt: made read-only between the two appends")
        << E << Fault::ReadOnlyBetweenAppends << "encrypted" << QString() << Left::Done;

    QTest::newRow("decrypt: write fails mid-pass") << D << Fault::WriteFailsMidPass << "failed"
                                                   << "input/output error" + restored << Left::AsBefore;
    QTest::newRow("decrypt: write stops part-way through a block")
        << D << Fault::WriteStopsPartWay << "failed"
        << "no space left on device" + restored << Left::AsBefore;
    QTest::newRow("decrypt: read fails mid-pass") << D << Fault::ReadFailsMidPass << "failed"
                                                  << "input/output error" + unchanged << Left::AsBefore;
    // Every cut fails, the undo's too.
    QTest::newRow("decrypt: truncation fails") << D << Fault::TruncationFails << "failed"
                                               << "input/output error; restoring it failed too (input/output error)" +
                                                      partWay
                                               << Left::PartWay;
    QTest::newRow("decrypt: deleted between key check and pass")
        << D << Fault::DeletedBeforePass << "failed" << deleted + untouched << Left::Gone;
    QTest::newRow("decrypt: replaced by a plain file between key check and pass")
        << D << Fault::ReplacedBeforePass << "failed" << replaced + "; the file was left unchanged"
        << Left::Replacement;
    QTest::newRow("decrypt: another holder tries for the lock between key check and pass")
        << D << Fault::LockTriedBeforePass << "decrypted" << QString() << Left::Done;
    QTest::newRow("decrypt: cut to nothing during the pass")
        << D << Fault::CutToNothingMidPass << "failed"
        << "another program made the file shorter (from " + QString::number(VictimSize + 20) + " to 0 bytes)" +
               untouched
        << Left::Empty;
    QTest::newRow("decrypt: renamed between the pass and the truncation")
        << D << Fault::RenamedAfterPass << "failed"
        << "another program renamed or moved the file; the file was restored" << Left::Moved;
}

void TestFaultMatrix::faultInBatch() {
    QFETCH(Command, command);
    QFETCH(Fault, fault);
    QFETCH(QString, outcome);
    QFETCH(QString, messageEnd);
    QFETCH(Left, left);
    const bool encrypting = command == Command::Encrypt;

    // A batch of three: a small file, the victim, and a file of two blocks after it.
    const QByteArray plainBefore = Pattern(3000, 1);
    const QByteArray plainVictim = Pattern(VictimSize, 2);
    const QByteArray plainAfter = Pattern(70000, 3);
    const auto onDisk = [&](const QByteArray& plain) { return encrypting ? plain : Encrypted(plain, BatchKey); };
    const QString before = Path("before"), victim = Path("victim file"), after = Path("after");
    const QString aside = Path("victim file.moved");
    QVERIFY(WriteFile(before, onDisk(plainBefore)));
    QVERIFY(WriteFile(victim, onDisk(plainVictim)));
    QVERIFY(WriteFile(after, onDisk(plainAfter)));
    const QByteArray victimBefore = ReadFile(victim);
    // What replaces the victim: a file that this command must refuse or must not touch.
    const QByteArray replacement = encrypting ? Encrypted(Pattern(5000, 4), "other key") : Pattern(5000, 4);

    const auto replaceVictim = [&] {
        QVERIFY(::rename(QFile::encodeName(victim).constData(), QFile::encodeName(aside).constData()) == 0);
        QVERIFY(WriteFile(victim, replacement));
    };
    const std::int64_t encryptedEnd = encrypting ? VictimSize : VictimSize + 20;

    Interference interference;
    std::optional<FileSizeLimit> limit;
    std::optional<HeldLock> lock;
    switch (fault) {
    case Fault::LimitBeforeTheCommand:
        limit.emplace(rlim_t(VictimSize + 15));
        QVERIFY(limit->active());
        break;
    case Fault::LimitAtCheckBlock:
    case Fault::LimitAtMarker:
        // Arrives after the room was reserved, as when another program fills the disk meanwhile.
        interference.AfterPass = [&] { limit.emplace(rlim_t(VictimSize + (fault == Fault::LimitAtMarker ? 10 : 0))); };
        break;
    case Fault::WriteFailsMidPass:
        interference.Hook = [](FileOperation operation, std::int64_t position, std::size_t&) {
            return operation == FileOperation::Write && position == 2 * 65536 ? EIO : 0;
        };
        break;
    case Fault::WriteStopsPartWay:
        interference.Hook = [stopped = 0](FileOperation operation, std::int64_t position, std::size_t& count) mutable {
            if (operation != FileOperation::Write || position < 65536 || position >= VictimSize)
                return 0;
            // Runs out of room once, part-way through a block; room is found again for the undo.
            if (stopped == 1) {
                ++stopped;
                return ENOSPC;
            }
            if (stopped++ == 0)
                count = 1000;
            return 0;
        };
        break;
    case Fault::ReadFailsMidPass:
        interference.Hook = [](FileOperation operation, std::int64_t position, std::size_t&) {
            return operation == FileOperation::Read && position == 3 * 65536 ? EIO : 0;
        };
        break;
    case Fault::TruncationFails:
        interference.Hook = [](FileOperation operation, std::int64_t, std::size_t&) {
            return operation == FileOperation::Truncate ? EIO : 0;
        };
        break;
    case Fault::DeletedBeforePass:
        interference.BeforePass = [&] { QVERIFY(QFile::remove(victim)); };
        break;
    case Fault::ReplacedBeforePass:
        interference.BeforePass = replaceVictim;
        break;
    case Fault::ReplacedByACopyBeforePass:
        interference.BeforePass = [&] {
            QVERIFY(QFile::remove(victim));
            QVERIFY(WriteFile(victim, victimBefore));
        };
        break;
    case Fault::LockTriedBeforePass:
        interference.BeforePass = [&] {
            lock.emplace(victim);
            QVERIFY(!lock->locked());
        };
        break;
    case Fault::ReadOnlyBeforePass:
        interference.BeforePass = [&] { QVERIFY(QFile::setPermissions(victim, QFile::ReadOwner)); };
        break;
    case Fault::CutToNothingMidPass:
    case Fault::AppendedToMidPass:
        // Strikes once the first block is back on disk, as a log rotation or a writer would.
        interference.Hook = [&, done = false](FileOperation operation, std::int64_t position, std::size_t&) mutable {
            if (operation == FileOperation::Read && position == 65536 && !done) {
                done = true;
                if (fault == Fault::CutToNothingMidPass) {
                    QFile(victim).resize(0);
                } else {
                    QFile out(victim);
                    if (!out.open(QIODevice::Append) || out.write("tail.") != 5)
                        return EINVAL;
                }
            }
            return 0;
        };
        break;
    case Fault::RewrittenAfterPass:
        interference.AfterPass = [&] {
            QFile out(victim);
            QVERIFY(out.open(QIODevice::ReadWrite) && out.write("XYZ") == 3);
            out.close();
            // A writer's time never equals the one the pass left, whatever the clock's resolution.
            const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 5, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(victim).constData(), times, 0) == 0);
        };
        break;
    case Fault::RenamedAfterPass:
        interference.AfterPass = [&] {
            QVERIFY(::rename(QFile::encodeName(victim).constData(), QFile::encodeName(aside).constData()) == 0);
        };
        break;
    case Fault::DeletedBetweenAppends:
    case Fault::ReplacedBetweenAppends:
    case Fault::ReadOnlyBetweenAppends:
        // Acts while the first append is under way, so that the second append meets its effect.
        interference.Hook = [&, done = false](FileOperation operation, std::int64_t position, std::size_t&) mutable {
            if (operation != FileOperation::Write || position != encryptedEnd || done)
                return 0;
            done = true;
            if (fault == Fault::DeletedBetweenAppends)
                QFile::remove(victim);
            else if (fault == Fault::ReplacedBetweenAppends)
                replaceVictim();
            else
                QFile::setPermissions(victim, QFile::ReadOwner);
            return 0;
        };
        break;
    }

    EngineUnit unit;
    unit.KeyText = Key(BatchKey);
    const FileResult first = RunOne(unit, command, before);
    const FileResult result = RunOne(unit, command, victim, interference);
    limit.reset();
    lock.reset();
    const FileResult last = RunOne(unit, command, after);

    const QString done = encrypting ? QStringLiteral("encrypted") : QStringLiteral("decrypted");
    QCOMPARE(first.Outcome, done);
    QCOMPARE(result.Outcome, outcome);
    if (outcome == "failed") {
        QVERIFY2(result.Message.startsWith("Cannot "), qPrintable(result.Message));
        QVERIFY2(result.Message.contains('"' + victim + '"'), qPrintable(result.Message));
        QVERIFY2(result.Message.endsWith(": " + messageEnd), qPrintable(result.Message));
    }
    QVERIFY(!unit.CurrentFile.isOpen());

    switch (left) {
    case Left::AsBefore:
        QVERIFY(ReadFile(victim) == victimBefore);
        break;
    case Left::Gone:
        QVERIFY(!QFileInfo::exists(victim));
        break;
    case Left::Replacement:
        QVERIFY(ReadFile(victim) == replacement);
        QVERIFY(ReadFile(aside) == victimBefore);
        break;
    case Left::Done:
        QVERIFY(ReadFile(victim) == (encrypting ? Encrypted(plainVictim, BatchKey) : plainVictim));
        break;
    case Left::Moved:
        QVERIFY(!QFileInfo::exists(victim));
        QVERIFY(ReadFile(aside) == victimBefore);
        break;
    case Left::Empty:
        QCOMPARE(QFileInfo(victim).size(), qint64(0));
        break;
    case Left::AsBeforeThenAppended:
        QVERIFY(ReadFile(victim) == victimBefore + "tail.");
        break;
    case Left::AsBeforeButRewritten: {
        // Undoing would turn the other program's bytes into garbage: refused. Finishing leaves them.
        const QByteArray transformed = XorPrefix(victimBefore, BatchKey, victimBefore.size());
        const QByteArray now = ReadFile(victim);
        QVERIFY(now.left(victimBefore.size()) == "XYZ" + transformed.mid(3));
        const FileResult undo = RunOne(unit, Command::Decrypt, victim);
        QCOMPARE(undo.Outcome, QStringLiteral("failed"));
        QVERIFY2(undo.Message.contains("can only be finished, by Encrypt"), qPrintable(undo.Message));
        QVERIFY(ReadFile(victim) == now);
        const FileResult finished = RunOne(unit, Command::Encrypt, victim);
        QCOMPARE(finished.Outcome, QStringLiteral("encrypted (finished an interrupted encryption)"));
        QVERIFY(finished.ForeignKept);
        QVERIFY(ReadFile(victim) == "XYZ" + transformed.mid(3) + CheckBlockOf(BatchKey) + Marker);
        break;
    }
    case Left::PartWay: {
        const FileResult again = RunOne(unit, command, victim);
        QCOMPARE(again.Outcome, done + (encrypting ? " (finished an interrupted encryption)"
                                                   : " (finished an interrupted decryption)"));
        QVERIFY(ReadFile(victim) == (encrypting ? Encrypted(plainVictim, BatchKey) : plainVictim));
        break;
    }
    }

    // The batch goes on as if nothing had happened.
    QCOMPARE(last.Outcome, done);
    const auto expected = [&](const QByteArray& plain) { return encrypting ? Encrypted(plain, BatchKey) : plain; };
    QVERIFY(ReadFile(before) == expected(plainBefore));
    QVERIFY(ReadFile(after) == expected(plainAfter));
}

// Where the process dies.
enum class KillPoint {
    EncryptPass,
    AtTheTrailer,
    DecryptPass,
    BeforeTruncation,
    EncryptUndo,
    DecryptUndo
};
Q_DECLARE_METATYPE(KillPoint)

// How the killed command cuts its file into zones: one durable zone (the default for these sizes),
// short zones without syncs, or durable zones of two blocks, whose checks go to the areas in turn.
enum class Zones { Durable, WithoutSyncs, TwoBlocks };
Q_DECLARE_METATYPE(Zones)

namespace {

void Plan(EngineUnit& unit, Zones zones) {
    unit.Durable = zones != Zones::WithoutSyncs;
    if (zones == Zones::TwoBlocks)
        unit.ZoneLimit = 2 * 65536;
}

QString Done(Command command) {
    return command == Command::Encrypt ? QStringLiteral("encrypted") : QStringLiteral("decrypted");
}

// What the next command says when it finishes or undoes the interrupted one.
QString Recovered(Command interrupted, Command next) {
    const QString what = interrupted == Command::Encrypt ? QStringLiteral("encryption") : QStringLiteral("decryption");
    return Done(next) + (interrupted == next ? " (finished an interrupted " : " (undid an interrupted ") + what + ')';
}

} // namespace

void TestFaultMatrix::killedMidway_data() {
    QTest::addColumn<KillPoint>("point");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("killAt");      // a pass or undo: dies at this write into the body
    QTest::addColumn<int>("killAgainAt"); // the first command after it dies too, at this write (0: it does not)
    QTest::addColumn<Command>("next");    // the command that must then give the exact result
    QTest::addColumn<int>("keptBlocks");  // blocks of the run's stream kept in memory; -1: the engine's own
    QTest::addColumn<Zones>("zones");

    for (const Command next : {Command::Encrypt, Command::Decrypt}) {
        const char* then = next == Command::Encrypt ? ", then encrypt" : ", then decrypt";
        const auto row = [&](const char* name, KillPoint point, int size, int killAt, int again = 0, int kept = -1,
                             Zones zones = Zones::Durable) {
            QTest::addRow("%s%s", name, then) << point << size << killAt << again << next << kept << zones;
        };
        // The state is in the file, but not a byte of the body written yet.
        row("encrypt pass, at the first write", KillPoint::EncryptPass, 300000, 1);
        row("encrypt pass, at the third write", KillPoint::EncryptPass, 300000, 3);
        row("encrypt pass, after one block", KillPoint::EncryptPass, 300000, 2);
        row("encrypt pass, before the last block", KillPoint::EncryptPass, 300000, 5);
        // Zones of their own: killed in the second zone, the first written and no longer hot, or
        // with the checks of two zones in two of the three areas.
        row("encrypt pass without syncs, in the second zone", KillPoint::EncryptPass, 300000, 5, 0, -1,
            Zones::WithoutSyncs);
        row("encrypt pass without syncs, ninth zone", KillPoint::EncryptPass, 40 * 65536 + 5, 34, 0, -1,
            Zones::WithoutSyncs);
        row("encrypt pass in zones of two blocks, in the fourth", KillPoint::EncryptPass, 9 * 65536 + 77, 8, 0, -1,
            Zones::TwoBlocks);
        row("decrypt pass in zones of two blocks, in the third", KillPoint::DecryptPass, 9 * 65536 + 77, 6, 0, -1,
            Zones::TwoBlocks);
        row("encrypt, at the trailer", KillPoint::AtTheTrailer, 100000, 0);
        row("decrypt pass, after two blocks", KillPoint::DecryptPass, 300000, 3);
        // The check block straddles the first block's end and is half deciphered.
        row("decrypt pass, check block half deciphered", KillPoint::DecryptPass, 65530, 2);
        row("decrypt, before the trailer is cut off", KillPoint::BeforeTruncation, 100000, 0);
        // A write fails in the fifth block; the undo of the four before it is killed in its second.
        row("encrypt's undo after a failed write", KillPoint::EncryptUndo, 300000, 2);
        row("decrypt's undo after a failed write", KillPoint::DecryptUndo, 300000, 2);
        row("encrypt's undo without syncs after a failed write", KillPoint::EncryptUndo, 300000, 2, 0, -1,
            Zones::WithoutSyncs);
        row("encrypt's undo in zones of two blocks, in its second zone", KillPoint::EncryptUndo, 300000, 3, 0, -1,
            Zones::TwoBlocks);
        // The recovery itself is killed: it undoes (first row) or finishes (second row) the pass.
        row("encrypt pass, and the decrypt undoing it", KillPoint::EncryptPass, 300000, 4, 3);
        row("encrypt pass, and the encrypt finishing it", KillPoint::EncryptPass, 300000, 2, 2);
        // Picked up where the kept stream has ended: the generator is set going beyond it.
        row("encrypt pass before the last block, one block kept", KillPoint::EncryptPass, 300000, 5, 0, 1);
        row("decrypt pass after two blocks, none kept", KillPoint::DecryptPass, 300000, 3, 0, 0);
        row("encrypt's undo after a failed write, two blocks kept", KillPoint::EncryptUndo, 300000, 2, 0, 2);
        // Killed while a second thread makes the stream ahead of the pass.
        row("encrypt pass made ahead, killed at block 20", KillPoint::EncryptPass, 40 * 65536, 20, 0, 1);
        row("decrypt pass made ahead, killed at block 30", KillPoint::DecryptPass, 40 * 65536 + 99, 30, 0, 0);
    }
}

// The process is killed at a chosen point of one command (and maybe once more in the command after
// it). Whatever the user runs next, Encrypt or Decrypt with the same key, gives exactly the encrypted
// or the plain file, and says that it finished or undid the interrupted command.
void TestFaultMatrix::killedMidway() {
    QFETCH(KillPoint, point);
    QFETCH(int, size);
    QFETCH(int, killAt);
    QFETCH(int, killAgainAt);
    QFETCH(Command, next);
    QFETCH(int, keptBlocks);
    QFETCH(Zones, zones);

    const QByteArray key("killed");
    // Each command's unit keeps the row's share of the stream.
    const auto keyed = [&](EngineUnit& unit, const QByteArray& text) {
        unit.KeyText = Key(text);
        if (keptBlocks >= 0)
            unit.RunKey =
                std::make_shared<veltrane::RunKeystream>(unit.KeyText, static_cast<std::size_t>(keptBlocks) * 65536);
    };
    const QByteArray plain = Pattern(size, 7);
    const QByteArray encrypted = Encrypted(plain, key);
    const QString file = Path("interrupted");
    const bool decrypting =
        point == KillPoint::DecryptPass || point == KillPoint::BeforeTruncation || point == KillPoint::DecryptUndo;
    const Command interrupted = decrypting ? Command::Decrypt : Command::Encrypt;
    QVERIFY(WriteFile(file, decrypting ? encrypted : plain));

    const int signal = RunInChild([&] {
        EngineUnit unit;
        keyed(unit, key);
        Plan(unit, zones);
        Interference interference;
        if (point == KillPoint::EncryptPass || point == KillPoint::DecryptPass) {
            interference.Hook = KillAtBodyWrite(killAt, decrypting ? size + 20 : size);
        } else if (point == KillPoint::AtTheTrailer) {
            interference.Hook = [size](FileOperation operation, std::int64_t position, std::size_t&) {
                if (operation == FileOperation::Write && position == size)
                    ::raise(SIGKILL);
                return 0;
            };
        } else if (point == KillPoint::BeforeTruncation) {
            interference.Hook = [](FileOperation operation, std::int64_t, std::size_t&) {
                if (operation == FileOperation::Truncate)
                    ::raise(SIGKILL);
                return 0;
            };
        } else if (point == KillPoint::EncryptUndo || point == KillPoint::DecryptUndo) {
            const std::int64_t body = decrypting ? size + 20 : size;
            interference.Hook = [killAt, body, failed = false, undoWrites = 0](
                                    FileOperation operation, std::int64_t position, std::size_t&) mutable {
                if (operation != FileOperation::Write || position >= body)
                    return 0;
                if (!failed && position == 4 * 65536) {
                    failed = true;
                    return EIO;
                }
                if (failed && ++undoWrites == killAt)
                    ::raise(SIGKILL);
                return 0;
            };
        }
        RunOne(unit, interrupted, file, interference);
    });
    QCOMPARE(signal, SIGKILL);

    EngineUnit unit;
    keyed(unit, key);
    if (killAgainAt > 0) {
        const Command first = next == Command::Encrypt ? Command::Decrypt : Command::Encrypt;
        QCOMPARE(RunInChild([&] {
                     EngineUnit another;
                     keyed(another, key);
                     RunOne(another, first, file, Interference{{}, {}, KillAtWrite(killAgainAt)});
                 }),
                 SIGKILL);
    }
    // A wrong key changes nothing and leaves the record for the right one.
    const QByteArray before = ReadFile(file);
    EngineUnit wrong;
    keyed(wrong, "not the key");
    QCOMPARE(RunOne(wrong, next, file).Outcome, QStringLiteral("invalid key"));
    QVERIFY(ReadFile(file) == before);

    const FileResult result = RunOne(unit, next, file);
    QVERIFY2(result.Outcome.startsWith(Done(next) + " ("), qPrintable(result.Outcome + ' ' + result.Message));
    if (killAgainAt == 0)
        QCOMPARE(result.Outcome, Recovered(interrupted, next));
    QVERIFY(ReadFile(file) == (next == Command::Encrypt ? encrypted : plain));
    // Nothing is left of the interruption: the same command again is refused as usual.
    QCOMPARE(RunOne(unit, next, file).Outcome,
             next == Command::Encrypt ? QStringLiteral("already encrypted") : QStringLiteral("not encrypted"));
}

// After the system restarts, a file left part-way by a command that waited for the disk at every
// step is finished or undone as after a kill; one left by a command that did not (--no-sync) may not
// hold what its state says, so every command refuses it, saying why, and leaves it as it is.
void TestFaultMatrix::killedBeforeARestart_data() {
    QTest::addColumn<bool>("durable");
    QTest::addColumn<bool>("atTheCut"); // a decryption stopped as it cut its trailer off, else an encryption mid-pass
    QTest::addColumn<Command>("next");
    QTest::newRow("durable") << true << false << Command::Decrypt;
    QTest::newRow("without syncs") << false << false << Command::Decrypt;
    // The cut's new size was lost, but the zeros it wrote over the rest of its last page reached the
    // disk (as file systems order it): the trailer's bytes in the page are zeros.
    QTest::newRow("durable decryption, its trailer's cut torn, then decrypt") << true << true << Command::Decrypt;
    QTest::newRow("durable decryption, its trailer's cut torn, then encrypt") << true << true << Command::Encrypt;
}

void TestFaultMatrix::killedBeforeARestart() {
    QFETCH(bool, durable);
    QFETCH(bool, atTheCut);
    QFETCH(Command, next);
    const QByteArray key("restart");
    const QByteArray plain = Pattern(atTheCut ? 1538 : 8 * 65536, 3);
    const QString file = Path("restarted");
    QVERIFY(WriteFile(file, atTheCut ? Encrypted(plain, key) : plain));
    const auto cutKilled = [](FileOperation operation, std::int64_t, std::size_t&) {
        if (operation == FileOperation::Truncate)
            ::raise(SIGKILL);
        return 0;
    };
    QCOMPARE(RunInChild([&] {
                 EngineUnit unit;
                 unit.KeyText = Key(key);
                 unit.Durable = durable;
                 RunOne(unit, atTheCut ? Command::Decrypt : Command::Encrypt, file,
                        Interference{{}, {}, atTheCut ? cutKilled : KillAtBodyWrite(5, plain.size())});
             }),
             SIGKILL);
    if (atTheCut) {
        QVERIFY(ReadFile(file).left(plain.size()) == plain);
        QFile torn(file);
        QVERIFY(torn.open(QIODevice::ReadWrite) && torn.seek(plain.size()));
        QCOMPARE(torn.write(QByteArray(20, '\0')), qint64(20));
    }
    const QByteArray left = ReadFile(file);
    if (!atTheCut)
        QVERIFY(left.left(plain.size()) != plain);

    const veltrane::BootIdentity thisBoot = veltrane::CurrentBoot();
    veltrane::BootIdentity nextBoot = thisBoot;
    nextBoot[0] ^= 0xFF;
    veltrane::SetCurrentBoot(nextBoot);
    EngineUnit unit;
    unit.KeyText = Key(key);
    if (atTheCut) {
        QCOMPARE(RunOne(unit, next, file).Outcome, next == Command::Decrypt
                                                       ? QStringLiteral("decrypted (finished an interrupted decryption)")
                                                       : QStringLiteral("encrypted (undid an interrupted decryption)"));
        QVERIFY(ReadFile(file) == (next == Command::Decrypt ? plain : Encrypted(plain, key)));
    } else if (durable) {
        QCOMPARE(RunOne(unit, Command::Decrypt, file).Outcome, QStringLiteral("decrypted (undid an interrupted encryption)"));
        QVERIFY(ReadFile(file) == plain);
    } else {
        for (const Command command : {Command::Decrypt, Command::Encrypt}) {
            const FileResult refused = RunOne(unit, command, file);
            QCOMPARE(refused.Outcome, QStringLiteral("failed"));
            QVERIFY2(refused.Message.contains("the system stopped since (a power cut or a crash)"),
                     qPrintable(refused.Message));
            QVERIFY(ReadFile(file) == left);
        }
    }
    veltrane::SetCurrentBoot(thisBoot);
}

// Killed from outside at a moment nobody chose, over and over, with files from empty to several
// blocks and both commands: the command after it always gives the exact result it stands for.
void TestFaultMatrix::killedAtRandomMoment() {
    const QByteArray key("random");
    constexpr qsizetype MostSize = 6 * 1024 * 1024;
    const QByteArray stream = Keystream(key, MostSize + 20);
    const QByteArray checkBlock = Xor(Marker, stream.left(10));
    const QString file = Path("random");
    QRandomGenerator random(20261207);
    const qsizetype awkward[] = {0, 1, 10, 65535, 65536, 65537, 2 * 65536 - 20};
    // How long a whole command takes here (a sanitized build, a busy machine), so that the kills
    // spread over the commands instead of landing mostly before or after them.
    // Durable commands (even rounds) and those without syncs (odd rounds) take very different times.
    double nanosecondsPerByte[2] = {};
    for (const bool durable : {true, false}) {
        QVERIFY(WriteFile(file, Pattern(MostSize, 1)));
        QElapsedTimer timer;
        timer.start();
        EngineUnit unit;
        unit.KeyText = Key(key);
        unit.Durable = durable;
        QCOMPARE(RunOne(unit, Command::Encrypt, file).Outcome, QStringLiteral("encrypted"));
        nanosecondsPerByte[durable ? 0 : 1] = double(timer.nsecsElapsed()) / MostSize;
    }
    int recovered = 0;
    // The first rounds repeat the same sizes and commands in every run; the last eighth take them
    // from a fresh seed, printed so that a failing run can be repeated. The kills must land inside
    // commands often enough for the rounds to mean something: where timing differs from the measure
    // above (a forked child of a sanitized build is slower than its parent), more rounds follow.
    const int rounds = Rounds(160);
    const int fixedRounds = rounds - std::max(1, rounds / 8);
    const int wanted = std::max(2, rounds / 8);
    const quint32 seed = FreshSeed();
    int round = 0;
    for (; round < rounds || (recovered < wanted && round < 4 * rounds); ++round) {
        if (round == fixedRounds) {
            random.seed(seed);
            qInfo("rounds %d to %d from seed %u (VELTRANE_SEED=%u repeats them)", round, rounds - 1, seed, seed);
        }
        const qsizetype size = round % 3 == 0 ? awkward[random.bounded(7)] : random.bounded(MostSize);
        const QByteArray plain = Pattern(size, static_cast<std::uint32_t>(round));
        const QByteArray encrypted = Xor(plain, stream) + checkBlock + Marker;
        const Command command = random.bounded(2) ? Command::Encrypt : Command::Decrypt;
        const Command next = random.bounded(2) ? Command::Encrypt : Command::Decrypt;
        QVERIFY(WriteFile(file, command == Command::Encrypt ? plain : encrypted));

        int ready[2];
        QVERIFY(::pipe(ready) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            EngineUnit unit;
            unit.KeyText = Key(key);
            // Every other round without syncs: short zones, the first state written at once. A
            // durable command reads its one zone whole before it writes anything.
            unit.Durable = round % 2 == 0;
            ::close(ready[0]);
            ::close(ready[1]); // the command begins now
            RunOne(unit, command, file);
            ::_exit(0);
        }
        ::close(ready[1]);
        char none;
        while (::read(ready[0], &none, 1) < 0 && errno == EINTR) {
        }
        ::close(ready[0]);
        const auto longest =
            static_cast<std::uint32_t>(std::max(2e5, 1.3 * nanosecondsPerByte[round % 2] * double(size)));
        std::this_thread::sleep_for(std::chrono::nanoseconds(random.bounded(longest)));
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);

        EngineUnit unit;
        unit.KeyText = Key(key);
        const FileResult result = RunOne(unit, next, file);
        recovered += result.Outcome.contains("interrupted");
        const QStringList expected{Done(next), Recovered(command, next),
                                   next == Command::Encrypt ? "already encrypted" : "not encrypted"};
        QVERIFY2(expected.contains(result.Outcome),
                 qPrintable(QStringLiteral("round %1: %2 %3").arg(round).arg(result.Outcome, result.Message)));
        QVERIFY2(ReadFile(file) == (next == Command::Encrypt ? encrypted : plain),
                 qPrintable(QStringLiteral("round %1, %2 bytes").arg(round).arg(size)));
    }
    qInfo("%d of %d rounds recovered an interrupted command", recovered, round);
    QVERIFY2(recovered >= wanted, qPrintable(QString::number(recovered)));
}

void TestFaultMatrix::otherWriterDuringThePass_data() {
    QTest::addColumn<Command>("command");
    QTest::newRow("encrypt") << Command::Encrypt;
    QTest::newRow("decrypt") << Command::Decrypt;
}

// Another program writes into the part already transformed while the pass goes on (the lock is only
// advisory). The command notices at its next zone, writes nothing further but its state, which says
// so, and stops; the next command of the other way refuses to undo around bytes it cannot tell from
// its own, and the next of the same way finishes the file and leaves that program's bytes as they are.
void TestFaultMatrix::otherWriterDuringThePass() {
    QFETCH(Command, command);
    const bool encrypting = command == Command::Encrypt;
    const QByteArray plain = Pattern(10 * 65536 + 99, 37);
    const QByteArray encrypted = Encrypted(plain, BatchKey);
    const QString file = Path("shared");
    QVERIFY(WriteFile(file, encrypting ? plain : encrypted));
    EngineUnit unit;
    unit.KeyText = Key(BatchKey);
    unit.Durable = false;
    Interference interference;
    interference.Hook = [&, done = false](FileOperation operation, std::int64_t position, std::size_t&) mutable {
        if (operation == FileOperation::Read && position == 5 * 65536 && !done) {
            done = true;
            QFile out(file);
            if (!out.open(QIODevice::ReadWrite) || !out.seek(100) || out.write("XYZ") != 3)
                return EINVAL;
            out.close();
            const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 5, 0}};
            ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0);
        }
        return 0;
    };
    const FileResult result = RunOne(unit, command, file, interference);
    QCOMPARE(result.Outcome, QStringLiteral("failed"));
    QVERIFY2(result.Message.endsWith(QStringLiteral("another program wrote to the file; it was not written further, so "
                                                    "the file is left part-way: %1 with the same key finishes it, "
                                                    "leaving what the other program wrote as it is")
                                         .arg(encrypting ? "Encrypt" : "Decrypt")),
             qPrintable(result.Message));
    const QByteArray left = ReadFile(file);
    const Command other = encrypting ? Command::Decrypt : Command::Encrypt;
    QCOMPARE(RunOne(unit, other, file).Outcome, QStringLiteral("failed"));
    QVERIFY(ReadFile(file) == left);
    const FileResult finished = RunOne(unit, command, file);
    QCOMPARE(finished.Outcome, encrypting ? QStringLiteral("encrypted (finished an interrupted encryption)")
                                          : QStringLiteral("decrypted (finished an interrupted decryption)"));
    QVERIFY(finished.ForeignKept);
    QByteArray expected = encrypting ? encrypted : plain;
    expected.replace(100, 3, "XYZ");
    QVERIFY(ReadFile(file) == expected);
}

void TestFaultMatrix::interruptedBySignal_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("again"); // a second signal arrives during the undo
    QTest::newRow("encrypt, Ctrl-C") << Command::Encrypt << SIGINT << false;
    QTest::newRow("encrypt, logout") << Command::Encrypt << SIGTERM << false;
    QTest::newRow("decrypt, terminal closed") << Command::Decrypt << SIGHUP << false;
    QTest::newRow("decrypt, quit key") << Command::Decrypt << SIGQUIT << false;
    QTest::newRow("encrypt, Ctrl-C twice") << Command::Encrypt << SIGINT << true;
    QTest::newRow("decrypt, logout, then Ctrl-C") << Command::Decrypt << SIGTERM << true;
}

// A signal that asks the program to stop arrives in the middle of a pass: the block in hand is
// finished, the pass undone, and the process then ends as that signal ends it, the file exactly as
// it was and no record left behind.
void TestFaultMatrix::interruptedBySignal() {
    QFETCH(Command, command);
    QFETCH(int, signal);
    QFETCH(bool, again);
    const QByteArray key("signalled");
    const QByteArray plain = Pattern(6 * 65536 + 99, 13);
    const QByteArray before = command == Command::Encrypt ? plain : Encrypted(plain, key);
    const QString file = Path("signalled");
    QVERIFY(WriteFile(file, before));

    class SignallingDisplay : public veltrane::ProgressDisplay {
    public:
        explicit SignallingDisplay(int signal) : m_signal(signal) {}
        void MakeVisible() override {}
        void SetProgress(int) override {
            if (++m_blocks == 3)
                ::raise(m_signal);
        }

    private:
        int m_signal;
        int m_blocks = 0;
    };
    const int ended = RunInChild([&] {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        const veltrane::InterruptionGuard guard({SIGINT, SIGTERM, SIGHUP, SIGQUIT});
        EngineUnit unit;
        unit.KeyText = Key(key);
        Interference interference;
        if (again) {
            // The undo's first write back of block 0 comes after the pass wrote blocks 0 to 2.
            interference.Hook = [writes = 0](FileOperation operation, std::int64_t, std::size_t&) mutable {
                if (operation == FileOperation::Write && ++writes == 4)
                    ::raise(SIGINT);
                return 0;
            };
        }
        SignallingDisplay display(signal);
        const FileResult result = RunOne(unit, command, file, interference, &display);
        if (result.Outcome != "failed" || !result.Message.endsWith("; the file was restored"))
            ::_exit(3);
    });
    QCOMPARE(ended, signal);
    QVERIFY(ReadFile(file) == before);
    EngineUnit unit;
    unit.KeyText = Key(key);
    QCOMPARE(RunOne(unit, command == Command::Encrypt ? Command::Decrypt : Command::Encrypt, file).Outcome,
             command == Command::Encrypt ? QStringLiteral("not encrypted") : QStringLiteral("already encrypted"));
}

QTEST_APPLESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
