#ifndef RECORDERSTUB_H
#define RECORDERSTUB_H

#include "tarvix.h"

#include <QObject>
#include <QStringList>

// Stands in for a window's undo recorder on the GUI thread: answers the
// enabled and busy queries (the enabled state follows the window's
// switches, as the recorder's does) and writes down every switch and every
// recorder signal the window emits, in order.
class RecorderStub : public QObject
{
public:
    explicit RecorderStub(tarvix *w, bool enabled = true, bool busy = false)
        : enabled(enabled), busy(busy)
    {
        w->setRecorder(this);
        connect(w, &tarvix::isUndoEnabled, this, [this](bool *b) { *b = this->enabled; });
        connect(w, &tarvix::checkUndoState, this, [this](bool *b) { *b = this->busy; });
        connect(w, &tarvix::setUndoState, this, [this](bool b) {
            this->enabled = b;
            log << (b ? QStringLiteral("on") : QStringLiteral("off"));
        });
        connect(w, &tarvix::incvarbClicked, this, [this] { log << QStringLiteral("INC_VAR"); });
        connect(w, &tarvix::decvarbClicked, this, [this] { log << QStringLiteral("DEC_VAR"); });
        connect(w, &tarvix::nvarbClicked, this, [this] { log << QStringLiteral("N_VAR"); });
        connect(w, &tarvix::newbClicked, this, [this] { log << QStringLiteral("NEW"); });
        connect(w, &tarvix::editbClicked, this, [this](QString type) { log << type; });
    }

    // The recorder signals only, without the state switches.
    QStringList signalsOnly() const
    {
        QStringList s;
        for (const QString &e : log)
            if (e != QLatin1String("on") && e != QLatin1String("off"))
                s << e;
        return s;
    }

    bool enabled;
    bool busy;
    QStringList log;
};

#endif
