#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QUrl;

namespace orvello {

class DownloadGrid;
class Prompter;
class modMain;

// The grid's row menu, for the entries with a selected cell, taken by their identity when
// it opens:
//   Open file               each finished file, with the desktop's application for it
//   Open containing folder  the folders the finished files are in
// (a finished file is one the program wrote into its folder and that is still a regular
// file there, FinishedFileOf: a file gone or replaced is said, not opened)
//   Copy page address       the page addresses, one a line, to the clipboard
//   Try again               failed and cancelled entries go back to "Waiting"
//   Look for a video on this page
//                           entries of addresses no site knows ("Link is not supported", or
//                           "ERROR" after a run) become pages searched for a video,
//                           "Waiting", whatever the any-page setting says
//   Remove                  the entries leave the list, as Remove selected does
// An item that applies to none of the entries is disabled. A file or folder that can't be
// opened is said so in a message box.
class RowMenu : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<bool(const QUrl&)> openUrl;     // false: nothing could open it
        std::function<void(const QString&)> copyText; // to the clipboard
    };

    // The menu is the grid's child; it goes with the grid.
    RowMenu(DownloadGrid& grid, modMain& list, Prompter& prompter, Actions actions);

    // Opens the menu at globalPos, unless it is open already or no entry is selected.
    void Popup(const QPoint& globalPos);

    QMenu* menu() const { return menu_; }
    QAction* openFile = nullptr;
    QAction* openFolder = nullptr;
    QAction* copyAddress = nullptr;
    QAction* tryAgain = nullptr;
    QAction* searchPage = nullptr;
    QAction* remove = nullptr;

private:
    // The selected entries' keys, in the list's order.
    QList<quint64> selectedKeys() const;
    // The finished files of the menu's entries that are still in the list; why a file gone
    // or replaced is not among them goes into `problems`.
    QStringList finishedFiles(QStringList* problems) const;
    // Opens the file or folder; why it could not goes into `problems`.
    void open(const QString& path, bool folder, QStringList* problems);
    // Each problem in a message box, once the opening is done.
    void say(const QStringList& problems);
    void OpenFiles();
    void OpenFolders();
    void CopyAddresses();
    void TryAgain();
    void SearchPage();
    void Remove();

    DownloadGrid& grid_;
    modMain& list_;
    Prompter& prompter_;
    Actions actions_;
    QMenu* menu_;
    QList<quint64> keys_; // the entries the menu was opened for
};

} // namespace orvello
