#include "words/failuresentence.h"

#include <cctype>
#include <cstddef>
#include <iterator>
#include <system_error>

namespace veltrane {

namespace {

const char* const PartWayWords =
    "; the file is left part-way, and the next command on it with the same key finishes or undoes it";

// In the order of FailedOperation.
constexpr const char* OperationWords[] = {
    "read",       "write",   "write to the disk", "truncate", "move within", "get the size of", "get the state of",
    "go on with", "work on", "encrypt",           "decrypt"};
static_assert(std::size(OperationWords) == static_cast<std::size_t>(FailedOperation::Decrypt) + 1);

std::string Cannot(const FileFailure& failure, const std::string& named) {
    return "Cannot " + std::string(OperationWords[static_cast<std::size_t>(failure.Operation)]) + named + ": ";
}

std::string InBrackets(const std::string& reason) {
    return reason.empty() ? std::string() : " (" + reason + ")";
}

std::string LeftWords(const FileFailure& failure) {
    const bool encrypting = failure.PartWayThrough == FailedOperation::Encrypt;
    switch (failure.Left) {
    case FileLeft::NotSaid:
        break;
    case FileLeft::Unchanged:
        return "; the file was left unchanged";
    case FileLeft::AsItIs:
        return "; the file was left as it is";
    case FileLeft::Restored:
        return "; the file was restored";
    case FileLeft::WholeResult:
        return "; the file holds the whole result, but the disk did not confirm that it is stored";
    case FileLeft::RestoreFailed:
        return "; restoring it failed too" + InBrackets(failure.UndoReason) + PartWayWords;
    case FileLeft::NoneChanged:
        return "; none of its bytes had been changed";
    case FileLeft::PutBackFailed:
        return "; putting it back failed too" + InBrackets(failure.UndoReason) + ", so the file is left as it is now";
    case FileLeft::PutBackBeforeAdded:
        return "; its own bytes were put back, but the " + std::to_string(failure.AddedBytes) +
               " bytes this program had added after byte " + std::to_string(failure.AddedAfter) +
               " (blanked) are still there, before what was added";
    case FileLeft::NotWrittenUnchanged:
        return "; it was not written further, and none of its bytes had been changed";
    case FileLeft::NotWrittenAsItIs:
        return "; it was not written further, so the file is left as it is now";
    case FileLeft::NotWrittenPartWay:
        return std::string("; it was not written further, so the file is left part-way: ") +
               (encrypting ? "Encrypt" : "Decrypt") +
               " with the same key finishes it, leaving what the other program wrote as it is";
    case FileLeft::RecoveryPartWay:
        return std::string("; the file is left part-way through the interrupted ") +
               (encrypting ? "encryption" : "decryption") +
               ", and the next command on it with the same key finishes or undoes it";
    }
    return {};
}

// A failure that is not the engine's own in the engine's kind of words: "out of memory", the system's
// reason, or what it said.
std::string UnforeseenReason(const FileFailure& failure) {
    if (failure.Cause == FailureCause::OutOfMemory)
        return "out of memory";
    if (failure.Reason.empty() && failure.Errno == 0)
        return "an unknown failure";
    std::string reason = failure.Errno != 0 ? std::system_category().message(failure.Errno) : failure.Reason;
    if (!reason.empty())
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

} // namespace

std::string FailureSentence(const FileResult& result, const std::string& shownPath) {
    const FileFailure& failure = result.Failure;
    const std::string named = " \"" + shownPath + "\"";
    switch (failure.Cause) {
    case FailureCause::Interrupted:
        return "Interrupted while working on" + named + LeftWords(failure);
    case FailureCause::OutOfMemory:
    case FailureCause::Other:
        // The engine has put the file back already, or kept its part-way state where it could not.
        return Cannot(failure, named) + UnforeseenReason(failure) +
               (result.PartWay ? PartWayWords : "; the file was left as it was");
    case FailureCause::Engine:
    case FailureCause::Changed:
        break;
    }
    return Cannot(failure, named) + failure.Reason + LeftWords(failure);
}

} // namespace veltrane
