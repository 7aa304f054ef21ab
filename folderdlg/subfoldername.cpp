#include "subfoldername.h"

#include <QDir>
#include <QFileInfo>

SubfolderProposal ProposeSubfolderName(const QString &folder, const QDate &date)
{
    const QString prefix = QStringLiteral("%1%2%3")
                               .arg(date.year() % 100, 2, 10, QLatin1Char('0'))
                               .arg(date.month(), 2, 10, QLatin1Char('0'))
                               .arg(date.day(), 2, 10, QLatin1Char('0'));
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable())
        return {kSearchFailed, false};

    const QStringList entries = QDir(folder).entryList({prefix + QLatin1Char('*')},
                                                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (entries.isEmpty())
        return {prefix + QStringLiteral("A0"), true};

    // As if A0 were taken: a found but uncounted entry still moves on to A1.
    QChar letter = QLatin1Char('A');
    QChar digit = QLatin1Char('0');
    for (const QString &entry : entries) {
        const QString name = entry.toUpper();
        if (name.size() < 8)
            continue;
        const QChar entryLetter = name[6];
        const QChar entryDigit = name[7];
        if (entryLetter < QLatin1Char('A') || entryLetter > QLatin1Char('Z') || entryDigit < QLatin1Char('0')
            || entryDigit > QLatin1Char('9'))
            continue;
        if (entryLetter > letter) {
            letter = entryLetter;
            digit = entryDigit;
        } else if (entryLetter == letter && entryDigit > digit) {
            digit = entryDigit;
        }
    }
    if (letter == QLatin1Char('Z') && digit == QLatin1Char('9'))
        return {kAllNamesTaken, false};
    if (digit < QLatin1Char('9'))
        digit = QChar(digit.unicode() + 1);
    else {
        letter = QChar(letter.unicode() + 1);
        digit = QLatin1Char('0');
    }
    return {prefix + letter + digit, true};
}
