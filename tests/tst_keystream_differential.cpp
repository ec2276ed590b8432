// The optimised XorBlock and GenerateBlock, with every kernel the build has, against the tests' plain
// reading of the generator's rules, written independently of the engine: random keys (empty,
// short, long, every byte value), random block lengths and splits with j carried from block to
// block, and unaligned data with guard bytes around it, so that no speed-up can drift from the
// format. Fixed seeds, and one row per kernel with a fresh seed that its name shows, for a failure
// to be replayed. Then whole files of a run against the same rules, where the pass XORs from the
// run's kept stream: files shorter than, as long as and longer than the kept prefix, a prefix made
// by one file and used by the next, keys that change between runs, two units sharing one prefix at
// once, each kernel and each source of the stream forced in turn, and a second thread that cannot be
// made.

#include "engine/engineunit.h"
#include "engine/filesequences.h"
#include "engine/keystream.h"
#include "engine/keystreamsource.h"
#include "engine/runkeystream.h"
#include "engine/streamahead.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

using veltrane::KeystreamGenerator;
using namespace veltrane::testsupport;

namespace {

std::vector<std::uint8_t> RandomBytes(QRandomGenerator& random, int length) {
    // Whole 32-bit words at a time: the files of a run reach 17 MiB.
    std::vector<quint32> words((static_cast<std::size_t>(length) + 3) / 4);
    random.fillRange(words.data(), static_cast<qsizetype>(words.size()));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (!bytes.empty())
        std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

QByteArray AsText(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// Uses `kernel` (when given) until it goes, then puts back the kernel that was in use before.
class KernelForced {
public:
    explicit KernelForced(int kernel) {
        if (kernel >= 0)
            m_built = veltrane::UseKeystreamKernel(static_cast<veltrane::KeystreamKernel>(kernel));
    }
    ~KernelForced() { veltrane::UseKeystreamKernel(m_kernel); }
    bool built() const { return m_built; }

private:
    veltrane::KeystreamKernel m_kernel = veltrane::ActiveKeystreamKernel();
    bool m_built = true;
};

// Makes creating the second thread of a pass fail while it lives.
class ThreadsRefused {
public:
    explicit ThreadsRefused(bool refuse) : m_refuse(refuse) { veltrane::StreamAhead::RefuseThreads(refuse); }
    ~ThreadsRefused() {
        if (m_refuse)
            veltrane::StreamAhead::RefuseThreads(false);
    }

private:
    bool m_refuse;
};

enum class Splits { PassBlocks, Random, Small, ChunkMultiples };

// Block lengths summing to `total` in the given style.
std::vector<int> SplitLengths(QRandomGenerator& random, Splits style, int total) {
    std::vector<int> lengths;
    for (int left = total; left > 0;) {
        int length = 0;
        switch (style) {
        case Splits::PassBlocks:
            length = 65536;
            break;
        case Splits::Random:
            length = random.bounded(1, 3 * 65536);
            break;
        case Splits::Small:
            length = random.bounded(1, 600);
            break;
        case Splits::ChunkMultiples:
            length = 256 * random.bounded(1, 300);
            break;
        }
        length = std::min(length, left);
        lengths.push_back(length);
        left -= length;
    }
    // An empty block now and then must change nothing, not even j.
    if (random.bounded(4) == 0)
        lengths.insert(lengths.begin() + random.bounded(static_cast<int>(lengths.size()) + 1), 0);
    return lengths;
}

// One file of a run: its plain bytes, and what encrypting and decrypting it again gave.
struct RunFile {
    QString Path;
    QByteArray Plain;
    QByteArray Encrypted;
    QByteArray Decrypted;
    veltrane::FileOutcome EncryptOutcome = veltrane::FileOutcome::CannotOpen;
    veltrane::FileOutcome DecryptOutcome = veltrane::FileOutcome::CannotOpen;
};

void EncryptAndDecrypt(veltrane::EngineUnit& unit, RunFile& file) {
    RecordingDisplay display;
    unit.CurrentFileName = file.Path.toStdString();
    file.EncryptOutcome = veltrane::EncryptFile(unit, display).Outcome;
    file.Encrypted = ReadFile(file.Path);
    file.DecryptOutcome = veltrane::DecryptFile(unit, display).Outcome;
    file.Decrypted = ReadFile(file.Path);
}

} // namespace

class TestKeystreamDifferential : public QObject {
    Q_OBJECT

private slots:
    void matchesPlainRules_data();
    void matchesPlainRules();
    void runFilesMatchPlainRules_data();
    void runFilesMatchPlainRules();
};

void TestKeystreamDifferential::matchesPlainRules_data() {
    QTest::addColumn<int>("kernel");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("maxKeyLength");
    QTest::addColumn<int>("maxTotal");
    QTest::addColumn<int>("splits");
    QTest::addColumn<bool>("generate"); // GenerateBlock instead of XorBlock

    const int several = 4 * 65536 + 1000;
    for (const veltrane::KeystreamKernel kernel : veltrane::BuiltKeystreamKernels()) {
        const QByteArray name = veltrane::KeystreamKernelName(kernel);
        for (const bool generate : {false, true}) {
            const auto row = [&](const QByteArray& what) -> QTestData& {
                return QTest::newRow((name + (generate ? ", generate, " : ", xor, ") + what).constData())
                       << int(kernel);
            };
            row("pass blocks, keys 0..300") << 1u << 3 << 300 << several << int(Splits::PassBlocks) << generate;
            row("random splits, keys 0..300") << 2u << 3 << 300 << several << int(Splits::Random) << generate;
            row("small splits, short keys") << 3u << 8 << 8 << 20000 << int(Splits::Small) << generate;
            row("chunk multiples, keys 0..300") << 4u << 3 << 300 << several << int(Splits::ChunkMultiples)
                                                << generate;
            row("short totals, keys 0..300") << 5u << 40 << 300 << 700 << int(Splits::Random) << generate;
        }
        // Keys and splits no fixed seed has tried: the seed is in the row's name.
        const quint32 seed = QRandomGenerator::global()->generate();
        QTest::newRow((name + ", xor, random splits, seed " + QByteArray::number(seed)).constData())
            << int(kernel) << seed << 4 << 300 << several << int(Splits::Random) << false;
    }
}

void TestKeystreamDifferential::matchesPlainRules() {
    QFETCH(int, kernel);
    QFETCH(quint32, seed);
    QFETCH(int, trials);
    QFETCH(int, maxKeyLength);
    QFETCH(int, maxTotal);
    QFETCH(int, splits);
    QFETCH(bool, generate);

    const KernelForced forced(kernel);
    QVERIFY(forced.built());
    {
        QRandomGenerator random(seed);
        constexpr int guard = 64;
        for (int trial = 0; trial < trials; ++trial) {
            const std::vector<std::uint8_t> key = RandomBytes(random, random.bounded(maxKeyLength + 1));
            const int total = random.bounded(maxTotal + 1);
            const std::vector<int> lengths = SplitLengths(random, static_cast<Splits>(splits), total);
            // Data at every alignment, fenced by guard bytes that must survive.
            const int misalign = random.bounded(16);
            const std::vector<std::uint8_t> original = RandomBytes(random, misalign + total + 2 * guard);
            std::vector<std::uint8_t> data = original;
            std::vector<std::uint8_t> expected = original;

            KeystreamGenerator generator;
            generator.ScheduleKey(key);
            ReferenceGenerator plain(key);
            int offset = misalign + guard;
            for (std::size_t block = 0; block < lengths.size(); ++block) {
                const int length = lengths[block];
                for (int c = 0; c < length; ++c) {
                    const std::uint8_t k = plain.Next(static_cast<std::uint8_t>(c));
                    std::uint8_t& byte = expected[static_cast<std::size_t>(offset + c)];
                    byte = generate ? k : static_cast<std::uint8_t>(byte ^ k);
                }
                const std::span piece(data.data() + offset, static_cast<std::size_t>(length));
                if (generate)
                    generator.GenerateBlock(piece);
                else
                    generator.XorBlock(piece);
                offset += length;

                const QByteArray where = QByteArray("trial ") +
                                         QByteArray::number(trial) + " key length " +
                                         QByteArray::number(int(key.size())) + " block " +
                                         QByteArray::number(int(block)) + " of length " + QByteArray::number(length);
                QVERIFY2(data == expected, where.constData());
                QVERIFY2(generator.j() == plain.j(), where.constData());
                for (int n = 0; n < 256; ++n)
                    QVERIFY2(generator.stateTable()[n] == plain.stateTable()[n], where.constData());
            }
        }
    }
}

void TestKeystreamDifferential::runFilesMatchPlainRules_data() {
    QTest::addColumn<int>("prefixBlocks");      // the kept prefix in blocks of 65,536 bytes; -1: the engine's own
    QTest::addColumn<QList<qint64>>("lengths"); // the files of the runs, in order
    QTest::addColumn<QList<int>>("keys");       // which of two keys each file is under; a change starts a run
    QTest::addColumn<bool>("letGo");            // the unit lets go of the run's stream when a run ends
    QTest::addColumn<int>("workers");           // units sharing one prefix, taking the files in turn
    QTest::addColumn<int>("kernel");            // forced for the whole run; -1: the one the first use chose
    QTest::addColumn<bool>("refuseThreads");    // making a pass's second thread fails
    QTest::addColumn<QByteArray>("source");     // as VELTRANE_STREAM_SOURCE names it, forced; empty: by the rule

    constexpr qint64 block = 65536;
    const QList<int> oneKey(8, 0);
    // Past the kept blocks by more than enough for a pass to want its second thread.
    const QList<qint64> aroundPrefix{1, 2 * block - 1, 2 * block + 1, 11 * block + 77};
    for (const veltrane::KeystreamKernel kernel : veltrane::BuiltKeystreamKernels())
        QTest::newRow((QByteArray("forced ") + veltrane::KeystreamKernelName(kernel) +
                       ": two blocks kept, files shorter, longer, far longer")
                          .constData())
            << 2 << aroundPrefix << oneKey.first(4) << true << 1 << int(kernel) << false << QByteArray();
    // Each source the rule picks from, forced for every pass: the kept stream hands over to the
    // generator in place past its prefix.
    for (const char* source : {"inplace", "kept", "ahead"})
        QTest::newRow(
            (QByteArray("source forced to ") + source + ": two blocks kept, files shorter, longer, far longer")
                .constData())
            << 2 << aroundPrefix << oneKey.first(4) << true << 1 << -1 << false << QByteArray(source);
    // As at the process's thread limit: the passes go on alone with the same bytes.
    QTest::newRow("second thread refused")
        << 2 << aroundPrefix << oneKey.first(4) << true << 1 << -1 << true << QByteArray();
    QTest::newRow("second thread refused, two units")
        << 2 << QList<qint64>{11 * block, 12 * block + 3, 9 * block, 10 * block - 1} << oneKey.first(4) << true << 2
        << -1 << true << QByteArray();
    QTest::newRow("two blocks kept: shorter, equal, longer, then shorter again")
        << 2 << QList<qint64>{1, 2 * block - 1, 2 * block, 2 * block + 1, 5 * block + 77, 3000, 0}
        << QList<int>{0, 0, 0, 0, 0, 0, 0} << true << 1 << -1 << false << QByteArray();
    QTest::newRow("made by a short file, used and extended by longer ones")
        << 4 << QList<qint64>{100, block + 5, 4 * block - 20, 4 * block - 19, 9 * block} << oneKey.first(5) << true << 1
        << -1 << false << QByteArray();
    QTest::newRow("one block kept: the trailer of a decryption reaches past it")
        << 1 << QList<qint64>{block - 25, block - 20, block - 15, block} << oneKey.first(4) << true << 1 << -1 << false
        << QByteArray();
    QTest::newRow("nothing kept") << 0 << QList<qint64>{0, 10, block, 3 * block + 9} << oneKey.first(4) << true << 1
                                  << -1 << false << QByteArray();
    QTest::newRow("key changes between runs, stream let go")
        << 2 << QList<qint64>{3 * block, 1000, 3 * block, 1000, block} << QList<int>{0, 0, 1, 1, 0} << true << 1 << -1
        << false << QByteArray();
    QTest::newRow("key changes between runs, stream kept")
        << 2 << QList<qint64>{3 * block, 1000, 3 * block, 1000, block} << QList<int>{0, 0, 1, 1, 0} << false << 1 << -1
        << false << QByteArray();
    QTest::newRow("the engine's prefix: shorter, equal, longer")
        << -1 << QList<qint64>{256 * block - 1, 256 * block, 256 * block + block + 3, 30} << oneKey.first(4) << true
        << 1 << -1 << false << QByteArray();
    QTest::newRow("two units sharing a prefix")
        << 3 << QList<qint64>{5 * block, 5 * block + 1, 2 * block, 7, 4 * block, 3 * block - 1, 6 * block, 1} << oneKey
        << true << 2 << -1 << false << QByteArray();
}

// Every file of a sequence of runs comes out exactly as the plain rules make it, encrypted and then
// decrypted again, whether its stream comes from the kept prefix, the generator beyond it or both.
void TestKeystreamDifferential::runFilesMatchPlainRules() {
    QFETCH(int, prefixBlocks);
    QFETCH(QList<qint64>, lengths);
    QFETCH(QList<int>, keys);
    QFETCH(bool, letGo);
    QFETCH(int, workers);
    QFETCH(int, kernel);
    QFETCH(bool, refuseThreads);
    QFETCH(QByteArray, source);

    const KernelForced forced(kernel);
    const std::optional<veltrane::KeystreamSourceKind> forcedSource =
        source.isEmpty() ? std::nullopt : veltrane::KeystreamSourceNamed(source.toStdString());
    QVERIFY(source.isEmpty() || forcedSource);
    QVERIFY(forced.built());
    const ThreadsRefused refused(refuseThreads);
    QRandomGenerator random(77);
    const std::vector<std::vector<std::uint8_t>> keyTexts{RandomBytes(random, 24), RandomBytes(random, 300)};
    const auto longest = static_cast<std::size_t>(*std::max_element(lengths.begin(), lengths.end()));
    // Decryption runs over the trailer too. Only the keys the row uses: the reference is slow.
    QByteArray streams[2];
    for (const int key : keys) {
        if (streams[key].isEmpty())
            streams[key] = Keystream(AsText(keyTexts[static_cast<std::size_t>(key)]), longest + 20);
    }
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    std::vector<RunFile> files(static_cast<std::size_t>(lengths.size()));
    for (std::size_t n = 0; n < files.size(); ++n) {
        files[n].Path = folder.filePath(QStringLiteral("f%1").arg(n));
        files[n].Plain = AsText(RandomBytes(random, static_cast<int>(lengths[static_cast<qsizetype>(n)])));
        QVERIFY(WriteFile(files[n].Path, files[n].Plain));
    }
    const auto limit = prefixBlocks < 0 ? veltrane::RunKeystream::DefaultPrefixLimit
                                        : static_cast<std::size_t>(prefixBlocks) * veltrane::BlockSize;

    if (workers == 1) {
        veltrane::EngineUnit unit;
        unit.StreamSource = forcedSource;
        const veltrane::RunKeystream* kept = nullptr;
        for (std::size_t n = 0; n < files.size(); ++n) {
            const int key = keys[static_cast<qsizetype>(n)];
            if (n == 0 || key != keys[static_cast<qsizetype>(n) - 1]) {
                if (letGo)
                    unit.EndRunKeystream();
                unit.KeyText = keyTexts[static_cast<std::size_t>(key)];
                if (prefixBlocks >= 0 && (letGo || n == 0))
                    unit.RunKey = std::make_shared<veltrane::RunKeystream>(unit.KeyText, limit);
                kept = nullptr;
            }
            EncryptAndDecrypt(unit, files[n]);
            // The file after the first of a run finds the stream that the earlier ones made.
            QVERIFY(unit.RunKey);
            if (kept)
                QCOMPARE(unit.RunKey.get(), kept);
            kept = unit.RunKey.get();
            QVERIFY(unit.RunKey->madeLength() <= unit.RunKey->prefixLimit());
            // The forced source gave every block of the file's last pass (the decryption's, over the
            // trailer too), but for the kept stream's past its prefix: a row whose bytes match only
            // because another source stood in would test nothing.
            if (forcedSource) {
                const auto blocks = static_cast<std::int64_t>((files[n].Plain.size() + 20 + 65535) / 65536);
                const std::int64_t inPrefix = std::min<std::int64_t>(blocks, static_cast<std::int64_t>(limit / 65536));
                const auto given = [&](veltrane::KeystreamSourceKind kind) {
                    return unit.LastStreamSources.Blocks[static_cast<std::size_t>(kind)];
                };
                QCOMPARE(given(veltrane::KeystreamSourceKind::InPlace), source == "inplace" ? blocks
                                                                        : source == "kept"  ? blocks - inPrefix
                                                                                            : 0);
                QCOMPARE(given(veltrane::KeystreamSourceKind::Kept), source == "kept" ? inPrefix : 0);
                QCOMPARE(given(veltrane::KeystreamSourceKind::Ahead), source == "ahead" ? blocks : 0);
            }
        }
    } else {
        // The tool's way: one prefix for the run, each worker's unit holding it.
        const auto shared = std::make_shared<veltrane::RunKeystream>(keyTexts[0], limit);
        std::vector<std::thread> threads;
        for (int worker = 0; worker < workers; ++worker) {
            threads.emplace_back([&, worker] {
                veltrane::EngineUnit unit;
                unit.StreamSource = forcedSource;
                unit.KeyText = keyTexts[0];
                unit.RunKey = shared;
                for (std::size_t n = static_cast<std::size_t>(worker); n < files.size();
                     n += static_cast<std::size_t>(workers))
                    EncryptAndDecrypt(unit, files[n]);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(shared.use_count(), 1);
        QVERIFY(shared->madeLength() <= shared->prefixLimit());
    }
    // Every pass has let go of its count, the ones whose thread could not be made too: a count
    // left raised would keep later passes from a second thread.
    QCOMPARE(veltrane::StreamAhead::ThreadsInPasses(), 0);

    for (std::size_t n = 0; n < files.size(); ++n) {
        const RunFile& file = files[n];
        const QByteArray& stream = streams[keys[static_cast<qsizetype>(n)]];
        const QByteArray expected = Xor(file.Plain, stream) + Xor(Marker, stream) + Marker;
        const QByteArray where =
            "file " + QByteArray::number(int(n)) + " of " + QByteArray::number(int(file.Plain.size())) + " bytes";
        QVERIFY2(file.EncryptOutcome == veltrane::FileOutcome::Encrypted, where.constData());
        QVERIFY2(file.Encrypted == expected, where.constData());
        QVERIFY2(file.DecryptOutcome == veltrane::FileOutcome::Decrypted, where.constData());
        QVERIFY2(file.Decrypted == file.Plain, where.constData());
    }
}

QTEST_GUILESS_MAIN(TestKeystreamDifferential)
#include "tst_keystream_differential.moc"
