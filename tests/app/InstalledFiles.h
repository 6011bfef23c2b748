#pragma once

#include <QString>
#include <QStringList>

namespace orvello::test {

// Every file of the installed program, by its path under the install prefix (/usr for the
// package): the two programs, the UI surface and the help page in share/orvello, and what the
// desktop and the system read: the desktop entry, its icon, the AppStream description, the
// manual pages of both programs, and the copyright file and changelog.
inline QStringList InstalledFiles() {
    const QString bin = QStringLiteral(ORVELLO_INSTALL_BINDIR) + QLatin1Char('/');
    const QString share = QStringLiteral(ORVELLO_INSTALL_DATADIR) + QLatin1Char('/');
    QStringList files{bin + "orvello", bin + "orvello-get"};
    for (const char* file :
         {"orvello/Main.qml", "orvello/qmldir", "orvello/Theme.qml", "orvello/AboutPage.qml",
          "orvello/Badge.qml", "orvello/CheckOption.qml", "orvello/DownloadPage.qml",
          "orvello/PageTabButton.qml", "orvello/PushButton.qml", "orvello/TitleBand.qml",
          "orvello/WindowButton.qml", "orvello/Help.html", "applications/orvello.desktop",
          "icons/hicolor/scalable/apps/orvello.svg", "metainfo/orvello.metainfo.xml",
          "doc/orvello/copyright", "doc/orvello/changelog.gz"})
        files << share + QString::fromLatin1(file);
    for (const char* page : {"/man1/orvello.1.gz", "/man1/orvello-get.1.gz"})
        files << QStringLiteral(ORVELLO_INSTALL_MANDIR) + QString::fromLatin1(page);
    return files;
}

} // namespace orvello::test
