#include "testenv.h"

#include "threads/mythreads.h"

#include <QDir>

TestEnv::TestEnv(int processors, bool initialisePrefs) : m_processors(processors)
{
    QDir(m_dir.path()).mkpath(QStringLiteral("appdata"));
    QDir(m_dir.path()).mkpath(QStringLiteral("tmp"));
    qputenv("APPDATA", appData().toUtf8());
    qputenv("TEMP", temp().toUtf8());
    qputenv("XDG_DATA_HOME", appData().toUtf8());
    qputenv("TMPDIR", temp().toUtf8());
    UserPrefs::resetStore();
    if (initialisePrefs) {
        m_prefs.reset(new UserPrefs(nullptr));
        UserPrefs::setInstance(m_prefs.get());
        m_prefs->initialise(environment(), screen());
    }
}

TestEnv::~TestEnv()
{
    MyThreads::destroyPool();
    if (UserPrefs::instance() == m_prefs.get())
        UserPrefs::setInstance(nullptr);
    m_prefs.reset();
    UserPrefs::resetStore();
}

QString TestEnv::appData() const
{
    return m_dir.path() + QStringLiteral("/appdata");
}

QString TestEnv::temp() const
{
    return m_dir.path() + QStringLiteral("/tmp");
}

QStringList TestEnv::environment() const
{
    return QStringList{QStringLiteral("Linux"), QStringLiteral("x64"), QStringLiteral("tester"),
                       QStringLiteral("testhost"), temp(), appData(),
                       QString::number(m_processors)};
}
