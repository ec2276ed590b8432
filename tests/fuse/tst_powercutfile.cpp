// The power-cut layer's disk: every state a cut can leave after a few changes, and only those. A
// layer that kept too much would let an ordering fault through; one that lost synced data or kept
// impossible states would blame the engine for the disk.
//
// Files are written in half pages (2,048 bytes) of one byte each: "AB." is a file of 6,144 bytes, a
// half page of 'A', one of 'B' and one of zeros.

#include "tests/fuse/powercutfile.h"

#include <QTest>

#include <set>

using veltrane::testsupport::PowerCutFile;

namespace {

constexpr std::int64_t Half = PowerCutFile::Page / 2;

std::vector<std::uint8_t> Halves(const QByteArray& text) {
    std::vector<std::uint8_t> bytes;
    for (char c : text)
        bytes.insert(bytes.end(), Half, c == '.' ? 0 : static_cast<std::uint8_t>(c));
    return bytes;
}

// The file as halves, '?' for a half that is not one byte throughout or a size between halves.
QByteArray Text(const std::vector<std::uint8_t>& bytes) {
    QByteArray text;
    for (std::size_t at = 0; at < bytes.size(); at += Half) {
        const std::size_t end = std::min(bytes.size(), at + Half);
        const bool even = end - at == Half && std::all_of(bytes.begin() + at, bytes.begin() + end,
                                                          [&](std::uint8_t b) { return b == bytes[at]; });
        text += !even ? '?' : bytes[at] == 0 ? '.' : static_cast<char>(bytes[at]);
    }
    return text;
}

// Changes as "w AT COUNT C" (write COUNT halves of C from half AT), "t LENGTH" (truncate to LENGTH
// halves), "z AT COUNT" (punch a hole) and "s" (sync), separated by ';'.
void Apply(PowerCutFile& file, const QByteArray& changes) {
    for (const QByteArray& change : changes.split(';')) {
        const QList<QByteArray> words = change.simplified().split(' ');
        const char kind = words[0].at(0);
        if (kind == 'w') {
            const auto data = Halves(QByteArray(words[2].toInt(), words[3].at(0)));
            file.Write(words[1].toInt() * Half, data);
        } else if (kind == 't') {
            file.Resize(words[1].toInt() * Half);
        } else if (kind == 'z') {
            file.Zero(words[1].toInt() * Half, words[2].toInt() * Half);
        } else if (kind == 's') {
            file.Sync();
        }
    }
}

} // namespace

class TestPowerCutFile : public QObject {
    Q_OBJECT

private slots:
    void statesACutLeaves_data();
    void statesACutLeaves();
    void programsSeeEveryChange();
};

void TestPowerCutFile::statesACutLeaves_data() {
    QTest::addColumn<QByteArray>("synced");
    QTest::addColumn<QByteArray>("changes");
    QTest::addColumn<QStringList>("states");

    QTest::newRow("a synced write stays") << QByteArray("AAAA") << QByteArray("w 0 4 B; s") << QStringList{"BBBB"};
    QTest::newRow("each page of a write kept or lost on its own")
        << QByteArray("AAAA") << QByteArray("w 0 4 B") << QStringList{"AAAA", "BBAA", "AABB", "BBBB"};
    QTest::newRow("a write within one page") << QByteArray("AA") << QByteArray("w 1 1 B") << QStringList{"AA", "AB"};
    QTest::newRow("any version of a page written twice")
        << QByteArray("AA") << QByteArray("w 0 2 B; w 0 2 C") << QStringList{"AA", "BB", "CC"};
    QTest::newRow("what came before a sync stays")
        << QByteArray("AA") << QByteArray("w 0 1 B; s; w 1 1 C") << QStringList{"BA", "BC"};
    QTest::newRow("a new size only with its write's last page")
        << QByteArray("") << QByteArray("w 0 4 A") << QStringList{"", "..AA", "AAAA"};
    QTest::newRow("an append over pages, each of the others kept or lost")
        << QByteArray("AA") << QByteArray("w 2 4 B") << QStringList{"AA", "AA..BB", "AABBBB"};
    QTest::newRow("a truncation kept, or lost with or without the zeros in its last page")
        << QByteArray("AAAA") << QByteArray("t 1") << QStringList{"AAAA", "A.AA", "A"};
    QTest::newRow("a truncation synced") << QByteArray("AAAA") << QByteArray("t 1; s") << QStringList{"A"};
    QTest::newRow("a truncation then an append")
        << QByteArray("AAAA") << QByteArray("t 1; w 3 1 B") << QStringList{"AAAA", "A.AA", "AA.B", "A..B", "A"};
    QTest::newRow("a hole punched") << QByteArray("AAAA") << QByteArray("z 1 2")
                                    << QStringList{"AAAA", "A.AA", "AA.A", "A..A"};
}

void TestPowerCutFile::statesACutLeaves() {
    QFETCH(QByteArray, synced);
    QFETCH(QByteArray, changes);
    QFETCH(QStringList, states);

    PowerCutFile file(Halves(synced));
    Apply(file, changes);
    // Enough cuts that a state left out by chance would be a fault of its own.
    std::mt19937_64 random(27);
    std::set<QString> seen;
    for (int round = 0; round < 2000; ++round)
        seen.insert(QString::fromLatin1(Text(file.PowerCut(random).Bytes)));
    states.sort();
    QCOMPARE(QStringList(seen.begin(), seen.end()), states);
}

void TestPowerCutFile::programsSeeEveryChange() {
    PowerCutFile file(Halves("AAAA"));
    Apply(file, "w 1 2 B; t 3; z 0 1; w 4 1 C");
    QCOMPARE(Text(file.bytes()), QByteArray(".BB.C"));
    std::vector<std::uint8_t> read(3 * Half);
    QCOMPARE(file.Read(2 * Half, read), std::size_t(3 * Half));
    QCOMPARE(Text(read), QByteArray("B.C"));
}

QTEST_GUILESS_MAIN(TestPowerCutFile)
#include "tst_powercutfile.moc"
