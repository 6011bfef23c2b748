#include "cli/GetCommand.h"

#include "cli/AddressFeed.h"
#include "list/EntryStatus.h"
#include "list/Formatting.h"
#include "resolve/Sites.h"
#include "settings/CRegister.h"
#include "settings/modSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace orvello::cli {

namespace {

// How often the live line is redrawn while nothing but the numbers change.
constexpr qint64 kRedrawMs = 100;
// The entries that may wait beside the running one before the feed is asked for no more.
constexpr int kMostWaiting = 2;

// The site's domain, from the code the entry was given when it was added.
// The site's domain, or the host of a page no site knows.
QString SiteOf(const DownloadItem& entry) {
    if (entry.SiteCode == kSiteGeneric)
        return QUrl(entry.PageAddress).host();
    const SiteEntry* site = FindSite(entry.SiteCode);
    return site ? QString::fromLatin1(site->domain) : QString();
}

} // namespace

MsgAnswer ConsolePrompter::MsgBox(const MsgRequest& request) {
    report_.Message(request.text);
    switch (request.buttons) {
    case MsgButtons::Ok:
        return MsgAnswer::Ok;
    case MsgButtons::OkCancel:
        return MsgAnswer::Cancel;
    case MsgButtons::YesNo:
        return MsgAnswer::No;
    }
    return MsgAnswer::Ok;
}

GetCommand::GetCommand(ConsoleReport& report)
    : report_(report), prompter_(report), list_(run_, nullptr, &prompter_),
      scheduler_(run_, list_, prompter_, settings_) {
    list_.SetChangeListener([this] { onListChanged(); });
    QObject::connect(&scheduler_.runner, &QueueRunner::RunEnded, &scheduler_.runner,
                     [this] { onRunEnded(); });
    QObject::connect(&scheduler_.runner, &QueueRunner::EntryEnded, &scheduler_.runner,
                     [this](quint64 key) { onEntryEnded(key); });
    // A download that goes on from what an earlier run left says where it continues.
    QObject::connect(&scheduler_.runner, &QueueRunner::EntryContinued, &scheduler_.runner,
                     [this](quint64 key, qint64 from, qint64 total) {
                         const DownloadItem* entry = list_.EntryByKey(key);
                         if (!entry)
                             return;
                         report_.Message(QStringLiteral("%1: continued from %2 of %3.")
                                             .arg(entry->FileName, FormatFileSize(float(from)),
                                                  FormatFileSize(float(total))));
                     });
    // Lines that can't be written any more stop the run as a signal does.
    report_.OnWriteError([this] { Stop(); });
}

ProgramSettings GetCommand::StoredSettings() {
    ProgramSettings stored;
    modSettings(
        stored, {}, [](bool) {}, HKEY_CURRENT_USER())
        .LoadSettings();
    return stored;
}

QString GetCommand::PrepareFolder(const QString& folder, QString* why) {
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    std::error_code error;
    std::filesystem::create_directories(path.toStdString(), error);
    if (!QFileInfo(path).isDir()) {
        *why = QStringLiteral("The folder %1 can't be created: %2.")
                   .arg(path, error ? QString::fromLocal8Bit(error.message())
                                    : QStringLiteral("something else stands in its place"));
        return QString();
    }
    return path;
}

void GetCommand::Start(AddressFeed& feed, const ProgramSettings& chosen,
                       std::function<void(int status)> finished) {
    settings_ = chosen;
    feed_ = &feed;
    finished_ = std::move(finished);
    QObject::connect(&feed, &AddressFeed::address, &context_,
                     [this](const QString& address) { onAddress(address); });
    QObject::connect(&feed, &AddressFeed::skipped, &context_, [this](const QString& why) {
        report_.Message(why);
        allTaken_ = false;
    });
    QObject::connect(&feed, &AddressFeed::ended, &context_, [this] {
        fed_ = true;
        maybeFinish();
    });
    askForMore();
    maybeFinish();
}

// The run takes entries added while it runs; one that has passed the last entry ends, and the
// next address starts a run again.
void GetCommand::onRunEnded() {
    settled_ = int(list_.Entries().size());
    askForMore();
    maybeFinish();
}

// The command is done once it was stopped, or the feed has ended and nothing waits or runs.
void GetCommand::maybeFinish() {
    if (done_ || run_.bDownloading() || !feed_)
        return;
    if (!stopped_ && (!fed_ || waiting() > 0))
        return;
    done_ = true;
    report_.Live({}); // nothing runs any more
    feed_->SetWanted(false);
    QObject::disconnect(feed_, nullptr, &context_, nullptr);
    feed_ = nullptr;
    bool allComplete = allTaken_;
    for (const DownloadItem& entry : list_.Entries())
        allComplete = allComplete && entry.State == EntryState::Complete;
    // Told from the event loop: the command may be done before the caller's loop runs.
    const int status = allComplete ? kExitComplete : kExitFailed;
    QMetaObject::invokeMethod(
        &context_,
        [this, status] {
            if (finished_)
                finished_(status);
        },
        Qt::QueuedConnection);
}

void GetCommand::onAddress(const QString& address) {
    if (fed_ || stopped_)
        return;
    if (IdentifySite(address) == kSiteNotSupported &&
        !(list_.AnySite() && IsWebPageAddress(address))) {
        report_.Unsupported(address);
        allTaken_ = false;
        return;
    }
    if (list_.Entries().size() >= std::size_t(modMain::kCapacity)) {
        report_.Message(QStringLiteral("The list is full; %1 and the addresses after it "
                                       "are left out.")
                            .arg(address));
        allTaken_ = false;
        fed_ = true;
        feed_->SetWanted(false);
        return;
    }
    list_.AddUrlToList(address);
    if (!run_.bDownloading())
        scheduler_.runner.StartDownloading();
    askForMore();
}

int GetCommand::waiting() const {
    const int entries = int(list_.Entries().size());
    if (run_.bDownloading())
        return entries - scheduler_.runner.NextPosition();
    return entries - settled_;
}

void GetCommand::askForMore() {
    if (feed_)
        feed_->SetWanted(!fed_ && !stopped_ && waiting() < kMostWaiting);
}

void GetCommand::Stop() {
    stopped_ = true;
    scheduler_.runner.Stop(); // nothing when no run goes: none begins then
    maybeFinish();
}

void GetCommand::onListChanged() {
    askForMore(); // the run may have moved on to the next entry
    drawLive(false);
}

void GetCommand::drawLive(bool now) {
    std::vector<std::pair<quint64, EntryState>> shown;
    std::vector<LiveView> views;
    for (const quint64 key : run_.runningKeys()) {
        const DownloadItem* entry = list_.EntryByKey(key);
        if (!entry || IsFinished(entry->State) || entry->State == EntryState::Cancelled)
            continue; // its final line comes once the run has let go of it
        shown.emplace_back(key, entry->State);
        const bool receiving = entry->State == EntryState::Transferring ||
                               entry->State == EntryState::TransferringUnsized;
        // Until the file has a name, the page address stands for it.
        const QString& name =
            entry->FileName == EntryText::AutoDetect ? entry->PageAddress : entry->FileName;
        views.push_back({SiteOf(*entry), name, entry->State, entry->Progress, entry->FileSize,
                         receiving ? scheduler_.events.BytesSoFar(key) : 0, entry->TransferNote,
                         entry->ExpectedBytes});
    }
    if (!now && shown == shown_ && sinceDrawn_.isValid() && !sinceDrawn_.hasExpired(kRedrawMs))
        return;
    shown_ = std::move(shown);
    sinceDrawn_.start();
    report_.Live(views);
}

// Each entry's final line as it ends; the entries still running are drawn again below it.
void GetCommand::onEntryEnded(quint64 key) {
    if (const DownloadItem* entry = list_.EntryByKey(key))
        report_.Finished(*entry);
    if (!done_ && !stopped_)
        drawLive(true);
}

} // namespace orvello::cli
