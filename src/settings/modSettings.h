#pragma once

#include "common/ProgramSettings.h"
#include "common/UiVariables.h"
#include "settings/CRegister.h"

#include <QString>

#include <functional>

namespace orvello {

// The program's two settings between runs: loads them from the store into ProgramSettings
// at start-up, writes them back when the user changes them, and shows them on the UI
// surface. Every step runs even when an earlier one failed; nothing is reported.
class modSettings {
public:
    // Where the settings live in the store, and the names of their values.
    static inline const QString kSection = QStringLiteral("Software\\Quillfen Orvello\\Settings");
    static inline const QString kUrlMon = QStringLiteral("URL Mon");           // "True" / "False"
    static inline const QString kDownloadDir = QStringLiteral("Download Dir"); // the folder

    // Monitor switches the clipboard watching on or off; LoadSettings calls it with true
    // when watching is on. regHKEY is the store's root (HKEY_CURRENT_USER() in the program).
    modSettings(ProgramSettings& settings, UiVariables& ui, std::function<void(bool)> Monitor,
                RegRoot regHKEY);

    // Reads both settings (watching on when the store holds no switch, the default folder
    // when it holds none or one that is not an absolute path), starts the watching when it
    // is on, and shows the settings. Writes nothing to the store.
    void LoadSettings();
    // Writes both settings; a failed write leaves the values in memory for this run.
    void SaveSettings();
    // Writes the surface's four settings variables.
    void ShowSettings();

    // The folder videos go to when none is stored: "Downloaded Videos" in the home folder
    // ("C:\Downloaded Videos" on Windows).
    static QString DefaultDownloadDir();
    // The folder itself when it is an absolute path, else the default folder: a relative
    // or blank folder would put the downloads wherever the program happens to run.
    static QString AbsoluteDownloadDir(const QString& folder);

private:
    ProgramSettings& settings_;
    UiVariables& ui_;
    std::function<void(bool)> monitor_;
    RegRoot root_;
};

} // namespace orvello
