// The settings store and the two settings against real store files in temporary folders,
// with what is shown of them recorded.
#include "settings/CRegister.h"
#include "settings/modSettings.h"
#include "support/QtPrint.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

#include <grp.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace orvello;

namespace {

const QString kSection = modSettings::kSection;
const QString kUnset = QStringLiteral("<default>");

using Writes = std::vector<std::pair<QString, QString>>;

// What the settings showed, in order: the watch switch ("1" or "0") and the folder.
Writes Shown(const QString& watch, const QString& folder) {
    return {{watch, folder}};
}

class Store : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const RegRoot root{dir.filePath(QStringLiteral("config/HKEY_CURRENT_USER.ini"))};
    const CRegister reg{};

    QString Get(const QString& section, const QString& key, const RegRoot* from = nullptr) {
        return reg.REGGetSetting(from ? *from : root, section, key, kUnset);
    }
    void Put(const QString& section, const QString& key, const QString& value) {
        ASSERT_TRUE(reg.REGSaveSetting(root, section, key, value)) << key.toStdString();
    }
    // A copy of the store under a name this process has never read, so reading it parses
    // the file instead of the copy QSettings keeps in memory.
    RegRoot FreshCopy() {
        const RegRoot copy{dir.filePath(QStringLiteral("copy%1.ini").arg(++copies_))};
        EXPECT_TRUE(QFile::copy(root.file, copy.file));
        return copy;
    }

private:
    int copies_ = 0;
};

class Settings : public Store {
protected:
    ProgramSettings program;
    Writes shown;
    std::function<void(const ProgramSettings&)> show = [this](const ProgramSettings& s) {
        shown.emplace_back(s.bMonitorClipboard ? "1" : "0", s.sDownloadDir);
    };
    std::vector<bool> monitorCalls;
    modSettings settings{program, show, [this](bool on) { monitorCalls.push_back(on); }, root};
};

} // namespace

TEST_F(Store, EveryValueAndNameReadsBackExactlyFromTheFile) {
    const std::pair<const char*, QString> cases[] = {
        {"Download Dir", QStringLiteral("C:\\Downloaded Videos")},
        {"empty", QString()},
        {"blanks", QStringLiteral("  blanks around  ")},
        {"backslashes", QStringLiteral("\\\\server\\share\\")},
        {"non-ASCII", QString::fromUtf8("/home/jürgen/视频 😀")},
        {"INI syntax", QStringLiteral("a, b \"q\" [x] ;s #h = e\none\r\ttwo")},
        {"QSettings syntax", QStringLiteral("@Invalid() %25 %2F %")},
        // Names that look alike once "/" and "%" are escaped stay apart.
        {"a/b", QStringLiteral("slash")},
        {"a%2Fb", QStringLiteral("escaped slash")},
        {"a\\b", QStringLiteral("backslash")},
        {"%", QStringLiteral("percent")},
        {"*", QStringLiteral("default value")}};
    for (const auto& [name, value] : cases)
        Put(kSection, QString::fromUtf8(name), value);
    const RegRoot copy = FreshCopy();
    for (const RegRoot* from : {&root, &copy})
        for (const auto& [name, value] : cases)
            EXPECT_EQ(Get(kSection, QString::fromUtf8(name), from), value) << name;
    EXPECT_EQ(Get(kSection, QString(), &copy), "default value"); // "" names it too
}

TEST_F(Store, MissingKeysGiveTheDefaultAndSavingCreatesThem) {
    EXPECT_EQ(Get(kSection, QStringLiteral("URL Mon")), kUnset);
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(root.file).path())); // reading created nothing
    Put(QStringLiteral("A\\B\\C\\D"), QStringLiteral("v"), QString());
    EXPECT_EQ(Get(QStringLiteral("A\\B\\C\\D"), QStringLiteral("v")), "");
    EXPECT_EQ(Get(QStringLiteral("A\\B\\C\\D"), QStringLiteral("w")), kUnset);
}

TEST_F(Store, KeyPathsTolerateOneBackslashAtEachEnd) {
    Put(kSection, QStringLiteral("k"), QStringLiteral("v"));
    const std::pair<const char*, bool> cases[] = {
        // path, addresses kSection
        {"\\Software\\Quillfen Orvello\\Settings", true},
        {"Software\\Quillfen Orvello\\Settings\\", true},
        {"\\Software\\Quillfen Orvello\\Settings\\", true},
        {"\\\\Software\\Quillfen Orvello\\Settings", false}, // keeps one: an empty level
        {"Software\\Quillfen Orvello\\Settings\\\\", false},
        {"Software\\\\Quillfen Orvello\\Settings", false},
        {"Software/Quillfen Orvello\\Settings", false}, // "/" belongs to the name
        {"Software\\Quillfen Orvello", false}};
    for (const auto& [path, same] : cases) {
        EXPECT_EQ(Get(QString::fromUtf8(path), QStringLiteral("k")), same ? "v" : kUnset) << path;
        EXPECT_EQ(reg.REGSaveSetting(root, QString::fromUtf8(path), QStringLiteral("k"),
                                     QStringLiteral("v")),
                  same || !QByteArray(path).contains("\\\\"))
            << path; // a path with an empty level can't be written either
    }
}

TEST_F(Store, DeletingValuesAndKeys) {
    const QString parent = QStringLiteral("Software\\Orvello");
    const QString key = parent + QStringLiteral("\\K");
    const QString sub = key + QStringLiteral("\\Sub");
    // Values named like a subkey ("Sub" in K, "K" in the parent) sit beside those subkeys.
    for (const auto& [section, name] :
         {std::pair{key, "a"}, {key, "b"}, {key, "*"}, {key, "Sub"}, {sub, "c"}, {parent, "K"}})
        Put(section, QString::fromUtf8(name), QStringLiteral("value of ") + name);

    EXPECT_TRUE(reg.REGDeleteSetting(root, key, QStringLiteral("a")));
    EXPECT_TRUE(reg.REGDeleteSetting(root, QStringLiteral("\\") + key, QStringLiteral("*")));
    EXPECT_TRUE(reg.REGDeleteSetting(root, key, QStringLiteral("Sub")));
    for (const char* gone : {"a", "*", "Sub"})
        EXPECT_EQ(Get(key, QString::fromUtf8(gone)), kUnset) << gone;
    EXPECT_EQ(Get(key, QStringLiteral("b")), "value of b");
    EXPECT_EQ(Get(sub, QStringLiteral("c")), "value of c");
    EXPECT_FALSE(reg.REGDeleteSetting(root, key, QStringLiteral("a")));
    EXPECT_FALSE(reg.REGDeleteSetting(root, parent + QStringLiteral("\\None"), "a"));

    // Keys: named as written (not trimmed), without subkeys, never the root.
    EXPECT_FALSE(reg.REGDeleteSetting(root, key, QString())); // has the subkey Sub
    EXPECT_FALSE(reg.REGDeleteSetting(root, QStringLiteral("\\") + sub, QString()));
    EXPECT_FALSE(reg.REGDeleteSetting(root, QString(), QString()));
    EXPECT_TRUE(reg.REGDeleteSetting(root, sub, QString()));
    EXPECT_TRUE(reg.REGDeleteSetting(root, key, QString()));
    EXPECT_FALSE(reg.REGDeleteSetting(root, key, QString()));
    const RegRoot copy = FreshCopy();
    EXPECT_EQ(Get(sub, QStringLiteral("c"), &copy), kUnset);
    EXPECT_EQ(Get(key, QStringLiteral("b"), &copy), kUnset);
    EXPECT_EQ(Get(parent, QStringLiteral("K"), &copy), "value of K");
}

namespace {

// Runs in a forked child without root's privileges (root may write any file): reads the
// store, tries to change it, reads again. 0 when all went right, 77 when it can't run.
int CheckReadOnlyStore(const RegRoot& store) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        return 77;
    const QByteArray path = QFile::encodeName(store.file);
    if (access(path.constData(), R_OK) != 0 || access(path.constData(), W_OK) == 0)
        return 77;
    const CRegister reg;
    const auto readsAsStored = [&] {
        return reg.REGGetSetting(store, kSection, QStringLiteral("Download Dir"), kUnset) ==
                   "/srv/videos" &&
               reg.REGGetSetting(store, QStringLiteral("New"), QStringLiteral("x"), kUnset) ==
                   kUnset;
    };
    if (!readsAsStored())
        return 1;
    if (reg.REGSaveSetting(store, kSection, QStringLiteral("Download Dir"), QStringLiteral("/")) ||
        reg.REGSaveSetting(store, QStringLiteral("New"), QStringLiteral("x"),
                           QStringLiteral("y")) ||
        reg.REGDeleteSetting(store, kSection, QStringLiteral("Download Dir")) ||
        reg.REGDeleteSetting(store, kSection, QString()))
        return 2;
    return readsAsStored() ? 0 : 3; // the refused changes must not show
}

} // namespace

TEST_F(Store, AStoreThatCannotBeWrittenIsReadAndRefusesChanges) {
    Put(kSection, QStringLiteral("Download Dir"), QStringLiteral("/srv/videos"));
    // A copy this process has never read, in a folder every user may read and none write.
    const QString folder = dir.filePath(QStringLiteral("readonly"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const RegRoot store{folder + QStringLiteral("/HKEY_CURRENT_USER.ini")};
    ASSERT_TRUE(QFile::copy(root.file, store.file));
    for (const auto& [path, mode] :
         {std::pair{store.file, 0444}, {folder, 0555}, {dir.path(), 0755}})
        ASSERT_EQ(chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
        _exit(CheckReadOnlyStore(store)); // no exit handlers or leak report in the child
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(QFile::encodeName(folder).constData(), 0755); // so the folder can be removed
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "could not run as an unprivileged user (uid/gid 65534) that may read "
                     << store.file.toStdString() << " but not write it";
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the store was not read, 2: a change was reported written, 3: a refused change "
           "showed in a later read";
}

TEST_F(Settings, FirstRunWatchesTheClipboardAndUsesTheDefaultFolderWithoutWriting) {
    settings.LoadSettings();
    EXPECT_TRUE(program.bMonitorClipboard);
    EXPECT_EQ(monitorCalls, std::vector<bool>{true});
    EXPECT_EQ(program.sDownloadDir, QDir::homePath() + QStringLiteral("/Downloaded Videos"));
    EXPECT_EQ(shown, Shown("1", program.sDownloadDir));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(root.file).path()));
}

TEST_F(Settings, StoredWatchTextsAndTheirEffect) {
    const struct {
        const char* stored;
        bool before, after; // the switch before and after loading
    } cases[] = {{"FALSE", true, false},
                 {"fAlSe", true, false},
                 {"tRUE", false, true},
                 {"0", true, false},
                 {"-1", false, true},
                 {"5", false, true},
                 {" 0.00e7 ", true, false},
                 {"+2.5", false, true},
                 {"1e99999", false, true},
                 // Anything else leaves the switch as it was, an empty text too.
                 {"yes", false, false},
                 {"yes", true, true},
                 {"", false, false},
                 {"0x1", false, false},
                 {"1 0", false, false}};
    Put(kSection, modSettings::kDownloadDir, QStringLiteral("/srv/videos"));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("stored \"") + c.stored + "\", before " +
                     (c.before ? "on" : "off"));
        Put(kSection, modSettings::kUrlMon, QString::fromUtf8(c.stored));
        program = {c.before, QString()};
        monitorCalls.clear();
        shown.clear();
        settings.LoadSettings();
        EXPECT_EQ(program.bMonitorClipboard, c.after);
        EXPECT_EQ(monitorCalls, c.after ? std::vector<bool>{true} : std::vector<bool>{});
        EXPECT_EQ(shown, Shown(c.after ? "1" : "0", "/srv/videos"));
    }
}

TEST_F(Settings, AStoredAbsoluteFolderIsTakenAsItIsAnyOtherReadsAsTheDefault) {
    const QString fallback = modSettings::DefaultDownloadDir();
    const struct {
        QString stored, loaded;
    } cases[] = {{QStringLiteral("/srv/videos/"), QStringLiteral("/srv/videos/")},
                 {QStringLiteral("/not/there"), QStringLiteral("/not/there")},
                 {QString::fromUtf8("/home/jürgen/My Videos "),
                  QString::fromUtf8("/home/jürgen/My Videos ")},
                 // Relative, blank or empty: the downloads would land wherever the program
                 // runs, or at the root of the file system.
                 {QStringLiteral("videos"), fallback},
                 {QStringLiteral("relative\\dir"), fallback},
                 {QStringLiteral(" /srv/videos"), fallback},
                 {QStringLiteral("  "), fallback},
                 {QString(), fallback}};
    for (const auto& c : cases) {
        SCOPED_TRACE("stored \"" + c.stored.toStdString() + "\"");
        Put(kSection, modSettings::kDownloadDir, c.stored);
        program.sDownloadDir = QStringLiteral("/before");
        shown.clear();
        settings.LoadSettings();
        EXPECT_EQ(program.sDownloadDir, c.loaded);
        EXPECT_EQ(shown, Shown("1", c.loaded));
        EXPECT_EQ(Get(kSection, modSettings::kDownloadDir), c.stored); // nothing written back
    }
}

TEST_F(Settings, SaveWritesBothValuesAndTheNextLoadGetsThemBack) {
    const QString folder = QString::fromUtf8("/home/jürgen/My Videos\\2007\\ ");
    program = {false, folder};
    settings.SaveSettings();
    EXPECT_EQ(Get(kSection, modSettings::kUrlMon), "False");
    EXPECT_EQ(Get(kSection, modSettings::kDownloadDir), folder);
    program.bMonitorClipboard = true;
    settings.SaveSettings();
    EXPECT_EQ(Get(kSection, modSettings::kUrlMon), "True");

    ProgramSettings loaded;
    modSettings(loaded, show, nullptr, FreshCopy()).LoadSettings();
    EXPECT_TRUE(loaded.bMonitorClipboard);
    EXPECT_EQ(loaded.sDownloadDir, folder);
}

TEST_F(Settings, AWatcherThatFailsDoesNotStopTheLoad) {
    Put(kSection, modSettings::kDownloadDir, QStringLiteral("/srv/videos"));
    const auto failing = [](bool) { throw std::runtime_error("the watcher did not start"); };
    modSettings(program, show, failing, root).LoadSettings();
    EXPECT_EQ(program.sDownloadDir, "/srv/videos");
    EXPECT_EQ(shown, Shown("1", "/srv/videos"));
}

// The entries at a time, the speed limit and the any-page switch: read with the others,
// anything out of bounds read as one at a time, no limit and off; saved on their own, at once.
TEST_F(Settings, TheCountAndTheSpeedLimitAreReadWithinBoundsAndSavedOnTheirOwn) {
    const struct {
        const char* count;
        const char* limit;   // nullptr: not stored
        const char* anySite; // nullptr: not stored
        int simultaneous;
        std::int64_t bytesPerSecond;
        bool any;
    } cases[] = {
        {"3", "1048576", "True", 3, 1048576, true},
        {" 8 ", "0", " -1 ", 8, 0, true},
        {"9", "-5", "yes", 1, 0, false},
        {"0", "1.5", "FALSE", 1, 0, false},
        {"two", "500K", "0", 1, 0, false},
        {"+2", "99999999999999999999", nullptr, 1, 0, false},
        {"", "", "", 1, 0, false},
        {nullptr, nullptr, nullptr, 1, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count ? c.count : "not stored");
        QFile::remove(root.file);
        if (c.count) {
            Put(kSection, modSettings::kSimultaneous, QString::fromUtf8(c.count));
            Put(kSection, modSettings::kSpeedLimit, QString::fromUtf8(c.limit));
        }
        if (c.anySite)
            Put(kSection, modSettings::kAnySite, QString::fromUtf8(c.anySite));
        program = {};
        program.bAnySite = !c.any; // the load sets it either way
        settings.LoadSettings();
        EXPECT_EQ(program.iSimultaneous, c.simultaneous);
        EXPECT_EQ(program.lSpeedLimit, c.bytesPerSecond);
        EXPECT_EQ(program.bAnySite, c.any);
    }

    // A cookies file is an absolute path; anything else stored names none.
    for (const auto& [stored, read] :
         {std::pair<QString, QString>{"/home/u/cookies.txt", "/home/u/cookies.txt"},
          {"cookies.txt", ""},
          {"", ""}}) {
        Put(kSection, modSettings::kCookieFile, stored);
        settings.LoadSettings();
        EXPECT_EQ(program.sCookieFile, read) << stored.toStdString();
    }

    QFile::remove(root.file);
    program = {false, QStringLiteral("/srv/videos"),        4, 102400,
               true,  QStringLiteral("/home/u/cookies.txt")};
    settings.SaveRunSettings();
    const RegRoot copy = FreshCopy();
    EXPECT_EQ(Get(kSection, modSettings::kSimultaneous, &copy), "4");
    EXPECT_EQ(Get(kSection, modSettings::kSpeedLimit, &copy), "102400");
    EXPECT_EQ(Get(kSection, modSettings::kAnySite, &copy), "True");
    EXPECT_EQ(Get(kSection, modSettings::kCookieFile, &copy), "/home/u/cookies.txt");
    EXPECT_EQ(Get(kSection, modSettings::kUrlMon, &copy), kUnset);
    EXPECT_EQ(Get(kSection, modSettings::kDownloadDir, &copy), kUnset);
}
