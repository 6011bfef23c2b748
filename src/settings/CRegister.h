#pragma once

#include <QString>

namespace orvello {

// A root of the per-user settings store: the INI file that holds every key below it.
struct RegRoot {
    QString file;
};

// The current user's root: Orvello/HKEY_CURRENT_USER.ini in the user's config folder
// ($XDG_CONFIG_HOME, normally ~/.config).
RegRoot HKEY_CURRENT_USER();

// Reads, writes and deletes single text values in the settings store, addressed by root,
// key path and value name. Key paths have "\" between their levels ("Software\Orvello");
// one leading and one trailing "\" are tolerated, and a path with an empty level (a doubled
// "\", or a leading one left after trimming) names no key. The value name "*" (as well as
// the empty name) stands for the key's default value.
// Every failure ends in a default result; nothing is thrown or shown. The class holds no
// state: each call opens the store, does its work and closes it again.
class CRegister {
public:
    // Deletes the value sKey of the key sSection; with an empty sKey deletes the key sSection
    // itself (taken as written, not trimmed), which must exist and have no subkeys. True when
    // something was deleted and the store was written.
    bool REGDeleteSetting(const RegRoot& regHKEY, const QString& sSection,
                          const QString& sKey) const;
    // The stored text of the value, or sDefault when it can't be read. Reading creates
    // nothing: a missing key or store stays missing. A store the program may read but not
    // write is read as usual.
    QString REGGetSetting(const RegRoot& regHKEY, const QString& sSection, const QString& sKey,
                          const QString& sDefault) const;
    // Stores sValue, creating the key and any missing parent keys (and the store file and
    // its folder). True when the value was written; a later read gives back exactly sValue.
    bool REGSaveSetting(const RegRoot& regHKEY, const QString& sSection, const QString& sKey,
                        const QString& sValue) const;

private:
    // The path without one leading and one trailing "\".
    static QString REGTrimSection(const QString& sSection);
};

} // namespace orvello
