#include "pluginhost.h"

#include "blockedinterface.h"
#include "plugininterface.h"

#include <QCoreApplication>
#include <QFile>
#include <QLibrary>
#include <QPluginLoader>
#include <QThread>

// The kernel source lives in the core library's resources.
static void initOpenCLResource()
{
    Q_INIT_RESOURCE(opencl);
}

PluginHost::PluginHost(QObject *parent) : QObject(parent)
{
    initOpenCLResource();
    qRegisterMetaType<QString *>("QString*");
}

PluginHost::~PluginHost()
{
    if (m_plugin)
        m_plugin->release();
    if (m_loader) {
        m_loader->unload();
        delete m_loader;
    }
}

bool PluginHost::openCLLibraryLoads()
{
    // The unversioned name comes only with the development files; a
    // machine with just the runtime has the versioned one.
    QLibrary plain(QStringLiteral("OpenCL"));
    if (plain.load()) {
        plain.unload();
        return true;
    }
    QLibrary versioned(QStringLiteral("OpenCL"), 1);
    if (!versioned.load())
        return false;
    versioned.unload();
    return true;
}

QString PluginHost::defaultPluginPath()
{
#if defined(Q_OS_WIN)
    const char *suffix = "dll";
#elif defined(Q_OS_MACOS)
    const char *suffix = "dylib";
#else
    const char *suffix = "so";
#endif
    return QCoreApplication::applicationDirPath() + QStringLiteral("/plugins/TrxOpenCL.")
           + QLatin1String(suffix);
}

bool PluginHost::loadPlugin(const QString &path)
{
    if (m_plugin)
        return true;
    if (!openCLLibraryLoads())
        return false;
    auto *loader = new QPluginLoader(path.isEmpty() ? defaultPluginPath() : path);
    QObject *root = loader->instance();
    PluginInterface *plugin = root ? qobject_cast<PluginInterface *>(root) : nullptr;
    if (!plugin) {
        // A library of another interface is unloaded again.
        if (root)
            loader->unload();
        delete loader;
        return false;
    }
    m_loader = loader;
    m_root = root;
    m_plugin = plugin;
    m_blocked = qobject_cast<BlockedSolverInterface *>(root);
    return true;
}

bool PluginHost::deviceInfo(QList<QStringList> *lists)
{
    lists->clear();
    if (!m_plugin)
        return false;
    QList<QStringList *> raw;
    m_plugin->getDeviceInfo(&raw);
    bool ok = !raw.isEmpty();
    for (QStringList *l : qAsConst(raw)) {
        if (!l || l->size() != 7)
            ok = false;
        else
            lists->append(*l);
        delete l;
    }
    if (!ok)
        lists->clear();
    m_lists = *lists;
    return ok;
}

bool PluginHost::setCustomDevices(const QList<int> &devices)
{
    if (!m_plugin || devices.isEmpty())
        return false;
    QList<int> list = devices;
    QFile clFile(QStringLiteral(":/OpenCL/MyOpenCL.cl"));
    bool result = true;
    m_plugin->setCustomDevices(&list, &clFile, &result);
    QStringList names;
    for (int d : devices)
        names << (d >= 0 && d < m_lists.size() ? m_lists.at(d).value(0) : QStringLiteral("device %1").arg(d + 1));
    m_chosen = result ? names.join(QStringLiteral(", ")) : QString();
    return result;
}

void PluginHost::initialiseGPU(double **c, double *r, double **ur, double **dr, int n,
                               QList<int> *diag, QThread *t)
{
    if (m_plugin)
        m_plugin->initialise(c, r, ur, dr, n, diag, t);
}

void PluginHost::calcURatios(bool *res)
{
    if (!m_plugin) {
        *res = false;
        return;
    }
    m_plugin->calcURatios(res);
    if (*res || !m_errorReceiver)
        return;
    QString title, text, type;
    m_plugin->getError(&title, &text, &type);
    if (type.isEmpty())
        return;
    // The receiver shows it on its own thread; this (solve) thread waits.
    const Qt::ConnectionType how = m_errorReceiver->thread() == QThread::currentThread()
                                       ? Qt::DirectConnection
                                       : Qt::BlockingQueuedConnection;
    QMetaObject::invokeMethod(m_errorReceiver, "errMsg", how, Q_ARG(QString *, new QString(title)),
                              Q_ARG(QString *, new QString(text)), Q_ARG(QString, type));
}
