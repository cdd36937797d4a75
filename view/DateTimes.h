#pragma once

#include <QDateTime>

// An OLE Automation date (days since 1899-12-30, the time as the fraction of the day) as
// the date and time it shows (no time zone applied), to the millisecond.
QDateTime OleDateToDateTime(double oleDate);
