#ifndef GUITESTUTIL_H
#define GUITESTUTIL_H

// Shared set-up of the window tests: private folders, the preference store,
// the scripted prompter, a stand-in undo recorder and small helpers.
#include "editdialog.h"
#include "files/equationfile.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "scriptedprompter.h"
#include "solverdialog.h"
#include "tarvix.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QCoreApplication>
#include <QPushButton>
#include <QVector>
#include <QtTest>

#include <functional>
#include <memory>

// One test's folders, preference store and prompter. On destruction every
// window is closed (changes discarded) and the preference store goes.
class GuiFixture
{
public:
    // processors: the processor count the preference store sees.
    explicit GuiFixture(int processors = 2) : env(processors, false), prefsReady(startPrefs(env))
    {
        previous() = qInstallMessageHandler(quietHandler);
        QVERIFY(prefsReady);
    }
    ~GuiFixture()
    {
        while (!tarvix::windows().isEmpty())
            close(tarvix::windows().first());
        if (UserPrefs *p = UserPrefs::instance()) {
            UserPrefs::setInstance(nullptr);
            delete p;
        }
        qInstallMessageHandler(previous());
    }
    // Closes w answering a possible "Session NOT Saved!" question; true: closed.
    bool close(tarvix *w, int answer = Prompter::Discard)
    {
        prompter.answerButton(answer);
        const bool closed = w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closed;
    }
    // The first prompt with this title (kind empty when there was none).
    ScriptedPrompter::Record prompt(const QString &title) const
    {
        for (const auto &r : prompter.records())
            if (r.title == title)
                return r;
        return {};
    }

    TestEnv env;
    bool prefsReady;
    ScriptedPrompter prompter;

private:
    static bool startPrefs(const TestEnv &e)
    {
        auto *prefs = new UserPrefs(nullptr);
        UserPrefs::setInstance(prefs);
        return prefs->initialise(e.environment(), TestEnv::screen());
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    // The headless platform cannot pass size hints on; every shown dialog says so.
    static void quietHandler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
    {
        if (type != QtWarningMsg || !msg.contains(QLatin1String("propagateSizeHints")))
            previous()(type, ctx, msg);
    }
};

// Stands in for a window's undo recorder: answers the enabled and busy
// queries (enabled follows the window's switches) and writes down every
// switch ("on"/"off") and recorder signal the window emits, in order.
class RecorderStub : public QObject
{
public:
    explicit RecorderStub(tarvix *w, bool enabled = true, bool busy = false) : enabled(enabled), busy(busy)
    {
        w->setRecorder(this);
        connect(w, &tarvix::isUndoEnabled, this, [this](bool *b) { *b = this->enabled; });
        connect(w, &tarvix::checkUndoState, this, [this](bool *b) { *b = this->busy; });
        connect(w, &tarvix::setUndoState, this, [this](bool b) {
            this->enabled = b;
            log << (b ? "on" : "off");
        });
        connect(w, &tarvix::incvarbClicked, this, [this] { log << "INC_VAR"; });
        connect(w, &tarvix::decvarbClicked, this, [this] { log << "DEC_VAR"; });
        connect(w, &tarvix::nvarbClicked, this, [this] { log << "N_VAR"; });
        connect(w, &tarvix::newbClicked, this, [this] { log << "NEW"; });
        connect(w, &tarvix::editbClicked, this, [this](QString type) { log << type; });
    }
    QStringList signalsOnly() const
    {
        QStringList s = log;
        s.removeAll("on");
        s.removeAll("off");
        return s;
    }
    bool enabled;
    bool busy;
    QStringList log;
};

inline void trigger(QObject *w, const char *action)
{
    auto *a = w->findChild<QAction *>(action);
    QVERIFY2(a, action);
    a->trigger();
}

inline QPushButton *button(QObject *w, const char *name)
{
    return w->findChild<QPushButton *>(name);
}

// The window's system as text: "a b r ;c d s ".
inline QString systemText(tarvix *w)
{
    QString s;
    w->tableModel()->getTableData(&s);
    return s;
}

inline void setSystem(tarvix *w, QString text)
{
    w->tableModel()->setTableData(&text);
}

// Row-major coefficients a and right-hand sides b (N = b.size()).
inline void fillStore(EquationStore &s, const QVector<double> &a, const QVector<double> &b)
{
    const int n = b.size();
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            s.coef[i][j] = a[i * n + j];
        s.rhs[i] = b[i];
    }
}

// A new window holding the system a, b.
inline tarvix *systemWindow(const QVector<double> &a, const QVector<double> &b)
{
    auto *w = new tarvix();
    w->resizeSystem(b.size());
    w->on_newb_clicked();
    fillStore(w->store(), a, b);
    w->tableModel()->refreshAll();
    return w;
}

// Writes an n x n system (zeros unless a, b are given) to path.
inline bool writeSystem(const QString &path, int n, const QVector<double> &a = {},
                        const QVector<double> &b = {})
{
    EquationStore s;
    s.N = n;
    if (!s.reallocate())
        return false;
    s.clear();
    fillStore(s, a, b);
    return !EquationFile::save(path, s, s.fileSol).failed;
}

// Drags urls onto w; where w takes the drag, drops them there. True: taken.
inline bool dropUrls(QWidget *w, const QList<QUrl> &urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    QCoreApplication::sendEvent(w, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted())
        QCoreApplication::sendEvent(w, &drop);
    return enter.isAccepted();
}

// Answers the next edit chooser: "row", "column" or "rhs" with item k
// (1-based; typed into the search field when bySearch), or "cancel". Tries
// every 20 ms for about a second (an ignored command shows none); the timers
// belong to context; shown counts the choosers answered.
inline void answerChooser(QObject *context, const QString &kind, int k = 1, bool bySearch = false,
                          int *shown = nullptr)
{
    auto attempt = std::make_shared<std::function<void(int)>>();
    const std::weak_ptr<std::function<void(int)>> self = attempt;
    *attempt = [=](int triesLeft) {
        auto *d = qobject_cast<EditDialog *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) {
            auto again = self.lock();
            if (again && triesLeft > 0)
                QTimer::singleShot(20, context, [again, triesLeft] { (*again)(triesLeft - 1); });
            return;
        }
        if (shown)
            ++*shown;
        if (kind == "cancel")
            return d->cancelButton()->click();
        (kind == "row" ? d->rowButton() : kind == "column" ? d->columnButton() : d->rhsButton())->click();
        if (kind != "rhs" && bySearch)
            QTest::keyClicks(d->searchEdit(), QString::number(k));
        else if (kind != "rhs")
            d->combo()->setCurrentIndex(k - 1);
        d->okButton()->click();
    };
    QTimer::singleShot(0, context, [attempt] { (*attempt)(50); });
}

// Calls act for every visible top-level widget every 5 ms while it lives.
class WidgetPoller : public QObject
{
public:
    explicit WidgetPoller(std::function<void(QWidget *)> act)
    {
        connect(&m_timer, &QTimer::timeout, this, [act] {
            for (QWidget *w : QApplication::topLevelWidgets())
                if (w->isVisible())
                    act(w);
        });
        m_timer.start(5);
    }

private:
    QTimer m_timer;
};

// Presses "Solve" on the CPU when w is a solver dialog.
inline void solveOnCpu(QWidget *w)
{
    if (auto *d = qobject_cast<SolverDialog *>(w))
        d->findChild<QPushButton *>("multib")->click();
}

// The 3x3 example: x+y+z=6, 2y+5z=-4, 2x+5y-z=27 -> (5, 3, -2).
const QVector<double> kExampleA{1, 1, 1, 0, 2, 5, 2, 5, -1};
const QVector<double> kExampleB{6, -4, 27};

// x is the example's solution (5, 3, -2).
inline bool solvesToExample(const double *x)
{
    return fuzzyEqual(x[0], 5, 1e-12) && fuzzyEqual(x[1], 3, 1e-12) && fuzzyEqual(x[2], -2, 1e-12);
}

#endif
