#include "list/EntryStatus.h"

#include "list/Formatting.h"

namespace orvello {

QString EntryStatusText(EntryState state, qint64 progress) {
    switch (state) {
    case EntryState::Waiting:
        return EntryText::Waiting;
    case EntryState::Unsupported:
        return EntryText::LinkNotSupported;
    case EntryState::Preparing:
        return progress < 0 ? QStringLiteral("Preparing...")
                            : QStringLiteral("Preparing (%1%)").arg(progress);
    case EntryState::StartDownloading:
        return EntryText::StartDownloading;
    case EntryState::Transferring:
        return QString::number(progress);
    case EntryState::TransferringUnsized:
        return FormatFileSize(float(progress)) + QStringLiteral("so far..");
    case EntryState::Complete:
        return EntryText::Complete;
    case EntryState::Error:
        return EntryText::Error;
    case EntryState::Cancelled:
        return EntryText::Cancelled;
    case EntryState::Retrying:
        return QStringLiteral("Retrying in %1 s (%2 of %3)")
            .arg(progress % 100000)
            .arg(progress / 10000000)
            .arg(progress / 100000 % 100);
    }
    return QString();
}

EntryState EntryStateOfText(const QString& status) {
    static const std::pair<const QString*, EntryState> kFixed[] = {
        {&EntryText::Waiting, EntryState::Waiting},
        {&EntryText::LinkNotSupported, EntryState::Unsupported},
        {&EntryText::StartDownloading, EntryState::StartDownloading},
        {&EntryText::Complete, EntryState::Complete},
        {&EntryText::Error, EntryState::Error},
        {&EntryText::Cancelled, EntryState::Cancelled},
    };
    for (const auto& [text, state] : kFixed) {
        if (status == *text)
            return state;
    }
    return EntryState::Waiting;
}

} // namespace orvello
