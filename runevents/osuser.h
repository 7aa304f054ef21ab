#pragma once

#include <QString>

// The operating system's user this program runs as ("ivanov"); empty when it
// cannot be told.
QString OsUserName();
