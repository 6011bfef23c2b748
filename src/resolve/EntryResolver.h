#pragma once

#include "common/DownloadItem.h"

#include <QString>

#include <cstdint>

namespace orvello {

class PageDriver;

// What the resolution needs of the download list. Entries are found again by index after
// every call that lets events run, since the user may add, remove or move entries meanwhile.
class EntryList {
public:
    virtual ~EntryList() = default;
    // The entry at this index, or nullptr when the list has no such entry (now).
    virtual DownloadItem* EntryAt(int16_t index) = 0;
    // Rebuilds what the grid shows from the list.
    virtual bool FillDownloadList() = 0;
};

// The local name and the size text worked out for a video file.
struct LocalFileInfo {
    QString FileName;
    QString SizeText;
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
    // name too while it still holds the placeholder: a name the user typed survives.
    // The index is read again after every step that lets events run, so a caller that keeps
    // it on the entry while the list changes (the running entry's index) is followed.
    QString ResolveEntry(const int16_t& index);

private:
    EntryList& list_;
    PageDriver& pages_;
    FileNamer& naming_;
};

} // namespace orvello
