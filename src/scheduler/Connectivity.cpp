#include "scheduler/Connectivity.h"

#include <QNetworkInterface>

namespace orvello {

bool NetworkInterfaces::IsConnected() {
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        if (!nic.addressEntries().isEmpty())
            return true;
    }
    return false;
}

} // namespace orvello
