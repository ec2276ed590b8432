// Key text to key bytes: the 8-bit code page where a character has a code, UTF-8 bytes otherwise,
// and text that is not UTF-8 untouched.

#include "engine/keybytes.h"

#include <QTest>

class TestKeyBytes : public QObject {
    Q_OBJECT

private slots:
    void mapping_data();
    void mapping();
};

void TestKeyBytes::mapping_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("ASCII") << QByteArray("Secret key 1") << QByteArray("Secret key 1");
    QTest::newRow("NUL and controls") << QByteArray("a\0\t\x7f", 4) << QByteArray("a\0\t\x7f", 4);
    QTest::newRow("no-break space") << QByteArray("\xc2\xa0") << QByteArray("\xa0");
    QTest::newRow("e acute") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xe9");
    QTest::newRow("y diaeresis") << QByteArray("\xc3\xbf") << QByteArray("\xff");
    QTest::newRow("euro sign") << QByteArray("\xe2\x82\xac") << QByteArray("\x80");
    QTest::newRow("low quote") << QByteArray("\xe2\x80\x9a") << QByteArray("\x82");
    QTest::newRow("f hook") << QByteArray("\xc6\x92") << QByteArray("\x83");
    QTest::newRow("trade mark") << QByteArray("\xe2\x84\xa2") << QByteArray("\x99");
    QTest::newRow("z caron") << QByteArray("\xc5\xbe") << QByteArray("\x9e");
    QTest::newRow("Y diaeresis") << QByteArray("\xc5\xb8") << QByteArray("\x9f");
    // C1 controls have no code of their own (0x80.. are taken by other characters; 0x81 is unused).
    QTest::newRow("U+0080") << QByteArray("\xc2\x80") << QByteArray("\xc2\x80");
    QTest::newRow("U+0081") << QByteArray("\xc2\x81") << QByteArray("\xc2\x81");
    QTest::newRow("U+009D") << QByteArray("\xc2\x9d") << QByteArray("\xc2\x9d");
    QTest::newRow("Greek") << QByteArray("\xce\xa9") << QByteArray("\xce\xa9");
    QTest::newRow("four-byte character") << QByteArray("\xf0\x9f\x94\x91") << QByteArray("\xf0\x9f\x94\x91");
    QTest::newRow("mixed") << QByteArray("a\xe2\x82\xac\xce\xa9z") << QByteArray("a\x80\xce\xa9z");
    QTest::newRow("8-bit text") << QByteArray("caf\xe9") << QByteArray("caf\xe9");
    QTest::newRow("valid then invalid") << QByteArray("\xc3\xa9\xff") << QByteArray("\xc3\xa9\xff");
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << QByteArray("\xc0\xaf");
    QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("\xed\xa0\x80");
    QTest::newRow("cut short") << QByteArray("ab\xe2\x82") << QByteArray("ab\xe2\x82");
    QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QByteArray("\xf4\x90\x80\x80");
}

void TestKeyBytes::mapping() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    const veltrane::SecretBytes key = veltrane::KeyBytesFromUtf8(std::string_view(text.constData(), text.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(key.data()), qsizetype(key.size())).toHex(), bytes.toHex());
}

QTEST_APPLESS_MAIN(TestKeyBytes)
#include "tst_keybytes.moc"
