#include "list/EntryStore.h"

#include "list/EntryStatus.h"
#include "resolve/Sites.h"

#include <limits>
#include <new>
#include <utility>

namespace orvello {

namespace {
// The progress value of an entry whose status text was given, not rendered from its state:
// the next change of state renders it, whatever the values.
constexpr qint64 kUnrendered = std::numeric_limits<qint64>::min();
} // namespace

int EntryStore::AddObserver(std::function<void(const ListChange&)> observer) {
    observers_.emplace_back(++lastObserver_, std::move(observer));
    return lastObserver_;
}

void EntryStore::RemoveObserver(int id) {
    std::erase_if(observers_, [id](const auto& o) { return o.first == id; });
}

void EntryStore::changed(ListChange change) {
    if (listener_)
        listener_();
    if (observers_.empty())
        return;
    // A copy: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers)
        observer(change);
}

bool EntryStore::Add(const QString& url, const QString& fileName, QString& status,
                     QString& fileSize, int32_t siteCode) {
    if (addresses_.contains(url))
        return true;
    if (entries_.size() >= std::size_t(kCapacity))
        return false;
    if (status.isEmpty())
        status = EntryText::Waiting;
    if (fileSize.isEmpty())
        fileSize = EntryText::UnknownSize;
    const std::size_t before = entries_.size();
    try {
        DownloadItem item;
        item.ID = int16_t(before + 1);
        item.Video_URL = url;
        item.FileName = fileName;
        item.Status = status;
        item.FileSize = fileSize;
        item.State = EntryStateOfText(status);
        item.Progress = kUnrendered;
        item.Key = ++lastKey_;
        item.PageAddress = url;
        item.SiteCode = siteCode;
        entries_.push_back(std::move(item));
        changed_.push_back(0);
        positions_.insert(entries_.back().Key, int(before));
        addresses_[url] += 1;
    } catch (const std::bad_alloc&) {
        // Nothing half-added: the list and its indexes go back to what they were, and the
        // next fill shows the list afresh.
        entries_.resize(before);
        reindex();
        reordered_ = true;
        return false;
    }
    changed({ListChange::Kind::Added, entries_.back().Key});
    return true;
}

const DownloadItem* EntryStore::At(int index) const {
    if (index < 0 || std::size_t(index) >= entries_.size())
        return nullptr;
    return &entries_[std::size_t(index)];
}

int EntryStore::indexOf(quint64 key) const {
    return key == 0 ? -1 : positions_.value(key, -1);
}

int EntryStore::IndexOfKey(quint64 key) const {
    return indexOf(key);
}

const DownloadItem* EntryStore::ByKey(quint64 key) const {
    return At(indexOf(key));
}

EntryStore::Editing::Editing(EntryStore& store, int index) : store_(store) {
    if (index < 0 || std::size_t(index) >= store.entries_.size())
        return;
    if (!store.changed_[std::size_t(index)]) {
        store.changed_[std::size_t(index)] = 1;
        store.changedRows_.push_back(index);
    }
    item_ = &store.entries_[std::size_t(index)];
    key_ = item_->Key;
}

EntryStore::Editing::~Editing() {
    if (item_)
        store_.changed({ListChange::Kind::Changed, key_});
}

bool EntryStore::SetState(quint64 key, EntryState state, qint64 progress) {
    const int index = indexOf(key);
    const DownloadItem* now = At(index);
    // The text is a function of the two values, so equal values need no new text: the
    // progress of a video comes once a block, mostly with the value of the block before.
    if (!now || (now->State == state && now->Progress == progress))
        return false;
    const Editing item = edit(index);
    item->State = state;
    item->Progress = progress;
    item->Status = EntryStatusText(state, progress);
    return true;
}

void EntryStore::SetFileName(quint64 key, const QString& name) {
    if (const Editing item = edit(indexOf(key)))
        item->FileName = name;
}

void EntryStore::SetFileSize(quint64 key, const QString& sizeText, qint64 expectedBytes,
                             bool fileReported) {
    if (const Editing item = edit(indexOf(key))) {
        item->FileSize = sizeText;
        item->ExpectedBytes = expectedBytes;
        item->FileReported = fileReported;
    }
}

void EntryStore::SetVideoUrl(quint64 key, const QString& url) {
    const Editing item = edit(indexOf(key));
    if (!item || item->Video_URL == url)
        return;
    if (--addresses_[item->Video_URL] == 0)
        addresses_.remove(item->Video_URL);
    item->Video_URL = url;
    addresses_[url] += 1;
}

void EntryStore::Update(int16_t id, const QString& url, const QString& fileName,
                        const QString& status, const QString& fileSize) {
    const DownloadItem* item = At(int(id) - 1);
    if (!item)
        return;
    const quint64 key = item->Key;
    if (!url.isEmpty())
        SetVideoUrl(key, url);
    const Editing e = edit(int(id) - 1);
    if (!fileName.isEmpty())
        e->FileName = fileName;
    if (!status.isEmpty()) {
        e->Status = status;
        e->State = EntryStateOfText(status);
        e->Progress = kUnrendered;
    }
    if (!fileSize.isEmpty())
        e->FileSize = fileSize;
}

bool EntryStore::Remove(const QSet<int16_t>& ids) {
    if (entries_.empty())
        return false;
    // One pass, however many go: the result of removing them one by one, highest first.
    std::vector<DownloadItem> kept;
    kept.reserve(entries_.size());
    std::vector<quint64> gone;
    QSet<QString> seen;
    seen.reserve(qsizetype(entries_.size()));
    for (DownloadItem& item : entries_) {
        if (ids.contains(item.ID) || seen.contains(item.Video_URL)) {
            gone.push_back(item.Key);
            continue;
        }
        seen.insert(item.Video_URL);
        item.ID = int16_t(kept.size() + 1);
        if (item.Status.isEmpty()) {
            item.Status = EntryText::Waiting;
            item.State = EntryState::Waiting;
        }
        if (item.FileSize.isEmpty())
            item.FileSize = EntryText::UnknownSize;
        kept.push_back(std::move(item));
    }
    entries_ = std::move(kept);
    reindex();
    reordered_ = true;
    if (gone.empty())
        changed({ListChange::Kind::Moved, 0});
    for (quint64 key : gone)
        changed({ListChange::Kind::Removed, key});
    return true;
}

void EntryStore::swap(int a, int b) {
    std::swap(entries_[std::size_t(a)], entries_[std::size_t(b)]);
    std::swap(entries_[std::size_t(a)].ID, entries_[std::size_t(b)].ID);
    positions_[entries_[std::size_t(a)].Key] = a;
    positions_[entries_[std::size_t(b)].Key] = b;
    reordered_ = true;
    changed({ListChange::Kind::Moved, 0});
}

void EntryStore::MoveUp(int16_t id) {
    const int i = int(id) - 1;
    if (i >= 1 && std::size_t(i) < entries_.size())
        swap(i - 1, i);
}

void EntryStore::MoveDown(int16_t id) {
    const int i = int(id) - 1;
    if (i >= 0 && std::size_t(i) + 1 < entries_.size())
        swap(i, i + 1);
}

void EntryStore::SetReason(quint64 key, const QString& reason) {
    if (const Editing item = edit(indexOf(key)))
        item->Reason = reason;
}

void EntryStore::SetSavedPath(quint64 key, const QString& path) {
    if (const Editing item = edit(indexOf(key)))
        item->SavedPath = path;
}

void EntryStore::SetTransferNote(quint64 key, const QString& note) {
    const DownloadItem* now = ByKey(key);
    if (!now || now->TransferNote == note)
        return;
    edit(indexOf(key))->TransferNote = note;
}

bool EntryStore::Retry(quint64 key) {
    const DownloadItem* now = ByKey(key);
    if (!now || (now->State != EntryState::Error && now->State != EntryState::Cancelled))
        return false;
    if (!now->PageAddress.isEmpty())
        SetVideoUrl(key, now->PageAddress);
    const Editing item = edit(indexOf(key));
    // The names a failure writes are no names the user gave: the resolution finds one again.
    if (item->FileName == EntryText::ProcessFailed ||
        item->FileName == EntryText::UnsupportedLink ||
        item->FileName.startsWith(QLatin1String("Could not replace the scratch file ")))
        item->FileName = EntryText::AutoDetect;
    item->State = EntryState::Waiting;
    item->Progress = 0;
    item->Status = EntryText::Waiting;
    item->FileSize = EntryText::UnknownSize;
    item->ExpectedBytes = -1;
    item->FileReported = false;
    item->Reason.clear();
    item->SavedPath.clear();
    item->TransferNote.clear();
    return true;
}

bool EntryStore::NoSiteKnows(const DownloadItem& e) {
    return e.State == EntryState::Unsupported ||
           (e.State == EntryState::Error && e.SiteCode == kSiteNotSupported);
}

bool EntryStore::SearchPage(quint64 key, int32_t siteCode) {
    const DownloadItem* now = ByKey(key);
    if (!now || !NoSiteKnows(*now))
        return false;
    if (!now->PageAddress.isEmpty())
        SetVideoUrl(key, now->PageAddress);
    const Editing item = edit(indexOf(key));
    item->SiteCode = siteCode;
    item->FileName = EntryText::AutoDetect;
    item->State = EntryState::Waiting;
    item->Progress = 0;
    item->Status = EntryText::Waiting;
    item->FileSize = EntryText::UnknownSize;
    item->Reason.clear();
    return true;
}

void EntryStore::Restore(std::vector<DownloadItem> entries) {
    std::vector<DownloadItem> kept;
    QSet<QString> seen;
    for (DownloadItem& item : entries) {
        if (kept.size() >= std::size_t(kCapacity))
            break;
        if (seen.contains(item.Video_URL))
            continue;
        seen.insert(item.Video_URL);
        item.ID = int16_t(kept.size() + 1);
        item.Key = ++lastKey_;
        if (item.PageAddress.isEmpty())
            item.PageAddress = item.Video_URL;
        // A text read back is not shown as it was stored: the state says what the entry is.
        item.Status = EntryStatusText(item.State, item.Progress);
        kept.push_back(std::move(item));
    }
    entries_ = std::move(kept);
    reindex();
    reordered_ = true;
    changed({ListChange::Kind::Replaced, 0});
}

void EntryStore::reindex() {
    positions_.clear();
    addresses_.clear();
    positions_.reserve(qsizetype(entries_.size()));
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        positions_.insert(entries_[i].Key, int(i));
        addresses_[entries_[i].Video_URL] += 1;
    }
    changed_.assign(entries_.size(), 0);
    changedRows_.clear();
}

EntryStore::Changes EntryStore::TakeChanges() {
    Changes c;
    c.reordered = std::exchange(reordered_, false);
    if (!c.reordered)
        c.rows = std::move(changedRows_);
    changedRows_.clear();
    for (int row : c.rows)
        changed_[std::size_t(row)] = 0;
    if (c.reordered)
        changed_.assign(entries_.size(), 0);
    return c;
}

} // namespace orvello
