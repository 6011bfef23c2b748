#pragma once

#include <QString>

namespace orvello {

// The files the program loads at run time (Main.qml, Help.html) lie beside the program in a
// build folder, and in the program's share folder (<prefix>/share/orvello beside
// <prefix>/bin) when installed.

// The path of the file `name` for a program in `programDir`: the first of beside the
// program and the share folder that exists, or the path beside the program when neither does.
QString FindProgramFile(const QString& programDir, const QString& name);

// The same for the running program's folder.
QString FindProgramFile(const QString& name);

} // namespace orvello
