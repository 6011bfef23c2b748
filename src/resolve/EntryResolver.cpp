#include "resolve/EntryResolver.h"

#include "resolve/PageDriver.h"
#include "resolve/Sites.h"

namespace orvello {

EntryResolver::EntryResolver(EntryList& list, PageDriver& pages, FileNamer& naming)
    : list_(list), pages_(pages), naming_(naming) {}

QString EntryResolver::ResolveEntry(const int16_t& index) {
    const QString nothing = PageDriver::kNotSupported;
    DownloadItem* item = list_.EntryAt(index);
    if (!item)
        return nothing;
    item->Status = EntryText::PreparingStart;
    list_.FillDownloadList(); // shown before the fetch starts

    if (!(item = list_.EntryAt(index)))
        return nothing;
    const QString page = item->Video_URL;
    QString link;
    try {
        link = pages_.GetDownloadLink(page);
    } catch (const ScratchFileError& e) {
        if ((item = list_.EntryAt(index))) {
            item->Status = EntryText::Error;
            item->FileName = QString::fromStdString(e.what());
        }
        return nothing;
    }

    // The fetch let events run: the entry may have gone meanwhile.
    if (!(item = list_.EntryAt(index)))
        return nothing;
    if (link == PageDriver::kNotSupported) {
        item->Status = EntryText::Error;
        item->FileName = EntryText::UnsupportedLink;
        return nothing;
    }
    if (link == PageDriver::kNoLink) {
        item->FileName = EntryText::ProcessFailed;
        item->Status = EntryText::Error;
        item->Video_URL = EntryText::Inappropriate;
        return nothing;
    }
    if (link == PageDriver::kFetchFailed) {
        item->Status = EntryText::Error;
        return nothing;
    }

    const LocalFileInfo info = naming_.MakeLocalFileName(link, IdentifySite(item->Video_URL));
    if (!(item = list_.EntryAt(index)))
        return nothing;
    if (item->FileName == EntryText::AutoDetect)
        item->FileName = info.FileName;
    item->FileSize = info.SizeText;
    return link;
}

} // namespace orvello
