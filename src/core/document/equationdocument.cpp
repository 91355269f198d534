#include "equationdocument.h"

#include "files/atomicfile.h"
#include "files/contentprint.h"
#include "files/equationfile.h"
#include "files/interchange.h"
#include "prefs/userprefs.h"
#include "solver/reduce.h"
#include "solver/solve.h"
#include "solver/solverun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unistd.h>
#include <vector>

EquationDocument::EquationDocument()
{
    m_store.N = 2;
    m_store.allocated = 0;
}

QString EquationDocument::currentNameFor(const QString &path)
{
    const QFileInfo info(path);
    QString base = info.fileName();
    const int dot = base.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        base.truncate(dot);
    return info.absolutePath() + QLatin1Char('/') + base
           + (EquationFile::isBinaryName(path) ? QStringLiteral(".btrx") : QStringLiteral(".trx"));
}

double *EquationDocument::solutionToSave() const
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

quint64 EquationDocument::contentPrint() const
{
    const int n = m_store.N;
    if (n < 1)
        return quint64(n);
    // The rows are read by the workers (bound by memory), then folded in order.
    std::vector<quint64> rows(size_t(n), 0);
    if (m_store.coef) {
        const ThreadSettings settings = ThreadSettings::fromPrefs();
        const int count = n >= 512 ? Reduce::workerCount(n, settings.limits, settings.processors) : 1;
        constexpr int kRun = 16;
        std::atomic<int> next{0};
        Reduce::runPhase(QStringLiteral("Tarvix::print "), count, [&](int) {
            for (int i = next.fetch_add(kRun); i < n; i = next.fetch_add(kRun))
                for (int row = i; row < std::min(n, i + kRun); ++row)
                    rows[size_t(row)] = ContentPrint::values(m_store.coef[row], n);
        });
    }
    return ContentPrint::fold(n, rows.data(), m_store.rhs, solutionToSave());
}

void EquationDocument::markSaved()
{
    markSaved(m_fileName.isEmpty() ? 0 : contentPrint());
}

void EquationDocument::markSaved(quint64 print)
{
    m_saved = true;
    if (!m_fileName.isEmpty())
        m_filePrints.insert(m_fileName, print);
}

void EquationDocument::savedFromHistory()
{
    if (!m_fileName.isEmpty()) {
        m_saved = m_filePrints.contains(m_fileName) && m_filePrints.value(m_fileName) == contentPrint();
        return;
    }
    // No file: saved only while there is nothing to lose.
    const int n = m_store.N;
    const double *solution = solutionToSave();
    bool blank = true;
    for (int i = 0; blank && i < n; ++i) {
        blank = m_store.rhs[i] == 0.0 && solution[i] == 0.0;
        for (int j = 0; blank && j < n; ++j)
            blank = m_store.coef[i][j] == 0.0;
    }
    m_saved = blank;
}

namespace {

EquationFile::Options fileOptions(const EquationDocument::Feedback &feedback)
{
    EquationFile::Options options;
    options.processors = UserPrefs::getProcessorCount();
    options.poll = feedback.poll;
    options.errorReceiver = feedback.errorReceiver;
    return options;
}

// A system read afresh has no computed solutions yet.
void clearComputed(EquationStore &s)
{
    const size_t bytes = sizeof(double) * size_t(s.N);
    std::memset(s.customSol, 0, bytes);
    std::memset(s.currentSol, 0, bytes);
}

// Fresh arrays for n unknowns with zero solutions; false when they could
// not be had.
bool freshStore(EquationStore &incoming, int n)
{
    incoming.N = n;
    incoming.allocated = 0;
    if (!incoming.reallocate())
        return false;
    clearComputed(incoming);
    return true;
}

} // namespace

EquationDocument::Opened EquationDocument::open(const QString &path, const Feedback &feedback)
{
    Opened opened;
    // Nothing is allocated and no memory question asked for a file that
    // cannot hold its N.
    const EquationFile::Header header = EquationFile::readHeader(path);
    if (!header.opened) {
        opened.error = header.errorString;
        return opened;
    }
    if (header.corrupt) {
        qWarning("error no: TRX6");
        opened.result = OpenResult::Corrupt;
        return opened;
    }
    const int n = header.n;
    EquationStore incoming;
    if (!EquationStore::memoryCheck(n) || !freshStore(incoming, n)) {
        opened.result = OpenResult::Refused;
        return opened;
    }
    EquationFile::Options options = fileOptions(feedback);
    // The readers take each row's digest as they convert it.
    std::vector<quint64> rowPrints(size_t(n), 0);
    options.rowPrints = rowPrints.data();
    const bool binary = EquationFile::isBinaryName(path);
    EquationFile::Outcome out;
    {
        const BusyScope busy(*this);
        out = binary ? EquationFile::readBinary(path, incoming.coef, incoming.rhs, incoming.fileSol, n, options)
                     : EquationFile::readText(path, incoming.coef, incoming.rhs, incoming.fileSol, n, options);
    }
    if (out.failed) {
        qWarning("error no: TRX8");
        opened.result = OpenResult::Corrupt;
        return opened;
    }
    // The file's solution is the last one computed for it: it is the
    // current solution until the next solve, so that a save keeps it.
    std::memcpy(incoming.currentSol, incoming.fileSol, sizeof(double) * size_t(n));
    if (feedback.replacing)
        feedback.replacing();
    m_store.swap(incoming);
    m_fileName = currentNameFor(path);
    opened.print = ContentPrint::fold(n, rowPrints.data(), m_store.rhs, solutionToSave());
    opened.result = OpenResult::Opened;
    return opened;
}

EquationDocument::Opened EquationDocument::import(const QString &path, const QString &rhsPath,
                                                  const Feedback &feedback)
{
    Opened opened;
    EquationStore incoming;
    incoming.N = 0;
    incoming.allocated = 0;
    Interchange::Outcome out;
    {
        const BusyScope busy(*this);
        out = Interchange::open(path, rhsPath, incoming, UserPrefs::getProcessorCount());
    }
    if (out.failed || incoming.N < 1) {
        opened.result = OpenResult::Corrupt;
        opened.error = out.error;
        return opened;
    }
    clearComputed(incoming);
    if (feedback.replacing)
        feedback.replacing();
    m_store.swap(incoming);
    m_fileName.clear();
    m_saved = false;
    opened.result = OpenResult::Opened;
    return opened;
}

bool EquationDocument::write(const QString &path, bool binary, const Feedback &feedback, QString *error,
                             quint64 *print)
{
    return writeFile(path, binary, feedback, error, print, false);
}

bool EquationDocument::writeFile(const QString &path, bool binary, const Feedback &feedback, QString *error,
                                 quint64 *print, bool durable)
{
    EquationFile::Options options = fileOptions(feedback);
    options.durable = durable;
    std::vector<quint64> rowPrints(print ? size_t(std::max(0, m_store.N)) : 0, 0);
    if (print)
        options.rowPrints = rowPrints.data();
    double *solution = solutionToSave();
    EquationFile::Outcome out;
    {
        const BusyScope busy(*this);
        out = binary ? EquationFile::writeBinary(path, m_store.coef, m_store.rhs, solution, m_store.N, options)
                     : EquationFile::writeText(path, m_store.coef, m_store.rhs, solution, m_store.N, options);
    }
    if (error)
        *error = out.error;
    if (print)
        *print = ContentPrint::fold(m_store.N, rowPrints.data(), m_store.rhs, solution);
    return !out.failed;
}

EquationDocument::Saved EquationDocument::save(bool binary, const Feedback &feedback)
{
    Saved saved;
    const QString target = m_fileName;
    const QString safety = target + QStringLiteral(".old");
    saved.existed = QFile::exists(target);
    if (QFile::exists(safety))
        QFile::remove(safety);

    // The previous file becomes the safety copy (a second name for the same
    // bytes, or a copy) before anything is written. The new content is
    // written beside the file and moved over it only when complete, so the
    // real name always holds a whole file, old or new.
    if (saved.existed) {
        const QByteArray from = QFile::encodeName(target);
        const QByteArray to = QFile::encodeName(safety);
        if (::link(from.constData(), to.constData()) != 0)
            QFile::copy(target, safety);
        if (!QFile::exists(safety))
            qCritical("error no: TRX3");
    }

    quint64 print = 0;
    const AtomicFile::Result result = AtomicFile::replace(target, [&](const QString &part, QString *error) {
        QString why;
        const bool written = writeFile(part, binary, feedback, &why, &print, true);
        if (why.isEmpty())
            why = QStringLiteral("nothing was written");
        *error = QStringLiteral("Could not write %1: %2").arg(QDir::toNativeSeparators(target), why);
        return written && QFileInfo(part).size() > 0;
    });
    saved.ok = result.ok;
    saved.created = result.ok || result.stage != AtomicFile::Result::Create;
    saved.error = result.error;
    if (result.ok) {
        markSaved(print);
        return saved;
    }
    // The previous file was never touched: its safety copy is not needed.
    if (saved.existed)
        QFile::remove(safety);
    m_saved = false;
    return saved;
}

QString EquationDocument::exportTo(const QString &path, const QString &rhsPath) const
{
    const Interchange::Outcome out =
        Interchange::save(path, rhsPath, m_store, UserPrefs::getProcessorCount());
    return out.failed ? out.error : QString();
}

QString EquationDocument::exportSolution(const QString &path) const
{
    const Interchange::Outcome out =
        Interchange::saveColumn(path, m_store.currentSol, m_store.N, UserPrefs::getProcessorCount());
    return out.failed ? out.error : QString();
}

int EquationDocument::solve(const int *columnZeros, SolveControl *control, QObject *errorReceiver)
{
    const int n = m_store.N;
    if (n < 1 || !m_store.coef)
        return -1;
    // What Save would write as the solution, to tell whether the solve
    // changed the file's content.
    const std::vector<double> written(solutionToSave(), solutionToSave() + n);
    SolveTrust trust;
    int status = 0;
    {
        const BusyScope busy(*this);
        status = solveArrays(n, m_store.coef, m_store.rhs, columnZeros, m_store.customSol,
                             m_store.currentSol, ThreadSettings::fromPrefs(), errorReceiver, &trust,
                             control);
    }
    if (status == 3 || status < 0)
        return status;
    m_trust = trust;
    m_trust.elimination = m_eliminationNote;
    if (!std::equal(written.begin(), written.end(), solutionToSave()))
        m_saved = false;
    return status;
}
