#include "userprefs.h"

#include "app/applog.h"
#include "prompt/prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>

namespace {

// The store. Everything is class-wide; the object only carries the save.
struct Store
{
    QList<int> threadLimits;
    double tolerance = 1e-15;
    bool fancyUI = false;
    bool undoEnabled = true;
    bool debugEnabled = true;
    bool openCLEnabled = false;
    bool autoCheckUpdates = true;
    // The OpenCL engine: the blocked one unless the step-by-step one was
    // chosen, which an optional last line records.
    bool openCLStepwise = false;
    int lineFour[6] = {100, 3, 0, 0, 0, 15};
    std::array<int, 4> geometry[6] = {};
    QList<int> lists[4];

    QString version = QStringLiteral(TARVIX_VERSION);

    bool dirty = false;
    QString currentFile;
    UserPrefs *instance = nullptr;
    LogSwitchHolder *holder = nullptr;
    LogSwitch *stashedSwitch = nullptr;
};

Store &S()
{
    static Store s;
    return s;
}

// line 4 defaults and read checks, field by field
const int kLineFourDefaults[6] = {100, 3, 0, 0, 0, 15};
bool lineFourValid(int field, int v)
{
    switch (field) {
    case 0: return v >= 10 && v % 10 == 0;
    case 1: return v >= 1 && v <= 10;
    case 2:
    case 3: return v >= 0 && v <= 2;
    case 4: return v >= 0 && v <= 1;
    case 5: return v >= 1 && v <= 15;
    }
    return false;
}

const int kWindowBase[6][2] = {{500, 350}, {800, 600}, {700, 310}, {350, 200}, {1290, 600}, {550, 400}};

template <typename T> void setItem(T &item, const T &v)
{
    if (item != v) {
        item = v;
        S().dirty = true;
    }
}

double nonZeroFactor(double f)
{
    return (f >= -1e-15 && f <= 1e-15) ? 1.0 : f;
}

QList<int> defaultThreadLimits()
{
    QList<int> l;
    const int p = Environment::processorCount();
    for (int t = 1; t <= p; ++t)
        l.append(5 * t);
    return l;
}

QList<int> defaultList(int kind)
{
    QList<int> l;
    for (int e = 1; e <= 4; ++e)
        l.append(UserPrefs::getDefaultPrefs(kind, e));
    return l;
}

QStringList fieldsOf(QTextStream &in)
{
    const QString line = in.atEnd() ? QString() : in.readLine();
    return line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

UserPrefs::UserPrefs(LogSwitchHolder *holder)
{
    S().holder = holder;
}

UserPrefs::~UserPrefs()
{
    if (S().instance == this)
        S().instance = nullptr;
}

UserPrefs *UserPrefs::instance()
{
    return S().instance;
}

void UserPrefs::setInstance(UserPrefs *prefs)
{
    S().instance = prefs;
}

void UserPrefs::resetStore()
{
    UserPrefs *inst = S().instance;
    Environment::reset();
    S() = Store();
    S().instance = inst;
}

// ---------------------------------------------------------------- probe

void UserPrefs::runProbe(const QStringList &environment, const ScreenInfo &screen)
{
    Environment::probe(environment, screen);
    if (!MyThreads::instance())
        MyThreads::setInstance(new MyThreads());
    MyThreads::growPool(2 * Environment::processorCount());
}

// ---------------------------------------------------------------- life cycle

bool UserPrefs::initialise(const QStringList &environment, const ScreenInfo &screen)
{
    runProbe(environment, screen);
    Store &s = S();
    s.currentFile = Environment::prefsFile();
    QFile file(s.currentFile);
    switch (openPrefsFile(&file, false)) {
    case 1: {
        setDefaultPrefs();
        QTextStream out(&file);
        writePrefs(out);
        file.close();
        s.dirty = false;
        return true;
    }
    case 2: {
        QTextStream in(&file);
        const bool ok = readPrefs(in);
        file.close();
        return ok;
    }
    default:
        return false;
    }
}

void UserPrefs::probeEnvironment(const QStringList &environment, const ScreenInfo &screen)
{
    runProbe(environment, screen);
    setDefaultPrefs();
}

bool UserPrefs::readPrefsFile(const QString &path)
{
    setDefaultPrefs();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    const bool ok = readPrefs(in);
    if (!ok)
        setDefaultPrefs();
    return ok;
}

int UserPrefs::openPrefsFile(QFile *file, bool truncate)
{
    Prompter *p = Prompter::instance();
    QFileInfo info(*file);
    if (info.size() == 0)
        file->remove();
    if (file->exists()) {
        QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Text;
        if (truncate)
            mode |= QIODevice::Truncate;
        if (file->open(mode))
            return 2;
        p->message(Prompter::Critical, QStringLiteral("Failure Opening Preferences File!"),
                   QStringLiteral("Could not Open the Preferences file: ") + file->fileName()
                       + QStringLiteral("\nClosing the Application."), Prompter::Ok, Prompter::Ok);
        return 0;
    }
    const QString appData = Environment::appDataFolder();
    QDir data(appData);
    if (!appData.isEmpty() && data.exists()) {
        if (!data.exists(QStringLiteral("Tarvix")))
            data.mkdir(QStringLiteral("Tarvix"));
        QDir tarvix(Environment::tarvixFolder());
        if (tarvix.exists() && !tarvix.exists(QStringLiteral("Preferences")))
            tarvix.mkdir(QStringLiteral("Preferences"));
    }
    if (file->open(QIODevice::ReadWrite | QIODevice::Text))
        return 1;
    p->message(Prompter::Critical, QStringLiteral("Failure creating Preferences File!"),
               QStringLiteral("Could not create the Preferences file: ") + file->fileName()
                   + QStringLiteral("\nClosing the Application."), Prompter::Ok, Prompter::Ok);
    return 0;
}

void UserPrefs::setDefaultPrefs()
{
    Store &s = S();
    s.threadLimits = defaultThreadLimits();
    s.tolerance = getDefaultTolerance();
    s.fancyUI = getDefaultPrefs(1);
    s.undoEnabled = getDefaultPrefs(2);
    s.debugEnabled = getDefaultPrefs(3);
    s.autoCheckUpdates = getDefaultPrefs(5);
    s.openCLStepwise = false;
    for (int i = 0; i < 6; ++i)
        s.lineFour[i] = kLineFourDefaults[i];
    for (int w = 0; w < 6; ++w) {
        int g[4] = {0, 0, 0, 0};
        getDefaultPrefs(w, g);
        s.geometry[w] = {g[0], g[1], g[2], g[3]};
    }
    for (int k = 1; k <= 4; ++k)
        s.lists[k - 1] = defaultList(k);
}

bool UserPrefs::readPrefs(QTextStream &in)
{
    Store &s = S();
    const QString first = in.atEnd() ? QString() : in.readLine();
    if (!first.contains(QLatin1String("Tarvix")))
        return false;

    QStringList f = fieldsOf(in);
    s.threadLimits.clear();
    if (f.size() == Environment::processorCount()) {
        for (const QString &v : f)
            s.threadLimits.append(v.toInt(nullptr, 10));
    } else {
        s.threadLimits = defaultThreadLimits();
        s.dirty = true;
    }

    f = fieldsOf(in);
    bool *flags[5] = {&s.fancyUI, &s.undoEnabled, &s.debugEnabled, &s.openCLEnabled, &s.autoCheckUpdates};
    if (f.size() != 6) {
        s.tolerance = getDefaultTolerance();
        for (int i = 0; i < 5; ++i)
            *flags[i] = getDefaultPrefs(i + 1);
        s.dirty = true;
    } else {
        const double t = f.at(0).toDouble();
        if (t >= 1e-15 && t <= 0.1) {
            s.tolerance = t;
        } else {
            s.tolerance = getDefaultTolerance();
            s.dirty = true;
        }
        for (int i = 0; i < 5; ++i) {
            const QString &v = f.at(i + 1);
            if (v == QLatin1String("0")) {
                *flags[i] = false;
            } else if (v == QLatin1String("1")) {
                *flags[i] = true;
            } else {
                *flags[i] = getDefaultPrefs(i + 1);
                s.dirty = true;
            }
        }
    }

    f = fieldsOf(in);
    if (f.size() != 6) {
        for (int i = 0; i < 6; ++i)
            s.lineFour[i] = kLineFourDefaults[i];
        s.dirty = true;
    } else {
        for (int i = 0; i < 6; ++i) {
            const int v = f.at(i).toInt(nullptr, 10);
            if (lineFourValid(i, v)) {
                s.lineFour[i] = v;
            } else {
                s.lineFour[i] = kLineFourDefaults[i];
                s.dirty = true;
            }
        }
    }

    for (int w = 0; w < 6; ++w) {
        f = fieldsOf(in);
        if (f.size() == 4) {
            for (int i = 0; i < 4; ++i)
                s.geometry[w][i] = f.at(i).toInt(nullptr, 10);
        } else {
            int g[4] = {0, 0, 0, 0};
            getDefaultPrefs(w, g);
            s.geometry[w] = {g[0], g[1], g[2], g[3]};
            s.dirty = true;
        }
    }

    for (int k = 0; k < 4; ++k) {
        f = fieldsOf(in);
        s.lists[k].clear();
        if (f.size() == 4) {
            for (const QString &v : f)
                s.lists[k].append(v.toInt(nullptr, 10));
        } else {
            s.lists[k] = defaultList(k + 1);
            s.dirty = true;
        }
    }
    f = fieldsOf(in);
    s.openCLStepwise = f.size() == 2 && f.at(0) == QLatin1String("OpenCLEngine")
                       && f.at(1) == QLatin1String("stepwise");
    return true;
}

void UserPrefs::writePrefs(QTextStream &out)
{
    const Store &s = S();
    const QChar tab = QLatin1Char('\t');
    out.setRealNumberNotation(QTextStream::SmartNotation);
    out.setRealNumberPrecision(15);
    out << "Tarvix" << '\n';
    for (int v : s.threadLimits)
        out << v << tab;
    out << '\n';
    out << s.tolerance << tab << (s.fancyUI ? "1" : "0") << tab << (s.undoEnabled ? "1" : "0")
        << tab << (s.debugEnabled ? "1" : "0") << tab << (s.openCLEnabled ? "1" : "0") << tab
        << (s.autoCheckUpdates ? "1" : "0") << '\n';
    for (int i = 0; i < 6; ++i)
        out << s.lineFour[i] << (i < 5 ? QStringLiteral("\t") : QStringLiteral("\n"));
    for (int w = 0; w < 6; ++w) {
        for (int i = 0; i < 4; ++i)
            out << s.geometry[w][i] << tab;
        out << '\n';
    }
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < s.lists[k].size(); ++i)
            out << s.lists[k].at(i) << (i + 1 < s.lists[k].size() ? QStringLiteral("\t") : QString());
        out << '\n';
    }
    if (s.openCLStepwise)
        out << "OpenCLEngine" << tab << "stepwise" << '\n';
    out.flush();
}

bool UserPrefs::savePrefs()
{
    Store &s = S();
    if (!s.dirty)
        return true;
    if (s.currentFile.isEmpty())
        return false;
    bool saved = false;
    QFile *current = new QFile(s.currentFile);
    const int opened = openPrefsFile(current, false);
    if (opened == 1) {
        QTextStream out(current);
        writePrefs(out);
        saved = out.status() == QTextStream::Ok;
        current->close();
    } else if (opened == 2) {
        current->close();
        const QString folder = QFileInfo(s.currentFile).absolutePath();
        const QString newPath = folder + QStringLiteral("/New_Tarvix.pref");
        QFile *fresh = new QFile(newPath);
        // A stale New_Tarvix.pref from an interrupted save must not leave its
        // tail behind the new content.
        if (openPrefsFile(fresh, true) != 0) {
            QTextStream out(fresh);
            writePrefs(out);
            fresh->close();
            if (QFileInfo(newPath).size() > 0) {
                const QString oldPath = folder + QStringLiteral("/Old_Tarvix.pref");
                const QString realPath = folder + QStringLiteral("/Tarvix.pref");
                if (QFile::exists(oldPath))
                    QFile::remove(oldPath);
                QFile::rename(realPath, oldPath);
                saved = QFile::rename(newPath, realPath);
                s.currentFile = realPath;
            }
        }
        delete fresh;
    }
    delete current;
    if (saved)
        s.dirty = false;
    return saved;
}

void UserPrefs::Destruct()
{
    savePrefs();
    Store &s = S();
    s.threadLimits.clear();
    for (auto &l : s.lists)
        l.clear();
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("UserPrefs::Destruct"), this,
                              QStringLiteral("USERPREFS"));
}

// ---------------------------------------------------------------- defaults

int UserPrefs::getDefaultPrefsInt(int item)
{
    if (item >= 1 && item <= 6)
        return kLineFourDefaults[item - 1];
    qCritical("error no: UP1");
    return 0;
}

bool UserPrefs::getDefaultPrefs(int item)
{
    static const bool defaults[5] = {false, true, true, false, true};
    if (item >= 1 && item <= 5)
        return defaults[item - 1];
    qCritical("error no: UP2");
    return false;
}

int UserPrefs::getDefaultPrefs(int kind, int element)
{
    const double sx = Environment::horizontalScale(), sy = Environment::verticalScale();
    const double avg = (sx + sy) / 2.0;
    if (kind < 1 || kind > 4) {
        qCritical("error no: UP7");
        return 0;
    }
    if (element < 1 || element > 4) {
        switch (kind) {
        case 1: qCritical("error no: UP3"); break;
        case 2: qCritical("error no: UP4"); break;
        case 3: qCritical("error no: UP5"); break;
        default: qCritical("error no: UP6"); break;
        }
        return 0;
    }
    switch (kind) {
    case 1: {
        const int v[4] = {int(100 * sx), int(50 * sx), int(30 * sx), 3};
        return v[element - 1];
    }
    case 2: {
        const int v[4] = {int(30 * sy), int(30 * sy), int(30 * sy), 5};
        return v[element - 1];
    }
    case 3: {
        const int v[4] = {0, 0, int(5 * avg), int(3 * avg)};
        return v[element - 1];
    }
    default: {
        const int v[4] = {0, 0, int(3 * avg), int(3 * avg)};
        return v[element - 1];
    }
    }
}

void UserPrefs::getDefaultPrefs(int window, int *out)
{
    const ScreenInfo screen = Environment::screen();
    const int aw = screen.availableWidth, ah = screen.availableHeight;
    out[0] = aw / 2;
    out[1] = ah / 2;
    if (window < 0 || window > 5) {
        qCritical("error no: UP8");
        return;
    }
    const int w = int(kWindowBase[window][0] * nonZeroFactor(Environment::horizontalScale()));
    const int h = int(kWindowBase[window][1] * nonZeroFactor(Environment::verticalScale()));
    out[0] = qMax(0, aw / 2 - w / 2);
    out[1] = qMax(0, ah / 2 - h / 2);
    out[2] = w;
    out[3] = h;
}

// ---------------------------------------------------------------- items

QList<int> UserPrefs::getThreadLimits() { return S().threadLimits; }

void UserPrefs::setThreadLimits(const QList<int> &limits)
{
    Store &s = S();
    if (limits.isEmpty() || limits.size() != s.threadLimits.size())
        return;
    for (int i = 0; i < limits.size(); ++i)
        setItem(s.threadLimits[i], limits.at(i));
}

double UserPrefs::getTolerance() { return S().tolerance; }

void UserPrefs::setTolerance(double v)
{
    if (v >= 1e-15 && v <= 0.1)
        setItem(S().tolerance, v);
}

bool UserPrefs::getFancyUI() { return S().fancyUI; }
void UserPrefs::setFancyUI(bool v) { setItem(S().fancyUI, v); }
bool UserPrefs::getUndoEnabled() { return S().undoEnabled; }
void UserPrefs::setUndoEnabled(bool v) { setItem(S().undoEnabled, v); }
bool UserPrefs::getDebugEnabled() { return S().debugEnabled; }
void UserPrefs::setDebugEnabled(bool v) { setItem(S().debugEnabled, v); }
bool UserPrefs::getOpenCLEnabled() { return S().openCLEnabled; }
void UserPrefs::setOpenCLEnabled(bool v) { setItem(S().openCLEnabled, v); }
bool UserPrefs::getOpenCLStepwise() { return S().openCLStepwise; }
void UserPrefs::setOpenCLStepwise(bool v) { setItem(S().openCLStepwise, v); }
bool UserPrefs::getAutoCheckUpdates() { return S().autoCheckUpdates; }
void UserPrefs::setAutoCheckUpdates(bool v) { setItem(S().autoCheckUpdates, v); }
int UserPrefs::getAnalysisRows() { return S().lineFour[0]; }
void UserPrefs::setAnalysisRows(int v) { setItem(S().lineFour[0], v); }
int UserPrefs::getAnalysisTables() { return S().lineFour[1]; }
void UserPrefs::setAnalysisTables(int v) { setItem(S().lineFour[1], v); }
int UserPrefs::getErrorSolutionSet() { return S().lineFour[2]; }
void UserPrefs::setErrorSolutionSet(int v) { setItem(S().lineFour[2], v); }
int UserPrefs::getSavedSolutionSet() { return S().lineFour[3]; }
void UserPrefs::setSavedSolutionSet(int v) { setItem(S().lineFour[3], v); }
int UserPrefs::getAccuracyMode() { return S().lineFour[4]; }
void UserPrefs::setAccuracyMode(int v) { setItem(S().lineFour[4], v); }
int UserPrefs::getAccuracyDigits() { return S().lineFour[5]; }
void UserPrefs::setAccuracyDigits(int v) { setItem(S().lineFour[5], v); }

std::array<int, 4> UserPrefs::getGeometry(Window w)
{
    if (w < 0 || w > 5)
        return {0, 0, 0, 0};
    return S().geometry[w];
}

void UserPrefs::setGeometry(Window w, const int *values, int index)
{
    if (w < 0 || w > 5 || !values || index > 3)
        return;
    auto &g = S().geometry[w];
    if (index < 0) {
        for (int i = 0; i < 4; ++i)
            setItem(g[i], values[i]);
    } else {
        setItem(g[index], values[index]);
    }
}

int UserPrefs::getListValue(ListKind kind, int index)
{
    if (kind < 1 || kind > 4 || index < 0)
        return 0;
    const QList<int> &l = S().lists[kind - 1];
    return index < l.size() ? l.at(index) : 0;
}

void UserPrefs::setListValue(ListKind kind, int index, int value)
{
    if (kind < 1 || kind > 4)
        return;
    const int limit = (kind == Widths || kind == Heights) ? 3 : 4;
    QList<int> &l = S().lists[kind - 1];
    if (index < 0 || index >= limit || index >= l.size())
        return;
    setItem(l[index], value);
}

void UserPrefs::setDisplayColumns(int v)
{
    QList<int> &l = S().lists[Widths - 1];
    if (l.size() == 4)
        setItem(l[3], v);
}

void UserPrefs::setDisplayRows(int v)
{
    QList<int> &l = S().lists[Heights - 1];
    if (l.size() == 4)
        setItem(l[3], v);
}

QString UserPrefs::getVersion() { return S().version; }
void UserPrefs::setVersion(const QString &v) { S().version = v; }
bool UserPrefs::isDirty() { return S().dirty; }
QString UserPrefs::prefsFilePath() { return S().currentFile; }

// ---------------------------------------------------------------- log switch

void UserPrefs::turnOffDbg()
{
    Store &s = S();
    if (s.holder && s.holder->load()) {
        qDebug("Turning off Debug.");
        s.stashedSwitch = s.holder->exchange(nullptr);
    } else {
        qDebug("Error while turning off Debug.");
    }
}

void UserPrefs::turnOnDbg()
{
    Store &s = S();
    if (s.holder && s.stashedSwitch) {
        s.holder->store(s.stashedSwitch);
        s.stashedSwitch = nullptr;
        qDebug("Turning on Debug.");
    } else {
        qDebug("Error turning on Debug.");
    }
}
