#include "ApplicationIdentity.h"

#include <QCoreApplication>

namespace ApplicationIdentity {

void apply()
{
    QCoreApplication::setApplicationName(QString::fromLatin1(applicationName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(applicationVersion));
    QCoreApplication::setOrganizationName(QString::fromLatin1(organizationName));
    QCoreApplication::setOrganizationDomain(QString::fromLatin1(organizationDomain));
}

} // namespace ApplicationIdentity
