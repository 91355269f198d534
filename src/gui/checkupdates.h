#ifndef CHECKUPDATES_H
#define CHECKUPDATES_H

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Asks the update page which version is the latest. One object per check:
// start() sends the request; when the answer (or the time-out) is in, the
// result string is set and then the done flag. Both belong to the caller.
//
// Result: "OK" (the page names the running version), newerMark() followed
// by the announced version, or an error text.
class CheckUpdates : public QObject
{
    Q_OBJECT
public:
    CheckUpdates(bool *done, QString *result);
    ~CheckUpdates() override;

    void start();

    // The update page: TARVIX_UPDATE_URL when it is set (also when empty),
    // otherwise the address the program was built with (often none: package
    // managers bring updates of their own).
    static QString updateAddress();
    // Only redirects to this prefix (the update page's own site) are followed.
    static QString sitePrefix(const QString &address);
    static QString newerMark() { return QStringLiteral("Tarvix OLD fileDownloaded();\n"); }
    static QString noAddressText() { return QStringLiteral("no update address is configured"); }
    // The dotted version in a section of the page ("" when none).
    static QString versionIn(const QString &section);
    // True when dotted version a is higher than b (missing groups count 0).
    static bool isNewer(const QString &a, const QString &b);

    // Tests shorten the wait for an answer.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    // Most pages a moved-document chain may lead through, and the largest
    // page read; an update page is a few hundred bytes.
    static constexpr int kMaxRedirects = 5;
    static constexpr qint64 kMaxPageBytes = 1 << 20;

public slots:
    void killChecking();
    void fileDownloaded(QNetworkReply *reply);

private:
    void get(const QString &address);

    QNetworkAccessManager *m_manager;
    QTimer *m_timer;
    bool *m_done;
    QString *m_result;
    QString m_address;
    int m_timeoutMs = 10000;
    int m_redirects = 0;
    bool m_finished = false;
};

#endif
