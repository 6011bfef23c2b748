#include "resolve/EntryResolver.h"

#include "resolve/PageDriver.h"
#include "resolve/Sites.h"

namespace orvello {

EntryResolver::EntryResolver(EntryList& list, PageDriver& pages, FileNamer& naming)
    : list_(list), pages_(pages), naming_(naming) {}

QString EntryResolver::ResolveEntry(quint64 key) {
    const QString nothing = PageDriver::kNotSupported;
    if (!list_.EntryByKey(key))
        return nothing;
    list_.SetState(key, EntryState::Preparing, 0);
    list_.FillDownloadList(); // shown before the fetch starts

    const DownloadItem* item = list_.EntryByKey(key);
    if (!item)
        return nothing;
    const QString page = item->Video_URL;
    QString link;
    try {
        link = pages_.GetDownloadLink(page);
    } catch (const ScratchFileError& e) {
        list_.SetState(key, EntryState::Error);
        list_.SetFileName(key, QString::fromStdString(e.what()));
        list_.SetReason(key, QString::fromStdString(e.what()) + QLatin1Char('.'));
        return nothing;
    }

    // The fetch let events run: the entry may have gone meanwhile (then nothing is written).
    // A code instead of a link: the reason goes with it.
    if (link == PageDriver::kNotSupported || link == PageDriver::kNoLink ||
        link == PageDriver::kFetchFailed)
        list_.SetReason(key, pages_.LastFailureReason());
    if (link == PageDriver::kNotSupported) {
        list_.SetState(key, EntryState::Error);
        list_.SetFileName(key, EntryText::UnsupportedLink);
        return nothing;
    }
    if (link == PageDriver::kNoLink) {
        list_.SetFileName(key, EntryText::ProcessFailed);
        list_.SetState(key, EntryState::Error);
        list_.SetVideoUrl(key, EntryText::Inappropriate);
        return nothing;
    }
    if (link == PageDriver::kFetchFailed) {
        list_.SetState(key, EntryState::Error);
        return nothing;
    }
    if (!(item = list_.EntryByKey(key)))
        return nothing;

    const LocalFileInfo info = naming_.MakeLocalFileName(link, IdentifySite(item->Video_URL));
    if (!(item = list_.EntryByKey(key)))
        return nothing;
    if (item->FileName == EntryText::AutoDetect)
        list_.SetFileName(key, info.FileName);
    list_.SetFileSize(key, info.SizeText, info.ExpectedBytes, info.FileReported);
    return link;
}

} // namespace orvello
