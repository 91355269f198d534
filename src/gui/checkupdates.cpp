#include "checkupdates.h"

#include "prefs/userprefs.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QVector>

#ifndef TARVIX_UPDATE_URL
#define TARVIX_UPDATE_URL ""
#endif

CheckUpdates::CheckUpdates(bool *done, QString *result)
    : m_manager(new QNetworkAccessManager(this)), m_timer(new QTimer(this)), m_done(done),
      m_result(result)
{
    m_timer->setSingleShot(true);
}

CheckUpdates::~CheckUpdates() = default;

QString CheckUpdates::updateAddress()
{
    if (qEnvironmentVariableIsSet("TARVIX_UPDATE_URL"))
        return qEnvironmentVariable("TARVIX_UPDATE_URL").trimmed();
    return QStringLiteral(TARVIX_UPDATE_URL).trimmed();
}

QString CheckUpdates::sitePrefix(const QString &address)
{
    const QUrl url(address);
    if (!url.isValid() || url.host().isEmpty())
        return QString();
    return url.toString(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery
                        | QUrl::RemoveFragment)
           + QLatin1Char('/');
}

static bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString CheckUpdates::versionIn(const QString &section)
{
    int i = 0;
    const int n = section.size();
    while (i < n && !isAsciiDigit(section.at(i)))
        ++i;
    if (i == n)
        return QString();
    const int begin = i;
    for (int group = 0; group < 3; ++group) {
        if (group > 0) {
            // A "." counts only when digits follow it.
            if (i + 1 >= n || section.at(i) != QLatin1Char('.') || !isAsciiDigit(section.at(i + 1)))
                break;
            ++i;
        }
        while (i < n && isAsciiDigit(section.at(i)))
            ++i;
    }
    return section.mid(begin, i - begin);
}

bool CheckUpdates::isNewer(const QString &a, const QString &b)
{
    const QStringList pa = a.split(QLatin1Char('.'));
    const QStringList pb = b.split(QLatin1Char('.'));
    for (int i = 0; i < qMax(pa.size(), pb.size()); ++i) {
        // Groups compared as digit strings: no overflow on long runs.
        QString x = i < pa.size() ? pa.at(i) : QString();
        QString y = i < pb.size() ? pb.at(i) : QString();
        while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
            x.remove(0, 1);
        while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
            y.remove(0, 1);
        if (x.isEmpty())
            x = QStringLiteral("0");
        if (y.isEmpty())
            y = QStringLiteral("0");
        if (x.size() != y.size())
            return x.size() > y.size();
        if (x != y)
            return x > y;
    }
    return false;
}

void CheckUpdates::start()
{
    m_address = updateAddress();
    if (m_address.isEmpty()) {
        *m_result = noAddressText();
        m_finished = true;
        *m_done = true;
        return;
    }
    UserPrefs::turnOffDbg();
    const QUrl url(m_address);
    // A proxy cannot reach this machine's own loopback address.
    const QHostAddress host(url.host());
    if (url.host() == QLatin1String("localhost") || (!host.isNull() && host.isLoopback()))
        m_manager->setProxy(QNetworkProxy::NoProxy);
    connect(m_manager, &QNetworkAccessManager::finished, this, &CheckUpdates::fileDownloaded);
    connect(m_timer, &QTimer::timeout, this, &CheckUpdates::killChecking);
    get(m_address);
}

void CheckUpdates::get(const QString &address)
{
    QNetworkRequest request{QUrl(address)};
    // Moved pages are followed by the page's own text only (see fileDownloaded).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_manager->get(request);
    // A page that keeps coming is cut off; the check reports it.
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxPageBytes && !reply->property("tooLarge").toBool()) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    m_timer->start(m_timeoutMs);
}

void CheckUpdates::killChecking()
{
    m_manager->disconnect();
    m_timer->disconnect();
    m_timer->stop();
    if (m_finished)
        return;
    if (m_result->isEmpty())
        *m_result = QStringLiteral("10 second timeout");
    m_finished = true;
    *m_done = true;
    UserPrefs::turnOnDbg();
}

void CheckUpdates::fileDownloaded(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_finished)
        return;
    const bool tooLarge = reply->property("tooLarge").toBool();
    QByteArray raw = tooLarge ? QByteArray() : reply->readAll();
    const int zero = raw.indexOf('\0');
    if (zero >= 0)
        raw.truncate(zero);
    const QString body = QString::fromUtf8(raw);
    const QString marker = QStringLiteral("***");

    // A moved page names its new place on the same site.
    const QString prefix = sitePrefix(m_address);
    if (!prefix.isEmpty() && m_redirects < kMaxRedirects
        && body.contains(QLatin1String("The document has moved")) && !body.contains(marker)) {
        const int at = body.indexOf(QLatin1Char('"') + prefix);
        if (at >= 0) {
            const int from = at + 1 + prefix.size();
            const int end = body.indexOf(QLatin1Char('"'), from);
            const QString target = prefix + body.mid(from, end < 0 ? -1 : end - from);
            if (end >= 0 && target.contains(QLatin1String(".html"))) {
                ++m_redirects;
                get(target);
                return;
            }
        }
    }

    QString section;
    const int first = body.indexOf(marker);
    const int second = first < 0 ? -1 : body.indexOf(marker, first + marker.size());
    if (second >= 0)
        section = body.mid(first + marker.size(), second - first - marker.size());

    const QString running = QCoreApplication::applicationVersion();
    const QString announced = versionIn(section);
    const bool usable = section.contains(QLatin1String("Tarvix"))
                        && (!announced.isEmpty() || section.contains(running));
    if (usable) {
        // Only a higher number is news; the running or an older one is not.
        if (!announced.isEmpty() && isNewer(announced, running))
            *m_result = newerMark() + announced;
        else
            *m_result = QStringLiteral("OK");
    } else {
        QString error;
        if (tooLarge)
            error = QStringLiteral("The update page is too large");
        else if (reply->error() != QNetworkReply::NoError)
            error = reply->errorString();
        *m_result = error.isEmpty() ? QStringLiteral("No Error") : error;
    }
    m_timer->stop();
    m_timer->disconnect();
    m_manager->disconnect();
    m_finished = true;
    UserPrefs::turnOnDbg();
    if (!usable)
        qDebug("%s", qUtf8Printable(QStringLiteral("\nerror no: CU2 - ") + *m_result + QLatin1Char('\n')
                                    + body.left(4096)));
    *m_done = true;
}
