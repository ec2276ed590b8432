#include "engine/engineunit.h"

#include <cstring>

namespace veltrane {

void EngineUnit::WipeKey() noexcept {
    // explicit_bzero is not optimised away even when nothing reads the bytes afterwards.
    if (!KeyText.empty())
        ::explicit_bzero(KeyText.data(), KeyText.size());
    KeyText.clear();
    Generator.Wipe();
    ::explicit_bzero(CheckBlock.data(), CheckBlock.size());
    EndRunKeystream();
}

void EngineUnit::BindCurrentFile() {
    if (CurrentFileEntry.Folder)
        CurrentFile.Bind(CurrentFileEntry, CurrentFileName);
    else
        CurrentFile.Bind(CurrentFileName);
}

RunKeystream& EngineUnit::KeystreamOfRun() {
    // A shared keystream of another key is left to the units that share it.
    if (!RunKey || !RunKey->Serves(KeyText))
        RunKey = std::shared_ptr<RunKeystream>(new RunKeystream(KeyText));
    return *RunKey;
}

} // namespace veltrane
