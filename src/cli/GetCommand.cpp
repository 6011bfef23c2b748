#include "cli/GetCommand.h"

#include "cli/AddressFeed.h"
#include "list/EntryStatus.h"
#include "resolve/Sites.h"
#include "settings/CRegister.h"
#include "settings/modSettings.h"

#include <QDir>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace orvello::cli {

namespace {

// How often the live line is redrawn while nothing but the numbers change.
constexpr qint64 kRedrawMs = 100;
// The entries that may wait beside the running one before the feed is asked for no more.
constexpr int kMostWaiting = 2;

QString SiteOf(const QString& address) {
    const SiteEntry* site = FindSite(IdentifySite(address));
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
      scheduler_(run_, list_, prompter_, ui_, settings_) {
    list_.SetChangeListener([this] { onListChanged(); });
    QObject::connect(&scheduler_.runner, &QueueRunner::RunEnded, &scheduler_.runner,
                     [this] { onRunEnded(); });
    // Lines that can't be written any more stop the run as a signal does.
    report_.OnWriteError([this] { Stop(); });
}

QString GetCommand::PrepareFolder(const QString& folder, QString* why) {
    QString path;
    if (!folder.isEmpty()) {
        path = QFileInfo(folder).absoluteFilePath();
    } else {
        ProgramSettings stored;
        UiVariables none;
        modSettings(
            stored, none, [](bool) {}, HKEY_CURRENT_USER())
            .LoadSettings();
        path = stored.sDownloadDir;
    }
    path = QDir::cleanPath(path);
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

void GetCommand::Start(AddressFeed& feed, const QString& folder,
                       std::function<void(int status)> finished) {
    settings_.sDownloadDir = folder;
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
    finishShown();
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
    finishShown();
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
    if (IdentifySite(address) == kSiteNotSupported) {
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
    if (run_.currentKey() != shownKey_) {
        finishShown();
        shownKey_ = run_.currentKey();
        sinceDrawn_.invalidate();
    }
    const DownloadItem* entry = list_.EntryByKey(shownKey_);
    if (!entry || IsFinished(entry->State) || entry->State == EntryState::Cancelled)
        return; // its final line comes once the run has moved on from it
    if (entry->State == shownState_ && sinceDrawn_.isValid() && !sinceDrawn_.hasExpired(kRedrawMs))
        return;
    shownState_ = entry->State;
    sinceDrawn_.start();
    const bool receiving =
        entry->State == EntryState::Transferring || entry->State == EntryState::TransferringUnsized;
    // Until the file has a name, the page address stands for it.
    const QString& name =
        entry->FileName == EntryText::AutoDetect ? entry->PageAddress : entry->FileName;
    report_.Live({SiteOf(entry->PageAddress), name, entry->State, entry->Progress, entry->FileSize,
                  receiving ? scheduler_.events.BytesSoFar(shownKey_) : 0, entry->TransferNote,
                  entry->ExpectedBytes});
}

// The final line of the entry the live line was for, once it has ended.
void GetCommand::finishShown() {
    const DownloadItem* entry = list_.EntryByKey(shownKey_);
    if (entry && (IsFinished(entry->State) || entry->State == EntryState::Cancelled))
        report_.Finished(*entry);
    shownKey_ = 0;
}

} // namespace orvello::cli
