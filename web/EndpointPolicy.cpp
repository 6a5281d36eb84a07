#include "EndpointPolicy.h"

#include <QHostAddress>

namespace {

QString shown(const QUrl &url)
{
    // Never echo a password that someone wrote into the address.
    return EndpointPolicy::withoutUserInfo(url);
}

} // namespace

QString EndpointPolicy::withoutUserInfo(const QUrl &url)
{
    return url.toDisplayString(QUrl::RemoveUserInfo);
}

bool EndpointPolicy::isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QString EndpointPolicy::refusalForPolling(const QUrl &url, const QString &what)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        return QStringLiteral("The %1 address \"%2\" is not an http or https address.")
            .arg(what, shown(url));
    }
    return {};
}

QString EndpointPolicy::refusalForCredentials(const QUrl &url, const QString &what)
{
    const QString refusal = refusalForPolling(url, what);
    if (!refusal.isEmpty())
        return refusal;
    if (url.scheme().toLower() == QLatin1String("http") && !isLoopbackHost(url.host())) {
        return QStringLiteral("The %1 address \"%2\" uses plain http, which is allowed only for "
                              "this computer: use https.")
            .arg(what, shown(url));
    }
    return {};
}
