// Loading the list of files that the next run works through.

#include "main/mainform.h"

#include "main/nativepath.h"
#include "main/topendialog.h"

#include <QListWidget>

namespace veltrane {

void TMainForm::FileOpen() {
    if (!m_openDialog->Execute())
        return;
    // The new choice replaces everything, leftovers of a run that stopped early included.
    FileList->clear();
    for (const QString& path : m_openDialog->Files()) {
        auto* item = new QListWidgetItem(path, FileList);
        // The entry shows the name as text and keeps the bytes it stands for beside it.
        const std::optional<QByteArray> native = NativePathOf(path);
        if (native)
            item->setData(NativeNameRole, *native);
        else
            item->setData(NameUnknownRole, true);
    }
    RepaintFileList();
    m_loadedCount = static_cast<std::int32_t>(FileList->count());
}

} // namespace veltrane
