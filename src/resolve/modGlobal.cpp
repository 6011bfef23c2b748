#include "resolve/modGlobal.h"

namespace orvello {

void SplitUrl(QString& address, QString& path) {
    if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        address.remove(0, 7);
    const qsizetype slash = address.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return;
    path = address.mid(slash);
    address.truncate(slash);
}

} // namespace orvello
