// The in-place pass: which keystream byte meets which file byte, the progress figures, files that
// cannot be opened, and failures in the middle of a file (real ones where the system can make them).

#include "engine/blockpass.h"
#include "engine/engineerror.h"
#include "engine/filesequences.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;
using veltrane::FileOperation;
using veltrane::RunBlockPass;

namespace {

// Whether the pass may make its stream on a second thread, and how that thread is slowed down.
enum class Ahead { Off, Allowed, FallsBehind, BehindAtOnce };

// Keeps `blocks` blocks of the run's stream for the unit (-1: leaves it to the engine).
void Keep(EngineUnit& unit, int blocks) {
    if (blocks >= 0)
        unit.RunKey = std::make_shared<veltrane::RunKeystream>(unit.KeyText, std::size_t(blocks) * 65536);
}

// The pass as a command runs it: an encryption, whose result is the stream XORed over every byte and
// the trailer after them.
veltrane::FileResult Encryption(EngineUnit& unit, veltrane::ProgressDisplay* display = nullptr) {
    InterferingDisplay shown(display);
    return veltrane::EncryptFile(unit, shown);
}

veltrane::FileResult Decryption(EngineUnit& unit) {
    InterferingDisplay none;
    return veltrane::DecryptFile(unit, none);
}

bool EncryptWithPass(EngineUnit& unit, veltrane::ProgressDisplay* display = nullptr) {
    return Encryption(unit, display).Outcome == veltrane::FileOutcome::Encrypted;
}

bool DecryptWithPass(EngineUnit& unit) {
    return Decryption(unit).Outcome == veltrane::FileOutcome::Decrypted;
}

// Blocks of the last pass whose stream came from the source with a second thread.
std::int64_t BlocksMadeAhead(const EngineUnit& unit) {
    return unit.LastStreamSources.Blocks[static_cast<std::size_t>(veltrane::KeystreamSourceKind::Ahead)];
}

int Processors() {
    cpu_set_t set;
    return ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
}

} // namespace

Q_DECLARE_METATYPE(Ahead)

class TestBlockPass : public QObject {
    Q_OBJECT

private slots:
    void init();
    void transformsEveryByteWithItsOffset_data();
    void transformsEveryByteWithItsOffset();
    void progressFigures_data();
    void progressFigures();
    void progressFigureRounding_data();
    void progressFigureRounding();
    void helloWorldBody();
    void unopenableFileIsUntouched_data();
    void unopenableFileIsUntouched();
    void writeFailsMidPassForReal();
    void readFailsMidPass_data();
    void readFailsMidPass();
    void writeStopsHalfwayThroughABlock();
    void undoFailsToo();
    void largeSparseFile();

private:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void Bind(EngineUnit& unit, const QString& file, const QByteArray& key = "secret") {
        unit.KeyText = Key(key);
        unit.CurrentFileName = file.toStdString();
        unit.CurrentFile.Bind(unit.CurrentFileName);
    }

    QTemporaryDir m_dir;
};

void TestBlockPass::init() {
    QVERIFY(m_dir.isValid());
}

void TestBlockPass::transformsEveryByteWithItsOffset_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("keptBlocks"); // of the run's stream; -1: the engine's own prefix
    QTest::addColumn<Ahead>("ahead");
    for (int size : {0, 1, 255, 256, 257, 65535, 65536, 65537, 131072 + 5})
        QTest::addRow("%d bytes", size) << size << -1 << Ahead::Allowed;
    // Past a short prefix the stream is made on a second thread; it may fall behind part-way.
    const int many = 40 * 65536 + 7;
    QTest::newRow("40 blocks, one kept, made ahead") << many << 1 << Ahead::Allowed;
    QTest::newRow("40 blocks, none kept, made ahead") << many << 0 << Ahead::Allowed;
    QTest::newRow("40 blocks, one kept, one thread") << many << 1 << Ahead::Off;
    QTest::newRow("40 blocks, one kept, second thread falls behind") << many << 1 << Ahead::FallsBehind;
    QTest::newRow("40 blocks, second thread behind from the start") << many << 0 << Ahead::BehindAtOnce;
    QTest::newRow("nine blocks past the prefix, made ahead") << 11 * 65536 << 2 << Ahead::Allowed;
    // Where the prefix is not made yet, the second thread makes it too, and the pass keeps it.
    QTest::newRow("ten blocks inside the prefix, made ahead") << 10 * 65536 + 3 << -1 << Ahead::Allowed;
    // The thread is stopped at block 32, and the pass makes the last kept blocks itself.
    QTest::newRow("40 blocks, 36 kept, second thread behind from the start") << many << 36 << Ahead::BehindAtOnce;
}

void TestBlockPass::transformsEveryByteWithItsOffset() {
    QFETCH(int, size);
    QFETCH(int, keptBlocks);
    QFETCH(Ahead, ahead);
    const QString file = Path("data");
    const QByteArray plain = Pattern(size);
    QVERIFY(WriteFile(file, plain));

    EngineUnit unit;
    Bind(unit, file);
    Keep(unit, keptBlocks);
    unit.StreamSource = ahead == Ahead::Off ? std::optional(veltrane::KeystreamSourceKind::Kept) : std::nullopt;
    if (ahead == Ahead::FallsBehind || ahead == Ahead::BehindAtOnce) {
        const std::int64_t from = ahead == Ahead::FallsBehind ? 5 : 0;
        unit.StreamAheadHook = [from](std::int64_t block) {
            if (block >= from)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
    }
    QVERIFY(EncryptWithPass(unit));
    // Falling behind part-way needs a thread that got going at all: on a busy machine it may miss
    // even the first block, so the file is written afresh and the pass tried again.
    for (int attempt = 0; ahead == Ahead::FallsBehind && BlocksMadeAhead(unit) > 0 &&
                          unit.LastStreamSources.FromThread == 0 && attempt < 20;
         ++attempt) {
        QVERIFY(WriteFile(file, plain));
        QVERIFY(EncryptWithPass(unit));
    }
    // A second thread is used where the pass has enough blocks to make and a processor for it.
    const bool threadWanted = ahead != Ahead::Off && size > 7 * 65536;
    const bool tooBusy = ahead == Ahead::FallsBehind && unit.LastStreamSources.FromThread == 0;
    if (threadWanted && Processors() >= 2) {
        QVERIFY(BlocksMadeAhead(unit) > 0);
        if (ahead == Ahead::FallsBehind || ahead == Ahead::BehindAtOnce)
            QVERIFY(unit.LastStreamSources.FellBack);
    } else {
        QCOMPARE(BlocksMadeAhead(unit), std::int64_t{0});
    }
    QVERIFY(!unit.CurrentFile.isOpen());

    const QByteArray enciphered = ReadFile(file);
    QCOMPARE(enciphered.size(), size + 20);
    QVERIFY(enciphered.left(size) == Xor(plain, Keystream("secret", size)));

    // The same pass again brings the bytes back.
    QVERIFY(DecryptWithPass(unit));
    QVERIFY(ReadFile(file) == plain);
    if (tooBusy)
        QSKIP("the machine was too busy for the second thread to make a single block in time");
}

void TestBlockPass::progressFigures_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("figures");
    QTest::newRow("empty") << 0 << QList<int>{100};
    QTest::newRow("one byte") << 1 << QList<int>{6553600};
    QTest::newRow("exactly one block") << 65536 << QList<int>{100};
    QTest::newRow("one byte more") << 65537 << QList<int>{100, 200};
    QTest::newRow("100000") << 100000 << QList<int>{66, 131};
    QTest::newRow("eight blocks") << 524288 << QList<int>{12, 25, 38, 50, 62, 75, 88, 100};
}

void TestBlockPass::progressFigures() {
    QFETCH(int, size);
    QFETCH(QList<int>, figures);
    const QString file = Path("data");
    QVERIFY(WriteFile(file, Pattern(size)));

    EngineUnit unit;
    Bind(unit, file);
    RecordingDisplay display;
    QVERIFY(EncryptWithPass(unit, &display));
    QList<int> expected{-1};
    expected += figures;
    QCOMPARE(display.events(), expected);
    QCOMPARE(unit.BlockCount, std::int64_t(figures.size()));
}

void TestBlockPass::progressFigureRounding_data() {
    QTest::addColumn<qint64>("blocks");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("figure");
    QTest::newRow("12.5 to even") << qint64(1) << qint64(524288) << 12;
    QTest::newRow("37.5 to even") << qint64(3) << qint64(524288) << 38;
    QTest::newRow("62.5 to even") << qint64(5) << qint64(524288) << 62;
    QTest::newRow("just over a half") << qint64(1) << qint64(524287) << 13;
    // 32,768 blocks make a product of 2^31, which a 32-bit product would turn negative.
    QTest::newRow("2 GiB") << qint64(32768) << qint64(2147483648) << 100;
    QTest::newRow("half of 6 GiB") << qint64(49152) << qint64(6442450944) << 50;
    QTest::newRow("empty file") << qint64(1) << qint64(0) << 100;
}

void TestBlockPass::progressFigureRounding() {
    QFETCH(qint64, blocks);
    QFETCH(qint64, length);
    QFETCH(int, figure);
    QCOMPARE(veltrane::ProgressFigure(blocks, length), figure);
}

void TestBlockPass::helloWorldBody() {
    const QString file = Path("hello.txt");
    QVERIFY(WriteFile(file, "Hello, world!\n"));
    EngineUnit unit;
    Bind(unit, file);
    QVERIFY(EncryptWithPass(unit));
    QCOMPARE(ReadFile(file).left(14).toHex(), QByteArray("d8fd00097a8e22e9b5af44eab64c"));
}

void TestBlockPass::unopenableFileIsUntouched_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("read-only") << "read-only";
    QTest::newRow("locked by another holder") << "locked";
    QTest::newRow("missing") << "missing";
}

void TestBlockPass::unopenableFileIsUntouched() {
    QFETCH(QString, how);
    const QString file = Path("guarded");
    const QByteArray plain = Pattern(70000);
    QVERIFY(WriteFile(file, plain));
    int lockHolder = -1;
    if (how == "read-only") {
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0444) == 0);
    } else if (how == "locked") {
        lockHolder = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lockHolder >= 0);
        QVERIFY(::flock(lockHolder, LOCK_EX | LOCK_NB) == 0);
    } else {
        QVERIFY(QFile::remove(file));
    }

    EngineUnit unit;
    Bind(unit, file);
    RecordingDisplay display;
    QVERIFY(!EncryptWithPass(unit, &display));
    QVERIFY(!RunBlockPass(unit, &display));
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(!unit.CurrentFile.openError().empty());
    QVERIFY(display.events().isEmpty());
    if (lockHolder >= 0)
        ::close(lockHolder);
    if (how != "missing")
        QVERIFY(ReadFile(file) == plain);
}

// A file-size limit that arrives once the room was reserved (another program's doing, as far as
// the command can tell) makes the first write of the command fail for real: the state it keeps in
// the file comes first, so not a byte of the body has changed.
void TestBlockPass::writeFailsMidPassForReal() {
    const QString file = Path("limited");
    const QByteArray plain = Pattern(200000);
    QVERIFY(WriteFile(file, plain));

    EngineUnit unit;
    Bind(unit, file);
    std::optional<FileSizeLimit> limit;
    InterferingDisplay limiting;
    limiting.BeforePass = [&] { limit.emplace(100000); };
    const QString message = FailureMessage(veltrane::EncryptFile(unit, limiting));
    QVERIFY(limit && limit->active());
    limit.reset();
    QCOMPARE(message, QString("Cannot write \"%1\": file too large; the file was left unchanged").arg(file));
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == plain);
}

void TestBlockPass::readFailsMidPass_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("failAt"); // the block whose read fails
    QTest::addColumn<int>("keptBlocks");
    QTest::addColumn<bool>("durable");
    QTest::addColumn<int>("zoneLimit"); // 0: the unit's own
    QTest::addColumn<QString>("left");
    // Without syncs the zones are short, and those before the failing block are written back.
    QTest::newRow("within the kept stream") << 300000 << 4 << -1 << false << 0 << "restored";
    // The pass stops while the second thread is ahead of it; the undo makes its stream anew.
    QTest::newRow("stream made ahead") << 40 * 65536 << 20 << 1 << false << 0 << "restored";
    // A durable zone is read whole before any of it is written back.
    QTest::newRow("within a durable zone") << 300000 << 3 << -1 << true << 0 << "left unchanged";
    // While the first zone's sync is on its way on a thread of its own.
    QTest::newRow("in the second durable zone") << (9 << 20) << 70 << -1 << true << (4 << 20) << "restored";
}

void TestBlockPass::readFailsMidPass() {
    QFETCH(int, size);
    QFETCH(int, failAt);
    QFETCH(int, keptBlocks);
    QFETCH(bool, durable);
    QFETCH(int, zoneLimit);
    QFETCH(QString, left);
    const QString file = Path("failing");
    const QByteArray plain = Pattern(size);
    QVERIFY(WriteFile(file, plain));

    EngineUnit unit;
    Bind(unit, file);
    unit.Durable = durable;
    if (zoneLimit > 0)
        unit.ZoneLimit = zoneLimit;
    Keep(unit, keptBlocks);
    unit.CurrentFile.SetFaultHook([failAt](FileOperation operation, std::int64_t position, std::size_t&) {
        return operation == FileOperation::Read && position == failAt * std::int64_t(65536) ? EIO : 0;
    });
    const QString message = FailureMessage(Encryption(unit));
    QCOMPARE(message, QString("Cannot read \"%1\": input/output error; the file was %2").arg(file, left));
    QVERIFY(!unit.CurrentFile.isOpen());
    QVERIFY(ReadFile(file) == plain);
}

// A device that takes part of a block and then fails: exactly the bytes that reached the file must
// be transformed back, no more and no fewer.
void TestBlockPass::writeStopsHalfwayThroughABlock() {
    const QString file = Path("half");
    const QByteArray plain = Pattern(200000);
    QVERIFY(WriteFile(file, plain));

    EngineUnit unit;
    Bind(unit, file);
    bool failed = false;
    unit.CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t position, std::size_t& count) {
        if (operation != FileOperation::Write || failed || position < 65536)
            return 0;
        if (position == 65536) {
            count = 1000;
            return 0;
        }
        failed = true;
        return ENOSPC;
    });
    QCOMPARE(Encryption(unit).Outcome, veltrane::FileOutcome::Failed);
    QVERIFY(failed);
    QVERIFY(ReadFile(file) == plain);
}

// The disk fails for good part-way: the file cannot be put back, so it keeps its state, and the
// next command, on a disk that works again, gives the exact result.
void TestBlockPass::undoFailsToo() {
    const QString file = Path("lost");
    const QByteArray plain = Pattern(600000);
    QVERIFY(WriteFile(file, plain));

    EngineUnit unit;
    Bind(unit, file);
    unit.Durable = false;
    bool broken = false;
    unit.CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t position, std::size_t&) {
        if (operation == FileOperation::Read && position == 5 * 65536)
            broken = true;
        return broken ? EIO : 0;
    });
    const QString message = FailureMessage(Encryption(unit));
    unit.CurrentFile.SetFaultHook({});
    QCOMPARE(message, QString("Cannot read \"%1\": input/output error; restoring it failed too (input/output "
                              "error); the file is left part-way, and the next command on it with the same key "
                              "finishes or undoes it")
                          .arg(file));
    QVERIFY(!unit.CurrentFile.isOpen());
    // The first zone is enciphered, the rest untouched, and the file says so at its end.
    const QByteArray now = ReadFile(file);
    QVERIFY(now.left(4 * 65536) == Xor(plain.left(4 * 65536), Keystream("secret", 4 * 65536)));
    QVERIFY(now.mid(4 * 65536, plain.size() - 4 * 65536) == plain.mid(4 * 65536));
    const veltrane::FileResult undone = Decryption(unit);
    QCOMPARE(undone.Outcome, veltrane::FileOutcome::Decrypted);
    QCOMPARE(undone.Recovered, veltrane::Recovery::UndidEncryption);
    QVERIFY(ReadFile(file) == plain);
}

// Sizes, positions and figures beyond 32 bits: a sparse file just over 4 GiB with known bytes at
// both ends, enciphered and deciphered in place.
// A sparse file just above 4 GiB, where 32-bit offsets, block counts and figures would go wrong: the
// pass fills every hole, and the trailer lies past the boundary. Skipped with
// VELTRANE_SKIP_LARGE_FILES=1 (the sanitized builds set it: the thorough tier runs it there) or where
// the file system lacks the room.
void TestBlockPass::largeSparseFile() {
    if (qEnvironmentVariableIntValue("VELTRANE_SKIP_LARGE_FILES") == 1)
        QSKIP("VELTRANE_SKIP_LARGE_FILES=1");
    const std::int64_t size = (std::int64_t(1) << 32) + 100000;
    struct statvfs room {};
    if (::statvfs(QFile::encodeName(m_dir.path()).constData(), &room) != 0 ||
        std::int64_t(room.f_bavail) * std::int64_t(room.f_frsize) < size + (std::int64_t(1) << 30))
        QSKIP("not enough room for a file above 4 GiB");
    const QString file = Path("large");
    const QByteArray head = Pattern(1000, 7);
    const QByteArray tail = Pattern(100000, 9);
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(head) == head.size());
        if (!out.resize(size - tail.size()))
            QSKIP("the file system cannot hold a file above 4 GiB");
        QVERIFY(out.seek(size - tail.size()));
        QVERIFY(out.write(tail) == tail.size());
    }
    QCOMPARE(QFileInfo(file).size(), size);

    EngineUnit unit;
    Bind(unit, file);
    RecordingDisplay display;
    QVERIFY(EncryptWithPass(unit, &display));
    QCOMPARE(QFileInfo(file).size(), size + 20);

    const std::int64_t blocks = (size + 65535) / 65536;
    QCOMPARE(display.events().size(), qsizetype(blocks + 1));
    QCOMPARE(display.events()[1], 0);
    QCOMPARE(display.events()[blocks / 2], 50);
    QCOMPARE(display.events().last(), 100);
    for (qsizetype n = 2; n < display.events().size(); ++n)
        QVERIFY(display.events()[n] >= display.events()[n - 1]);

    // The keystream bytes of the last 100,000 offsets, from a generator stepped that far by itself.
    veltrane::KeystreamGenerator generator;
    generator.ScheduleKey(Key("secret"));
    std::vector<std::uint8_t> block(65536);
    QByteArray tailStream;
    for (std::int64_t offset = 0; offset < size; offset += 65536) {
        const auto length = static_cast<std::size_t>(std::min<std::int64_t>(65536, size - offset));
        std::fill(block.begin(), block.end(), 0);
        generator.XorBlock(std::span(block.data(), length));
        const std::int64_t tailStart = size - tail.size();
        if (offset + std::int64_t(length) > tailStart) {
            const auto from = static_cast<std::size_t>(std::max<std::int64_t>(0, tailStart - offset));
            tailStream.append(reinterpret_cast<const char*>(block.data() + from), qsizetype(length - from));
        }
    }
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QVERIFY(in.read(head.size()) == Xor(head, Keystream("secret", head.size())));
    QVERIFY(in.seek(size - tail.size()));
    QVERIFY(in.read(tail.size()) == Xor(tail, tailStream));
    QVERIFY(in.read(20) == CheckBlockOf("secret") + Marker);
    in.close();

    QVERIFY(DecryptWithPass(unit));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.size(), size);
    QVERIFY(in.read(head.size()) == head);
    // Zeros up to the 4 GiB boundary, where the tail begins.
    QVERIFY(in.seek(size - tail.size() - 5));
    QVERIFY(in.read(tail.size() + 5) == QByteArray(5, '\0') + tail);
}

QTEST_APPLESS_MAIN(TestBlockPass)
#include "tst_blockpass.moc"
