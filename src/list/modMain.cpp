#include "list/modMain.h"

#include "resolve/Sites.h"

namespace orvello {

modMain::modMain(const RunState& run, GridBinding* grid, Prompter* prompter)
    : m_run(run), feed_(grid, prompter) {}

bool modMain::AddToDownloadList(const QString& url, const QString& fileName, QString& status,
                                QString& fileSize) {
    return store_.Add(url, fileName, status, fileSize, IdentifySite(url));
}

bool modMain::UpdateDownloadItem(int16_t id, const QString& url, const QString& fileName,
                                 const QString& status, const QString& fileSize) {
    store_.Update(id, url, fileName, status, fileSize);
    return true;
}

bool modMain::AddEntryFor(const QString& url) {
    QString fileSize = EntryText::UnknownSize;
    int32_t site = IdentifySite(url);
    if (site == kSiteNotSupported && anySite_ && IsWebPageAddress(url))
        site = kSiteGeneric;
    if (site == kSiteNotSupported) {
        QString status = EntryText::LinkNotSupported;
        return store_.Add(url, EntryText::Error, status, fileSize, site);
    }
    QString status = EntryText::Waiting;
    return store_.Add(url, EntryText::AutoDetect, status, fileSize, site);
}

void modMain::AddUrlToList(const QString& url) {
    AddEntryFor(url);
    FillDownloadList();
    if (m_run.bDownloading())
        FindCurrentRow();
}

qsizetype modMain::AddUrlsToList(const QStringList& urls) {
    if (urls.isEmpty())
        return 0;
    qsizetype leftOut = 0;
    for (const QString& url : urls) {
        if (!AddEntryFor(url))
            ++leftOut;
    }
    FillDownloadList();
    if (m_run.bDownloading())
        FindCurrentRow();
    return leftOut;
}

bool modMain::RemoveFromDownloadList(int16_t id) {
    return RemoveFromDownloadList(QSet<int16_t>{id});
}

bool modMain::RemoveFromDownloadList(const QSet<int16_t>& ids) {
    return store_.Remove(ids);
}

void modMain::MoveItemUp(int16_t id) {
    store_.MoveUp(id);
}

void modMain::MoveItemDown(int16_t id) {
    store_.MoveDown(id);
}

bool modMain::FillDownloadList() {
    return feed_.Fill(store_);
}

bool modMain::FormatDownloadGrid(bool bInit) {
    feed_.Format(bInit);
    return true;
}

void modMain::FindCurrentRow() {
    feed_.FindRow(iCurrentItem(), m_run.currentKey());
}

bool modMain::RetryEntries(const QSet<quint64>& keys) {
    bool any = false;
    for (quint64 key : keys)
        any |= store_.Retry(key);
    if (any)
        FillDownloadList();
    return any;
}

bool modMain::SearchPages(const QSet<quint64>& keys) {
    bool any = false;
    for (quint64 key : keys)
        any |= store_.SearchPage(key, kSiteGeneric);
    if (any)
        FillDownloadList();
    return any;
}

void modMain::RestoreEntries(std::vector<DownloadItem> entries) {
    for (DownloadItem& item : entries) {
        // A page searched for a video stays one; any other entry's site is found afresh.
        if (item.SiteCode != kSiteGeneric)
            item.SiteCode =
                IdentifySite(item.PageAddress.isEmpty() ? item.Video_URL : item.PageAddress);
        switch (item.State) {
        case EntryState::Preparing:
        case EntryState::StartDownloading:
        case EntryState::Transferring:
        case EntryState::TransferringUnsized:
        case EntryState::Retrying:
            // It was under way when the list was written: the program ended during it.
            item.State = EntryState::Cancelled;
            item.Progress = 0;
            item.Status = EntryText::Cancelled;
            item.TransferNote.clear();
            break;
        default:
            break;
        }
    }
    store_.Restore(std::move(entries));
    if (store_.empty())
        feed_.ResetLayout();
    FillDownloadList();
}

void modMain::ShowTransferNote(quint64 key, const QString& note) {
    store_.SetTransferNote(key, note);
    if (const DownloadItem* entry = store_.ByKey(key))
        feed_.ShowRunningStatus(*entry, store_.IndexOfKey(key));
}

void modMain::ShowRunningStatus(quint64 key, EntryState state, qint64 progress) {
    if (!store_.SetState(key, state, progress))
        return; // nothing changes on screen
    if (const DownloadItem* entry = store_.ByKey(key))
        feed_.ShowRunningStatus(*entry, store_.IndexOfKey(key));
}

} // namespace orvello
