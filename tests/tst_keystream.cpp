// Known answers and the schedule's rules for the keystream generator. The expected bytes come from
// a separate transcription of the generator's rules, not from this implementation.

#include "engine/keystream.h"

#include <QTest>

#include <cstdint>
#include <string>
#include <vector>

using veltrane::KeystreamGenerator;

namespace {

std::vector<std::uint8_t> Bytes(const QByteArray& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// Keystream bytes 0..count-1 the way every caller steps the generator: NextKeyByte with the byte's
// offset modulo 256.
QByteArray Stream(const std::vector<std::uint8_t>& key, int count) {
    KeystreamGenerator generator;
    generator.ScheduleKey(key);
    QByteArray out(count, 0);
    for (int n = 0; n < count; ++n)
        out[n] = static_cast<char>(generator.NextKeyByte(static_cast<std::uint8_t>(n % 256)));
    return out;
}

QByteArray StreamOf(const QByteArray& key, int count) {
    return Stream(Bytes(key), count);
}

} // namespace

class TestKeystream : public QObject {
    Q_OBJECT

private slots:
    // First, before anything else uses a kernel.
    void environmentNamesKernel();
    void kernelChoice_data();
    void kernelChoice();
    void knownAnswers_data();
    void knownAnswers();
    void equivalentKeys_data();
    void equivalentKeys();
    void distinctKeys_data();
    void distinctKeys();
    void rescheduleForgetsEverything();
    void xorBlockMatchesNextKeyByte_data();
    void xorBlockMatchesNextKeyByte();
    void tablesAfterSchedule();
};

// What the kernel names that VELTRANE_KERNEL takes are, written down apart from the engine's list.
#if defined(__x86_64__)
constexpr bool X86Kernels = true;
#else
constexpr bool X86Kernels = false;
#endif

void TestKeystream::environmentNamesKernel() {
    const QByteArray forced = X86Kernels ? "unlagged" : "portable";
    qputenv("VELTRANE_KERNEL", forced);
    const veltrane::KeystreamKernelChoice& choice = veltrane::FirstUseKeystreamKernel();
    qunsetenv("VELTRANE_KERNEL");
    QCOMPARE(QByteArray(veltrane::KeystreamKernelName(choice.Kernel)), forced);
    QCOMPARE(veltrane::ActiveKeystreamKernel(), choice.Kernel);
    QVERIFY2(QByteArray::fromStdString(choice.Reason).contains("VELTRANE_KERNEL"), choice.Reason.c_str());
}

void TestKeystream::kernelChoice_data() {
    QTest::addColumn<QByteArray>("forced");   // VELTRANE_KERNEL's value; null: not set
    QTest::addColumn<QByteArray>("expected"); // the kernel taken; empty: any of the timed candidates
    QTest::addColumn<QByteArray>("reason");   // words the reason must hold

    QTest::newRow("not set: timed") << QByteArray() << QByteArray() << QByteArray(X86Kernels ? "timed" : "only");
    QTest::newRow("empty: timed") << QByteArray("") << QByteArray() << QByteArray(X86Kernels ? "timed" : "only");
    QTest::newRow("portable, on every build") << QByteArray("portable") << QByteArray("portable")
                                              << QByteArray("named by VELTRANE_KERNEL");
    QTest::newRow("unknown name") << QByteArray("fastest") << QByteArray()
                                  << QByteArray("VELTRANE_KERNEL=fastest names no kernel of this build");
    QTest::newRow("case counts") << QByteArray("Lagged") << QByteArray() << QByteArray("names no kernel");
    for (const char* name : {"unlagged", "lagged", "preloaded", "wide", "compact"}) {
        if (X86Kernels)
            QTest::newRow(name) << QByteArray(name) << QByteArray(name) << QByteArray("named by VELTRANE_KERNEL");
        else
            QTest::newRow(name) << QByteArray(name) << QByteArray("portable") << QByteArray("names no kernel");
    }
}

// The rule picks the named kernel where the build has it, and otherwise times the candidates and
// says so; on x86-64 the timing never settles on the portable steps, which are there for other
// machines.
void TestKeystream::kernelChoice() {
    QFETCH(QByteArray, forced);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, reason);
    const veltrane::KeystreamKernelChoice choice =
        veltrane::ChooseKeystreamKernel(forced.isNull() ? nullptr : forced.constData());
    const QByteArray taken = veltrane::KeystreamKernelName(choice.Kernel);
    if (!expected.isEmpty())
        QCOMPARE(taken, expected);
    else
        QCOMPARE(taken == "portable", !X86Kernels);
    QVERIFY2(QByteArray::fromStdString(choice.Reason).contains(reason), choice.Reason.c_str());
}

void TestKeystream::knownAnswers_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("first");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("secret 0..15") << QByteArray("secret") << 0
                                  << QByteArray::fromHex("90986c6515a2029edadd288e97464d34");
    QTest::newRow("empty 0..15") << QByteArray() << 0 << QByteArray::fromHex("dcaad4ec4b815e108a6051bfa0a93c7e");
    // Byte 255 takes i = 255 and byte 256 takes i = 0 again, with j carried over.
    QTest::newRow("secret 250..261") << QByteArray("secret") << 250 << QByteArray::fromHex("3ea5a635747fd62b0316abff");
    QTest::newRow("empty 250..261") << QByteArray() << 250 << QByteArray::fromHex("aa0e2d7628c091d58ff5a9f0");
    QTest::newRow("secret across 65536") << QByteArray("secret") << 65530
                                         << QByteArray::fromHex("389094d2dfc76fe81b4e144a");
    QTest::newRow("Key") << QByteArray("Key") << 0 << QByteArray::fromHex("ca029ed57a221cde879678cea0b00074");
    QTest::newRow("key") << QByteArray("key") << 0 << QByteArray::fromHex("f9132d7cae6de897bad786e2b7e8d366");
    QTest::newRow("blank Key") << QByteArray(" Key") << 0 << QByteArray::fromHex("b37e797d36051f169c5f80b1b9d2fce1");
    QTest::newRow("8-bit key") << QByteArray("caf\xe9") << 0 << QByteArray::fromHex("6a5c52591dd4e9fcb2c2968facc01a55");
}

void TestKeystream::knownAnswers() {
    QFETCH(QByteArray, key);
    QFETCH(int, first);
    QFETCH(QByteArray, expected);
    QCOMPARE(StreamOf(key, first + expected.size()).mid(first).toHex(), expected.toHex());
}

void TestKeystream::equivalentKeys_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");

    const QByteArray longKey = QByteArray("0123456789abcdef").repeated(16);
    QTest::newRow("only the first 256 count") << longKey << longKey + "tail beyond";
    QTest::newRow("257th byte ignored") << longKey << longKey + QByteArray(1, '\0');
    QTest::newRow("padding with one 255") << QByteArray("secret") << QByteArray("secret\xff");
    QTest::newRow("padding with many 255") << QByteArray("secret") << QByteArray("secret") + QByteArray(250, '\xff');
    QTest::newRow("empty = 256 x 255") << QByteArray() << QByteArray(256, '\xff');
}

void TestKeystream::equivalentKeys() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QCOMPARE(StreamOf(a, 600).toHex(), StreamOf(b, 600).toHex());
}

void TestKeystream::distinctKeys_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");

    const QByteArray longKey = QByteArray("0123456789abcdef").repeated(16);
    QTest::newRow("letter case") << QByteArray("Secret") << QByteArray("secret");
    QTest::newRow("leading blank") << QByteArray(" secret") << QByteArray("secret");
    QTest::newRow("trailing blank") << QByteArray("secret ") << QByteArray("secret");
    // Padding is 255, not a repetition of the key, and not zero.
    QTest::newRow("not repeated") << QByteArray("ab") << QByteArray("ab").repeated(128);
    QTest::newRow("not zero padded") << QByteArray("ab") << QByteArray("ab") + QByteArray(254, '\0');
    QTest::newRow("256th byte counts") << longKey << longKey.left(255) + 'X';
}

void TestKeystream::distinctKeys() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QVERIFY(StreamOf(a, 32) != StreamOf(b, 32));
}

void TestKeystream::rescheduleForgetsEverything() {
    KeystreamGenerator generator;
    generator.ScheduleKey(Bytes("other key"));
    for (int n = 0; n < 1000; ++n)
        generator.NextKeyByte(static_cast<std::uint8_t>(n * 7));
    generator.ScheduleKey(Bytes("secret"));
    QByteArray out;
    for (int n = 0; n < 16; ++n)
        out.append(static_cast<char>(generator.NextKeyByte(static_cast<std::uint8_t>(n))));
    QCOMPARE(out.toHex(), QByteArray("90986c6515a2029edadd288e97464d34"));
}

void TestKeystream::xorBlockMatchesNextKeyByte_data() {
    QTest::addColumn<QList<int>>("blocks");
    QTest::newRow("empty") << QList<int>{0};
    QTest::newRow("one byte") << QList<int>{1};
    QTest::newRow("255") << QList<int>{255};
    QTest::newRow("257") << QList<int>{257};
    QTest::newRow("full block then short") << QList<int>{65536, 1000};
    QTest::newRow("three full blocks") << QList<int>{65536, 65536, 65536};
}

// The pass calls XorBlock once per block with the index restarting at 0; the result must be what
// NextKeyByte gives byte by byte with j carried across blocks.
void TestKeystream::xorBlockMatchesNextKeyByte() {
    QFETCH(QList<int>, blocks);
    const std::vector<std::uint8_t> key = Bytes("block key");

    KeystreamGenerator reference;
    KeystreamGenerator fast;
    reference.ScheduleKey(key);
    fast.ScheduleKey(key);
    std::uint32_t seed = 12345;
    for (int length : blocks) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
        for (auto& byte : data) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<std::uint8_t>(seed >> 16);
        }
        std::vector<std::uint8_t> expected = data;
        for (int c = 0; c < length; ++c)
            expected[static_cast<std::size_t>(c)] ^= reference.NextKeyByte(static_cast<std::uint8_t>(c % 256));
        fast.XorBlock(data);
        QVERIFY(data == expected);
        QCOMPARE(fast.j(), reference.j());
        QVERIFY(fast.stateTable() == reference.stateTable());
    }
}

void TestKeystream::tablesAfterSchedule() {
    KeystreamGenerator generator;
    generator.ScheduleKey(Bytes("secret"));
    std::array<int, 256> seen{};
    for (auto value : generator.stateTable())
        ++seen[value];
    for (int count : seen)
        QCOMPARE(count, 1);
    QCOMPARE(generator.keyTable()[0], std::uint8_t('s'));
    QCOMPARE(generator.keyTable()[5], std::uint8_t('t'));
    QCOMPARE(generator.keyTable()[6], std::uint8_t(0xFF));
    QCOMPARE(generator.keyTable()[255], std::uint8_t(0xFF));
}

QTEST_APPLESS_MAIN(TestKeystream)
#include "tst_keystream.moc"
