// Fuzzes the per-file sequences on real files: random contents and lengths, random keys, files that
// end with the marker, and a single failing read, write or truncation at a random step.
//
// For every input: encrypting gives exactly body XOR keystream, check block, marker (the keystream
// stepped byte by byte, independently of the pass's block routine); encrypting again, decrypting
// with another key and decrypting a file without the marker change nothing; decrypting with the key
// gives back the original bytes; and a failure leaves the file exactly as it was.
//
// The files live in a fresh folder under $VELTRANE_FUZZ_DIR, /dev/shm or $TMPDIR, removed at exit.

#include "engine/blockpass.h"
#include "engine/engineunit.h"
#include "engine/filelayout.h"
#include "engine/filesequences.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using veltrane::FileOperation;
using veltrane::FileOutcome;

std::string WorkDir;
std::string FilePath;

void RemoveWorkDir() {
    std::error_code ignored;
    std::filesystem::remove_all(WorkDir, ignored);
}

void Check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "fuzz_filesequences: %s\n", what);
    std::abort();
}

void WriteAll(const Bytes& bytes) {
    std::ofstream file(FilePath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    Check(file.flush().good(), "cannot write the test file");
}

Bytes ReadAll() {
    std::ifstream file(FilePath, std::ios::binary);
    Bytes bytes(std::istreambuf_iterator<char>(file), {});
    Check(file.is_open() && !file.bad(), "cannot read the test file");
    return bytes;
}

// The format written down independently of the pass: keystream byte p from NextKeyByte(p mod 256).
Bytes EncryptedForm(const Bytes& plain, const Bytes& key) {
    veltrane::KeystreamGenerator generator;
    generator.ScheduleKey(key);
    Bytes out(plain);
    for (std::size_t p = 0; p < out.size(); ++p)
        out[p] ^= generator.NextKeyByte(static_cast<std::uint8_t>(p & 0xFF));
    generator.ScheduleKey(key);
    for (std::size_t n = 0; n < veltrane::FileMarker.size(); ++n)
        out.push_back(veltrane::FileMarker[n] ^ generator.NextKeyByte(static_cast<std::uint8_t>(n)));
    out.insert(out.end(), veltrane::FileMarker.begin(), veltrane::FileMarker.end());
    return out;
}

bool EndsWithMarker(const Bytes& bytes) {
    const std::size_t m = veltrane::FileMarker.size();
    return bytes.size() >= m && std::equal(veltrane::FileMarker.begin(), veltrane::FileMarker.end(), bytes.end() - m);
}

// Keys give the same keystream exactly when their key tables agree (short keys are padded with 255).
bool SameKey(const Bytes& a, const Bytes& b) {
    veltrane::KeystreamGenerator first, second;
    first.ScheduleKey(a);
    second.ScheduleKey(b);
    return first.keyTable() == second.keyTable();
}

class NoDisplay : public veltrane::ProgressDisplay {
public:
    void MakeVisible() override {}
    void SetProgress(int figure) override { Check(figure >= 0, "negative progress figure"); }
};

struct Fault {
    int Call = -1; // the file operation call that fails, counted from the start of the sequence
    int Error = EIO;
    bool Short = false; // transfer half instead of failing
};

// Runs one sequence with at most one fault; nullopt when it failed.
std::optional<FileOutcome> Run(bool encrypt, const Bytes& key, const Fault& fault) {
    veltrane::EngineUnit unit;
    unit.KeyText = key;
    unit.CurrentFileName = FilePath;
    int calls = 0;
    if (fault.Call >= 0) {
        unit.CurrentFile.SetFaultHook([&](FileOperation, std::int64_t, std::size_t& count) {
            if (calls++ != fault.Call)
                return 0;
            if (!fault.Short)
                return fault.Error;
            // A short transfer, never an empty one: an empty read is the end of the file.
            count = std::max<std::size_t>(1, count / 2);
            return 0;
        });
    }
    NoDisplay display;
    const veltrane::FileResult result =
        encrypt ? veltrane::EncryptFile(unit, display) : veltrane::DecryptFile(unit, display);
    std::optional<FileOutcome> outcome = result.Outcome;
    if (result.Outcome == FileOutcome::Failed) {
        outcome.reset();
        // Only the last sync failed: the file holds the whole result.
        if (result.Failure.Left == veltrane::FileLeft::WholeResult)
            outcome = encrypt ? FileOutcome::Encrypted : FileOutcome::Decrypted;
    }
    Check(!unit.CurrentFile.isOpen(), "the sequence left the file open");
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* base = std::getenv("VELTRANE_FUZZ_DIR");
    if (base == nullptr || *base == '\0')
        base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    if (base == nullptr || *base == '\0')
        base = "/tmp";
    std::string pattern = std::string(base) + "/veltrane-fuzz.XXXXXX";
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot make the work folder");
    WorkDir = pattern;
    FilePath = WorkDir + "/file";
    // The commands' notes go into the work folder, not the user's own state folder.
    ::setenv("XDG_STATE_HOME", (WorkDir + "/state").c_str(), 1);
    std::atexit(RemoveWorkDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto flags = input.ConsumeIntegral<std::uint8_t>();
    const Bytes key = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 300));
    Fault fault;
    if (flags & 4) {
        fault.Call = input.ConsumeIntegralInRange<int>(0, 24);
        fault.Error = input.PickValueInArray({EIO, ENOSPC, EFBIG, EROFS});
        fault.Short = (flags & 8) != 0;
    }
    const bool faultWhenDecrypting = (flags & 16) != 0;
    // With flag 2, a long file around the block boundaries: the rest of the input, stretched by a
    // simple generator to a chosen length.
    const auto length = flags & 2 ? input.ConsumeIntegralInRange<std::size_t>(0, 3 * veltrane::BlockSize + 40) : 0;
    Bytes plain = input.ConsumeRemainingBytes<std::uint8_t>();
    if (flags & 2) {
        std::uint32_t seed = static_cast<std::uint32_t>(length) * 2654435761u;
        while (plain.size() < length) {
            seed = seed * 1664525u + 1013904223u;
            plain.push_back(static_cast<std::uint8_t>(seed >> 24));
        }
        plain.resize(length);
    }
    if (flags & 1)
        plain.insert(plain.end(), veltrane::FileMarker.begin(), veltrane::FileMarker.end());

    WriteAll(plain);
    const auto encrypted = Run(true, key, faultWhenDecrypting ? Fault{} : fault);
    if (!encrypted) {
        Check(ReadAll() == plain, "a failed encryption changed the file");
        return 0;
    }
    if (EndsWithMarker(plain)) {
        Check(*encrypted == FileOutcome::AlreadyEncrypted, "a file ending with the marker was encrypted");
        Check(ReadAll() == plain, "an encryption refusal changed the file");
        // Decrypting it: almost always an invalid key; when the input carries a matching check
        // block, a real decryption.
        const auto outcome = Run(false, key, Fault{});
        Check(outcome.has_value(), "decrypting a marked file failed");
        if (*outcome == FileOutcome::InvalidKey) {
            Check(ReadAll() == plain, "an invalid-key refusal changed the file");
        } else {
            Check(*outcome == FileOutcome::Decrypted, "unexpected outcome for a marked file");
            Check(plain.size() >= 20 && EncryptedForm(ReadAll(), key) == plain, "wrong decryption of a marked file");
        }
        return 0;
    }
    Check(*encrypted == FileOutcome::Encrypted, "a plain file was not encrypted");
    const Bytes expected = EncryptedForm(plain, key);
    Check(ReadAll() == expected, "the encrypted file is not body, check block and marker");

    Check(Run(true, key, Fault{}) == FileOutcome::AlreadyEncrypted, "an encrypted file was encrypted again");
    Check(ReadAll() == expected, "encrypting again changed the file");

    Bytes otherKey = key;
    if (otherKey.empty())
        otherKey.push_back(0);
    otherKey[0] ^= static_cast<std::uint8_t>(1 + (flags >> 5));
    if (!SameKey(key, otherKey)) {
        Check(Run(false, otherKey, Fault{}) == FileOutcome::InvalidKey, "another key was accepted");
        Check(ReadAll() == expected, "decrypting with another key changed the file");
    }

    const auto decrypted = Run(false, key, faultWhenDecrypting ? fault : Fault{});
    if (!decrypted) {
        Check(ReadAll() == expected, "a failed decryption changed the file");
        return 0;
    }
    Check(*decrypted == FileOutcome::Decrypted, "the encrypted file was not decrypted");
    Check(ReadAll() == plain, "decrypt(encrypt(x)) is not x");

    Check(Run(false, key, Fault{}) == FileOutcome::NotEncrypted, "a plain file was decrypted");
    Check(ReadAll() == plain, "decrypting a plain file changed it");
    return 0;
}
