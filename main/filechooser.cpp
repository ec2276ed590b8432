#include "main/filechooser.h"

#include "main/nativepath.h"
#include "main/topendialog.h"
#include "main/windowphrases.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace veltrane {

namespace {

// Item data: the entry's name as bytes, and whether it is a folder.
constexpr int NativeNameRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;

QByteArray Joined(const QByteArray& folder, const QByteArray& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray ParentOf(const QByteArray& folder) {
    const qsizetype slash = folder.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : folder.left(slash);
}

struct Entry {
    QByteArray name;
    QString text;
    bool folder;
    qint64 size;
    qint64 modified;
};

// The folders and ordinary files of `folder` (links followed), hidden ones left out, folders first,
// each group in the user's alphabetical order.
std::vector<Entry> ListEntries(const QByteArray& folder) {
    std::vector<Entry> entries;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.constData()), ::closedir);
    if (!dir)
        return entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &status, 0) != 0)
            continue;
        if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode))
            continue;
        const QByteArray name(entry->d_name);
        entries.push_back({name, QFile::decodeName(name), S_ISDIR(status.st_mode), qint64(status.st_size),
                           qint64(status.st_mtim.tv_sec)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.folder != b.folder)
            return a.folder;
        const int order = QString::localeAwareCompare(a.text, b.text);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return entries;
}

} // namespace

FileChooser::FileChooser(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FileChooser"));
    setWindowTitle(QStringLiteral("Open"));
    BuildControls();
    resize(720, 420);
    m_frameWatch.setInterval(20);
    connect(&m_frameWatch, &QTimer::timeout, this, &FileChooser::WatchForFrame);
    OpenFolder(StartFolder());
}

QByteArray FileChooser::StartFolder() {
    const QByteArray working = QFile::encodeName(QDir::currentPath());
    return working == "/" ? QFile::encodeName(QDir::homePath()) : working;
}

void FileChooser::BuildControls() {
    auto* lookInLabel = new QLabel(QStringLiteral("Look &in:"), this);
    m_lookIn = new QComboBox(this);
    m_lookIn->setObjectName(QStringLiteral("LookIn"));
    m_lookIn->setAccessibleName(QStringLiteral("Look in"));
    lookInLabel->setBuddy(m_lookIn);
    m_up = new QToolButton(this);
    m_up->setObjectName(QStringLiteral("UpButton"));
    m_up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    m_up->setToolTip(QStringLiteral("Up one level"));
    m_up->setAccessibleName(QStringLiteral("Up one level"));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("FolderList"));
    m_list->setAccessibleName(QStringLiteral("Files and folders"));
    m_list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date Modified")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);

    auto* nameLabel = new QLabel(QStringLiteral("File &name:"), this);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("FileNameEdit"));
    m_name->setAccessibleName(QStringLiteral("File name"));
    nameLabel->setBuddy(m_name);
    auto* filterLabel = new QLabel(QStringLiteral("Files of &type:"), this);
    auto* filter = new QComboBox(this);
    filter->setObjectName(QStringLiteral("FileTypeCombo"));
    filter->setAccessibleName(QStringLiteral("Files of type"));
    filter->addItem(TOpenDialog::FilterText);
    filterLabel->setBuddy(filter);

    auto* open = new QPushButton(QStringLiteral("&Open"), this);
    open->setObjectName(QStringLiteral("OpenButton"));
    open->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelButton"));

    // The places to jump to: the home folder, the usual folders in it that exist, and the root.
    m_places = new QListWidget(this);
    m_places->setObjectName(QStringLiteral("Places"));
    m_places->setAccessibleName(QStringLiteral("Places"));
    m_places->setMaximumWidth(150);
    const auto addPlace = [this](const QString& name, const QString& path) {
        if (path.isEmpty() || !QFileInfo(path).isDir())
            return;
        for (int row = 0; row < m_places->count(); ++row)
            if (m_places->item(row)->data(Qt::UserRole).toByteArray() == QFile::encodeName(path))
                return;
        auto* item = new QListWidgetItem(style()->standardIcon(QStyle::SP_DirIcon), name, m_places);
        item->setData(Qt::UserRole, QFile::encodeName(path));
    };
    addPlace(QStringLiteral("Home"), QDir::homePath());
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation,
          QStandardPaths::PicturesLocation, QStandardPaths::MusicLocation, QStandardPaths::MoviesLocation})
        if (const QString path = QStandardPaths::writableLocation(location); path != QDir::homePath())
            addPlace(QStandardPaths::displayName(location), path);
    addPlace(QStringLiteral("Computer"), QStringLiteral("/"));
    const auto openPlace = [this](QListWidgetItem* item) { OpenFolder(item->data(Qt::UserRole).toByteArray()); };
    connect(m_places, &QListWidget::itemClicked, this, openPlace);
    connect(m_places, &QListWidget::itemActivated, this, openPlace);

    auto* grid = new QGridLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(lookInLabel);
    top->addWidget(m_lookIn, 1);
    top->addWidget(m_up);
    grid->addLayout(top, 0, 0, 1, 3);
    auto* middle = new QHBoxLayout;
    middle->addWidget(m_places);
    middle->addWidget(m_list, 1);
    grid->addLayout(middle, 1, 0, 1, 3);
    grid->addWidget(nameLabel, 2, 0);
    grid->addWidget(m_name, 2, 1);
    grid->addWidget(open, 2, 2);
    grid->addWidget(filterLabel, 3, 0);
    grid->addWidget(filter, 3, 1);
    grid->addWidget(cancel, 3, 2);

    connect(m_up, &QToolButton::clicked, this, [this] { OpenFolder(ParentOf(m_folder)); });
    connect(m_lookIn, &QComboBox::activated, this,
            [this](int index) { OpenFolder(m_lookIn->itemData(index).toByteArray()); });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &FileChooser::SelectionChanged);
    connect(m_list, &QTreeWidget::itemActivated, this, &FileChooser::ItemActivated);
    connect(open, &QPushButton::clicked, this, &FileChooser::accept);
    connect(cancel, &QPushButton::clicked, this, &FileChooser::reject);
    m_name->setFocus();
}

void FileChooser::SelectFile(const QByteArray& nativePath) {
    if (nativePath.isEmpty())
        return;
    OpenFolder(ParentOf(nativePath));
    const QByteArray name = nativePath.mid(nativePath.lastIndexOf('/') + 1);
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = m_list->topLevelItem(row);
        if (item->data(0, NativeNameRole).toByteArray() == name) {
            m_list->setCurrentItem(item);
            return;
        }
    }
    m_name->setText(QFile::decodeName(name));
}

void FileChooser::OpenFolder(const QByteArray& folder) {
    struct stat status {};
    if (::stat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        Refuse(RefusalText(QFile::decodeName(folder), NoSuchFolderReason));
        return;
    }
    m_folder = folder;
    // The folder and every folder above it, nearest last, to jump up to.
    m_lookIn->clear();
    QByteArrayList chain{folder};
    while (chain.front() != "/")
        chain.prepend(ParentOf(chain.front()));
    for (const QByteArray& step : chain)
        m_lookIn->addItem(style()->standardIcon(QStyle::SP_DirIcon), QFile::decodeName(step), step);
    m_lookIn->setCurrentIndex(m_lookIn->count() - 1);
    m_up->setEnabled(folder != "/");
    m_name->clear();
    ListFolder();
}

void FileChooser::ListFolder() {
    m_list->clear();
    m_selected.clear();
    m_nameFromSelection.clear();
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    const QLocale locale;
    for (const Entry& entry : ListEntries(m_folder)) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, entry.text);
        item->setIcon(0, entry.folder ? folderIcon : fileIcon);
        if (!entry.folder)
            item->setText(1, locale.formattedDataSize(entry.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, locale.toString(QDateTime::fromSecsSinceEpoch(entry.modified), QLocale::ShortFormat));
        item->setData(0, NativeNameRole, entry.name);
        item->setData(0, FolderRole, entry.folder);
    }
    m_list->resizeColumnToContents(1);
    m_list->resizeColumnToContents(2);
}

void FileChooser::SelectionChanged() {
    std::vector<QByteArray> files;
    QStringList names;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_list->topLevelItem(row);
        if (!item->isSelected() || item->data(0, FolderRole).toBool())
            continue;
        files.push_back(Joined(m_folder, item->data(0, NativeNameRole).toByteArray()));
        names.append(item->text(0));
    }
    if (files.empty())
        return;
    m_selected = std::move(files);
    if (names.size() == 1) {
        m_nameFromSelection = names.front();
    } else {
        for (QString& name : names)
            name = QLatin1Char('"') + name + QLatin1Char('"');
        m_nameFromSelection = names.join(QLatin1Char(' '));
    }
    m_name->setText(m_nameFromSelection);
}

void FileChooser::ItemActivated(QTreeWidgetItem* item) {
    if (item->data(0, FolderRole).toBool())
        OpenFolder(Joined(m_folder, item->data(0, NativeNameRole).toByteArray()));
    else
        accept();
}

QStringList FileChooser::TypedNames(const QString& text) {
    if (!text.contains(QLatin1Char('"')))
        return text.trimmed().isEmpty() ? QStringList{} : QStringList{text.trimmed()};
    QStringList names;
    const QStringList parts = text.split(QLatin1Char('"'));
    // Odd parts lie between a pair of quotes; what lies between the pairs is only the blanks that
    // separate them.
    for (qsizetype n = 1; n < parts.size(); n += 2)
        if (!parts[n].isEmpty())
            names.append(parts[n]);
    return names;
}

QByteArray FileChooser::NativeOfTyped(const QString& name, bool& ambiguous) const {
    ambiguous = false;
    QString path = name;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (path.startsWith(QLatin1Char('/'))) {
        const std::optional<QByteArray> native = NativePathOf(path);
        ambiguous = !native;
        return native.value_or(QByteArray());
    }
    // A name in the listed folder, whose own bytes stay as they are even where they are not text. A
    // name with a replacement character stands for the listed entry that reads as it, if only one
    // does.
    if (!path.contains(QChar(0xFFFD)))
        return Joined(m_folder, QFile::encodeName(path));
    int matches = 0;
    QByteArray match;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = m_list->topLevelItem(row);
        if (item->text(0) == path) {
            match = item->data(0, NativeNameRole).toByteArray();
            ++matches;
        }
    }
    ambiguous = matches > 1;
    return Joined(m_folder, matches == 1 ? match : QFile::encodeName(path));
}

QString FileChooser::Refusal(const QByteArray& native) {
    const QString shown = QFile::decodeName(native);
    struct stat status {};
    if (::stat(native.constData(), &status) != 0)
        return RefusalText(shown, NoSuchFileReason);
    if (!S_ISREG(status.st_mode))
        return RefusalText(shown, NotOrdinaryFileReason);
    if (TOpenDialog::IsReadOnly(native))
        return RefusalText(shown, ReadOnlyReason);
    return {};
}

void FileChooser::accept() {
    const QString text = m_name->text();
    std::vector<QByteArray> natives;
    if (!m_nameFromSelection.isEmpty() && text == m_nameFromSelection) {
        natives = m_selected;
    } else {
        for (const QString& name : TypedNames(text)) {
            bool ambiguous = false;
            const QByteArray native = NativeOfTyped(name, ambiguous);
            if (ambiguous) {
                Refuse(RefusalText(name, AmbiguousNameReason));
                return;
            }
            natives.push_back(native);
        }
    }
    if (natives.empty()) {
        // Nothing named: Open on a selected folder enters it.
        const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
        if (selected.size() == 1 && selected.front()->data(0, FolderRole).toBool())
            ItemActivated(selected.front());
        return;
    }
    struct stat status {};
    if (natives.size() == 1 && ::stat(natives.front().constData(), &status) == 0 && S_ISDIR(status.st_mode)) {
        OpenFolder(natives.front());
        return;
    }
    for (const QByteArray& native : natives) {
        if (const QString refusal = Refusal(native); !refusal.isEmpty()) {
            Refuse(refusal);
            return;
        }
    }
    m_chosen = std::move(natives);
    QDialog::accept();
}

void FileChooser::Refuse(const QString& text) {
    QMessageBox::warning(this, windowTitle(), text);
}

QPoint FileChooser::PlacedPosition(const QRect& screen, const QSize& outer) {
    return {screen.left() + (screen.width() - outer.width()) / 2,
            screen.top() + (screen.height() - outer.height()) / 3};
}

void FileChooser::Place() {
    const QScreen* where = screen();
    if (where == nullptr)
        return;
    QSize outer = frameGeometry().size();
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    if (outer == size() && owner != nullptr) {
        // Not framed yet, or the toolkit has not heard of the frame: the manager frames the dialog
        // as it framed the window it belongs to.
        outer += owner->frameGeometry().size() - owner->size();
    }
    move(PlacedPosition(where->geometry(), outer));
}

bool FileChooser::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::Show && m_placePending) {
        m_placePending = false;
        Place();
        // The outer size counts the window manager's frame, which is known only once the manager
        // has framed the dialog: with some managers by its first paint, with others later, and no
        // event tells of it (the toolkit learns of the frame only when asked). So look for it for a
        // while after showing, and place the dialog again, once, when it is there.
        m_frameChecks = 0;
        m_frameWatch.start();
    }
    return handled;
}

void FileChooser::WatchForFrame() {
    constexpr int MostChecks = 50; // about a second
    if (frameGeometry() != geometry()) {
        m_frameWatch.stop();
        Place();
    } else if (++m_frameChecks >= MostChecks) {
        m_frameWatch.stop();
    }
}

} // namespace veltrane
