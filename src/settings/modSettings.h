#pragma once

#include "common/ProgramSettings.h"
#include "settings/CRegister.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace orvello {

// The program's settings between runs: loads them from the store into ProgramSettings at
// start-up, writes them back when the user changes them, and hands them to whoever shows
// them (the window shows the watch switch and the folder on its surface). Every step runs even when
// an earlier one failed; nothing is reported.
class modSettings {
public:
    // Where the settings live in the store, and the names of their values.
    static inline const QString kSection = QStringLiteral("Software\\Quillfen Orvello\\Settings");
    static inline const QString kUrlMon = QStringLiteral("URL Mon");           // "True" / "False"
    static inline const QString kDownloadDir = QStringLiteral("Download Dir"); // the folder
    // Entries downloaded at a time, "1" to "8".
    static inline const QString kSimultaneous = QStringLiteral("Simultaneous Downloads");
    // Bytes a second all downloads together may come at, "0" for no limit.
    static inline const QString kSpeedLimit = QStringLiteral("Speed Limit");
    // "Find videos on any page": "True" / "False".
    static inline const QString kAnySite = QStringLiteral("Any Site");
    // The cookies.txt every request reads: an absolute path, or empty for none.
    static inline const QString kCookieFile = QStringLiteral("Cookies File");

    // Monitor switches the clipboard watching on or off; LoadSettings calls it with true
    // when watching is on. Show shows the settings (may be empty: nothing shows them).
    // regHKEY is the store's root (HKEY_CURRENT_USER() in the program).
    modSettings(ProgramSettings& settings, std::function<void(const ProgramSettings&)> Show,
                std::function<void(bool)> Monitor, RegRoot regHKEY);

    // Reads the settings (watching on when the store holds no switch, the default folder
    // when it holds none or one that is not an absolute path, one entry at a time and no
    // speed limit when their values are missing or out of bounds, no search of pages no site
    // knows unless the store says "True" or a number other than 0), starts the watching when
    // it is on, and shows the settings. Writes nothing to the store.
    void LoadSettings();
    // Writes the watch switch and the folder; a failed write leaves the values in memory for
    // this run.
    void SaveSettings();
    // Writes the entries at a time, the speed limit and the any-page switch, which are saved
    // as soon as the user chooses them (the watch switch and the folder are left as stored).
    void SaveRunSettings();
    // Hands the settings to Show.
    void ShowSettings();

    // The folder videos go to when none is stored: "Downloaded Videos" in the home folder
    // ("C:\Downloaded Videos" on Windows).
    static QString DefaultDownloadDir();
    // The folder itself when it is an absolute path, else the default folder: a relative
    // or blank folder would put the downloads wherever the program happens to run.
    static QString AbsoluteDownloadDir(const QString& folder);
    // A stored count of entries at a time: a whole number from 1 to 8, blanks around it
    // allowed; anything else reads as 1.
    static int ReadSimultaneous(const QString& text);
    // A stored speed limit in bytes a second: a whole number, blanks around it allowed;
    // anything else (a negative number, a fraction, a word, a number too large) reads as 0,
    // no limit.
    static std::int64_t ReadSpeedLimit(const QString& text);

private:
    ProgramSettings& settings_;
    std::function<void(const ProgramSettings&)> show_;
    std::function<void(bool)> monitor_;
    RegRoot root_;
};

} // namespace orvello
