#pragma once

#include <QString>

// The path rules of the main dialog's folder choice.

// What "C:\" stands for: the drive's root on Windows, the home folder elsewhere.
QString DefaultFolder();
bool IsPathSeparator(QChar c);
// The text without any of `characters` at its end.
QString WithoutTrailing(QString text, const QString &characters);
// The chosen folder with the chooser's subfolder name after it: trailing
// blanks and separators go, then one native separator and the name.
QString WithSubfolder(const QString &folder, const QString &subfolder);
