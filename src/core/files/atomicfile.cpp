#include "files/atomicfile.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString failedText(const QString &what, const QString &path, int err)
{
    return QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), reason(err));
}

bool syncDescriptor(const QString &path, int flags, int *err)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    bool ok = ::fsync(fd) == 0;
    if (!ok)
        *err = errno;
    ::close(fd);
    return ok;
}

QString tempNameFor(const QFileInfo &target)
{
    static QAtomicInt counter;
    return target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.')
           + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('.')
           + QString::number(counter.fetchAndAddRelaxed(1) + 1) + QStringLiteral(".part");
}

} // namespace

bool syncFile(const QString &path, QString *error)
{
    int err = 0;
    if (syncDescriptor(path, O_RDONLY, &err))
        return true;
    if (error)
        *error = failedText(QStringLiteral("Could not flush"), path, err);
    return false;
}

Result replace(const QString &target, const Writer &writer)
{
    Result result;
    const QFileInfo info(target);
    const QString temp = tempNameFor(info);
    const QByteArray tempName = QFile::encodeName(temp);

    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        result.error = failedText(QStringLiteral("Could not create a file beside"), target, errno);
        result.stage = Result::Create;
        return result;
    }
    ::close(fd);
    if (info.exists())
        QFile::setPermissions(temp, info.permissions());

    QString writerError;
    bool ok = writer(temp, &writerError);
    if (!ok) {
        result.stage = Result::Write;
        result.error = writerError.isEmpty()
                           ? QStringLiteral("Could not write %1").arg(QDir::toNativeSeparators(target))
                           : writerError;
    }
    int err = 0;
    if (ok && !syncDescriptor(temp, O_RDONLY, &err)) {
        ok = false;
        result.stage = Result::Write;
        result.error = failedText(QStringLiteral("Could not write"), target, err);
    }
    if (ok && std::rename(tempName.constData(), QFile::encodeName(target).constData()) != 0) {
        ok = false;
        result.stage = Result::Replace;
        result.error = failedText(QStringLiteral("Could not replace"), target, errno);
    }
    if (!ok) {
        ::unlink(tempName.constData());
        return result;
    }
    // The rename itself reaches the disk with the folder.
    syncDescriptor(info.absolutePath(), O_RDONLY | O_DIRECTORY, &err);
    result.ok = true;
    return result;
}

Result writeBytes(const QString &target, const QByteArray &data)
{
    return replace(target, [&](const QString &temp, QString *error) {
        QFile file(temp);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(target), file.errorString());
            return false;
        }
        if (file.write(data) != data.size() || !file.flush()) {
            *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(target), file.errorString());
            return false;
        }
        return true;
    });
}

Result copy(const QString &source, const QString &target)
{
    return replace(target, [&source](const QString &temp, QString *error) {
        QFile in(source);
        QFile out(temp);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = in.isOpen() ? out.errorString() : in.errorString();
            return false;
        }
        QByteArray chunk;
        while (!(chunk = in.read(1 << 20)).isEmpty())
            if (out.write(chunk) != chunk.size()) {
                *error = out.errorString();
                return false;
            }
        return in.error() == QFileDevice::NoError && out.flush();
    });
}

} // namespace AtomicFile
