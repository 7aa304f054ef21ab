#pragma once

#include <QDate>
#include <QString>

// The dated subfolder the chooser proposes: "YYMMDD" of the date, then the
// next free (letter, digit) pair after the highest one found among the
// folder's entries of that day (files count like folders, names are compared
// in upper case): A0, A1, …, A9, B0, …, Z9.
struct SubfolderProposal
{
    QString name;      // the name, or "******" (Z9 taken) or "ERROR" (the folder cannot be read)
    bool usable = true; // false for the two markers
};

SubfolderProposal ProposeSubfolderName(const QString &folder, const QDate &date);

inline const QString kAllNamesTaken = QStringLiteral("******");
inline const QString kSearchFailed = QStringLiteral("ERROR");
