// The list file's reader: any bytes as list.json. What it gives is within the list's bounds:
// at most the list's capacity, each file name one clean path component or one of the list's
// fixed texts, each status text as its state renders it, each entry counted once.
#include "FuzzText.h"
#include "list/EntryStatus.h"
#include "list/EntryStore.h"
#include "list/Formatting.h"
#include "list/ListFile.h"

#include <QByteArray>

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvello;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const ListFile::Parsed parsed = ListFile::ParseEntries(bytes);
    const auto entries = qsizetype(parsed.entries.size());
    fuzz::Require(parsed.readable || (entries == 0 && parsed.total == 0));
    fuzz::Require(entries + parsed.dropped ==
                  std::min<qsizetype>(parsed.total, EntryStore::kCapacity));
    for (const DownloadItem& e : parsed.entries) {
        const QString& name = e.FileName;
        fuzz::Require(!name.isEmpty() && !name.contains(QLatin1Char('/')) &&
                      name != QLatin1String(".") && name != QLatin1String(".."));
        fuzz::Require(e.Status == EntryStatusText(e.State, e.Progress));
        fuzz::Require(e.Video_URL.size() <= 8192 && e.PageAddress.size() <= 8192 &&
                      e.SavedPath.size() <= 4096 && e.Reason.size() <= 1024 &&
                      e.TransferNote.size() <= 256 && e.FileSize.size() <= 64);
        fuzz::Require(e.ExpectedBytes >= -1 && e.Progress >= -1);
    }
    return 0;
}
