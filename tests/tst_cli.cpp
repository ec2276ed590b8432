// veltrane-cli end to end: the built tool run as a process on real files, with its outcomes,
// exit statuses and every way of giving it a key, the terminal prompts included; and its progress
// line, which only a terminal would show.

#include "cli/terminalprogress.h"
#include "cli/terminaltext.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cwchar>

#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::TerminalProgress;
using veltrane::UseUtf8CharacterType;

namespace {

const QByteArray Hello = "Hello, world!\n";

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
    void helpAndVersion();
    void failingFileIsReported();
    void settingsWhileWaitingForTheKey();
    void interruptPutsTheFileInHandBack_data();
    void interruptPutsTheFileInHandBack();
    void promptsOnTerminal_data();
    void promptsOnTerminal();
    void namesInOutput_data();
    void namesInOutput();
    void progressLineFits_data();
    void progressLineFits();

private:
    QString Path(const QString& name) const { return m_dir->filePath(name); }
    QStringList Expand(const QStringList& items) const {
        QStringList out;
        for (QString item : items)
            out << item.replace("{dir}", m_dir->path());
        return out;
    }
    Result Run(const QStringList& arguments, const QByteArray& input,
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

    std::unique_ptr<QTemporaryDir> m_dir;
    QMap<QString, QByteArray> m_fixture;
};

void TestCli::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_fixture = {
        {"a.txt", Hello},
        {"b.bin", Pattern(70000)},
        {"enc.bin", Encrypted(Pattern(1000, 2), "secret")},
        {"ro.txt", Hello},
        {"key.txt", "secret\r\nsecond line\n"},
        {"empty.key", ""},
        {"sub/x.txt", Hello},
        {"sub/deeper/y.txt", Hello},
    };
    QVERIFY(QDir(m_dir->path()).mkpath("sub/deeper"));
    QVERIFY(QFile::link("../a.txt", Path("sub/link")));
    for (auto it = m_fixture.cbegin(); it != m_fixture.cend(); ++it)
        QVERIFY(WriteFile(Path(it.key()), it.value()));
    // Key files that stand for /dev/zero and /dev/urandom given by mistake, far longer than a key
    // line; they stay out of the fixture, which each row reads back.
    QFile zeros(Path("zeros.key"));
    QVERIFY(zeros.open(QIODevice::WriteOnly) && zeros.resize(qint64(64) << 20));
    zeros.close();
    QVERIFY(WriteFile(Path("random.key"), Pattern(2 << 20, 13)));
    QVERIFY(::chmod(QFile::encodeName(Path("ro.txt")).constData(), 0444) == 0);
}

void TestCli::cleanup() {
    ::chmod(QFile::encodeName(Path("ro.txt")).constData(), 0644);
    m_dir.reset();
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
    QTest::newRow("missing files and folders do not stop the others")
        << QStringList{"encrypt", "{dir}/a.txt", "{dir}/nothere", "{dir}/sub", "{dir}/b.bin"} << key << 1
        << QStringList{"{dir}/a.txt: encrypted", "{dir}/nothere: missing", "{dir}/sub: skipped: is a folder",
                       "{dir}/b.bin: encrypted"}
        << QStringList{"a.txt", "b.bin"};
    // Depth first in name order; the link inside is neither followed nor its target touched.
    QTest::newRow("--recursive") << QStringList{"-r", "encrypt", "{dir}/sub/"} << key << 1
                                 << QStringList{"{dir}/sub/deeper/y.txt: encrypted",
                                                "{dir}/sub/link: skipped: is a symbolic link",
                                                "{dir}/sub/x.txt: encrypted"}
                                 << QStringList{"sub/x.txt", "sub/deeper/y.txt"};
    QTest::newRow("the key file is left alone")
        << QStringList{"encrypt", "-k", "{dir}/key.txt", "{dir}/key.txt", "{dir}/a.txt", "{dir}/sub/link"} << key << 1
        << QStringList{"{dir}/key.txt: skipped: is the key file", "{dir}/a.txt: encrypted",
                       "{dir}/sub/link: skipped: already encrypted"}
        << QStringList{"a.txt"};
    QTest::newRow("--quiet prints the problems only")
        << QStringList{"--quiet", "encrypt", "{dir}/a.txt", "{dir}/nothere", "{dir}/b.bin"} << key << 1
        << QStringList{"{dir}/nothere: missing"} << QStringList{"a.txt", "b.bin"};
    // Each turn meets the file as the turn before left it, whatever the number of workers.
    QTest::newRow("one file under two names, in parallel")
        << QStringList{"-j", "4", "encrypt", "{dir}/a.txt", "{dir}/sub/link", "{dir}/b.bin", "{dir}/a.txt"} << key << 1
        << QStringList{"{dir}/a.txt: encrypted", "{dir}/sub/link: skipped: already encrypted", "{dir}/b.bin: encrypted",
                       "{dir}/a.txt: skipped: already encrypted"}
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
                               << QStringList{"{dir}/ro.txt: skipped: cannot be opened (the file is read-only)"}
                               << QStringList{};
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
    QTest::newRow("-j 0") << QStringList{"-j", "0", "encrypt", "{dir}/a.txt"} << key << 2 << QStringList{}
                          << QStringList{};
    // Binary data is no key: a device or a random file would lock the files under a key nobody has.
    QTest::newRow("key with a control character")
        << QStringList{"encrypt", "{dir}/a.txt"} << QByteArray("sec\x01ret\n") << 2 << QStringList{} << QStringList{};
    QTest::newRow("key with a carriage return inside")
        << QStringList{"encrypt", "{dir}/a.txt"} << QByteArray("sec\rret\n") << 2 << QStringList{} << QStringList{};
    // Zeros and random bytes as the device files would give them, from files of the test's own.
    QTest::newRow("--key-file of zeros") << QStringList{"encrypt", "--key-file", "{dir}/zeros.key", "{dir}/a.txt"}
                                         << key << 2 << QStringList{} << QStringList{};
    QTest::newRow("--key-file of random bytes")
        << QStringList{"encrypt", "--key-file", "{dir}/random.key", "{dir}/a.txt"} << key << 2 << QStringList{}
        << QStringList{};
    QTest::newRow("key line of 1 MiB") << QStringList{"encrypt", "{dir}/a.txt"} << QByteArray(1 << 20, 'k') + '\n'
                                       << 0 << QStringList{"{dir}/a.txt: encrypted"} << QStringList{"a.txt"};
    QTest::newRow("key line over 1 MiB") << QStringList{"encrypt", "{dir}/a.txt"}
                                         << QByteArray((1 << 20) + 1, 'k') + '\n'
                                         << 2 << QStringList{} << QStringList{};
}

void TestCli::outcomes() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, changed);

    const Result result = Run(Expand(arguments), input);
    QCOMPARE(result.ExitCode, exitCode);
    QStringList expectedLines = Expand(lines);
    QCOMPARE(result.Output, expectedLines.isEmpty() ? QString() : expectedLines.join('\n') + '\n');
    if (exitCode == 2)
        QVERIFY2(result.Errors.startsWith("veltrane-cli: "), qPrintable(result.Errors));
    for (auto it = m_fixture.cbegin(); it != m_fixture.cend(); ++it) {
        const bool isChanged = ReadFile(Path(it.key())) != it.value();
        QVERIFY2(isChanged == changed.contains(it.key()), qPrintable(it.key()));
    }
}

void TestCli::knownAnswerFile() {
    const QString file = Path("a.txt");
    QCOMPARE(Run({"encrypt", file}, "secret\n").ExitCode, 0);
    QCOMPARE(ReadFile(file).toHex(),
             QByteArray("d8fd00097a8e22e9b5af44eab64cbab26a6313e747b49f982a2a06060645452a4545"));
    QCOMPARE(Run({"decrypt", file}, "secret\n").ExitCode, 0);
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
    // Longer than the part of the line that is kept, which ends inside a character here.
    const QByteArray eAcute("\xc3\xa9");
    QTest::newRow("long UTF-8 key") << "x" + eAcute.repeated(600) << "x" + QByteArray(600, '\xe9');
    QTest::newRow("long key, not UTF-8 at its end") << eAcute.repeated(600) + "\xff" << eAcute.repeated(600) + "\xff";
}

void TestCli::keyTextBecomesKeyBytes() {
    QFETCH(QByteArray, keyText);
    QFETCH(QByteArray, keyBytes);
    const QString file = Path("b.bin");
    const Result result = Run({"encrypt", file}, keyText + '\n');
    QCOMPARE(result.ExitCode, 0);
    QVERIFY(ReadFile(file) == Encrypted(m_fixture["b.bin"], keyBytes));

    // A key file written in the 8-bit code page opens it.
    QVERIFY(WriteFile(Path("8bit.key"), keyBytes + "\n"));
    QCOMPARE(Run({"decrypt", "--key-file", Path("8bit.key"), file}, {}).Output, file + ": decrypted\n");
}

void TestCli::helpAndVersion() {
    const Result help = Run({"--help"}, {});
    QCOMPARE(help.ExitCode, 0);
    QVERIFY(help.Output.startsWith("Usage: veltrane-cli encrypt"));
    QVERIFY(help.Output.contains("Exit status"));
    QCOMPARE(Run({"encrypt", "-h"}, {}).Output, help.Output);
    const Result version = Run({"--version"}, {});
    QCOMPARE(version.ExitCode, 0);
    QVERIFY2(version.Output.startsWith("veltrane-cli (Veltrane Encryption) " VELTRANE_VERSION "\n"),
             qPrintable(version.Output));
}

// A file-size limit in the tool's process leaves no room for the trailer: that file fails, is left
// as it was, and the next file is still processed.
void TestCli::failingFileIsReported() {
    const QString big = Path("b.bin");
    const QString small = Path("a.txt");
    const Result result = Run({"encrypt", big, small}, "secret\n", [] {
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
    QVERIFY(ReadFile(big) == m_fixture["b.bin"]);
}

// While it waits for the key on standard input, the tool has already set itself up for the run: no
// core dump can hold the key, and neither a file-size limit nor a reader that goes away (| head) ends
// it half-way through a file, even started with those signals at their defaults.
void TestCli::settingsWhileWaitingForTheKey() {
    QProcess process;
    process.setChildProcessModifier([] {
        std::signal(SIGXFSZ, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
    });
    process.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", Path("a.txt")});
    QVERIFY(process.waitForStarted());
    const auto procLine = [&](const char* file, const QByteArray& start) {
        QFile status(QStringLiteral("/proc/%1/%2").arg(process.processId()).arg(file));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith(start))
                    return line.mid(start.size()).simplified();
        }
        return QByteArray();
    };
    const quint64 wanted = (quint64{1} << (SIGXFSZ - 1)) | (quint64{1} << (SIGPIPE - 1));
    QTRY_VERIFY_WITH_TIMEOUT((procLine("status", "SigIgn:").toULongLong(nullptr, 16) & wanted) == wanted, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(procLine("limits", "Max core file size").startsWith("0 "), 5000);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2); // no key given
    QVERIFY(ReadFile(Path("a.txt")) == m_fixture["a.txt"]);
}

// A signal in the middle of a big file. One that asks to stop puts that file back as it was, begins
// no other, and ends the tool by that signal. SIGKILL cannot be caught: the file is left part-way, its
// record tells `status` so, and the next command with the key undoes or finishes it exactly.
void TestCli::interruptPutsTheFileInHandBack_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("followUp"); // the command after a kill
    QTest::addColumn<QString>("followUpSays");
    QTest::newRow("Ctrl-C") << int(SIGINT) << QString() << QString();
    QTest::newRow("termination request") << int(SIGTERM) << QString() << QString();
    QTest::newRow("hang-up") << int(SIGHUP) << QString() << QString();
    QTest::newRow("Ctrl-\\") << int(SIGQUIT) << QString() << QString();
    QTest::newRow("killed, then decrypt undoes it")
        << int(SIGKILL) << "decrypt" << "decrypted (undid an interrupted encryption)";
    QTest::newRow("killed, then encrypt finishes it")
        << int(SIGKILL) << "encrypt" << "encrypted (finished an interrupted encryption)";
}

void TestCli::interruptPutsTheFileInHandBack() {
    QFETCH(int, signal);
    QFETCH(QString, followUp);
    QFETCH(QString, followUpSays);
    const QString big = Path("big.bin");
    const qint64 size = qint64(256) << 20;
    {
        QFile out(big);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.resize(size));
    }
    QProcess tool;
    tool.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", "-j", "1", big, Path("a.txt")});
    tool.write("secret\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForStarted());
    // Signal once the pass has written its first block.
    QFile watched(big);
    QVERIFY(watched.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QTRY_VERIFY_WITH_TIMEOUT(watched.seek(0) && watched.read(8) != QByteArray(8, '\0'), 20000);
    ::kill(static_cast<pid_t>(tool.processId()), signal);
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    const QByteArray said = tool.readAllStandardOutput();
    QVERIFY(ReadFile(Path("a.txt")) == Hello); // never begun
    if (signal != SIGKILL) {
        QCOMPARE(said, QFile::encodeName(big) + ": interrupted; the file was left unchanged\n");
        QVERIFY(tool.readAllStandardError().contains("interrupted"));
        QVERIFY(ReadFile(big) == QByteArray(size, '\0'));
        QCOMPARE(Run({"status", big}, {}).Output, big + ": not interrupted\n");
        return;
    }
    const Result status = Run({"status", big, Path("a.txt")}, {});
    QCOMPARE(status.ExitCode, 1);
    QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(big) +
                                ": interrupted while encrypting \\(at [0-9]+%\\)\n" +
                                QRegularExpression::escape(Path("a.txt")) + ": not interrupted\n$")
                 .match(status.Output)
                 .hasMatch(),
             qPrintable(status.Output));
    QVERIFY(Run({"status"}, {}).Output.startsWith(big + ": interrupted while encrypting"));
    // A wrong key changes nothing and keeps the record.
    QCOMPARE(Run({followUp, big}, "wrong\n").Output, big + ": skipped: invalid key\n");
    QCOMPARE(Run({followUp, big}, "secret\n").Output, big + ": " + followUpSays + "\n");
    QVERIFY(ReadFile(big) == (followUp == "decrypt" ? QByteArray(size, '\0') : Encrypted(QByteArray(size, '\0'), "secret")));
    const Result after = Run({"status", big}, {});
    QCOMPARE(after.ExitCode, 0);
    QCOMPARE(after.Output, big + ": not interrupted\n");
}

void TestCli::promptsOnTerminal_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArrayList>("typed"); // one line per prompt
    QTest::addColumn<bool>("suspend");         // Ctrl-Z at the first prompt, then resumed
    QTest::addColumn<int>("exitCode");
    QTest::newRow("encrypt: same twice") << "encrypt" << QByteArrayList{"abc", "abc"} << false << 0;
    QTest::newRow("encrypt: different") << "encrypt" << QByteArrayList{"abc", "abd"} << false << 2;
    QTest::newRow("encrypt: empty") << "encrypt" << QByteArrayList{""} << false << 2;
    QTest::newRow("decrypt asks once") << "decrypt" << QByteArrayList{"secret"} << false << 0;
    QTest::newRow("echo stays off after a suspend") << "encrypt" << QByteArrayList{"abc", "abc"} << true << 0;
}

// On a terminal the key is asked for (twice to encrypt), and what is typed is not echoed.
void TestCli::promptsOnTerminal() {
    QFETCH(QString, command);
    QFETCH(QByteArrayList, typed);
    QFETCH(bool, suspend);
    QFETCH(int, exitCode);
    const bool encrypt = command == "encrypt";
    const QString name = encrypt ? "a.txt" : "enc.bin";
    const QByteArray file = QFile::encodeName(Path(name));
    const QByteArray verb = command.toLatin1();

    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    QVERIFY(child >= 0);
    if (child == 0) {
        ::execl(VELTRANE_CLI_PATH, VELTRANE_CLI_PATH, verb.constData(), file.constData(), static_cast<char*>(nullptr));
        ::_exit(127);
    }

    QByteArray screen;
    // Reads what the tool shows until `wanted` appears `times` times or the terminal closes.
    auto readUntil = [&](const QByteArray& wanted, int times = 1) {
        while (wanted.isEmpty() || screen.count(wanted) < times) {
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
    const QByteArrayList prompts{"Key: ", "Verify: "};
    for (qsizetype n = 0; n < typed.size(); ++n) {
        QVERIFY2(readUntil(prompts[n]), screen.constData());
        if (suspend && n == 0) {
            // Ctrl-Z, as typed; then the shell's fg. The prompt is shown again for the key.
            QVERIFY(::write(terminal, "\x1a", 1) == 1);
            QTest::qWait(200);
            ::kill(child, SIGCONT);
            QVERIFY2(readUntil(prompts[0], 2), screen.constData());
        }
        const QByteArray line = typed[n] + "\n";
        QVERIFY(::write(terminal, line.constData(), line.size()) == line.size());
    }
    readUntil({});
    ::close(terminal);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), exitCode);
    QCOMPARE(screen.count("Verify: "), encrypt && !typed[0].isEmpty() ? 1 : 0);
    if (!typed[0].isEmpty())
        QVERIFY2(!screen.contains(typed[0]), screen.constData());
    if (exitCode == 0) {
        QVERIFY(screen.contains(file + ": " + verb + "ed"));
        QVERIFY(ReadFile(Path(name)) == (encrypt ? Encrypted(Hello, typed[0]) : Pattern(1000, 2)));
    } else {
        QVERIFY(ReadFile(Path(name)) == m_fixture[name]);
    }
}

void TestCli::namesInOutput_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("shown");
    // A carriage return and an erase-line code would otherwise paint a fake line over the real one.
    QTest::newRow("return and escape code") << QByteArray("x\r\x1b[2Kfake: ok") << QByteArray("x\\r\\033[2Kfake: ok");
    QTest::newRow("newline and tab") << QByteArray("two\nlines\tand tab") << QByteArray("two\\nlines\\tand tab");
    QTest::newRow("backslash") << QByteArray("back\\slash") << QByteArray("back\\\\slash");
    QTest::newRow("delete") << QByteArray("del\x7f") << QByteArray("del\\177");
    QTest::newRow("UTF-8 text stays") << QByteArray("caf\xc3\xa9 \xe6\x97\xa5")
                                      << QByteArray("caf\xc3\xa9 \xe6\x97\xa5");
    QTest::newRow("C1 control character") << QByteArray("c1\xc2\x85") << QByteArray("c1\\302\\205");
}

// File names in the output escape what is not printable text, as `ls --quoting-style=escape` does
// (spaces aside), in the result lines and in the tool's messages alike.
void TestCli::namesInOutput() {
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, shown);
    const QByteArray file = QFile::encodeName(m_dir->path()) + '/' + name;
    QVERIFY(WriteFile(QFile::decodeName(file), Hello));
    const QByteArray folder = QFile::encodeName(m_dir->path()) + '/';

    QProcess tool;
    tool.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", "--", QFile::decodeName(file), QFile::decodeName(file)});
    tool.write("secret\n");
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.readAllStandardOutput(),
             folder + shown + ": encrypted\n" + folder + shown + ": skipped: already encrypted\n");
    QCOMPARE(tool.readAllStandardError(), "veltrane-cli: " + folder + shown + ": skipped: already encrypted\n");

    tool.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", "--key-file", QFile::decodeName(file), "x"});
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(tool.exitCode(), 2);
    QVERIFY2(tool.readAllStandardError().contains("\"" + folder + shown + "\""), qPrintable(name));
}

void TestCli::progressLineFits_data() {
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<int>("columns");
    QTest::newRow("short name") << QByteArray("/tmp/a.txt") << 80;
    QTest::newRow("long ASCII name") << QByteArray("/tmp/").append(QByteArray(200, 'a')) << 80;
    QTest::newRow("two-byte characters") << QByteArray("\xc3\xa9").repeated(100) << 80;
    // Two columns each: an odd room cannot be filled to its last column.
    QTest::newRow("wide characters") << QByteArray("\xe6\x97\xa5").repeated(60) << 81;
    QTest::newRow("four-byte characters") << QByteArray("\xf0\x9f\x94\x92").repeated(60) << 100;
    QTest::newRow("combining accents") << QByteArray("e\xcc\x81").repeated(90) << 80;
    QTest::newRow("narrow terminal") << QByteArray("\xe6\x97\xa5").repeated(10) << 20;
}

// The file's name on the progress line is cut between whole characters, measured in columns, and
// the line never reaches the terminal's last column (where it would wrap).
void TestCli::progressLineFits() {
    QFETCH(QByteArray, label);
    QFETCH(int, columns);
    UseUtf8CharacterType();
    const std::string line = TerminalProgress::Line(label.toStdString(), 42, columns);
    std::mbstate_t state{};
    const char* text = line.c_str();
    std::vector<wchar_t> wide(line.size() + 1);
    const std::size_t count = std::mbsrtowcs(wide.data(), &text, wide.size(), &state);
    QVERIFY2(count != static_cast<std::size_t>(-1), "the line is not whole UTF-8");
    const int width = ::wcswidth(wide.data(), count);
    QVERIFY2(width >= 0 && width < columns, qPrintable(QString::number(width)));
    const std::size_t bar = line.rfind(" [");
    const QByteArray shown = QByteArray::fromStdString(line.substr(0, bar));
    QVERIFY(line.ends_with("]  42%") && line.find_first_not_of("#.", bar + 2) == line.size() - 6);
    if (shown != label) {
        QVERIFY2(shown.startsWith("...") && label.endsWith(shown.mid(3)), shown.constData());
        // As much of the name as fits: one more character would not.
        QVERIFY(width >= columns - 2 - (label.contains("\xe6") ? 1 : 0));
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
