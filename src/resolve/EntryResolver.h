#pragma once

#include "common/DownloadItem.h"

#include <QString>

#include <cstdint>

namespace orvello {

class PageDriver;

// What the resolution and the run need of the download list: its entries by identity (an
// entry keeps its Key however the list is edited while events run), and the changes they
// make, which the list keeps track of for its next fill.
class EntryList {
public:
    virtual ~EntryList() = default;
    // The entry with this identity, or nullptr when it is gone (now).
    virtual const DownloadItem* EntryByKey(quint64 key) const = 0;
    // Puts the entry in a state; its status text is rendered from it.
    virtual void SetState(quint64 key, EntryState state, qint64 progress = 0) = 0;
    virtual void SetFileName(quint64 key, const QString& name) = 0;
    virtual void SetFileSize(quint64 key, const QString& sizeText, qint64 expectedBytes,
                             bool fileReported) = 0;
    virtual void SetVideoUrl(quint64 key, const QString& url) = 0;
    // Why the entry ended "ERROR", in words a user understands.
    virtual void SetReason(quint64 key, const QString& reason) = 0;
    // Rebuilds what the grid shows from the list.
    virtual bool FillDownloadList() = 0;
};

// The local name and the size text worked out for a video file.
struct LocalFileInfo {
    QString FileName;
    QString SizeText;
    qint64 ExpectedBytes = -1; // the length the server announced; -1 when it gave none
    bool FileReported = false; // the server reported the file as there
};

// Works out the local name and size text of a video file (asking its server first).
class FileNamer {
public:
    virtual ~FileNamer() = default;
    virtual LocalFileInfo MakeLocalFileName(const QString& url, int32_t siteCode) = 0;
};

// Resolves one entry of the download list to the address of its video file, writing the
// outcome into the entry in the words the list shows.
class EntryResolver {
public:
    EntryResolver(EntryList& list, PageDriver& pages, FileNamer& naming);

    // The video file's address, or "-1" when there is nothing to download (the entry then
    // shows "ERROR", or is gone). On success the entry's size text is replaced, and its file
    // name too while it still holds the placeholder: a name the user typed survives. The
    // entry is found by its identity after every step that lets events run, wherever the
    // user moved it meanwhile.
    QString ResolveEntry(quint64 key);

private:
    EntryList& list_;
    PageDriver& pages_;
    FileNamer& naming_;
};

} // namespace orvello
