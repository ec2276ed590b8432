// Bad input: every kind of thing a list entry can name besides an ordinary writable file, files too
// short for a trailer, awkward path names, a file listed twice, and awkward keys. Each must end in
// a defined outcome without hanging, and nothing that was not meant to change may change.

#include "engine/fileexists.h"
#include "engine/keybytes.h"
#include "tests/support/enginedriver.h"
#include "tests/support/referencecipher.h"
#include "tests/support/testfiles.h"
#include "tests/support/testrounds.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace veltrane::testsupport;
using veltrane::EngineUnit;

namespace {

const QByteArray TheKey("bad input");

enum class Kind {
    Folder,
    SymlinkToFile,
    SymlinkToFolder,
    DanglingSymlink,
    Fifo,
    NullDevice,
    ZeroDevice,
    BlockDevice,
    Socket,
    NoReadPermission,
    NoWritePermission,
    OwnerWriteClearOthersMayWrite,
};

// Runs one file's sequence in a child process that is given five seconds: an open or read that
// blocks (a FIFO, a device) shows as a timeout instead of hanging the test.
QString OutcomeInChild(Command command, const QByteArray& path, const QByteArray& key) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return QStringLiteral("no pipe");
    const int signal = RunInChild([&] {
        ::close(pipeEnds[0]);
        ::alarm(5);
        EngineUnit unit;
        unit.KeyText = Key(key);
        const FileResult result = RunOne(unit, command, QFile::decodeName(path));
        const QByteArray words = (result.Outcome + ' ' + result.Message).toUtf8();
        (void)!::write(pipeEnds[1], words.constData(), static_cast<std::size_t>(words.size()));
    });
    ::close(pipeEnds[1]);
    QByteArray words;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        words.append(buffer, got);
    ::close(pipeEnds[0]);
    if (signal == SIGALRM)
        return QStringLiteral("hung");
    if (signal != 0)
        return QStringLiteral("killed by signal %1").arg(signal);
    return QString::fromUtf8(words).trimmed();
}

struct ToolResult {
    int Status = -1; // -1 when it did not finish in time
    QByteArray Output;
    QByteArray Errors;
};

// Runs the command-line tool with `arguments` as bytes and `input` on its standard input, for at
// most `seconds`; `inChild`, when given, runs in the child just before the tool starts there.
ToolResult RunTool(const QList<QByteArray>& arguments, const QByteArray& input, int seconds,
                   const std::function<void()>& inChild = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(VELTRANE_CLI_PATH)};
        for (const QByteArray& argument : arguments)
            argv.push_back(const_cast<char*>(argument.constData()));
        argv.push_back(nullptr);
        ::alarm(static_cast<unsigned>(seconds));
        if (inChild)
            inChild();
        ::execv(VELTRANE_CLI_PATH, argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    (void)!::write(in[1], input.constData(), static_cast<std::size_t>(input.size()));
    ::close(in[1]);
    ToolResult result;
    // The outputs here are small: reading one to its end and then the other cannot block the tool.
    char buffer[4096];
    for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;)
        result.Output.append(buffer, got);
    for (ssize_t got; (got = ::read(err[0], buffer, sizeof buffer)) > 0;)
        result.Errors.append(buffer, got);
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TestBadInput : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void notAnOrdinaryFile_data();
    void notAnOrdinaryFile();
    void shortFiles_data();
    void shortFiles();
    void awkwardNamesAndDoubles_data();
    void awkwardNamesAndDoubles();
    void awkwardKeys_data();
    void awkwardKeys();
    void commandLineBatchOfBadEntries();
    void killedThenWhateverSurroundsIt_data();
    void killedThenWhateverSurroundsIt();
    void manyFilesKilledAtOnce();
    void simultaneousCommands_data();
    void simultaneousCommands();

private:
    QByteArray Path(const QByteArray& name) const { return QFile::encodeName(m_dir->path()) + '/' + name; }
    std::optional<QTemporaryDir> m_dir;
};

void TestBadInput::init() {
    m_dir.emplace();
    QVERIFY(m_dir->isValid());
}

void TestBadInput::cleanup() {
    // Give the row's own files and folders their permissions back so that they can be removed; never
    // through a symbolic link, which may lead out of this folder (to /dev/null, say).
    for (const char* name : {"entry", "target", "read-only"}) {
        struct stat status {};
        if (::lstat(Path(name).constData(), &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
            ::chmod(Path(name).constData(), 0700);
    }
    // QTemporaryDir cannot name files whose names are not text; remove every non-folder here.
    if (DIR* folder = ::opendir(QFile::encodeName(m_dir->path()).constData())) {
        while (const dirent* entry = ::readdir(folder)) {
            if (entry->d_type != DT_DIR)
                ::unlink(Path(entry->d_name).constData());
        }
        ::closedir(folder);
    }
    m_dir.reset();
}

void TestBadInput::notAnOrdinaryFile_data() {
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<bool>("exists");     // passes the existence test of the runs
    QTest::addColumn<QString>("encrypt"); // when the sequence meets it anyway
    QTest::addColumn<QString>("decrypt");

    const bool root = ::geteuid() == 0;
    QTest::newRow("folder") << Kind::Folder << false << "cannot open"
                            << "cannot open";
    // The link is followed: the file it points to is the one encrypted, and the link stays a link.
    QTest::newRow("symbolic link to a file") << Kind::SymlinkToFile << true << "encrypted"
                                             << "not encrypted";
    QTest::newRow("symbolic link to a folder") << Kind::SymlinkToFolder << false << "cannot open"
                                               << "cannot open";
    QTest::newRow("dangling symbolic link") << Kind::DanglingSymlink << false << "cannot open"
                                            << "cannot open";
    QTest::newRow("FIFO") << Kind::Fifo << false << "cannot open"
                          << "cannot open";
    QTest::newRow("/dev/null") << Kind::NullDevice << false << "cannot open"
                               << "cannot open";
    QTest::newRow("/dev/zero") << Kind::ZeroDevice << false << "cannot open"
                               << "cannot open";
    QTest::newRow("block device") << Kind::BlockDevice << false << "cannot open"
                                  << "cannot open";
    QTest::newRow("socket") << Kind::Socket << false << "cannot open"
                            << "cannot open";
    // Root reads what it likes; the owner-write bit alone makes a file read-only here.
    QTest::newRow("no read permission") << Kind::NoReadPermission << true << (root ? "encrypted" : "cannot open")
                                        << (root ? "not encrypted" : "cannot open");
    QTest::newRow("no write permission") << Kind::NoWritePermission << true << "cannot open"
                                         << "cannot open";
    QTest::newRow("owner-write clear, others may write") << Kind::OwnerWriteClearOthersMayWrite << true << "cannot open"
                                                         << "cannot open";
}

void TestBadInput::notAnOrdinaryFile() {
    QFETCH(Kind, kind);
    QFETCH(bool, exists);
    QFETCH(QString, encrypt);
    QFETCH(QString, decrypt);

    const QByteArray entry = Path("entry");
    const QByteArray target = Path("target");
    const QByteArray plain = Pattern(1000, 5);
    switch (kind) {
    case Kind::Folder:
        QVERIFY(::mkdir(entry.constData(), 0700) == 0);
        break;
    case Kind::SymlinkToFile:
        QVERIFY(WriteFile(target, plain));
        QVERIFY(::symlink(target.constData(), entry.constData()) == 0);
        break;
    case Kind::SymlinkToFolder:
        QVERIFY(::mkdir(target.constData(), 0700) == 0);
        QVERIFY(::symlink(target.constData(), entry.constData()) == 0);
        break;
    case Kind::DanglingSymlink:
        QVERIFY(::symlink(target.constData(), entry.constData()) == 0);
        break;
    case Kind::Fifo:
        QVERIFY(::mkfifo(entry.constData(), 0600) == 0);
        break;
    case Kind::NullDevice:
        QVERIFY(::symlink("/dev/null", entry.constData()) == 0);
        break;
    case Kind::ZeroDevice:
        QVERIFY(::symlink("/dev/zero", entry.constData()) == 0);
        break;
    case Kind::BlockDevice:
        // Block major 0 belongs to no driver: should the engine open the node after all, no device
        // answers and none is made (a loop number would make the kernel create that loop device).
        if (::mknod(entry.constData(), S_IFBLK | 0600, makedev(0, 0)) != 0)
            QSKIP("cannot make a device node here");
        break;
    case Kind::Socket: {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (entry.size() >= qsizetype(sizeof address.sun_path))
            QSKIP("temporary folder path too long for a socket");
        std::memcpy(address.sun_path, entry.constData(), static_cast<std::size_t>(entry.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        ::close(fd);
        break;
    }
    case Kind::NoReadPermission:
    case Kind::NoWritePermission:
    case Kind::OwnerWriteClearOthersMayWrite:
        QVERIFY(WriteFile(entry, plain));
        QVERIFY(::chmod(entry.constData(), kind == Kind::NoReadPermission    ? 0200
                                           : kind == Kind::NoWritePermission ? 0400
                                                                             : 0466) == 0);
        break;
    }
    struct stat before {};
    QVERIFY(::lstat(entry.constData(), &before) == 0);

    QCOMPARE(veltrane::FileExists(entry.toStdString()), exists);
    // The sequences themselves, as when the entry turns into this after the existence test.
    QString words = OutcomeInChild(Command::Decrypt, entry, TheKey);
    QVERIFY2(words.startsWith(decrypt), qPrintable(words));
    words = OutcomeInChild(Command::Encrypt, entry, TheKey);
    QVERIFY2(words.startsWith(encrypt), qPrintable(words));

    // Nothing else appeared or changed: a dangling link's target is not created, the entry keeps its
    // kind and size, and only an ordinary file that was encrypted changed.
    struct stat after {};
    QVERIFY(::lstat(entry.constData(), &after) == 0);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino, before.st_ino);
    if (kind == Kind::DanglingSymlink)
        QVERIFY(::access(target.constData(), F_OK) != 0);
    const QByteArray fileBytes = kind == Kind::SymlinkToFile ? target : entry;
    if (kind == Kind::SymlinkToFile || kind == Kind::NoReadPermission || kind == Kind::NoWritePermission ||
        kind == Kind::OwnerWriteClearOthersMayWrite) {
        ::chmod(fileBytes.constData(), 0600);
        QVERIFY(ReadFile(fileBytes) == (encrypt == "encrypted" ? Encrypted(plain, TheKey) : plain));
    } else if (S_ISREG(after.st_mode)) {
        QCOMPARE(after.st_size, before.st_size);
    }
}

void TestBadInput::shortFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("encrypt");
    QTest::addColumn<QString>("decrypt");

    QTest::newRow("empty") << QByteArray() << "encrypted"
                           << "not encrypted";
    for (int size : {1, 9, 10, 15, 19, 20, 21})
        QTest::addRow("%d bytes", size) << Pattern(size, 6) << "encrypted"
                                        << "not encrypted";
    // With the marker at the end but no room for a check block before it.
    for (int size : {10, 15, 19})
        QTest::addRow("%d bytes ending with the marker", size) << Pattern(size - 10, 6) + Marker << "already encrypted"
                                                               << "invalid key";
    // Just long enough for a trailer, whose check block does not fit the key.
    QTest::newRow("20 bytes ending with the marker") << Pattern(10, 6) + Marker << "already encrypted"
                                                     << "invalid key";
}

// Every short file either goes through the full round trip or is refused and left alone.
void TestBadInput::shortFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QString, encrypt);
    QFETCH(QString, decrypt);

    const QByteArray file = Path("short");
    QVERIFY(WriteFile(file, content));
    EngineUnit unit;
    unit.KeyText = Key(TheKey);
    QCOMPARE(RunOne(unit, Command::Decrypt, QFile::decodeName(file)).Outcome, decrypt);
    QVERIFY(ReadFile(file) == content);
    QCOMPARE(RunOne(unit, Command::Encrypt, QFile::decodeName(file)).Outcome, encrypt);
    if (encrypt == "encrypted") {
        QVERIFY(ReadFile(file) == Encrypted(content, TheKey));
        QCOMPARE(RunOne(unit, Command::Decrypt, QFile::decodeName(file)).Outcome, QStringLiteral("decrypted"));
    }
    QVERIFY(ReadFile(file) == content);
}

void TestBadInput::awkwardNamesAndDoubles_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("spaces") << QByteArray("  name with  spaces ");
    QTest::newRow("newline") << QByteArray("first line\nsecond line");
    QTest::newRow("not UTF-8") << QByteArray("latin-1 \xe9t\xe9 and \xff\xfe");
    QTest::newRow("leading dash") << QByteArray("-rf");
    QTest::newRow("UTF-8 outside Windows-1252") << QByteArray("\xd1\x84\xd0\xb0\xd0\xb9\xd0\xbb \xf0\x9f\x94\x92");
}

// Each name, listed twice in one batch: the second turn meets the file the first one just changed.
void TestBadInput::awkwardNamesAndDoubles() {
    QFETCH(QByteArray, name);
    const QByteArray file = Path(name);
    const QByteArray plain = Pattern(70000, 8);
    QVERIFY(WriteFile(file, plain));
    QVERIFY(veltrane::FileExists(file.toStdString()));

    EngineUnit unit;
    unit.KeyText = Key(TheKey);
    unit.CurrentFileName = file.toStdString();
    const auto turn = [&](Command command) {
        unit.CurrentFileName = file.toStdString();
        RecordingDisplay display;
        const veltrane::FileResult result =
            command == Command::Encrypt ? veltrane::EncryptFile(unit, display) : veltrane::DecryptFile(unit, display);
        return result.Outcome == veltrane::FileOutcome::Failed ? FailureMessage(result) : OutcomeWords(result.Outcome);
    };
    QCOMPARE(turn(Command::Encrypt), QStringLiteral("encrypted"));
    QCOMPARE(turn(Command::Encrypt), QStringLiteral("already encrypted"));
    QVERIFY(ReadFile(file) == Encrypted(plain, TheKey));
    QCOMPARE(turn(Command::Decrypt), QStringLiteral("decrypted"));
    QCOMPARE(turn(Command::Decrypt), QStringLiteral("not encrypted"));
    QVERIFY(ReadFile(file) == plain);
}

void TestBadInput::awkwardKeys_data() {
    QTest::addColumn<QByteArray>("encryptKey"); // key text as typed, UTF-8
    QTest::addColumn<QByteArray>("decryptKey");
    QTest::addColumn<bool>("opens");

    const QByteArray k256(256, 'k');
    QTest::newRow("one character") << QByteArray("x") << QByteArray("x") << true;
    QTest::newRow("one character, other case") << QByteArray("x") << QByteArray("X") << false;
    QTest::newRow("256 characters") << k256 << k256 << true;
    QTest::newRow("256 characters, last one differs") << k256 << k256.left(255) + 'j' << false;
    // Only the first 256 key bytes count.
    QTest::newRow("257 characters opens with its first 256") << k256 + 'z' << k256 << true;
    QTest::newRow("10,000 characters, the tail differs") << Pattern(10000, 3) << Pattern(256, 3) + "tail" << true;
    QTest::newRow("10,000 characters, the head differs")
        << Pattern(10000, 3) << "!" + Pattern(10000, 3).mid(1) << false;
    // Short keys are padded with byte 255, which is what y with diaeresis stands for.
    QTest::newRow("trailing y-diaeresis is the same key") << QByteArray("key") << QByteArray("key\xc3\xbf") << true;
    // Characters with a Windows-1252 code give that byte; others give their UTF-8 bytes.
    QTest::newRow("euro sign is byte 80") << QByteArray("\xe2\x82\xac") << QByteArray("\x80") << true;
    QTest::newRow("Cyrillic") << QByteArray("\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87")
                              << QByteArray("\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87") << true;
    QTest::newRow("Cyrillic is not Latin look-alikes")
        << QByteArray("\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87") << QByteArray("knoy") << false;
    // A character outside Windows-1252 counts as its UTF-8 bytes taken as Windows-1252 characters.
    QTest::newRow("Cyrillic zhe equals its bytes read as Latin-1")
        << QByteArray("\xd0\xb6") << QByteArray("\xc3\x90\xc2\xb6") << true;
    // 64 four-byte characters fill the 256 key bytes: a 65th changes nothing.
    const QByteArray lock("\xf0\x9f\x94\x92");
    QTest::newRow("64 emoji and a tail") << lock.repeated(64) + "tail" << lock.repeated(64) << true;
    QTest::newRow("not UTF-8, used byte for byte") << QByteArray("\xff\xfe\x80") << QByteArray("\xff\xfe\x80") << true;
}

void TestBadInput::awkwardKeys() {
    QFETCH(QByteArray, encryptKey);
    QFETCH(QByteArray, decryptKey);
    QFETCH(bool, opens);

    const QString file = QFile::decodeName(Path("keyed"));
    const QByteArray plain = Pattern(65536 + 7, 10);
    QVERIFY(WriteFile(file, plain));
    EngineUnit unit;
    unit.KeyText = veltrane::KeyBytesFromUtf8(encryptKey.toStdString());
    QCOMPARE(RunOne(unit, Command::Encrypt, file).Outcome, QStringLiteral("encrypted"));
    const QByteArray encrypted = ReadFile(file);
    QVERIFY(encrypted.endsWith(Marker));

    unit.KeyText = veltrane::KeyBytesFromUtf8(decryptKey.toStdString());
    QCOMPARE(RunOne(unit, Command::Decrypt, file).Outcome,
             opens ? QStringLiteral("decrypted") : QStringLiteral("invalid key"));
    QVERIFY(ReadFile(file) == (opens ? plain : encrypted));
}

// The command-line tool over a batch of every bad entry at once: one line each, the good files
// done, nothing else touched, and it finishes. The problems go to standard error as well.
void TestBadInput::commandLineBatchOfBadEntries() {
    const QByteArray good = Path("good file");
    const QByteArray odd = Path("odd \xff name\nwith newline");
    const QByteArray painter = Path("x\r\x1b[2Kfake: encrypted");
    const QByteArray readOnly = Path("read-only");
    const QByteArray key = Path("key");
    const QByteArray plain = Pattern(100000, 11);
    QVERIFY(WriteFile(good, plain));
    QVERIFY(WriteFile(odd, plain));
    QVERIFY(WriteFile(painter, plain));
    QVERIFY(WriteFile(readOnly, plain));
    QVERIFY(WriteFile(key, TheKey + '\n'));
    QVERIFY(::link(key.constData(), Path("key link").constData()) == 0);
    QVERIFY(::chmod(readOnly.constData(), 0444) == 0);
    QVERIFY(::mkdir(Path("folder").constData(), 0700) == 0);
    QVERIFY(::mkfifo(Path("fifo").constData(), 0600) == 0);
    QVERIFY(::symlink(Path("nowhere").constData(), Path("dangling").constData()) == 0);

    const QList<QByteArray> entries{
        Path("folder"), Path("fifo"), "/dev/null",      Path("dangling"), readOnly, good, good, odd,
        painter,        key,          Path("key link"), Path("missing")};
    const ToolResult result = RunTool(QList<QByteArray>{"encrypt", "--key-file", key} + entries, {}, 20);
    // 1: some entries were skipped; -1 would mean it hung.
    QCOMPARE(result.Status, 1);
    const QByteArray dir = Path("");
    const QList<QByteArray> problems{
        Path("folder") + ": skipped: is a folder",
        Path("fifo") + ": missing",
        "/dev/null: missing",
        Path("dangling") + ": missing",
        readOnly + ": skipped: cannot be opened (the file is read-only)",
        good + ": skipped: already encrypted",
        key + ": skipped: is the key file",
        Path("key link") + ": skipped: is the key file",
        Path("missing") + ": missing",
    };
    QList<QByteArray> expected = problems;
    expected.insert(5, good + ": encrypted");
    expected.insert(7, dir + "odd \\377 name\\nwith newline: encrypted");
    expected.insert(8, dir + "x\\r\\033[2Kfake: encrypted: encrypted");
    QCOMPARE(result.Output, expected.join('\n') + '\n');
    QCOMPARE(result.Errors, "veltrane-cli: " + problems.join("\nveltrane-cli: ") + '\n');

    QVERIFY(ReadFile(good) == Encrypted(plain, TheKey));
    QVERIFY(ReadFile(odd) == Encrypted(plain, TheKey));
    QVERIFY(ReadFile(readOnly) == plain);
    QVERIFY(ReadFile(key) == TheKey + '\n');
    QVERIFY(::access(Path("nowhere").constData(), F_OK) != 0);
}

void TestBadInput::killedThenWhateverSurroundsIt_data() {
    QTest::addColumn<QString>("around"); // what happens to the file, or around the next command
    QTest::addColumn<QByteArray>("next");
    QTest::addColumn<QByteArray>("line"); // what the next command says after the file's name
    QTest::addColumn<QString>("left");    // "result", "as before" (the file as the kill left it), "plain"
    const QByteArray finished = ": encrypted (finished an interrupted encryption)";
    const QByteArray undone = ": decrypted (undid an interrupted encryption)";
    // Nothing outside the file decides: no place for notes, a place that is not a folder, another
    // user's notes, notes that lie.
    for (const QByteArray& next : {QByteArray("encrypt"), QByteArray("decrypt")}) {
        const QByteArray line = next == "encrypt" ? finished : undone;
        const char* then = next == "encrypt" ? ", then encrypt" : ", then decrypt";
        QTest::addRow("no home and no state folder%s", then) << "no home" << next << line << "result";
        QTest::addRow("state folder a file%s", then) << "state folder a file" << next << line << "result";
        QTest::addRow("state folder a FIFO%s", then) << "state folder a FIFO" << next << line << "result";
        QTest::addRow("state folder relative%s", then) << "state folder relative" << next << line << "result";
        QTest::addRow("another state folder%s", then) << "another state folder" << next << line << "result";
        QTest::addRow("forged notes%s", then) << "forged notes" << next << line << "result";
        QTest::addRow("renamed into another folder%s", then) << "renamed" << next << line << "result";
        QTest::addRow("another user%s", then) << "another user" << next << line << "result";
    }
    // Put back from a copy: the state went with the content it described.
    QTest::newRow("copy put back, then encrypt") << "copy put back" << QByteArray("encrypt")
                                                 << QByteArray(": encrypted") << "result";
    QTest::newRow("copy put back, then decrypt")
        << "copy put back" << QByteArray("decrypt") << QByteArray(": skipped: not an encrypted file") << "plain";
    // Written over in place, state and all kept: the bytes no longer match it, and nothing is done.
    const QByteArray changed = ": failed: Cannot %1 \"{file}\": it was left part-way through an interrupted "
                               "encryption and bytes it had already transformed have been changed since; the file "
                               "was left as it is";
    QTest::newRow("copy written over it in place, then encrypt")
        << "copy written in place" << QByteArray("encrypt") << QByteArray(changed).replace("%1", "encrypt")
        << "as before";
    QTest::newRow("copy written over it in place, then decrypt")
        << "copy written in place" << QByteArray("decrypt") << QByteArray(changed).replace("%1", "decrypt")
        << "as before";
    // No descriptor to spare: the file cannot even be looked at, so it is left for a later run.
    QTest::newRow("four descriptors, then decrypt")
        << "four descriptors" << QByteArray("decrypt") << QByteArray(": skipped: cannot be opened (too many open files)")
        << "as before";
}

// An encryption killed part-way, and then the file, or the world around the next command, is not
// what it was: the next command gives exactly the encrypted or the plain file, or says what it
// found and leaves the file as it is. Never success over wrong bytes.
void TestBadInput::killedThenWhateverSurroundsIt() {
    QFETCH(QString, around);
    QFETCH(QByteArray, next);
    QFETCH(QByteArray, line);
    QFETCH(QString, left);
    if (around == "another user" && ::geteuid() != 0)
        QSKIP("running the next command as another user needs root");
    const QByteArray plain = Pattern(600000, 29);
    QByteArray file = Path("half done");
    const QByteArray keyFile = Path("key");
    QVERIFY(WriteFile(keyFile, TheKey + '\n'));
    QVERIFY(WriteFile(file, plain));
    // Zones of two blocks, killed in the third: the first is then below the range in doubt.
    QCOMPARE(RunInChild([&] {
                 EngineUnit unit;
                 unit.KeyText = Key(TheKey);
                 unit.ZoneLimit = 2 * 65536;
                 RunOne(unit, Command::Encrypt, QFile::decodeName(file),
                        Interference{{}, {}, KillAtBodyWrite(6, plain.size())});
             }),
             SIGKILL);
    const QByteArray killed = ReadFile(file);
    QVERIFY(killed.size() > plain.size());

    QByteArray state = Path("state");
    std::function<void()> inChild;
    if (around == "no home") {
        inChild = [] {
            ::unsetenv("HOME");
            ::unsetenv("XDG_STATE_HOME");
        };
    } else if (around == "state folder a file") {
        QVERIFY(WriteFile(state, "not a folder"));
    } else if (around == "state folder a FIFO") {
        QVERIFY(::mkfifo(state.constData(), 0600) == 0);
    } else if (around == "state folder relative") {
        state = "relative/state";
    } else if (around == "another state folder") {
        state = Path("another");
    } else if (around == "forged notes") {
        // Notes naming the file, and one naming a file that was never touched.
        QVERIFY(::mkdir(state.constData(), 0700) == 0 && ::mkdir(state + "/veltrane", 0700) == 0 &&
                ::mkdir(state + "/veltrane/partway", 0700) == 0);
        QVERIFY(WriteFile(state + "/veltrane/partway/1.note", "veltrane note 1\n" + file));
        QVERIFY(WriteFile(state + "/veltrane/partway/2.note", "veltrane note 1\n" + keyFile));
        QVERIFY(WriteFile(state + "/veltrane/partway/3.note", QByteArray(5000, '\xff')));
    } else if (around == "renamed") {
        QVERIFY(::mkdir(Path("elsewhere").constData(), 0700) == 0);
        const QByteArray moved = Path("elsewhere/new name");
        QVERIFY(::rename(file.constData(), moved.constData()) == 0);
        file = moved;
    } else if (around == "another user") {
        // Its own files, given to nobody, in its own folder opened to others.
        const uid_t nobody = 65534;
        QVERIFY(::chmod(QFile::encodeName(m_dir->path()).constData(), 0755) == 0);
        QVERIFY(::chown(file.constData(), nobody, nobody) == 0 && ::chown(keyFile.constData(), nobody, nobody) == 0);
        inChild = [nobody] {
            ::unsetenv("XDG_STATE_HOME");
            ::setenv("HOME", "/nonexistent", 1);
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                ::_exit(126);
        };
    } else if (around == "copy put back") {
        QVERIFY(WriteFile(file, plain));
    } else if (around == "copy written in place") {
        const int fd = ::open(file.constData(), O_WRONLY | O_CLOEXEC);
        QVERIFY(fd >= 0 && ::pwrite(fd, plain.constData(), std::size_t(plain.size()), 0) == plain.size());
        ::close(fd);
    } else if (around == "four descriptors") {
#ifdef VELTRANE_SANITIZED_BUILD
        // The sanitizers' runtime checks memory through a pipe of its own: with no descriptor to spare
        // it reports faults that are not there.
        QSKIP("the sanitizers need descriptors of their own");
#endif
        inChild = [] {
            // Whatever the test process itself holds open is not the tool's.
            ::close_range(3, ~0u, 0);
            const rlimit few{4, 4};
            ::setrlimit(RLIMIT_NOFILE, &few);
        };
    }
    const QByteArray before = ReadFile(file);
    const auto withState = [&] {
        ::setenv("XDG_STATE_HOME", state.constData(), 1);
        if (inChild)
            inChild();
    };
    const ToolResult result = RunTool({next, "--key-file", keyFile, file}, {}, 60, withState);
    QCOMPARE(result.Output, file + QByteArray(line).replace("{file}", file) + '\n');
    if (left == "result")
        QVERIFY(ReadFile(file) == (next == "encrypt" ? Encrypted(plain, TheKey) : plain));
    else if (left == "plain")
        QVERIFY(ReadFile(file) == plain);
    else
        QVERIFY(ReadFile(file) == before);
}

// Far more commands at once than any slot count would have allowed, killed together part-way: the
// next run finishes every one of them.
void TestBadInput::manyFilesKilledAtOnce() {
    const QByteArray keyFile = Path("key");
    QVERIFY(WriteFile(keyFile, TheKey + '\n'));
    QList<QByteArray> files;
    for (int n = 0; n < 300; ++n) {
        files << Path(QByteArray::number(n));
        QVERIFY(WriteFile(files.last(), Pattern(200000 + n, std::uint32_t(n))));
    }
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // Every worker at its first file, then killed all at once.
        std::vector<char*> argv{const_cast<char*>(VELTRANE_CLI_PATH), const_cast<char*>("encrypt"),
                                const_cast<char*>("-j"), const_cast<char*>("256"), const_cast<char*>("--key-file"),
                                const_cast<char*>(keyFile.constData())};
        for (QByteArray& file : files)
            argv.push_back(file.data());
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, STDOUT_FILENO);
        ::execv(VELTRANE_CLI_PATH, argv.data());
        ::_exit(127);
    }
    // Until some file carries a state, then a moment more.
    for (int wait = 0; wait < 2000; ++wait) {
        if (std::any_of(files.begin(), files.end(), [](const QByteArray& file) {
                return QFileInfo(QFile::decodeName(file)).size() % 4096 == 0;
            }))
            break;
        ::usleep(1000);
    }
    ::usleep(20000);
    ::kill(child, SIGKILL);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);

    const ToolResult result = RunTool(QList<QByteArray>{"encrypt", "-j", "256", "--key-file", keyFile} + files, {}, 120);
    // Files done before the kill are already encrypted; every other one is encrypted now.
    QVERIFY2(result.Status == 0 || result.Status == 1, result.Errors.constData());
    const QList<QByteArray> lines = result.Output.split('\n');
    int finished = 0;
    for (int n = 0; n < files.size(); ++n) {
        QVERIFY2(lines[n] == files[n] + ": encrypted" ||
                     lines[n] == files[n] + ": encrypted (finished an interrupted encryption)" ||
                     lines[n] == files[n] + ": skipped: already encrypted",
                 lines[n].constData());
        finished += lines[n].endsWith(")");
        QVERIFY(ReadFile(files[n]) == Encrypted(Pattern(200000 + n, std::uint32_t(n)), TheKey));
    }
    qInfo("%d of 300 files were part-way", finished);
}

void TestBadInput::simultaneousCommands_data() {
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("twoNames"); // the second works on a hard link of the file
    for (const bool twoNames : {false, true}) {
        const char* names = twoNames ? ", two names" : ", one name";
        QTest::addRow("encrypt and encrypt%s", names) << QByteArray("encrypt") << QByteArray("encrypt") << twoNames;
        QTest::addRow("decrypt and decrypt%s", names) << QByteArray("decrypt") << QByteArray("decrypt") << twoNames;
        QTest::addRow("encrypt and decrypt%s", names) << QByteArray("encrypt") << QByteArray("decrypt") << twoNames;
    }
}

// Two copies of the tool started at the same moment on one file, round after round: the lock held
// for the whole command lets one finish before the other begins, or refuses the other, so the file
// always ends as plain text or as its one valid encryption, and what they report says which.
void TestBadInput::simultaneousCommands() {
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, twoNames);
    const QByteArray file = Path("contended");
    const QByteArray link = Path("contended, other name");
    const QByteArray keyFile = Path("key");
    QVERIFY(WriteFile(keyFile, TheKey + '\n'));
    const QByteArray plain = Pattern(512 * 1024 + 5, 12);
    const QByteArray encrypted = Encrypted(plain, TheKey);
    const bool startsEncrypted = first == "decrypt";
    const int rounds = Rounds(150);
    for (int round = 0; round < rounds; ++round) {
        QVERIFY(WriteFile(file, startsEncrypted ? encrypted : plain));
        ::unlink(link.constData());
        QVERIFY(::link(file.constData(), link.constData()) == 0);
        QProcess one, other;
        one.start(VELTRANE_CLI_PATH,
                  {QString(first), "--key-file", QFile::decodeName(keyFile), QFile::decodeName(file)});
        other.start(VELTRANE_CLI_PATH, {QString(second), "--key-file", QFile::decodeName(keyFile),
                                        QFile::decodeName(twoNames ? link : file)});
        QVERIFY(one.waitForFinished(20000) && other.waitForFinished(20000));
        const QByteArray said = one.readAllStandardOutput() + other.readAllStandardOutput();
        QVERIFY2(!said.contains("failed"), said.constData());
        // Each line says done, or skipped for a reason that changed nothing.
        int balance = startsEncrypted ? 1 : 0;
        balance += int(said.count(": encrypted\n"));
        balance -= int(said.count(": decrypted\n"));
        QVERIFY2(int(said.count(": encrypted\n") + said.count(": decrypted\n") + said.count(": skipped")) == 2,
                 said.constData());
        QVERIFY2(balance == 0 || balance == 1, said.constData());
        QVERIFY2(ReadFile(file) == (balance == 1 ? encrypted : plain),
                 qPrintable(QStringLiteral("round %1: %2").arg(round).arg(QString::fromUtf8(said))));
    }
}

QTEST_APPLESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
