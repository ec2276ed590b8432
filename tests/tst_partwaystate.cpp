// The state a file carries while part-way through a command, byte for byte: its layout is read by
// every later version of the program (and described in docs/format.md), so a change to it must be
// deliberate. Golden bytes of a slot, what a reader refuses, where the parts lie, and the hash.

#include "engine/partwaystate.h"
#include "tests/support/testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using veltrane::CheckKind;
using veltrane::PartwayCommand;
using veltrane::PartwayState;

namespace {

// A state with every field set to something that shows where it lands.
PartwayState Sample() {
    PartwayState state;
    state.Command = PartwayCommand::Decrypt;
    state.Durable = true;
    state.Kind = CheckKind::Hash;
    state.Body = 300020;
    state.ZoneLength = 131072;
    for (std::size_t n = 0; n < state.CheckBlock.size(); ++n)
        state.CheckBlock[n] = static_cast<std::uint8_t>(0xA0 + n);
    for (std::size_t n = 0; n < state.Boot.size(); ++n)
        state.Boot[n] = static_cast<std::uint8_t>(n);
    state.Sequence = 7;
    state.Low = 65536;
    state.High = 300020;
    state.Chain = 0x1122334455667788ull;
    state.ZoneCount = 2;
    state.Zones[0] = {65536, 131072, -1};
    state.Zones[1] = {196608, 103412, -1};
    for (std::uint64_t n = 0; n < 58; ++n)
        state.Checks.push_back(0x0101010101010101ull * n);
    return state;
}

std::span<const std::uint8_t> Bytes(const QByteArray& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.constData()), std::size_t(text.size())};
}

} // namespace

class TestPartwayState : public QObject {
    Q_OBJECT

private slots:
    void goldenSlot();
    void refusedSlots_data();
    void refusedSlots();
    void layout_data();
    void layout();
    void hashes_data();
    void hashes();
    void readFromAFile_data();
    void readFromAFile();
};

void TestPartwayState::goldenSlot() {
    const auto slot = veltrane::EncodeSlot(Sample());
    const QByteArray bytes(reinterpret_cast<const char*>(slot.data()), qsizetype(slot.size()));
    // Tag, version, command, flags, check kind, zones; sequence; body; area size; low; high; end;
    // chain; check block, zone length in blocks; boot; two zones (start, length, area, digest); the
    // number of checks.
    QCOMPARE(bytes.left(184).toHex(),
             QByteArray("56656c7472616e653a7061727477617901000201020200000700000000000000"
                        "f49304000000000000000000000000000000010000000000f493040000000000"
                        "00000000000000008877665544332211a0a1a2a3a4a5a6a7a8a9000002000000"
                        "000102030405060708090a0b0c0d0e0f00000100000000000000020000000000"
                        "ff0000000000000088763c3bfe6d66370000030000000000f493010000000000"
                        "ff000000000000001a0f7081b9a13d653a00000000000000"));
    // The checks follow in the slot; the last eight bytes are the hash of the rest.
    QCOMPARE(bytes.mid(184, 16).toHex(), QByteArray("00000000000000000101010101010101"));
    QCOMPARE(bytes.right(8).toHex(), QByteArray("91807daa784f4575"));

    PartwayState read;
    bool tagged = false;
    QVERIFY(veltrane::DecodeSlot(slot, read, tagged));
    QVERIFY(tagged);
    QCOMPARE(read.Body, Sample().Body);
    QCOMPARE(read.Chain, Sample().Chain);
    QVERIFY(read.Checks == Sample().Checks);
}

void TestPartwayState::refusedSlots_data() {
    QTest::addColumn<int>("offset"); // the byte changed
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("tagged");
    QTest::addColumn<bool>("rehash"); // the hash made to fit again, so that the field itself is judged
    QTest::newRow("tag") << 0 << int('v') << false << true;
    QTest::newRow("a byte of a check, hash left") << 200 << 0x55 << true << false;
    QTest::newRow("version 2") << 16 << 2 << true << true;
    QTest::newRow("unknown command") << 18 << 3 << true << true;
    QTest::newRow("unknown flag") << 19 << 0x81 << true << true;
    QTest::newRow("unknown check kind") << 20 << 0 << true << true;
    QTest::newRow("three zones") << 21 << 3 << true << true;
    QTest::newRow("low past high") << 50 << 0x05 << true << true;
    QTest::newRow("zones that do not meet") << 113 << 0x02 << true << true;
    QTest::newRow("a check too many") << 176 << 59 << true << true;
    QTest::newRow("zones of no length") << 92 << 0 << true << true;
}

void TestPartwayState::refusedSlots() {
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(bool, tagged);
    QFETCH(bool, rehash);
    auto slot = veltrane::EncodeSlot(Sample());
    slot[std::size_t(offset)] = static_cast<std::uint8_t>(value);
    if (rehash) {
        const std::uint64_t hash = veltrane::Hash64(std::span(slot.data(), slot.size() - 8));
        for (int n = 0; n < 8; ++n)
            slot[slot.size() - 8 + std::size_t(n)] = static_cast<std::uint8_t>(hash >> (8 * n));
    }
    PartwayState read;
    bool seen = false;
    QVERIFY(!veltrane::DecodeSlot(slot, read, seen));
    QCOMPARE(seen, tagged);
}

void TestPartwayState::layout_data() {
    QTest::addColumn<qint64>("body");
    QTest::addColumn<qint64>("areaSize");
    QTest::addColumn<qint64>("areas");
    QTest::addColumn<qint64>("anchor");
    QTest::addColumn<qint64>("end");
    // Room for the 20-byte trailer first, to the next page boundary; then three areas; then a page.
    QTest::newRow("empty body") << qint64(0) << qint64(0) << qint64(4096) << qint64(4096) << qint64(8192);
    QTest::newRow("trailer just fits") << qint64(4076) << qint64(0) << qint64(4096) << qint64(4096) << qint64(8192);
    QTest::newRow("trailer spills over") << qint64(4077) << qint64(0) << qint64(8192) << qint64(8192) << qint64(12288);
    QTest::newRow("areas of a page") << qint64(1 << 20) << qint64(4096) << qint64(1052672) << qint64(1064960)
                                     << qint64(1069056);
    QTest::newRow("past 4 GiB") << (qint64(1) << 32) + 7 << qint64(65536) << (qint64(1) << 32) + 4096
                                << (qint64(1) << 32) + 4096 + 196608 << (qint64(1) << 32) + 4096 + 196608 + 4096;
}

void TestPartwayState::layout() {
    QFETCH(qint64, body);
    QFETCH(qint64, areaSize);
    QFETCH(qint64, areas);
    QFETCH(qint64, anchor);
    QFETCH(qint64, end);
    const veltrane::PartwayLayout layout = veltrane::LayoutOf(body, areaSize);
    QCOMPARE(qint64(layout.Areas), areas);
    QCOMPARE(qint64(layout.Anchor), anchor);
    QCOMPARE(qint64(layout.End), end);
    QCOMPARE(qint64(layout.AreaAt(2)), areas + 2 * areaSize);
}

void TestPartwayState::hashes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QByteArray>("sample");
    // The hash is XXH64 with seed 0; its published value for no input pins it.
    QTest::newRow("nothing") << QByteArray() << QByteArray("ef46db3751d8e999") << QByteArray("0000000000000000");
    QTest::newRow("a word") << QByteArray("Veltrane") << QByteArray("3d0c345687b0c8b7") << QByteArray("656e6172746c6556");
    QByteArray page(4096, '\0');
    for (int n = 0; n < page.size(); ++n)
        page[n] = char(n * 7);
    QTest::newRow("a page") << page << QByteArray("c8066d80a6fe1426") << QByteArray("312a231c150e0700");
}

void TestPartwayState::hashes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, hash);
    QFETCH(QByteArray, sample);
    QCOMPARE(QByteArray::number(qulonglong(veltrane::PageCheck(CheckKind::Hash, Bytes(bytes))), 16).rightJustified(16, '0'),
             hash);
    QCOMPARE(QByteArray::number(qulonglong(veltrane::PageCheck(CheckKind::Sample, Bytes(bytes))), 16).rightJustified(16, '0'),
             sample);
}

void TestPartwayState::readFromAFile_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("found"); // PartwayFound
    QTest::addColumn<qint64>("sequence");
    QTest::newRow("both slots valid: the newer counts") << "both" << int(veltrane::PartwayFound::Valid) << qint64(7);
    QTest::newRow("newer slot torn: the older counts") << "newer torn" << int(veltrane::PartwayFound::Valid) << qint64(6);
    QTest::newRow("both torn") << "both torn" << int(veltrane::PartwayFound::Damaged) << qint64(-1);
    QTest::newRow("a page more: not at the end") << "page more" << int(veltrane::PartwayFound::None) << qint64(-1);
    QTest::newRow("a byte more") << "byte more" << int(veltrane::PartwayFound::None) << qint64(-1);
    QTest::newRow("zeros") << "zeros" << int(veltrane::PartwayFound::None) << qint64(-1);
}

void TestPartwayState::readFromAFile() {
    QFETCH(QString, end);
    QFETCH(int, found);
    QFETCH(qint64, sequence);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PartwayState newer = Sample();
    PartwayState older = Sample();
    older.Sequence = 6;
    const veltrane::PartwayLayout layout = veltrane::LayoutOf(newer.Body, newer.AreaSize);
    QByteArray file = veltrane::testsupport::Pattern(layout.Anchor, 3);
    QByteArray anchor(4096, '\0');
    if (end != "zeros") {
        const auto first = veltrane::EncodeSlot(newer);  // sequence 7: the second slot
        const auto second = veltrane::EncodeSlot(older); // sequence 6: the first
        anchor.replace(2048, 2048, QByteArray(reinterpret_cast<const char*>(first.data()), 2048));
        anchor.replace(0, 2048, QByteArray(reinterpret_cast<const char*>(second.data()), 2048));
    }
    if (end == "newer torn" || end == "both torn")
        anchor[2048 + 300] = char(anchor[2048 + 300] ^ 1);
    if (end == "both torn")
        anchor[300] = char(anchor[300] ^ 1);
    file += anchor;
    if (end == "page more")
        file += QByteArray(4096, 'x');
    if (end == "byte more")
        file += 'x';
    const QString path = dir.filePath("carrier");
    QVERIFY(veltrane::testsupport::WriteFile(path, file));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const veltrane::PartwayReading reading = veltrane::ReadPartway(fd, file.size());
    ::close(fd);
    QCOMPARE(int(reading.Found), found);
    if (sequence >= 0)
        QCOMPARE(qint64(reading.State.Sequence), sequence);
}

QTEST_APPLESS_MAIN(TestPartwayState)
#include "tst_partwaystate.moc"
