// Loading the list of files that the next run works through.

#include "main/mainform.h"

#include "main/topendialog.h"

#include <QListWidget>

namespace veltrane {

void TMainForm::FileOpen() {
    if (!m_openDialog->Execute())
        return;
    // The new choice replaces everything, leftovers of a run that stopped early included.
    FileList->clear();
    FileList->addItems(m_openDialog->Files());
    RepaintFileList();
    m_loadedCount = static_cast<std::int32_t>(FileList->count());
}

} // namespace veltrane
