#include "view/DateTimes.h"

#include <cmath>

QDateTime OleDateToDateTime(double oleDate)
{
    // Wall-clock arithmetic: a zone with summer time would move the hour.
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    return epoch.addMSecs(std::llround(oleDate * 86400000.0));
}
