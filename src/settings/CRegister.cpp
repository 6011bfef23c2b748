#include "settings/CRegister.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <utility>
#include <vector>

namespace orvello {

namespace {

// The store is a QSettings INI file: a key path becomes a QSettings group and a value name
// a key inside it. QSettings separates levels with "/", so a "/" inside a level or value
// name is escaped, and "%" with it, which keeps every two distinct names distinct.
QString EscapeName(const QString& name) {
    QString escaped = name;
    escaped.replace(QLatin1Char('%'), QStringLiteral("%25"));
    escaped.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    return escaped;
}

// The name the key's default value is kept under: a text no escaped name can be.
const QString kDefaultValueName = QStringLiteral("%");

// The QSettings group of a key path with "\" between its levels; the empty path is the
// root itself. A path with an empty level names no key.
std::optional<QString> GroupOf(const QString& path) {
    if (path.isEmpty())
        return QString();
    QStringList levels = path.split(QLatin1Char('\\'));
    for (QString& level : levels) {
        if (level.isEmpty())
            return std::nullopt;
        level = EscapeName(level);
    }
    return levels.join(QLatin1Char('/'));
}

QString SettingsKey(const QString& group, const QString& sKey) {
    const QString name =
        sKey.isEmpty() || sKey == QLatin1String("*") ? kDefaultValueName : EscapeName(sKey);
    return group.isEmpty() ? name : group + QLatin1Char('/') + name;
}

// Changes to one store, written together by Commit(). QSettings keeps changes it could not
// write in a cache that every later instance on the same file reads from, so a read after a
// refused write would show the unwritten value. A failed commit therefore puts every
// changed value back as it was before it reports the failure.
class StoreEdit {
public:
    explicit StoreEdit(const RegRoot& root) : store_(root.file, QSettings::IniFormat) {}

    QSettings& store() { return store_; }

    void Set(const QString& key, const QString& value) {
        Remember(key);
        store_.setValue(key, value);
    }
    void Remove(const QString& key) {
        Remember(key);
        RemoveOnly(key);
    }
    bool Commit() {
        store_.sync();
        if (store_.status() == QSettings::NoError)
            return true;
        for (const auto& [key, old] : before_) {
            if (old)
                store_.setValue(key, *old);
            else
                RemoveOnly(key);
        }
        return false;
    }

private:
    void Remember(const QString& key) {
        for (const auto& entry : before_)
            if (entry.first == key)
                return;
        before_.emplace_back(key, store_.contains(key) ? std::optional(store_.value(key))
                                                       : std::nullopt);
    }
    // QSettings::remove also drops everything below the key, that is the subkey of the
    // same name; this removes the one value and keeps the subkey.
    void RemoveOnly(const QString& key) {
        std::vector<std::pair<QString, QVariant>> below;
        store_.beginGroup(key);
        for (const QString& name : store_.allKeys())
            below.emplace_back(key + QLatin1Char('/') + name, store_.value(name));
        store_.endGroup();
        store_.remove(key);
        for (const auto& [name, value] : below)
            store_.setValue(name, value);
    }

    QSettings store_;
    std::vector<std::pair<QString, std::optional<QVariant>>> before_;
};

} // namespace

RegRoot HKEY_CURRENT_USER() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return {QDir(config).filePath(QStringLiteral("Orvello/HKEY_CURRENT_USER.ini"))};
}

bool CRegister::REGDeleteSetting(const RegRoot& regHKEY, const QString& sSection,
                                 const QString& sKey) const {
    if (!sKey.isEmpty()) {
        const std::optional<QString> group = GroupOf(REGTrimSection(sSection));
        if (!group)
            return false;
        const QString key = SettingsKey(*group, sKey);
        StoreEdit edit(regHKEY);
        if (!edit.store().contains(key))
            return false;
        edit.Remove(key);
        return edit.Commit();
    }

    // The key itself, named as written. The root can't be deleted, and a key only while it
    // has no subkeys, so one call never removes a whole tree.
    const std::optional<QString> group = GroupOf(sSection);
    if (!group || group->isEmpty())
        return false;
    StoreEdit edit(regHKEY);
    QSettings& store = edit.store();
    store.beginGroup(*group);
    const QStringList values = store.childKeys();
    const bool hasSubkeys = !store.childGroups().isEmpty();
    store.endGroup();
    if (values.isEmpty() || hasSubkeys) // no such key, or one with subkeys
        return false;
    for (const QString& name : values)
        edit.Remove(*group + QLatin1Char('/') + name);
    return edit.Commit();
}

QString CRegister::REGGetSetting(const RegRoot& regHKEY, const QString& sSection,
                                 const QString& sKey, const QString& sDefault) const {
    const std::optional<QString> group = GroupOf(REGTrimSection(sSection));
    if (!group)
        return sDefault;
    // QSettings reads a store it can't write, and writes nothing back when nothing changed.
    const QSettings store(regHKEY.file, QSettings::IniFormat);
    const QVariant value = store.value(SettingsKey(*group, sKey));
    // Values written here are texts. Edited by hand, a value may read as a list ("a, b"
    // without quotes) or as something that has no text at all.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    if (!value.isValid() || !value.canConvert<QString>())
        return sDefault;
    return value.toString();
}

bool CRegister::REGSaveSetting(const RegRoot& regHKEY, const QString& sSection, const QString& sKey,
                               const QString& sValue) const {
    const std::optional<QString> group = GroupOf(REGTrimSection(sSection));
    if (!group)
        return false;
    StoreEdit edit(regHKEY);
    edit.Set(SettingsKey(*group, sKey), sValue);
    return edit.Commit();
}

QString CRegister::REGTrimSection(const QString& sSection) {
    QString path = sSection;
    if (path.startsWith(QLatin1Char('\\')))
        path.remove(0, 1);
    if (path.endsWith(QLatin1Char('\\')))
        path.chop(1);
    return path;
}

} // namespace orvello
