// veltrane-cli end to end: the built tool run as a process on real files, with its outcomes,
// exit statuses and every way of giving it a key, the terminal prompts included; its surroundings
// (closed or failing standard descriptors, no threads, signals while its output is blocked); a run
// of its parts in this process where a test must reach inside (refused threads, failures inside a
// file, a tree changed during the walk); and its progress line, which only a terminal would show.

#include "cli/batchrun.h"
#include "cli/commandline.h"
#include "cli/filewalk.h"
#include "cli/outcomereport.h"
#include "cli/terminalprogress.h"
#include "cli/terminaltext.h"
#include "cli/tooloutput.h"
#include "cli/toolthreads.h"
#include "engine/engineunit.h"
#include "engine/streamahead.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <functional>
#include <new>
#include <string>
#include <vector>
#include <system_error>

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;
using veltrane::FileOperation;
using veltrane::TerminalProgress;
using veltrane::UseUtf8CharacterType;

namespace {

const QByteArray Hello = "Hello, world!\n";

struct Result {
    int ExitCode = -1;
    QString Output;
    QString Errors;
};

// What the tool finds around it when it starts.
enum class Surroundings {
    OutputClosed,
    ErrorsClosed,
    InputClosed,
    AllClosed,
    OutputReaderGone,
    OutputReadOnly,
    ErrorsReaderGone,
    UserProcessLimit,
};

// A run of the tool's parts in this process: its report, and the workers it had.
struct BatchResult {
    QByteArray Report;
    int Workers = -1;
};

// Removes a tree however deep, name by name from each folder's descriptor (a path longer than the
// system looks up cannot be removed by its path).
void RemoveTree(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* folder = ::fdopendir(::dup(fd))) {
            std::vector<std::string> names;
            while (const dirent* entry = ::readdir(folder)) {
                if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                    names.emplace_back(entry->d_name);
            }
            ::closedir(folder);
            for (const std::string& inner : names) {
                if (::unlinkat(fd, inner.c_str(), 0) != 0)
                    RemoveTree(fd, inner.c_str());
            }
        }
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

// The entries of a part of the help: the lines from the one that starts with `heading` to the next
// blank line, each matched by `entry`, whose first group is the entry.
QStringList HelpEntries(const QString& heading, const QString& entry) {
    const QString help = QString::fromUtf8(veltrane::CommandLine::HelpText());
    const qsizetype start = help.indexOf(QLatin1Char('\n') + heading);
    const QRegularExpression pattern(entry);
    QStringList entries;
    for (const QString& line : help.mid(start + 1, help.indexOf(QStringLiteral("\n\n"), start) - start).split('\n')) {
        if (const QRegularExpressionMatch match = pattern.match(line); match.hasMatch())
            entries << match.captured(1);
    }
    entries.sort();
    return entries;
}

// A line of the manual page as it reads: the macro's arguments joined (in turn bold and roman,
// without spaces, for .BR and the like), the escapes and font changes taken out.
QString ManualText(const QString& line) {
    const QRegularExpression argument(QStringLiteral("\"([^\"]*)\"|(\\S+)"));
    const qsizetype space = line.indexOf(QLatin1Char(' '));
    const bool alternating = space == 3; // .BR, .IR, .BI, ...; not .B or .I
    QStringList arguments;
    for (const QRegularExpressionMatch& match : argument.globalMatch(line.mid(space + 1)))
        arguments << match.captured(match.lastCapturedIndex());
    QString text = arguments.join(alternating ? QString() : QStringLiteral(" "));
    text.replace(QRegularExpression(QStringLiteral(R"(\\f[BIRP]|\\&)")), QString());
    return text.replace(QStringLiteral("\\-"), QStringLiteral("-"))
        .replace(QStringLiteral("\\e"), QStringLiteral("\\"));
}

// The help's lines of options: the first group is the option with its short form and value.
const QString OptionEntry = QStringLiteral(R"(^ {2,6}(-\S*(?:, --\S+)?)(?:  |$))");

QStringList ManualPage() {
    QFile file(QFINDTESTDATA("../packaging/veltrane-cli.1.in"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n') : QStringList();
}

// The tags of the manual page's section `heading`: what each .TP and .TQ item is headed by.
QStringList ManualEntries(const QString& heading) {
    const QStringList lines = ManualPage();
    QStringList entries;
    for (qsizetype n = lines.indexOf(".SH " + heading) + 1;
         n > 0 && n + 1 < lines.size() && !lines[n].startsWith(".SH "); ++n) {
        if (lines[n] == QStringLiteral(".TP") || lines[n] == QStringLiteral(".TQ"))
            entries << ManualText(lines[n + 1]);
    }
    entries.sort();
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(Surroundings)

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
    void helpAndManualAgree_data();
    void helpAndManualAgree();
    void everyCommandAndOptionIsDocumented();
    void failingFileIsReported();
    void settingsWhileWaitingForTheKey_data();
    void settingsWhileWaitingForTheKey();
    void interruptPutsTheFileInHandBack_data();
    void interruptPutsTheFileInHandBack();
    void surroundings_data();
    void surroundings();
    void signalWhileOutputIsBlocked_data();
    void signalWhileOutputIsBlocked();
    void runGoesOnWhateverFails_data();
    void runGoesOnWhateverFails();
    void treeChangedDuringTheWalk_data();
    void treeChangedDuringTheWalk();
    void statusOfPartwayFiles_data();
    void statusOfPartwayFiles();
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

    // The tool's parts over `files` in this process, reporting to a file; `setUp` runs on each engine
    // unit, `looked` on each entry the walk looks at in a folder.
    BatchResult RunBatch(const QStringList& files, bool recursive, int jobs,
                         const std::function<void(EngineUnit&)>& setUp = {},
                         const veltrane::FileWalk::LookedHook& looked = {}) const {
        BatchResult result;
        const QByteArray reportFile = QFile::encodeName(Path("report"));
        const int fd = ::open(reportFile.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            return result;
        {
            veltrane::ToolOutput output(fd, fd);
            TerminalProgress progress(false, output);
            veltrane::OutcomeReport report(false, progress, output);
            std::vector<std::string> names;
            for (const QString& file : files)
                names.push_back(QFile::encodeName(file).toStdString());
            veltrane::FileWalk walk(names, recursive);
            walk.SetLookedHook(looked);
            veltrane::SecretBytes key = Key("secret");
            veltrane::BatchRun batch({veltrane::ToolCommand::Encrypt, jobs, false, {}, setUp}, key, report, progress);
            batch.Run(walk);
            output.Flush();
            result.Workers = batch.workers();
        }
        ::close(fd);
        result.Report = ReadFile(reportFile);
        return result;
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
    veltrane::ToolThreads::Allow(-1);
    veltrane::StreamAhead::RefuseThreads(false);
    ::chmod(QFile::encodeName(Path("ro.txt")).constData(), 0644);
    // What QTemporaryDir could not remove: a tree deeper than a path can name.
    const int dir = ::open(QFile::encodeName(m_dir->path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        RemoveTree(dir, "tree");
        ::close(dir);
    }
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
    QVERIFY(!version.Output.contains("Keystream kernel"));
    // The kernel and the keystream source named for a bug report are the ones in use, and the report
    // says so.
    const Result named = Run({"--version", "--verbose"}, {}, [] {
        ::setenv("VELTRANE_KERNEL", "portable", 1);
        ::setenv("VELTRANE_STREAM_SOURCE", "inplace", 1);
    });
    QVERIFY2(named.Output.endsWith("\nKeystream source: inplace (named by VELTRANE_STREAM_SOURCE)\n"
                                   "Keystream kernel: portable (named by VELTRANE_KERNEL)\n"),
             qPrintable(named.Output));
    const Result timed = Run({"--verbose", "-V"}, {}, [] {
        ::unsetenv("VELTRANE_KERNEL");
        ::setenv("VELTRANE_STREAM_SOURCE", "fastest", 1);
    });
    QVERIFY2(timed.Output.contains("\nKeystream source: picked for each pass (VELTRANE_STREAM_SOURCE names none)\n"),
             qPrintable(timed.Output));
    QVERIFY2(QRegularExpression("\nKeystream kernel: [a-z]+ \\(.+\\)\n$").match(timed.Output).hasMatch(),
             qPrintable(timed.Output));
}

void TestCli::helpAndManualAgree_data() {
    QTest::addColumn<QString>("helpHeading");
    QTest::addColumn<QString>("helpEntry");
    QTest::addColumn<QString>("manualSection");
    QTest::newRow("options") << "Options:" << OptionEntry << "OPTIONS";
    QTest::newRow("outcomes") << "Output" << QStringLiteral(R"(^  FILE: (.*?)(?:  |$))") << "OUTPUT";
    QTest::newRow("exit statuses") << "Exit status:" << QStringLiteral(R"(^  (\d)  )") << "EXIT STATUS";
}

// The help and the manual page tell the same options, outcomes and exit statuses, each spelt alike.
void TestCli::helpAndManualAgree() {
    QFETCH(QString, helpHeading);
    QFETCH(QString, helpEntry);
    QFETCH(QString, manualSection);
    const QStringList help = HelpEntries(helpHeading, helpEntry);
    QVERIFY2(help.size() > 2, qPrintable(help.join(" | ")));
    QCOMPARE(help, ManualEntries(manualSection));
}

// Every command the tool takes is in the usage lines of the help and of the manual page, and every
// option in the help as the tool takes it: with a value or without, and with its short form.
void TestCli::everyCommandAndOptionIsDocumented() {
    const QString help = QString::fromUtf8(veltrane::CommandLine::HelpText());
    for (const veltrane::CommandLine::CommandEntry& command : veltrane::CommandLine::Commands) {
        const QString name = QString::fromUtf8(command.Name.data(), command.Name.size());
        QVERIFY2(help.contains(QStringLiteral("veltrane-cli %1 [").arg(name)), qPrintable(name));
        QVERIFY2(ManualPage().contains(QStringLiteral(".B veltrane-cli %1").arg(name)), qPrintable(name));
    }
    const QStringList documented = HelpEntries("Options:", OptionEntry);
    qsizetype longOptions = 0;
    for (const option* given = veltrane::CommandLine::LongOptions; given->name != nullptr; ++given, ++longOptions) {
        const QString name = QStringLiteral("--") + given->name;
        const auto entry = std::ranges::find_if(documented, [&](const QString& text) {
            return text == name || text.endsWith(", " + name) || text.contains(name + '=');
        });
        QVERIFY2(entry != documented.end(), qPrintable(name));
        QCOMPARE(entry->contains('='), given->has_arg == required_argument);
        if (entry->startsWith("-") && !entry->startsWith("--"))
            QCOMPARE(entry->at(1), QLatin1Char(static_cast<char>(given->val)));
    }
    // Besides those: "--", which ends the options.
    QCOMPARE(documented.size(), longOptions + 1);
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

void TestCli::settingsWhileWaitingForTheKey_data() {
    QTest::addColumn<bool>("closed"); // started with standard output and error closed
    QTest::newRow("as started") << false;
    QTest::newRow("standard output and error closed") << true;
}

// While it waits for the key on standard input, the tool has already set itself up for the run: no
// core dump can hold the key, and neither a file-size limit nor a reader that goes away (| head) ends
// it half-way through a file, even started with those signals at their defaults. Standard output and
// error closed at the start are open by then, on /dev/null, so that no file can take their numbers.
void TestCli::settingsWhileWaitingForTheKey() {
    QFETCH(bool, closed);
    QProcess process;
    process.setChildProcessModifier([closed] {
        std::signal(SIGXFSZ, SIG_DFL);
        std::signal(SIGPIPE, SIG_DFL);
        if (closed) {
            ::close(STDOUT_FILENO);
            ::close(STDERR_FILENO);
        }
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
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        const QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(process.processId()).arg(fd));
        QVERIFY2(closed ? target == "/dev/null" : target != "/dev/null", qPrintable(target));
    }
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

void TestCli::surroundings_data() {
    QTest::addColumn<Surroundings>("around");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("missing"); // two names among the files that are not there
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("outputRead"); // standard output reaches the test
    // Started with descriptors closed: a file the tool opens must never become one of them, or the
    // lines of the report land inside the files.
    QTest::newRow("standard output closed") << Surroundings::OutputClosed << QStringList{} << true << 1 << false;
    QTest::newRow("standard error closed") << Surroundings::ErrorsClosed << QStringList{} << true << 1 << true;
    QTest::newRow("standard input closed") << Surroundings::InputClosed << QStringList{} << false << 0 << true;
    QTest::newRow("all three closed") << Surroundings::AllClosed << QStringList{} << true << 1 << false;
    // The report cannot be written: the files are processed all the same, and the status says so.
    QTest::newRow("standard output a pipe nobody reads any more")
        << Surroundings::OutputReaderGone << QStringList{} << true << 3 << false;
    QTest::newRow("standard output not open for writing")
        << Surroundings::OutputReadOnly << QStringList{} << false << 3 << false;
    QTest::newRow("problems to a pipe nobody reads any more")
        << Surroundings::ErrorsReaderGone << QStringList{} << true << 3 << true;
    QTest::newRow("nothing to write to a pipe nobody reads any more")
        << Surroundings::OutputReaderGone << QStringList{"--quiet"} << false << 0 << false;
    // No thread can be made at all (root ignores the limit, so the tool runs as nobody then).
    QTest::newRow("a limit of one process for the user")
        << Surroundings::UserProcessLimit << QStringList{} << false << 0 << true;
}

// Forty files and one large enough for a pass's second thread, two at a time, encrypted and then
// decrypted in the same surroundings: every file exact after each, whatever becomes of the output.
void TestCli::surroundings() {
    QFETCH(Surroundings, around);
    QFETCH(QStringList, options);
    QFETCH(bool, missing);
    QFETCH(int, exitCode);
    QFETCH(bool, outputRead);

    QStringList names;
    QMap<QString, QByteArray> plain;
    for (int n = 0; n < 40; ++n) {
        const QString name = Path(QStringLiteral("f%1").arg(n, 2, 10, QChar('0')));
        plain[name] = Pattern(100 + n * 997, std::uint32_t(n + 3));
        names << name;
    }
    names << Path("big.bin");
    plain[Path("big.bin")] = Pattern((1 << 20) + 5, 99);
    for (auto it = plain.cbegin(); it != plain.cend(); ++it)
        QVERIFY(WriteFile(it.key(), it.value()));
    if (missing) {
        names.insert(10, Path("nothere1"));
        names << Path("nothere2");
    }
    const QByteArray readOnly = QFile::encodeName(Path("read-only output"));
    QVERIFY(WriteFile(readOnly, {}));

    const uid_t nobody = 65534;
    const bool asNobody = around == Surroundings::UserProcessLimit && ::geteuid() == 0;
#ifdef VELTRANE_SANITIZED_BUILD
    // LeakSanitizer needs a thread of its own when the tool ends, which a limit of one process refuses.
    const QByteArray sanitizerOptions = qgetenv("ASAN_OPTIONS");
    if (around == Surroundings::UserProcessLimit)
        qputenv("ASAN_OPTIONS", sanitizerOptions + ":detect_leaks=0");
    const auto restored = qScopeGuard([&] { qputenv("ASAN_OPTIONS", sanitizerOptions); });
#endif
    if (asNobody) {
        // The row's own files, given to nobody, in its own folder opened to others.
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        for (const QString& name : plain.keys() + QStringList{Path("key.txt")})
            QVERIFY(::chown(QFile::encodeName(name).constData(), nobody, nobody) == 0);
    }
    const auto childSetUp = [around, asNobody, readOnly] {
        const auto readerGone = [](int fd) {
            int ends[2];
            if (::pipe(ends) == 0) {
                ::close(ends[0]);
                ::dup2(ends[1], fd);
                ::close(ends[1]);
            }
        };
        switch (around) {
        case Surroundings::OutputClosed:
            ::close(STDOUT_FILENO);
            break;
        case Surroundings::ErrorsClosed:
            ::close(STDERR_FILENO);
            break;
        case Surroundings::InputClosed:
            ::close(STDIN_FILENO);
            break;
        case Surroundings::AllClosed:
            ::close(STDIN_FILENO);
            ::close(STDOUT_FILENO);
            ::close(STDERR_FILENO);
            break;
        case Surroundings::OutputReaderGone:
            readerGone(STDOUT_FILENO);
            break;
        case Surroundings::ErrorsReaderGone:
            readerGone(STDERR_FILENO);
            break;
        case Surroundings::OutputReadOnly: {
            const int fd = ::open(readOnly.constData(), O_RDONLY);
            ::dup2(fd, STDOUT_FILENO);
            ::close(fd);
            break;
        }
        case Surroundings::UserProcessLimit: {
            if (asNobody && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0))
                ::_exit(126);
            const rlimit one{1, 1};
            ::setrlimit(RLIMIT_NPROC, &one);
            break;
        }
        }
    };

    for (const QString command : {"encrypt", "decrypt"}) {
        const Result result =
            Run(QStringList{command, "-j", "2", "--key-file", Path("key.txt")} + options + names, {}, childSetUp);
        if (result.ExitCode == 126 && asNobody)
            QSKIP("cannot run the tool as another user here");
        QVERIFY2(result.ExitCode == exitCode,
                 qPrintable(command + ": " + QString::number(result.ExitCode) + ": " + result.Errors));
        if (outputRead) {
            QString expected;
            for (const QString& name : names)
                expected += name + (plain.contains(name) ? ": " + command + "ed\n" : QStringLiteral(": missing\n"));
            QCOMPARE(result.Output, expected);
        }
        if (exitCode == 3 && around == Surroundings::OutputReaderGone)
            QVERIFY2(result.Errors.endsWith("veltrane-cli: cannot write to standard output: Broken pipe\n"),
                     qPrintable(result.Errors));
        for (auto it = plain.cbegin(); it != plain.cend(); ++it) {
            const QByteArray expected = command == "encrypt" ? Encrypted(it.value(), "secret") : it.value();
            QVERIFY2(ReadFile(it.key()) == expected, qPrintable(command + ": " + it.key()));
        }
    }
    QCOMPARE(ReadFile(readOnly), QByteArray());
}

void TestCli::signalWhileOutputIsBlocked_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("termination request") << int(SIGTERM);
    QTest::newRow("Ctrl-C") << int(SIGINT);
}

// Standard output a pipe that is full and that nobody reads: the line of the first file cannot be
// written while the second, large one is in hand. A signal still ends the tool, soon, with the
// large file put back and the first one done.
void TestCli::signalWhileOutputIsBlocked() {
    QFETCH(int, signal);
    const QString big = Path("big.bin");
    const qint64 size = qint64(256) << 20;
    {
        QFile out(big);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.resize(size));
    }
    int ends[2];
    QVERIFY(::pipe2(ends, O_CLOEXEC) == 0);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    QVERIFY(::fcntl(ends[1], F_SETFL, O_NONBLOCK) == 0);
    const QByteArray filler(4096, 'x');
    while (::write(ends[1], filler.constData(), std::size_t(filler.size())) > 0) {
    }
    QVERIFY(::fcntl(ends[1], F_SETFL, 0) == 0);

    QProcess tool;
    tool.setChildProcessModifier([output = ends[1]] { ::dup2(output, STDOUT_FILENO); });
    tool.start(QStringLiteral(VELTRANE_CLI_PATH), {"encrypt", "-j", "2", Path("a.txt"), big});
    tool.write("secret\n");
    tool.closeWriteChannel();
    const bool started = tool.waitForStarted();
    ::close(ends[1]);
    QVERIFY(started);
    // The first file is done (its line waits), and the second has its first block written.
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(Path("a.txt")) == Encrypted(Hello, "secret"), 20000);
    QFile watched(big);
    QVERIFY(watched.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QTRY_VERIFY_WITH_TIMEOUT(watched.seek(0) && watched.read(8) != QByteArray(8, '\0'), 20000);
    ::kill(static_cast<pid_t>(tool.processId()), signal);
    const bool ended = tool.waitForFinished(30000);
    ::close(ends[0]);
    QVERIFY2(ended, "the tool did not answer the signal");
    QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
    QVERIFY(ReadFile(big) == QByteArray(size, '\0'));
    QVERIFY(ReadFile(Path("a.txt")) == Encrypted(Hello, "secret"));
}

void TestCli::runGoesOnWhateverFails_data() {
    QTest::addColumn<int>("threads"); // that the tool may make; -1: as many as the system allows
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QString>("failure"); // thrown at a write in the middle of big.bin, each time or once
    QTest::addColumn<int>("workers");
    QTest::newRow("no thread at all: the run's own thread does the files") << 0 << 3 << "" << 0;
    QTest::newRow("one thread, which the output takes") << 1 << 3 << "" << 0;
    QTest::newRow("two of three workers") << 3 << 3 << "" << 2;
    QTest::newRow("memory runs out in a file") << -1 << 2 << "bad_alloc" << 2;
    QTest::newRow("memory runs out once in a file: it is done with less") << -1 << 2 << "bad_alloc once" << 2;
    QTest::newRow("the system refuses something in a file") << -1 << 2 << "system_error" << 2;
    QTest::newRow("memory runs out in a file, no worker") << 0 << 2 << "bad_alloc" << 0;
}

// Threads that cannot be made, and exceptions of any kind in the middle of a file: the run goes
// on, the file in trouble is put back and reported, every other file is done.
void TestCli::runGoesOnWhateverFails() {
    QFETCH(int, threads);
    QFETCH(int, jobs);
    QFETCH(QString, failure);
    QFETCH(int, workers);
    const QByteArray bigPlain = Pattern((1 << 20) + 5, 7);
    QVERIFY(WriteFile(Path("big.bin"), bigPlain));
    const std::string bigName = QFile::encodeName(Path("big.bin")).toStdString();
    veltrane::ToolThreads::Allow(threads);
    veltrane::StreamAhead::RefuseThreads(threads == 0);
    std::atomic<bool> thrown{false};
    const auto setUp = [&](EngineUnit& unit) {
        if (failure.isEmpty())
            return;
        // The second block of the first zone: the first one is enciphered on the disk by then.
        unit.CurrentFile.SetFaultHook([&](FileOperation operation, std::int64_t position, std::size_t&) {
            if (operation == FileOperation::Write && position == 65536 && unit.CurrentFileName == bigName &&
                !(thrown.exchange(true) && failure.endsWith(" once"))) {
                if (failure.startsWith("bad_alloc"))
                    throw std::bad_alloc();
                throw std::system_error(EAGAIN, std::generic_category());
            }
            return 0;
        });
    };
    const QStringList names{Path("a.txt"), Path("b.bin"), Path("big.bin"), Path("sub/x.txt")};
    const BatchResult result = RunBatch(names, false, jobs, setUp);
    QCOMPARE(result.Workers, workers);
    const QString reason = failure == "bad_alloc" ? "out of memory" : "resource temporarily unavailable";
    const bool done = failure.isEmpty() || failure.endsWith(" once");
    const QString bigLine = done
                                ? Path("big.bin") + ": encrypted\n"
                                : QStringLiteral("%1: failed: Cannot encrypt \"%1\": %2; the file was left as it was\n")
                                      .arg(Path("big.bin"), reason);
    QCOMPARE(QString::fromUtf8(result.Report), Path("a.txt") + ": encrypted\n" + Path("b.bin") + ": encrypted\n" +
                                                   bigLine + Path("sub/x.txt") + ": encrypted\n");
    QVERIFY(ReadFile(Path("a.txt")) == Encrypted(Hello, "secret"));
    QVERIFY(ReadFile(Path("b.bin")) == Encrypted(m_fixture["b.bin"], "secret"));
    QVERIFY(ReadFile(Path("sub/x.txt")) == Encrypted(Hello, "secret"));
    QVERIFY(ReadFile(Path("big.bin")) == (done ? Encrypted(bigPlain, "secret") : bigPlain));
}

void TestCli::treeChangedDuringTheWalk_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("lines");     // {tree} for the tree's path
    QTest::addColumn<QStringList>("encrypted"); // the files, by where they are in the end, that are
    QTest::addColumn<QStringList>("plain");     // and the files left as they were
    const QStringList outside{"outside/precious", "outside/dir/x", "outside/dir/y"};
    QTest::newRow("a file swapped for a link to an outside file once looked at")
        << "link file"
        << QStringList{"{tree}/1small: skipped: is a symbolic link", "{tree}/2other: encrypted",
                       "{tree}/sub/x: encrypted", "{tree}/sub/y: encrypted"}
        << QStringList{"tree/2other", "tree/sub/x", "tree/sub/y"} << QStringList{"tree/kept"} + outside;
    QTest::newRow("a listed folder swapped for a link to an outside folder once entered")
        << "link folder inside"
        << QStringList{"{tree}/1small: encrypted", "{tree}/2other: encrypted", "{tree}/sub/x: encrypted",
                       "{tree}/sub/y: encrypted"}
        << QStringList{"tree/1small", "tree/2other", "tree/kept/x", "tree/kept/y"} << outside;
    QTest::newRow("a folder swapped for a link to an outside folder before it is entered")
        << "link folder"
        << QStringList{"{tree}/1small: encrypted", "{tree}/2other: encrypted",
                       "{tree}/sub: skipped: is a symbolic link"}
        << QStringList{"tree/1small", "tree/2other"} << QStringList{"tree/kept/x", "tree/kept/y"} + outside;
    QTest::newRow("a file replaced by another once looked at")
        << "replace file"
        << QStringList{"{tree}/1small: encrypted",
                       "{tree}/2other: skipped: cannot be opened (it was replaced after its folder was read)",
                       "{tree}/sub/x: encrypted", "{tree}/sub/y: encrypted"}
        << QStringList{"tree/1small", "tree/sub/x", "tree/sub/y"} << QStringList{"tree/2other", "tree/kept"} + outside;
    QTest::newRow("a file swapped for a link to an outside file while it is encrypted")
        << "link file mid-command"
        << QStringList{"{tree}/1small: failed: Cannot go on with \"{tree}/1small\": another program replaced the "
                       "file with another one; the file was restored",
                       "{tree}/2other: encrypted", "{tree}/sub/x: encrypted", "{tree}/sub/y: encrypted"}
        << QStringList{"tree/2other", "tree/sub/x", "tree/sub/y"} << QStringList{"tree/kept"} + outside;
    QTest::newRow("a file deeper than the longest path the system looks up")
        << "deep"
        << QStringList{"{tree}/1small: encrypted", "{tree}/2other: encrypted", "{tree}/sub/{deep}: encrypted",
                       "{tree}/sub/x: encrypted", "{tree}/sub/y: encrypted"}
        << QStringList{"tree/1small", "tree/2other", "tree/sub/x", "tree/sub/y"} << outside;
}

// -r over a tree that another program changes after the walk has looked at it: nothing outside the
// tree is ever touched, and what is acted on is the very file the walk listed, or it is skipped.
void TestCli::treeChangedDuringTheWalk() {
    QFETCH(QString, change);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, encrypted);
    QFETCH(QStringList, plain);
    const QMap<QString, QByteArray> files{
        {"tree/1small", Hello},
        {"tree/2other", Pattern(3000, 41)},
        {"tree/sub/x", Pattern(70000, 42)},
        {"tree/sub/y", Pattern(100, 43)},
        {"outside/precious", Pattern(500, 44)},
        {"outside/dir/x", Pattern(600, 45)},
        {"outside/dir/y", Pattern(700, 46)},
    };
    QVERIFY(QDir(m_dir->path()).mkpath("tree/sub") && QDir(m_dir->path()).mkpath("outside/dir"));
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        QVERIFY(WriteFile(Path(it.key()), it.value()));
    // What each file holds in the end, by where it is then.
    QMap<QString, QByteArray> contents = files;
    const QByteArray tree = QFile::encodeName(Path("tree"));
    const auto swapForLink = [&](const char* name, const char* target) {
        return ::rename(tree + '/' + name, tree + "/kept") == 0 && ::symlink(target, tree + '/' + name) == 0;
    };
    std::atomic<bool> changed{false};
    QByteArray trigger;
    std::function<void()> act;
    std::function<void(EngineUnit&)> setUp;
    if (change == "link file") {
        trigger = tree + "/1small";
        act = [&] { changed = swapForLink("1small", "../outside/precious"); };
        contents["tree/kept"] = files["tree/1small"];
    } else if (change == "link folder inside" || change == "link folder") {
        trigger = tree + (change == "link folder" ? "/sub" : "/sub/x");
        act = [&] { changed = swapForLink("sub", "../outside/dir"); };
        contents["tree/kept/x"] = files["tree/sub/x"];
        contents["tree/kept/y"] = files["tree/sub/y"];
    } else if (change == "replace file") {
        trigger = tree + "/2other";
        act = [&] {
            changed =
                ::rename(tree + "/2other", tree + "/kept") == 0 && WriteFile(tree + "/2other", files["tree/2other"]);
        };
        contents["tree/kept"] = files["tree/2other"];
    } else if (change == "link file mid-command") {
        const std::string name = (tree + "/1small").toStdString();
        setUp = [&, name](EngineUnit& unit) {
            unit.CurrentFile.SetFaultHook([&, name](FileOperation operation, std::int64_t position, std::size_t&) {
                if (operation == FileOperation::Write && position == 0 && unit.CurrentFileName == name &&
                    !changed.exchange(true))
                    changed = swapForLink("1small", "../outside/precious");
                return 0;
            });
        };
        contents["tree/kept"] = files["tree/1small"];
    }
    // Deep: names of 200 bytes, enough of them that the path is longer than any the system looks up.
    std::vector<std::string> deep;
    QString deepPath;
    const QByteArray deepContent = Pattern(5000, 47);
    if (change == "deep") {
        int fd = ::open((tree + "/sub").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level * 201 <= PATH_MAX && fd >= 0; ++level) {
            deep.push_back(std::string(1, char('d')) + std::string(199, char('a' + level % 26)));
            const bool made = ::mkdirat(fd, deep.back().c_str(), 0700) == 0;
            const int inner = ::openat(fd, deep.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(fd);
            fd = made ? inner : -1;
            deepPath += QString::fromStdString(deep.back()) + '/';
        }
        QVERIFY(fd >= 0);
        const int file = ::openat(fd, "deep.txt", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(file >= 0 &&
                ::write(file, deepContent.constData(), std::size_t(deepContent.size())) == deepContent.size());
        ::close(file);
        ::close(fd);
        deepPath += "deep.txt";
        changed = true;
    }
    const auto looked = [&](const veltrane::BatchEntry& entry) {
        if (act && QByteArray::fromStdString(entry.Path) == trigger)
            act();
    };

    const BatchResult result = RunBatch({Path("tree")}, true, 2, setUp, looked);
    QVERIFY(changed);
    QString expected;
    for (QString line : lines)
        expected += line.replace("{tree}", Path("tree")).replace("{deep}", deepPath) + '\n';
    QCOMPARE(QString::fromUtf8(result.Report), expected);
    for (const QString& name : encrypted)
        QVERIFY2(ReadFile(Path(name)) == Encrypted(contents[name], "secret"), qPrintable(name));
    for (const QString& name : plain)
        QVERIFY2(ReadFile(Path(name)) == contents[name], qPrintable(name));
    if (change == "deep") {
        // Read back the way it was made: its path is too long to open by.
        int fd = ::open((tree + "/sub").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (const std::string& name : deep) {
            const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(fd);
            fd = inner;
        }
        const int file = ::openat(fd, "deep.txt", O_RDONLY | O_CLOEXEC);
        ::close(fd);
        QVERIFY(file >= 0);
        QByteArray bytes(deepContent.size() + 100, '\0');
        const ssize_t got = ::read(file, bytes.data(), std::size_t(bytes.size()));
        ::close(file);
        QVERIFY(got >= 0);
        bytes.truncate(got);
        QVERIFY(bytes == Encrypted(deepContent, "secret"));
    }
}

void TestCli::statusOfPartwayFiles_data() {
    QTest::addColumn<QString>("left"); // how the command on the file stopped
    QTest::addColumn<QString>("says");
    // A small file is one zone, whose pages may be in either form: none of it is done for certain.
    QTest::newRow("its pass and then its undo failed in its only zone") << "undo failed"
                                                                        << "interrupted while encrypting (at 0%)";
    // Zones of 131,072 bytes, killed in the third: the two before it were written.
    QTest::newRow("killed in the third of five zones") << "killed"
                                                       << "interrupted while encrypting (at 43%)";
}

// What `status` says of a file a command left part-way: up to the zone it was writing.
void TestCli::statusOfPartwayFiles() {
    QFETCH(QString, left);
    QFETCH(QString, says);
    const QString file = Path("part-way");
    const QByteArray plain = Pattern(600000, 31);
    QVERIFY(WriteFile(file, plain));
    if (left == "undo failed") {
        EngineUnit unit;
        unit.KeyText = Key("secret");
        // The first block reaches the file; every later write into the body fails, the undo's too.
        int bodyWrites = 0;
        const auto hook = [&](FileOperation operation, std::int64_t position, std::size_t&) {
            return operation == FileOperation::Write && position < plain.size() && ++bodyWrites > 1 ? EIO : 0;
        };
        const FileResult result = RunOne(unit, Command::Encrypt, file, Interference{{}, {}, hook});
        QCOMPARE(result.Outcome, QStringLiteral("failed"));
        QVERIFY2(result.Message.contains("restoring it failed too"), qPrintable(result.Message));
    } else {
        QCOMPARE(RunInChild([&] {
                     EngineUnit unit;
                     unit.KeyText = Key("secret");
                     unit.ZoneLimit = 2 * 65536;
                     RunOne(unit, Command::Encrypt, file, Interference{{}, {}, KillAtBodyWrite(6, plain.size())});
                 }),
                 SIGKILL);
    }
    const Result status = Run({"status", file}, {});
    QCOMPARE(status.Output, file + ": " + says + "\n");
    QCOMPARE(status.ExitCode, 1);
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
#ifdef __SANITIZE_THREAD__
    // ThreadSanitizer keeps a signal that arrives while the prompt waits in read() until the read
    // returns: the prompt shown again on the resume never comes.
    if (suspend)
        QSKIP("ThreadSanitizer holds back signals that arrive during a read");
#endif
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
