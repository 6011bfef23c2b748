// The Debian package: `cpack -G DEB` of this build into a scratch folder gives
// orvello_<version>_<arch>.deb, which unpacks to the whole installed program under /usr, asks
// for the libraries and the QML modules the program needs, and whose files pass the checks
// of the desktop, AppStream and Debian tools (each one skipped when it is not installed).
#include "InstalledFiles.h"
#include "support/QtPrint.h"
#include "support/RunProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using orvello::test::Ran;
using orvello::test::RunProgram;

namespace {

const QString kVersion = QStringLiteral(ORVELLO_VERSION);

class PackageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dpkgDeb = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
        if (dpkgDeb.isEmpty())
            return;
        scratch = new QTemporaryDir;
        const Ran cpack = RunProgram(
            QStringLiteral(ORVELLO_CPACK),
            {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), scratch->path()},
            300000, QStringLiteral(ORVELLO_BUILD_DIR));
        made = cpack.output;
        const QStringList debs = QDir(scratch->path()).entryList({QStringLiteral("*.deb")});
        if (!cpack.ok() || debs.size() != 1)
            return;
        deb = scratch->filePath(debs[0]);
        const Ran unpacked = RunProgram(
            dpkgDeb, {QStringLiteral("-x"), deb, scratch->filePath(QStringLiteral("root"))});
        made += unpacked.output;
        if (!unpacked.ok())
            deb.clear();
    }
    static void TearDownTestSuite() {
        delete scratch;
        scratch = nullptr;
    }
    void SetUp() override {
        if (dpkgDeb.isEmpty())
            GTEST_SKIP() << "dpkg-deb is not installed";
        ASSERT_FALSE(deb.isEmpty()) << qPrintable(made);
    }

    // A file of the unpacked package, by its path under /usr.
    static QString Unpacked(const QString& path) {
        return scratch->filePath(QStringLiteral("root/usr/") + path);
    }
    static QString Field(const QString& name) {
        return RunProgram(dpkgDeb, {QStringLiteral("-f"), deb, name}).output.trimmed();
    }

    static inline QString dpkgDeb;
    static inline QTemporaryDir* scratch = nullptr;
    static inline QString deb;  // the package made; empty when it was not made or not unpacked
    static inline QString made; // what cpack and dpkg-deb said
};

TEST_F(PackageTest, CarriesTheProjectsVersion) {
    const QString arch =
        RunProgram(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")})
            .output.trimmed();
    EXPECT_EQ(QFileInfo(deb).fileName(), "orvello_" + kVersion + "_" + arch + ".deb");
    EXPECT_EQ(Field(QStringLiteral("Package")), "orvello");
    EXPECT_EQ(Field(QStringLiteral("Version")), kVersion);
    EXPECT_EQ(Field(QStringLiteral("Architecture")), arch);
    // The AppStream file's release too.
    QFile metainfo(
        Unpacked(QStringLiteral(ORVELLO_INSTALL_DATADIR "/metainfo/orvello.metainfo.xml")));
    ASSERT_TRUE(metainfo.open(QIODevice::ReadOnly));
    EXPECT_TRUE(metainfo.readAll().contains("<release version=\"" + kVersion.toUtf8() + "\""));
}

TEST_F(PackageTest, HoldsEveryFileOfTheInstalledProgram) {
    for (const QString& file : orvello::test::InstalledFiles()) {
        const QFileInfo info(Unpacked(file));
        EXPECT_TRUE(info.isFile() && info.size() > 0) << qPrintable(file);
    }
}

// The libraries come from the programs; the QML modules the surface imports when it is loaded
// are named by hand, and a Qt without them shows no window.
TEST_F(PackageTest, DependsOnTheLibrariesAndTheQmlModules) {
    const QStringList depends =
        Field(QStringLiteral("Depends")).split(QStringLiteral(", "), Qt::SkipEmptyParts);
    for (const char* package :
         {"libcurl4", "libqt6core6", "libqt6widgets6", "libqt6quick6", "libqt6quickwidgets6",
          "qml6-module-qtquick", "qml6-module-qtquick-window", "qml6-module-qtqml",
          "qml6-module-qtqml-workerscript"}) {
        const QString name = QString::fromLatin1(package);
        EXPECT_TRUE(std::any_of(
            depends.begin(), depends.end(),
            [&](const QString& d) { return d == name || d.startsWith(name + QLatin1Char(' ')); }))
            << package << " in " << ::testing::PrintToString(depends);
    }
}

TEST_F(PackageTest, ItsCommandLineProgramRunsAndTellsItsVersion) {
    const Ran version =
        RunProgram(Unpacked(QStringLiteral(ORVELLO_INSTALL_BINDIR "/orvello-get")), {"--version"});
    EXPECT_TRUE(version.ok()) << qPrintable(version.output);
    EXPECT_TRUE(version.output.contains(kVersion)) << qPrintable(version.output);
}

TEST_F(PackageTest, TheManualPagesAreTheirSourcesCompressed) {
    const struct {
        const char* installed; // under the manual's folder
        const char* source;    // under the source tree
    } cases[] = {
        {"/man1/orvello.1.gz", "/src/app/orvello.1"},
        {"/man1/orvello-get.1.gz", "/src/cli/orvello-get.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.installed);
        const Ran page =
            RunProgram(QStringLiteral("gzip"),
                       {QStringLiteral("-dc"),
                        Unpacked(QStringLiteral(ORVELLO_INSTALL_MANDIR) + c.installed)});
        ASSERT_TRUE(page.ok()) << qPrintable(page.output);
        QFile source(QStringLiteral(ORVELLO_SOURCE_DIR) + c.source);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        EXPECT_EQ(page.output, QString::fromLocal8Bit(source.readAll()));
    }
}

// Each tool passes the unpacked package's files, or the package itself, without a word of
// complaint: a hint of desktop-file-validate or an error of lintian fails the row.
TEST_F(PackageTest, PassesTheChecksOfTheDesktopAppStreamAndDebianTools) {
    const QString share = QStringLiteral(ORVELLO_INSTALL_DATADIR "/");
    const struct {
        const char* tool;
        QStringList args;
        bool silent; // whatever it says is a fault
    } cases[] = {
        {"desktop-file-validate", {Unpacked(share + "applications/orvello.desktop")}, true},
        {"appstreamcli",
         {"validate", "--no-net", Unpacked(share + "metainfo/orvello.metainfo.xml")},
         false},
        {"lintian", {"--fail-on", "error", deb}, false},
    };
    int ran = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        const QString tool = QStandardPaths::findExecutable(QString::fromLatin1(c.tool));
        if (tool.isEmpty())
            continue;
        ++ran;
        const Ran check = RunProgram(tool, c.args, 300000);
        EXPECT_TRUE(check.ok()) << qPrintable(check.output);
        if (c.silent) {
            EXPECT_EQ(check.output, "");
        }
    }
    if (ran == 0)
        GTEST_SKIP() << "none of desktop-file-validate, appstreamcli and lintian is installed";
}

} // namespace
