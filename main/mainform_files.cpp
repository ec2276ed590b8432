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
    const QStringList& files = m_openDialog->Files();
    for (qsizetype n = 0; n < files.size(); ++n) {
        // The entry shows the name as text and keeps the bytes it stands for beside it; an entry
        // whose text stands for several names keeps none.
        auto* item = new QListWidgetItem(files[n], FileList);
        if (const std::optional<QByteArray>& native = m_openDialog->NativeFiles()[static_cast<std::size_t>(n)])
            item->setData(NativeNameRole, *native);
    }
    RepaintFileList();
    m_loadedCount = static_cast<std::int32_t>(FileList->count());
}

} // namespace veltrane
