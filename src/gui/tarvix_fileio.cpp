// Reading and writing equation files on the worker threads, with the
// progress boxes, the ".old" safety copy and the replace-when-complete save.
#include "tarvix.h"
#include "ui_tarvix.h"

#include "files/atomicfile.h"
#include "files/equationfile.h"
#include "mytablemodel.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTableView>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Milliseconds a file operation runs before its progress box appears.
constexpr qint64 kBoxDelayMs = 150;

const QString kOpenFailed = QStringLiteral("ERROR: Could not open the file!");

QString corruptText()
{
    return QStringLiteral("Could NOT Read the Opened File!\n") + QStringLiteral("File is corrupt!");
}

}

bool tarvix::isBinaryName(const QString &path)
{
    return EquationFile::isBinaryName(path);
}

QMessageBox *tarvix::showWaitBox(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton,
                                m_hidden ? nullptr : this,
                                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box->setStandardButtons(QMessageBox::NoButton);
    // The box does not wait for an answer, but it keeps the user away from
    // this window's commands while the threads work on its arrays; other
    // windows stay usable.
    box->setWindowModality(m_hidden ? Qt::NonModal : Qt::WindowModal);
    box->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return box;
}

void tarvix::readContent(EquationStore &target, const QString &path, bool binary, bool *corrupt)
{
    *corrupt = false;
    EquationFile::Options options;
    options.processors = UserPrefs::getProcessorCount();
    const bool quiet = m_quiet;
    // While the history drives the window nothing is shown.
    options.errorReceiver = quiet ? nullptr : this;
    // The progress box comes up once the read has taken a moment; a quick
    // open would only flash it (and pay for building it).
    QMessageBox *box = nullptr;
    QElapsedTimer started;
    started.start();
    options.poll = [this, quiet, &box, &started]() {
        if (!quiet && !box && started.elapsed() >= kBoxDelayMs)
            box = showWaitBox(QStringLiteral("Opening File"),
                              QStringLiteral("Please wait while Tarvix is opening your file.\n"));
        // User input waits: another file command started meanwhile would
        // share the pipelines' process-wide state with this one.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    if (binary && quiet)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_busy;
    const EquationFile::Outcome out =
        binary ? EquationFile::readBinary(path, target.coef, target.rhs, target.fileSol, target.N, options)
               : EquationFile::readText(path, target.coef, target.rhs, target.fileSol, target.N, options);
    --m_busy;
    if (box) {
        box->close();
        delete box;
    }
    if (binary && quiet)
        QApplication::restoreOverrideCursor();
    *corrupt = out.failed;
}

void tarvix::readTextFile(bool *corrupt, const QString &path)
{
    bool c = false;
    readContent(m_store, path, false, &c);
    if (corrupt)
        *corrupt = c;
}

void tarvix::readBinaryFile(bool *corrupt, const QString &path)
{
    bool c = false;
    readContent(m_store, path, true, &c);
    if (corrupt)
        *corrupt = c;
}

void tarvix::openFile(const QString &path, bool freshAllocation, bool *failed)
{
    if (failed)
        *failed = false;
    auto fail = [failed]() {
        if (failed)
            *failed = true;
    };
    const bool binary = isBinaryName(path);

    // Header, N and the size check come first: nothing is allocated and no
    // memory question is asked for a file that cannot hold its N.
    const EquationFile::Header header = EquationFile::readHeader(path);
    if (!header.opened) {
        if (!m_quiet)
            errMsg(new QString(kOpenFailed),
                   new QString(QStringLiteral("Could NOT Open File from Disk!\n") + header.errorString),
                   QStringLiteral("WARNING"));
        fail();
        return;
    }
    if (!freshAllocation)
        m_store.allocated = m_store.N;
    const int n = header.n;
    if (!header.corrupt && !EquationStore::memoryCheck(n)) {
        fail();
        return;
    }
    if (header.corrupt) {
        qWarning("error no: TRX6");
        if (!m_quiet)
            errMsg(new QString(kOpenFailed), new QString(corruptText()), QStringLiteral("WARNING"));
        fail();
        return;
    }

    const QString newName = currentNameFor(path);
    if (!m_quiet)
        m_lastDirectory = QFileInfo(path).absolutePath();

    // The content goes into fresh arrays first; the window's own system is
    // replaced only by a complete read, so a file that turns out corrupt
    // (or vanishes meanwhile) leaves the window as it was.
    EquationStore incoming;
    incoming.N = n;
    incoming.allocated = 0;
    if (!incoming.reallocate()) {
        fail();
        return;
    }
    std::memset(incoming.customSol, 0, sizeof(double) * size_t(n));
    std::memset(incoming.currentSol, 0, sizeof(double) * size_t(n));

    bool undoWas = false;
    if (!freshAllocation && !m_quiet) {
        undoWas = undoEnabledQuery();
        emit setUndoState(false);
    }
    if (m_view)
        m_view->setUpdatesEnabled(false);

    bool corrupt = false;
    readContent(incoming, path, binary, &corrupt);
    if (!corrupt) {
        // The file's solution is the last one computed for it: it is the
        // current solution until the next solve, so that a save keeps it.
        std::memcpy(incoming.currentSol, incoming.fileSol, sizeof(double) * size_t(n));
        if (m_model)
            m_model->lock();
        m_store.swap(incoming);
        if (m_model)
            m_model->resize(m_store.N, m_store.coef, m_store.rhs);
        m_fileName = newName;
        if (m_fancy)
            arraysToFancy();
    }

    if (m_view)
        m_view->setUpdatesEnabled(true);
    if (!freshAllocation) {
        if (ui && !m_fancy)
            ui->decvarb->setEnabled(m_store.N >= 3);
        if (!corrupt && !m_quiet) {
            StatusBarMsg(QStringLiteral("File loaded"), 2000);
            markSaved();
        }
        if (!m_quiet)
            emit setUndoState(undoWas);
    }
    if (corrupt) {
        qWarning("error no: TRX8");
        if (!m_quiet)
            errMsg(new QString(kOpenFailed), new QString(corruptText()), QStringLiteral("WARNING"));
        fail();
    }
}

bool tarvix::writeContent(const QString &path, bool binary, QString *error)
{
    EquationFile::Options options;
    options.processors = UserPrefs::getProcessorCount();
    const bool session = path.contains(QLatin1String("Tarvix")) && path.contains(QLatin1String("Sessions"));
    options.errorReceiver = m_quiet ? nullptr : this;
    QMessageBox *box = nullptr;
    QElapsedTimer started;
    started.start();
    const bool quiet = m_quiet;
    options.poll = [this, quiet, &box, &started]() {
        if (!quiet && !box && started.elapsed() >= kBoxDelayMs)
            box = showWaitBox(QStringLiteral("Saving File"),
                              QStringLiteral("Please wait while Tarvix is saving your file.\n"));
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    double *solution = solutionToSave();
    if (binary && session)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_busy;
    const EquationFile::Outcome out =
        binary ? EquationFile::writeBinary(path, m_store.coef, m_store.rhs, solution, m_store.N, options)
               : EquationFile::writeText(path, m_store.coef, m_store.rhs, solution, m_store.N, options);
    --m_busy;
    if (box) {
        box->close();
        delete box;
    }
    if (binary && session)
        QApplication::restoreOverrideCursor();
    if (error)
        *error = out.error;
    return !out.failed;
}

double *tarvix::solutionToSave() const
{
    switch (UserPrefs::getSavedSolutionSet()) {
    case 0:
        return m_store.currentSol;
    case 1:
        return m_store.customSol;
    default:
        return m_store.fileSol;
    }
}

quint64 tarvix::contentPrint() const
{
    // FNV-1a over the bit patterns, one 64-bit word at a time.
    quint64 h = 14695981039346656037ULL;
    auto mix = [&h](quint64 word) {
        h ^= word;
        h *= 1099511628211ULL;
        h ^= h >> 29;
    };
    auto mixValues = [&mix](const double *v, int n) {
        for (int i = 0; v && i < n; ++i) {
            quint64 bits;
            std::memcpy(&bits, &v[i], sizeof bits);
            mix(bits);
        }
    };
    const int n = m_store.N;
    mix(quint64(n));
    for (int i = 0; m_store.coef && i < n; ++i)
        mixValues(m_store.coef[i], n);
    mixValues(m_store.rhs, n);
    mixValues(solutionToSave(), n);
    return h;
}

void tarvix::markSaved()
{
    m_saved = true;
    if (!m_fileName.isEmpty())
        m_filePrints.insert(m_fileName, contentPrint());
}

void tarvix::savedFromHistory()
{
    if (!m_fileName.isEmpty()) {
        m_saved = m_filePrints.contains(m_fileName) && m_filePrints.value(m_fileName) == contentPrint();
        return;
    }
    // No file: saved only while there is nothing to lose.
    const int n = m_store.N;
    double *solution = solutionToSave();
    bool blank = true;
    for (int i = 0; blank && i < n; ++i) {
        blank = m_store.rhs[i] == 0.0 && solution[i] == 0.0;
        for (int j = 0; blank && j < n; ++j)
            blank = m_store.coef[i][j] == 0.0;
    }
    m_saved = blank;
}

void tarvix::saveTextFile(const QString &path)
{
    m_lastWriteFailed = !writeContent(path, false);
}

void tarvix::saveBinaryFile(const QString &path)
{
    m_lastWriteFailed = !writeContent(path, true);
}

void tarvix::savetoFile(bool binary)
{
    const QString target = m_fileName;
    const QString safety = target + QStringLiteral(".old");
    const bool existed = QFile::exists(target);
    if (QFile::exists(safety))
        QFile::remove(safety);

    // The previous file becomes the safety copy (a second name for the same
    // bytes, or a copy) before anything is written. The new content is
    // written beside the file and moved over it only when complete, so the
    // real name always holds a whole file, old or new.
    if (existed) {
        const QByteArray from = QFile::encodeName(target);
        const QByteArray to = QFile::encodeName(safety);
        if (::link(from.constData(), to.constData()) != 0)
            QFile::copy(target, safety);
        if (!QFile::exists(safety))
            qCritical("error no: TRX3");
    }

    const AtomicFile::Result result = AtomicFile::replace(target, [&](const QString &part, QString *error) {
        QString why;
        m_lastWriteFailed = !writeContent(part, binary, &why);
        if (why.isEmpty())
            why = QStringLiteral("nothing was written");
        *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(target), why);
        return !m_lastWriteFailed && QFileInfo(part).size() > 0;
    });
    if (result.ok) {
        markSaved();
        StatusBarMsg(QStringLiteral("File saved"), 2000);
        return;
    }
    const bool opened = result.stage != AtomicFile::Result::Create;
    const QString reason = result.error;
    // The previous file was never touched: its safety copy is not needed.
    if (existed)
        QFile::remove(safety);
    m_saved = false;
    if (!opened) {
        Prompter::instance()->message(Prompter::Critical, QStringLiteral("ERROR: Could not save the file!"),
                                      QStringLiteral("Unable to open the file for writing!\n") + reason,
                                      Prompter::Ok, Prompter::Ok);
        qCritical("error no: TRX4");
        return;
    }
    QString text = QStringLiteral("Could not add any data to the newly created File, hence deleting the File.");
    if (existed)
        text += QStringLiteral("\nRestoring previously saved File.");
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    errMsg(new QString(QStringLiteral("ERROR: Could not save the file!\n")), new QString(text),
           QStringLiteral("WARNING"));
    qCritical("error no: TRX5");
}
