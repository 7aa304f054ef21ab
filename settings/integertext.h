#pragma once

#include "messageseam.h"

#include <QString>

// Integers in the dialogs' edit boxes.

// The whole text (blanks around it allowed) is a signed 32-bit decimal integer.
bool ParseWholeInteger(const QString &text, int *value);

// What an edit box that wants an integer from `lowest` to `highest` holds.
enum class IntegerText { InRange, NotInteger, OutOfRange };
// The whole text (blanks around it allowed) as a decimal integer of any
// length; `value` is set only when it is in range.
IntegerText ParseIntegerInRange(const QString &text, int lowest, int highest, int *value);

// The integer that the start of the text spells, as atoi reads it: optional
// leading white space and sign, then digits up to the first non-digit; 0 when
// there are none. Clamped to the 32-bit range.
int LeadingInteger(const QString &text);

// The notice shown when an edit box that must hold an integer does not.
Message IntegerNotice();
// The notice for an integer outside the range that the box takes.
Message IntegerRangeNotice(int lowest, int highest);
