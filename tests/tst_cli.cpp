// veltrane-cli end to end: the built tool run as a process on real files, with its outcomes,
// exit statuses and every way of giving it a key, the terminal prompts included.

#include "tests/enginetestsupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace enginetest;

namespace {

const QByteArray Marker = QByteArray::fromHex("2a2a06060645452a4545");
const QByteArray Hello = "Hello, world!\n";

QByteArray Encrypted(const QByteArray& plain, const QByteArray& keyBytes) {
    const QByteArray stream = Keystream(keyBytes, std::max<qsizetype>(plain.size(), 10));
    return Xor(plain, stream) + Xor(Marker, stream.left(10)) + Marker;
}

struct Result {
    int ExitCode = -1;
    QString Output;
    QString Errors;
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void knownAnswerFile();
    void keyTextBecomesKeyBytes_data();
    void keyTextBecomesKeyBytes();
    void help();
    void failingFileIsReported();
    void fileSizeSignalIgnored();
    void promptsOnTerminal_data();
    void promptsOnTerminal();

private:
    QString path(const QString& name) const { return Dir->filePath(name); }
    QStringList expand(const QStringList& items) const {
        QStringList out;
        for (QString item : items)
            out << item.replace("{dir}", Dir->path());
        return out;
    }
    Result run(const QStringList& arguments, const QByteArray& input,
               const std::function<void()>& childSetUp = {}) const {
        QProcess process;
        if (childSetUp)
            process.setChildProcessModifier(childSetUp);
        process.start(QStringLiteral(VELTRANE_CLI_PATH), arguments);
        if (!process.waitForStarted())
            return {};
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(60000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    std::unique_ptr<QTemporaryDir> Dir;
    QMap<QString, QByteArray> Fixture;
};

void TestCli::init() {
    Dir = std::make_unique<QTemporaryDir>();
    QVERIFY(Dir->isValid());
    Fixture = {
        {"a.txt", Hello},
        {"b.bin", Pattern(70000)},
        {"enc.bin", Encrypted(Pattern(1000, 2), "secret")},
        {"ro.txt", Hello},
        {"key.txt", "secret\r\nsecond line\n"},
        {"empty.key", ""},
    };
    for (auto it = Fixture.cbegin(); it != Fixture.cend(); ++it)
        QVERIFY(WriteFile(path(it.key()), it.value()));
    QVERIFY(::chmod(QFile::encodeName(path("ro.txt")).constData(), 0444) == 0);
}

void TestCli::cleanup() {
    ::chmod(QFile::encodeName(path("ro.txt")).constData(), 0644);
    Dir.reset();
}

void TestCli::outcomes_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("changed");

    const QByteArray key = "secret\n";
    QTest::newRow("encrypt two, key on standard input")
        << QStringList{"encrypt", "{dir}/a.txt", "{dir}/b.bin"} << key << 0
        << QStringList{"{dir}/a.txt: encrypted", "{dir}/b.bin: encrypted"} << QStringList{"a.txt", "b.bin"};
    QTest::newRow("only the first line is the key")
        << QStringList{"decrypt", "{dir}/enc.bin"} << QByteArray("secret\nnot the key\n") << 0
        << QStringList{"{dir}/enc.bin: decrypted"} << QStringList{"enc.bin"};
    QTest::newRow("key without a line end") << QStringList{"decrypt", "{dir}/enc.bin"} << QByteArray("secret") << 0
                                            << QStringList{"{dir}/enc.bin: decrypted"} << QStringList{"enc.bin"};
    QTest::newRow("key file with CRLF") << QStringList{"decrypt", "--key-file", "{dir}/key.txt", "{dir}/enc.bin"}
                                        << QByteArray("wrong\n") << 0 << QStringList{"{dir}/enc.bin: decrypted"}
                                        << QStringList{"enc.bin"};
    QTest::newRow("--key-file=PATH after the files")
        << QStringList{"decrypt", "{dir}/enc.bin", "--key-file={dir}/key.txt"} << QByteArray() << 0
        << QStringList{"{dir}/enc.bin: decrypted"} << QStringList{"enc.bin"};
    QTest::newRow("missing files do not stop the others")
        << QStringList{"encrypt", "{dir}/a.txt", "{dir}/nothere", "{dir}", "{dir}/b.bin"} << key << 1
        << QStringList{"{dir}/a.txt: encrypted", "{dir}/nothere: missing", "{dir}: missing", "{dir}/b.bin: encrypted"}
        << QStringList{"a.txt", "b.bin"};
    QTest::newRow("already encrypted") << QStringList{"encrypt", "{dir}/enc.bin", "{dir}/a.txt"} << key << 1
                                       << QStringList{"{dir}/enc.bin: skipped: already encrypted",
                                                      "{dir}/a.txt: encrypted"}
                                       << QStringList{"a.txt"};
    QTest::newRow("not encrypted") << QStringList{"decrypt", "{dir}/a.txt"} << key << 1
                                   << QStringList{"{dir}/a.txt: skipped: not an encrypted file"} << QStringList{};
    QTest::newRow("invalid key") << QStringList{"decrypt", "{dir}/enc.bin"} << QByteArray("Secret\n") << 1
                                 << QStringList{"{dir}/enc.bin: skipped: invalid key"} << QStringList{};
    QTest::newRow("read-only") << QStringList{"encrypt", "{dir}/ro.txt"} << key << 1
                               << QStringList{"{dir}/ro.txt: skipped: cannot be opened"} << QStringList{};
    QTest::newRow("no arguments") << QStringList{} << key << 2 << QStringList{} << QStringList{};
    QTest::newRow("unknown command") << QStringList{"scramble", "{dir}/a.txt"} << key << 2 << QStringList{}
                                     << QStringList{};
    QTest::newRow("no files") << QStringList{"encrypt"} << key << 2 << QStringList{} << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "encrypt", "{dir}/a.txt"} << key << 2
                                    << QStringList{} << QStringList{};
    QTest::newRow("--key-file without a path")
        << QStringList{"encrypt", "{dir}/a.txt", "--key-file"} << key << 2 << QStringList{} << QStringList{};
    QTest::newRow("empty key line") << QStringList{"encrypt", "{dir}/a.txt"} << QByteArray("\nsecret\n") << 2
                                    << QStringList{} << QStringList{};
    QTest::newRow("nothing on standard input")
        << QStringList{"encrypt", "{dir}/a.txt"} << QByteArray() << 2 << QStringList{} << QStringList{};
    QTest::newRow("empty key file") << QStringList{"encrypt", "--key-file", "{dir}/empty.key", "{dir}/a.txt"} << key
                                    << 2 << QStringList{} << QStringList{};
    QTest::newRow("missing key file") << QStringList{"encrypt", "--key-file", "{dir}/none.key", "{dir}/a.txt"} << key
                                      << 2 << QStringList{} << QStringList{};
}

void TestCli::outcomes() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, changed);

    const Result result = run(expand(arguments), input);
    QCOMPARE(result.ExitCode, exitCode);
    QStringList expectedLines = expand(lines);
    QCOMPARE(result.Output, expectedLines.isEmpty() ? QString() : expectedLines.join('\n') + '\n');
    if (exitCode == 2)
        QVERIFY2(result.Errors.startsWith("veltrane-cli: "), qPrintable(result.Errors));
    for (auto it = Fixture.cbegin(); it != Fixture.cend(); ++it) {
        const bool isChanged = ReadFile(path(it.key())) != it.value();
        QVERIFY2(isChanged == changed.contains(it.key()), qPrintable(it.key()));
    }
}

void TestCli::knownAnswerFile() {
    const QString file = path("a.txt");
    QCOMPARE(run({"encrypt", file}, "secret\n").ExitCode, 0);
    QCOMPARE(ReadFile(file).toHex(),
             QByteArray("d8fd00097a8e22e9b5af44eab64cbab26a6313e747b49f982a2a06060645452a4545"));
    QCOMPARE(run({"decrypt", file}, "secret\n").ExitCode, 0);
    QCOMPARE(ReadFile(file), Hello);
}

// Keys typed as UTF-8 give the bytes that the same characters had in the 8-bit key boxes, so the
// files open with the same key in either program.
void TestCli::keyTextBecomesKeyBytes_data() {
    QTest::addColumn<QByteArray>("keyText");
    QTest::addColumn<QByteArray>("keyBytes");
    QTest::newRow("ASCII") << QByteArray("secret") << QByteArray("secret");
    QTest::newRow("Latin-1 letter") << QByteArray("caf\xc3\xa9") << QByteArray("caf\xe9");
    QTest::newRow("euro sign") << QByteArray("\xe2\x82\xac"
                                             "uro")
                               << QByteArray("\x80uro");
    QTest::newRow("curly quotes") << QByteArray("\xe2\x80\x9cq\xe2\x80\x9d") << QByteArray("\x93q\x94");
    QTest::newRow("Greek has no 8-bit code") << QByteArray("\xce\xa9mega") << QByteArray("\xce\xa9mega");
    QTest::newRow("not UTF-8: byte for byte") << QByteArray("caf\xe9") << QByteArray("caf\xe9");
}

void TestCli::keyTextBecomesKeyBytes() {
    QFETCH(QByteArray, keyText);
    QFETCH(QByteArray, keyBytes);
    const QString file = path("b.bin");
    const Result result = run({"encrypt", file}, keyText + '\n');
    QCOMPARE(result.ExitCode, 0);
    QVERIFY(ReadFile(file) == Encrypted(Fixture["b.bin"], keyBytes));

    // A key file written in the 8-bit code page opens it.
    QVERIFY(WriteFile(path("8bit.key"), keyBytes + "\n"));
    QCOMPARE(run({"decrypt", "--key-file", path("8bit.key"), file}, {}).Output, file + ": decrypted\n");
}

void TestCli::help() {
    const Result result = run({"--help"}, {});
    QCOMPARE(result.ExitCode, 0);
    QVERIFY(result.Output.startsWith("Usage: veltrane-cli encrypt"));
    QVERIFY(result.Output.contains("Exit status"));
}

// A file-size limit in the tool's process leaves no room for the trailer: that file fails, is left
// as it was, and the next file is still processed.
void TestCli::failingFileIsReported() {
    const QString big = path("b.bin");
    const QString small = path("a.txt");
    const Result result = run({"encrypt", big, small}, "secret\n", [] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 70000 + 15;
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    QCOMPARE(result.ExitCode, 1);
    QCOMPARE(result.Output, QString("%1: failed: Cannot encrypt \"%1\": file too large; the file was left unchanged\n"
                                    "%2: encrypted\n")
                                .arg(big, small));
    QVERIFY(ReadFile(big) == Fixture["b.bin"]);
}

// Even started with the file-size signal at its default, the tool ignores it, so that a write past a
// limit fails and is undone rather than ending the tool half-way through a file.
void TestCli::fileSizeSignalIgnored() {
    QProcess process;
    process.setChildProcessModifier([] { std::signal(SIGXFSZ, SIG_DFL); });
    process.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", path("a.txt")});
    QVERIFY(process.waitForStarted());
    // It waits for the key on standard input; meanwhile its signal dispositions can be read.
    quint64 ignored = 0;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
            if (!status.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("SigIgn:"))
                    ignored = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return (ignored & (quint64{1} << (SIGXFSZ - 1))) != 0;
        }(),
        5000);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2); // no key given
    QVERIFY(ReadFile(path("a.txt")) == Fixture["a.txt"]);
}

void TestCli::promptsOnTerminal_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("verify");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("same twice") << QByteArray("abc") << QByteArray("abc") << 0;
    QTest::newRow("different") << QByteArray("abc") << QByteArray("abd") << 2;
    QTest::newRow("empty") << QByteArray() << QByteArray() << 2;
}

// On a terminal the key is asked for twice, and what is typed is not echoed.
void TestCli::promptsOnTerminal() {
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, verify);
    QFETCH(int, exitCode);
    const QByteArray file = QFile::encodeName(path("a.txt"));

    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    QVERIFY(child >= 0);
    if (child == 0) {
        ::execl(VELTRANE_CLI_PATH, VELTRANE_CLI_PATH, "encrypt", file.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }

    QByteArray screen;
    // Reads what the tool shows until `wanted` appears or the terminal closes.
    auto readUntil = [&](const QByteArray& wanted) {
        while (wanted.isEmpty() || !screen.contains(wanted)) {
            pollfd waiting{terminal, POLLIN, 0};
            if (::poll(&waiting, 1, 20000) <= 0)
                return false;
            char chunk[256];
            const ssize_t got = ::read(terminal, chunk, sizeof chunk);
            if (got <= 0)
                return wanted.isEmpty();
            screen.append(chunk, got);
        }
        return true;
    };
    QVERIFY2(readUntil("Key: "), screen.constData());
    QVERIFY(::write(terminal, key + "\n", key.size() + 1) == key.size() + 1);
    QVERIFY2(readUntil("Verify: "), screen.constData());
    QVERIFY(::write(terminal, verify + "\n", verify.size() + 1) == verify.size() + 1);
    readUntil({});
    ::close(terminal);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), exitCode);
    if (!key.isEmpty())
        QVERIFY2(!screen.contains(key), screen.constData());
    if (exitCode == 0) {
        QVERIFY(screen.contains(file + ": encrypted"));
        QVERIFY(ReadFile(path("a.txt")) == Encrypted(Hello, key));
    } else {
        QVERIFY(ReadFile(path("a.txt")) == Hello);
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
