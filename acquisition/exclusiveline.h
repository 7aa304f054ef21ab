#pragma once

#include <QString>

// A serial line belongs to one program at a time: two readers would split
// the instrument's byte stream between them.

// Whether a process other than this one has the device open, as far as the
// system lets this program look (on Linux, the open descriptors listed under
// /proc that it may read). False where nothing can be seen.
bool OtherProcessHoldsDevice(const QString &device);

// Keeps others out of a line this program has just opened: exclusive mode
// (further opens fail, except for the superuser) and an advisory lock, which
// programs that honour such locks respect. False when another program already
// holds that lock.
bool ClaimLine(qintptr handle);
