// The optimised XorBlock and GenerateBlock against a plain reading of the generator's rules, written here once more
// and independently of the engine: many random keys (empty, short, long, every byte value), random
// block lengths and splits with j carried from block to block, and unaligned data with guard
// bytes around it, so that no speed-up can drift from the format.

#include "main/engine/keystream.h"

#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

using veltrane::KeystreamGenerator;

namespace {

// The rules, step by step: key table padded with 255, ten mixing passes each restarting j, fifty
// warm-up steps with i = 0..49, then output steps with the caller's index.
class PlainGenerator {
public:
    explicit PlainGenerator(const std::vector<std::uint8_t>& key) {
        std::array<int, 256> k{};
        for (int n = 0; n < 256; ++n) {
            s[n] = n;
            k[n] = n < static_cast<int>(key.size()) ? key[n] : 255;
        }
        for (int pass = 0; pass < 10; ++pass) {
            int mix = 0;
            for (int i = 0; i < 256; ++i) {
                mix = (mix + s[i] + k[i]) % 256;
                std::swap(s[i], s[mix]);
            }
        }
        j = 0;
        for (int i = 0; i < 50; ++i) {
            j = (j + s[i]) % 256;
            std::swap(s[i], s[j]);
        }
    }

    int next(int i) {
        j = (j + s[i]) % 256;
        std::swap(s[i], s[j]);
        return s[(s[i] + s[j]) % 256];
    }

    std::array<int, 256> s{};
    int j = 0;
};

std::vector<std::uint8_t> RandomBytes(QRandomGenerator& random, int length) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random.bounded(256));
    return bytes;
}

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

} // namespace

class TestKeystreamDifferential : public QObject {
    Q_OBJECT

private slots:
    void matchesPlainRules_data();
    void matchesPlainRules();
};

void TestKeystreamDifferential::matchesPlainRules_data() {
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("trials");
    QTest::addColumn<int>("maxKeyLength");
    QTest::addColumn<int>("maxTotal");
    QTest::addColumn<int>("splits");
    QTest::addColumn<bool>("generate"); // GenerateBlock instead of XorBlock

    const int several = 4 * 65536 + 1000;
    for (const bool generate : {false, true}) {
        const char* const kind = generate ? "generate, " : "xor, ";
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow((QByteArray(kind) + name).constData());
        };
        row("pass blocks, keys 0..300") << 1u << 40 << 300 << several << int(Splits::PassBlocks) << generate;
        row("random splits, keys 0..300") << 2u << 40 << 300 << several << int(Splits::Random) << generate;
        row("small splits, short keys") << 3u << 60 << 8 << 20000 << int(Splits::Small) << generate;
        row("chunk multiples, keys 0..300") << 4u << 40 << 300 << several << int(Splits::ChunkMultiples) << generate;
        row("short totals, keys 0..300") << 5u << 300 << 300 << 700 << int(Splits::Random) << generate;
    }
}

void TestKeystreamDifferential::matchesPlainRules() {
    QFETCH(quint32, seed);
    QFETCH(int, trials);
    QFETCH(int, maxKeyLength);
    QFETCH(int, maxTotal);
    QFETCH(int, splits);
    QFETCH(bool, generate);

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
        PlainGenerator plain(key);
        int offset = misalign + guard;
        for (std::size_t block = 0; block < lengths.size(); ++block) {
            const int length = lengths[block];
            for (int c = 0; c < length; ++c) {
                const auto k = static_cast<std::uint8_t>(plain.next(c % 256));
                std::uint8_t& byte = expected[static_cast<std::size_t>(offset + c)];
                byte = generate ? k : static_cast<std::uint8_t>(byte ^ k);
            }
            const std::span piece(data.data() + offset, static_cast<std::size_t>(length));
            if (generate)
                generator.GenerateBlock(piece);
            else
                generator.XorBlock(piece);
            offset += length;

            const QByteArray where = QByteArray("trial ") + QByteArray::number(trial) + " key length " +
                                     QByteArray::number(int(key.size())) + " block " + QByteArray::number(int(block)) +
                                     " of length " + QByteArray::number(length);
            QVERIFY2(data == expected, where.constData());
            QVERIFY2(generator.j() == plain.j, where.constData());
            for (int n = 0; n < 256; ++n)
                QVERIFY2(generator.stateTable()[n] == plain.s[n], where.constData());
        }
    }
}

QTEST_GUILESS_MAIN(TestKeystreamDifferential)
#include "tst_keystream_differential.moc"
