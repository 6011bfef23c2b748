#pragma once

#include "common/DownloadItem.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace orvello {

// One change of the list, as its observers hear it.
struct ListChange {
    enum class Kind {
        Added,    // the entry `key` was appended
        Changed,  // a field of the entry `key` changed
        Removed,  // the entry `key` is gone
        Moved,    // the entries changed places
        Replaced, // the whole list was replaced (read back from disk)
    };
    Kind kind = Kind::Changed;
    quint64 key = 0;
};

// The download list itself: the entries in their order, each with its ID (its position
// counted from 1) and its identity (Key), an index of the addresses for the duplicate test,
// and a record of what changed since the display copy last showed it. Entries change only
// through these operations, so the index and the record stay true.
class EntryStore {
public:
    static constexpr int kCapacity = 32767; // IDs are 16-bit

    // What changed since the last call of TakeChanges: either the order (an entry removed or
    // moved: every row may show another entry now), or these positions' texts; entries past
    // the ones shown before are new either way.
    struct Changes {
        bool reordered = false;
        std::vector<int> rows;
    };

    const std::vector<DownloadItem>& Entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Appends an entry unless the address is already in the list (then nothing is added
    // and the result is still true). An empty status becomes "Waiting" and an empty size
    // "????", in the caller's variables too. False when the list is full or memory ran out.
    // siteCode: the site of the address, kept on the entry.
    bool Add(const QString& url, const QString& fileName, QString& status, QString& fileSize,
             int32_t siteCode = -1);
    bool ContainsAddress(const QString& url) const { return addresses_.contains(url); }

    // The entry at an index, or with an identity; nullptr when there is none (now).
    const DownloadItem* At(int index) const;
    const DownloadItem* ByKey(quint64 key) const;
    // The position of the entry with this identity; -1 when it is gone (or key is 0).
    int IndexOfKey(quint64 key) const;

    // Changes of one entry's fields, by identity; nothing when it is gone. SetState renders
    // the status text, and tells whether anything changed.
    bool SetState(quint64 key, EntryState state, qint64 progress = 0);
    void SetFileName(quint64 key, const QString& name);
    void SetFileSize(quint64 key, const QString& sizeText, qint64 expectedBytes, bool fileReported);
    void SetVideoUrl(quint64 key, const QString& url);
    void SetReason(quint64 key, const QString& reason);
    void SetSavedPath(quint64 key, const QString& path);
    void SetTransferNote(quint64 key, const QString& note);
    // Puts an "ERROR" or "Cancelled" entry back to "Waiting", as it was added: its page
    // address back in place, a file name the failure wrote back to the placeholder, no
    // reason. False (nothing changes) for an entry in any other state, or one that is gone.
    bool Retry(quint64 key);
    // Whether the entry's address is one no site knows, as added ("Link is not supported")
    // or after a run said so ("ERROR").
    static bool NoSiteKnows(const DownloadItem& e);
    // Makes such an entry one whose page is searched for a video (siteCode), "Waiting" with
    // the placeholder name, as it was added. False for any other entry, or one that is gone.
    bool SearchPage(quint64 key, int32_t siteCode);
    // Replaces the whole list with these entries (a list read back from disk): they get new
    // identities and IDs in their order, their status texts rendered from their states, and
    // an entry whose address repeats an earlier one is dropped; at most kCapacity are taken.
    void Restore(std::vector<DownloadItem> entries);
    // Called after every change of the list (an entry added, changed, removed or moved).
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }
    // Observers hear what changed, after the change, in the order they were added; an
    // observer may change the list itself. The number given back takes it off again.
    int AddObserver(std::function<void(const ListChange&)> observer);
    void RemoveObserver(int id);
    // Replaces each non-empty text of the entry with this ID (a status text sets the state
    // it stands for).
    void Update(int16_t id, const QString& url, const QString& fileName, const QString& status,
                const QString& fileSize);

    // Removes the entries with these IDs and renumbers the rest in their order; an entry
    // whose address repeats an earlier kept one goes too. False on an empty list.
    bool Remove(const QSet<int16_t>& ids);
    // Swaps the entry with this ID with the one before (after) it; nothing at the ends.
    void MoveUp(int16_t id);
    void MoveDown(int16_t id);

    Changes TakeChanges();
    // Counts everything as changed, for a display copy that could not take the changes.
    void MarkAllChanged() { reordered_ = true; }

private:
    // One entry being changed: its row is marked changed at once, and the observers hear of
    // the change when the edit goes, after its fields were written.
    class Editing {
    public:
        Editing(EntryStore& store, int index);
        ~Editing();
        Editing(const Editing&) = delete;
        Editing& operator=(const Editing&) = delete;
        explicit operator bool() const { return item_ != nullptr; }
        DownloadItem* operator->() const { return item_; }

    private:
        EntryStore& store_;
        DownloadItem* item_ = nullptr;
        quint64 key_ = 0;
    };

    int indexOf(quint64 key) const;
    Editing edit(int index) { return Editing(*this, index); }
    void swap(int a, int b);
    void reindex();

    std::vector<DownloadItem> entries_;
    QHash<QString, int> addresses_; // how many entries hold each address
    QHash<quint64, int> positions_; // where each identity stands
    quint64 lastKey_ = 0;
    // The change record: positions whose texts changed (each once), or the order itself.
    std::vector<char> changed_;
    std::vector<int> changedRows_;
    bool reordered_ = false;
    std::function<void()> listener_;
    std::vector<std::pair<int, std::function<void(const ListChange&)>>> observers_;
    int lastObserver_ = 0;
    void changed(ListChange change = {});
};

} // namespace orvello
