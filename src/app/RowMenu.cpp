#include "app/RowMenu.h"

#include "app/DownloadGrid.h"
#include "common/Prompter.h"
#include "list/DownloadTableModel.h"
#include "list/FinishedFile.h"
#include "list/modMain.h"

#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace orvello {

namespace {

// An entry whose record names a file the program finished into a folder; whether it is
// still there is looked at when it is opened.
bool finished(const DownloadItem& e) {
    QString path;
    return FinishedFileOf(e, &path) != FinishedFile::None;
}

bool failed(const DownloadItem& e) {
    return e.State == EntryState::Error || e.State == EntryState::Cancelled;
}

} // namespace

RowMenu::RowMenu(DownloadGrid& grid, modMain& list, Prompter& prompter, Actions actions)
    : grid_(grid), list_(list), prompter_(prompter), actions_(std::move(actions)),
      menu_(new QMenu(&grid)) {
    menu_->setObjectName(QStringLiteral("rowMenu"));
    menu_->setAccessibleName(QStringLiteral("Selected entries"));
    openFile = menu_->addAction(QStringLiteral("&Open file"), this, &RowMenu::OpenFiles);
    openFolder =
        menu_->addAction(QStringLiteral("Open containing &folder"), this, &RowMenu::OpenFolders);
    menu_->addSeparator();
    copyAddress =
        menu_->addAction(QStringLiteral("&Copy page address"), this, &RowMenu::CopyAddresses);
    tryAgain = menu_->addAction(QStringLiteral("&Try again"), this, &RowMenu::TryAgain);
    searchPage = menu_->addAction(QStringLiteral("&Look for a video on this page"), this,
                                  &RowMenu::SearchPage);
    menu_->addSeparator();
    remove = menu_->addAction(QStringLiteral("&Remove"), this, &RowMenu::Remove);
    // Shown beside the item; the grid takes the key itself.
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
}

QList<quint64> RowMenu::selectedKeys() const {
    const DownloadTableModel* rows = list_.BoundRecordset();
    const QItemSelectionModel* selection = grid_.selectionModel();
    if (!rows || !selection || selection->model() != rows)
        return {};
    QSet<quint64> keys;
    for (const QModelIndex& cell : selection->selectedIndexes()) {
        const quint64 key = rows->record(cell.row()).Key;
        if (key != 0 && list_.EntryByKey(key))
            keys.insert(key);
    }
    QList<quint64> ordered(keys.begin(), keys.end());
    std::sort(ordered.begin(), ordered.end(),
              [this](quint64 a, quint64 b) { return list_.IndexOfKey(a) < list_.IndexOfKey(b); });
    return ordered;
}

void RowMenu::Popup(const QPoint& globalPos) {
    if (menu_->isVisible())
        return;
    keys_ = selectedKeys();
    if (keys_.isEmpty())
        return;
    bool anyFinished = false, anyFailed = false, anyUnsupported = false;
    for (quint64 key : std::as_const(keys_)) {
        const DownloadItem* e = list_.EntryByKey(key);
        anyFinished |= finished(*e);
        anyFailed |= failed(*e);
        anyUnsupported |= EntryStore::NoSiteKnows(*e);
    }
    openFile->setEnabled(anyFinished);
    openFolder->setEnabled(anyFinished);
    tryAgain->setEnabled(anyFailed);
    searchPage->setEnabled(anyUnsupported);
    menu_->popup(globalPos);
}

QStringList RowMenu::finishedFiles(QStringList* problems) const {
    QStringList paths;
    for (quint64 key : keys_) {
        const DownloadItem* e = list_.EntryByKey(key);
        QString path;
        switch (e ? FinishedFileOf(*e, &path) : FinishedFile::None) {
        case FinishedFile::None:
            break;
        case FinishedFile::Present:
            paths << path;
            break;
        case FinishedFile::Gone:
            *problems << QStringLiteral("The file %1 is no longer there.").arg(path);
            break;
        case FinishedFile::Replaced:
            *problems << QStringLiteral("%1 is no longer the file that was downloaded; it is "
                                        "not opened.")
                             .arg(path);
            break;
        }
    }
    return paths;
}

void RowMenu::say(const QStringList& problems) {
    for (const QString& problem : problems)
        prompter_.MsgBox({problem, MsgButtons::Ok, MsgIcon::Exclamation});
}

void RowMenu::open(const QString& path, bool folder, QStringList* problems) {
    if (!QFileInfo::exists(path))
        *problems << (folder ? QStringLiteral("The folder %1 is no longer there.")
                             : QStringLiteral("The file %1 is no longer there."))
                         .arg(path);
    else if (!actions_.openUrl(QUrl::fromLocalFile(path)))
        *problems << (folder ? QStringLiteral("No application is set up to open the folder %1.")
                             : QStringLiteral("No application is set up to open %1."))
                         .arg(path);
}

void RowMenu::OpenFiles() {
    QStringList problems;
    for (const QString& path : finishedFiles(&problems))
        open(path, false, &problems);
    say(problems);
}

void RowMenu::OpenFolders() {
    QStringList problems, folders;
    for (const QString& path : finishedFiles(&problems)) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!folders.contains(folder))
            folders << folder;
    }
    for (const QString& folder : std::as_const(folders))
        open(folder, true, &problems);
    say(problems);
}

void RowMenu::CopyAddresses() {
    QStringList addresses;
    for (quint64 key : std::as_const(keys_)) {
        if (const DownloadItem* e = list_.EntryByKey(key))
            addresses << (e->PageAddress.isEmpty() ? e->Video_URL : e->PageAddress);
    }
    if (!addresses.isEmpty())
        actions_.copyText(addresses.join(QLatin1Char('\n')));
}

void RowMenu::TryAgain() {
    list_.RetryEntries(QSet<quint64>(keys_.begin(), keys_.end()));
}

void RowMenu::SearchPage() {
    list_.SearchPages(QSet<quint64>(keys_.begin(), keys_.end()));
}

void RowMenu::Remove() {
    QSet<int16_t> ids;
    for (quint64 key : std::as_const(keys_)) {
        const int index = list_.IndexOfKey(key);
        if (index >= 0)
            ids.insert(int16_t(index + 1));
    }
    if (!ids.isEmpty())
        list_.RemoveFromDownloadList(ids);
    // As Remove selected: an emptied list gets its layout afresh with its next entries.
    if (list_.IsDownloadListEmpty())
        list_.ResetLayout();
    list_.FillDownloadList();
}

} // namespace orvello
