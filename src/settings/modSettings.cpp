#include "settings/modSettings.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <optional>
#include <utility>

namespace orvello {

namespace {

// The Boolean a stored text stands for: "True" or "False" in any letter case, or a decimal
// number (0 is False, any other number True), blanks around it allowed. Any other text
// stands for nothing.
std::optional<bool> TextToBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QRegularExpressionMatch match = number.match(t);
    if (!match.hasMatch())
        return std::nullopt;
    // Zero whatever its exponent; decided on the digits, so no size of number overflows.
    const QString mantissa = match.captured(1);
    for (const QChar c : mantissa)
        if (c >= QLatin1Char('1') && c <= QLatin1Char('9'))
            return true;
    return false;
}

// A whole number of decimal digits, blanks around it allowed; nothing for any other text or
// for a number too large.
std::optional<std::int64_t> TextToCount(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || !std::all_of(t.begin(), t.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }))
        return std::nullopt;
    bool ok = false;
    const qlonglong value = t.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return std::int64_t(value);
}

} // namespace

modSettings::modSettings(ProgramSettings& settings,
                         std::function<void(const ProgramSettings&)> Show,
                         std::function<void(bool)> Monitor, RegRoot regHKEY)
    : settings_(settings), show_(std::move(Show)), monitor_(std::move(Monitor)),
      root_(std::move(regHKEY)) {}

QString modSettings::DefaultDownloadDir() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Downloaded Videos");
#else
    return QDir(QDir::homePath()).filePath(QStringLiteral("Downloaded Videos"));
#endif
}

QString modSettings::AbsoluteDownloadDir(const QString& folder) {
    return QDir::isAbsolutePath(folder) ? folder : DefaultDownloadDir();
}

int modSettings::ReadSimultaneous(const QString& text) {
    const std::optional<std::int64_t> count = TextToCount(text);
    return count && *count >= 1 && *count <= ProgramSettings::kMostSimultaneous ? int(*count) : 1;
}

std::int64_t modSettings::ReadSpeedLimit(const QString& text) {
    return TextToCount(text).value_or(0);
}

void modSettings::LoadSettings() {
    const CRegister reg;
    if (const std::optional<bool> on =
            TextToBool(reg.REGGetSetting(root_, kSection, kUrlMon, QStringLiteral("true"))))
        settings_.bMonitorClipboard = *on;

    // A watcher that fails to start must not keep the folder from loading or the settings
    // from being shown.
    if (settings_.bMonitorClipboard && monitor_) {
        try {
            monitor_(true);
        } catch (...) {
        }
    }

    // The folder text is taken as stored when it is an absolute path; anything else (empty,
    // blank, relative) stands for the default folder.
    settings_.sDownloadDir =
        AbsoluteDownloadDir(reg.REGGetSetting(root_, kSection, kDownloadDir, DefaultDownloadDir()));
    settings_.iSimultaneous =
        ReadSimultaneous(reg.REGGetSetting(root_, kSection, kSimultaneous, QStringLiteral("1")));
    settings_.lSpeedLimit =
        ReadSpeedLimit(reg.REGGetSetting(root_, kSection, kSpeedLimit, QStringLiteral("0")));
    settings_.bAnySite =
        TextToBool(reg.REGGetSetting(root_, kSection, kAnySite, QStringLiteral("False")))
            .value_or(false);
    // Only an absolute path of a sensible length names a file; anything else is none.
    const QString cookies = reg.REGGetSetting(root_, kSection, kCookieFile, QString());
    settings_.sCookieFile =
        QDir::isAbsolutePath(cookies) && cookies.size() <= 4096 ? cookies : QString();

    ShowSettings();
}

void modSettings::SaveSettings() {
    const CRegister reg;
    reg.REGSaveSetting(root_, kSection, kUrlMon,
                       settings_.bMonitorClipboard ? QStringLiteral("True")
                                                   : QStringLiteral("False"));
    reg.REGSaveSetting(root_, kSection, kDownloadDir, settings_.sDownloadDir);
}

void modSettings::SaveRunSettings() {
    const CRegister reg;
    reg.REGSaveSetting(root_, kSection, kSimultaneous, QString::number(settings_.iSimultaneous));
    reg.REGSaveSetting(root_, kSection, kSpeedLimit, QString::number(settings_.lSpeedLimit));
    reg.REGSaveSetting(root_, kSection, kAnySite,
                       settings_.bAnySite ? QStringLiteral("True") : QStringLiteral("False"));
    reg.REGSaveSetting(root_, kSection, kCookieFile, settings_.sCookieFile);
}

void modSettings::ShowSettings() {
    if (show_)
        show_(settings_);
}

} // namespace orvello
