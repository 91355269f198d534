#include "equationfile.h"

#include "filestring.h"
#include "store/equationstore.h"
#include "threads/mythreads.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QObject>
#include <QThread>

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr qint64 kMaxHeaderLine = 1 << 20;

qint64 mulSat(qint64 a, qint64 b)
{
    if (a <= 0 || b <= 0)
        return 0;
    if (a > std::numeric_limits<qint64>::max() / b)
        return std::numeric_limits<qint64>::max();
    return a * b;
}

qint64 addSat(qint64 a, qint64 b)
{
    if (a > std::numeric_limits<qint64>::max() - b)
        return std::numeric_limits<qint64>::max();
    return a + b;
}

// Error triples of workers when nobody receives them: kept in order.
struct Collector
{
    std::mutex mutex;
    QList<EquationFile::Message> messages;
};

// One worker on one pooled thread. The thread's finished() tells us when
// nothing on that thread touches the worker any more; only then is it
// deleted. Waiting on the flag rather than on the thread itself keeps us
// from waiting on a later user of the same pooled thread.
struct Job
{
    FileString *worker = nullptr;
    QThread *thread = nullptr;
    std::shared_ptr<std::atomic<bool>> done;
    QMetaObject::Connection finished;
};

void connectErrors(FileString *worker, const EquationFile::Options &options,
                   const std::shared_ptr<Collector> &collector)
{
    if (options.errorReceiver
        && QObject::connect(worker, SIGNAL(errMsg(QString*,QString*,QString)),
                            options.errorReceiver, SLOT(errMsg(QString*,QString*,QString))))
        return;
    QObject::connect(worker, &FileString::errMsg,
                     [collector](QString *title, QString *text, const QString &type) {
                         std::lock_guard<std::mutex> lock(collector->mutex);
                         collector->messages.append({*title, *text, type});
                         delete title;
                         delete text;
                     });
}

Job startJob(FileString *worker, const char *slot, const QString &name)
{
    Job job;
    job.worker = worker;
    job.done = std::make_shared<std::atomic<bool>>(false);
    QThread *thread = MyThreads::thrOpt(name);
    std::shared_ptr<std::atomic<bool>> done = job.done;
    job.finished = QObject::connect(thread, &QThread::finished, thread,
                                    [done] { done->store(true); }, Qt::DirectConnection);
    QObject::connect(thread, SIGNAL(started()), worker, slot);
    worker->moveToThread(thread);
    thread->start(QThread::InheritPriority);
    job.thread = thread;
    return job;
}

// Waits for the job in steps of sleepMs, calling poll about every 100 ms,
// then deletes the worker.
void finishJob(Job &job, const EquationFile::Options &options, unsigned long sleepMs)
{
    QElapsedTimer sincePoll;
    sincePoll.start();
    while (!job.done->load()) {
        job.thread->wait(sleepMs);
        if (options.poll && sincePoll.elapsed() >= 100) {
            options.poll();
            sincePoll.restart();
        }
    }
    QObject::disconnect(job.finished);
    delete job.worker;
    job.worker = nullptr;
}

// Row slots for one pipeline, all empty; whatever a failed pipeline left
// behind is freed with the array.
class RowSlots
{
public:
    explicit RowSlots(int n) : m_n(n > 0 ? n : 0), m_slots(new FileString::RowSlot[size_t(m_n)])
    {
        for (int i = 0; i < m_n; ++i)
            m_slots[i].store(nullptr);
    }
    ~RowSlots()
    {
        for (int i = 0; i < m_n; ++i)
            delete m_slots[i].exchange(nullptr);
    }
    FileString::RowSlot *data() { return m_slots.get(); }

private:
    int m_n;
    std::unique_ptr<FileString::RowSlot[]> m_slots;
};

void registerTypes()
{
    static const int id = qRegisterMetaType<QString *>("QString*");
    Q_UNUSED(id)
}

EquationFile::Outcome binaryJob(bool save, const QString &path, double **coef, double *rhs,
                                double *solution, int n, const EquationFile::Options &options)
{
    registerTypes();
    EquationFile::Outcome out;
    auto collector = std::make_shared<Collector>();
    bool flag = false;
    int code = 0;
    FileString::setErrorFlag(&flag);
    auto *worker = new FileString(path, coef, rhs, solution, n, &code);
    connectErrors(worker, options, collector);
    Job job = startJob(worker, save ? SLOT(SaveBinary()) : SLOT(ReadBinary()),
                       save ? QStringLiteral("Tarvix::SB") : QStringLiteral("Tarvix::RB"));
    finishJob(job, options, 100);
    FileString::setErrorFlag(nullptr);
    if (flag) {
        if (save) {
            qDebug() << "*** Save Binary File Error ***";
            qDebug() << "Writer error = " << code;
        } else {
            qDebug() << "\n*** ERROR: Binary File is corrupt ***\n";
            qDebug() << "Reader Error: " << code;
        }
    }
    out.corrupt = flag;
    out.code = code;
    out.failed = flag || code != 0;
    out.messages = collector->messages;
    return out;
}

} // namespace

namespace EquationFile {

bool isBinaryName(const QString &path)
{
    // The file's own name decides; a folder may be called "x.btrx".
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1).contains(QLatin1String(".btrx"));
}

qint64 minimumSize(qint64 n, bool binary, qint64 headerBytes)
{
    if (n <= 0)
        return headerBytes;
    if (!binary)
        return mulSat(n, addSat(mulSat(2, n), 3));
    // rows of n+1 numbers, the marker "Solution" (4 + 16 bytes), n numbers
    const qint64 rows = mulSat(mulSat(n, addSat(n, 1)), 8);
    return addSat(addSat(addSat(headerBytes, rows), 20), mulSat(n, 8));
}

bool sizeCanHold(qint64 fileSize, qint64 n, bool binary, qint64 headerBytes)
{
    return fileSize >= minimumSize(n, binary, headerBytes);
}

Header readHeader(const QString &path)
{
    Header h;
    const bool binary = isBinaryName(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        h.errorString = file.errorString();
        return h;
    }
    h.opened = true;
    const qint64 size = file.size();
    bool nOk = false;
    if (binary) {
        QString field;
        int status = FileString::readString(&file, &field);
        h.text = field.simplified();
        if (status == 0)
            status = FileString::readString(&file, &field);
        if (status == 0)
            h.n = field.simplified().toInt(&nOk, 10);
        if (status == 0)
            status = FileString::readString(&file, &field);
        h.bytesPerNumber = field.simplified();
        bool sizeOk = false;
        const int bytes = h.bytesPerNumber.toInt(&sizeOk, 10);
        if (status != 0) {
            // Not even the header strings are complete.
            h.tooSmall = true;
        } else if (sizeOk && bytes == 8 && h.n > 1) {
            // Another number size gets its own explanation from the reader.
            h.tooSmall = !sizeCanHold(size, h.n, true, file.pos());
        }
    } else {
        const QByteArray first = file.readLine(kMaxHeaderLine);
        const QByteArray second = file.readLine(kMaxHeaderLine);
        h.text = QString::fromUtf8(first).simplified();
        h.n = QString::fromUtf8(second).simplified().toInt(&nOk, 10);
        if (h.n > 1)
            h.tooSmall = !sizeCanHold(size, h.n, false);
    }
    if (!nOk)
        h.n = 0;
    h.corrupt = !h.text.contains(QLatin1String("Tarvix")) || h.n < 2 || h.tooSmall;
    return h;
}

int parserCount(int n, int processors)
{
    return n > 49 ? qMax(1, processors - 1) : 1;
}

int converterCount(int n, int processors)
{
    return n < 50 ? 1 : qMax(1, processors);
}

Outcome readText(const QString &path, double **coef, double *rhs, double *solution, int n,
                 const Options &options)
{
    registerTypes();
    Outcome out;
    auto collector = std::make_shared<Collector>();
    bool corrupt = false;
    FileString::setErrorFlag(&corrupt);
    const int parsers = parserCount(n, options.processors);
    RowSlots rows(n);
    int readerCode = 0;
    std::vector<int> codes(size_t(parsers), 0);

    auto *reader = new FileString(path, rows.data(), n, solution, parsers, &readerCode);
    connectErrors(reader, options, collector);
    Job readerJob = startJob(reader, SLOT(ReadText()), QStringLiteral("Tarvix::RTF_Reader"));
    std::vector<Job> parserJobs;
    for (int k = 0; k < parsers; ++k) {
        auto *parser = new FileString(rows.data(), coef, rhs, n, k, parsers, &codes[size_t(k)]);
        connectErrors(parser, options, collector);
        parserJobs.push_back(startJob(parser, SLOT(StrToDouble()),
                                      QStringLiteral("Tarvix::RTF ") + QString::number(k)));
    }
    finishJob(readerJob, options, 10);
    for (Job &job : parserJobs)
        finishJob(job, options, 10);
    FileString::setErrorFlag(nullptr);

    if (corrupt) {
        qDebug() << "\n*** ERROR: Text File is corrupt ***\n";
        qDebug() << "Reader Error: " << readerCode;
        for (int k = 0; k < parsers; ++k)
            qDebug() << "File Open Error " << k << ": " << codes[size_t(k)];
    }
    out.corrupt = corrupt;
    out.code = readerCode;
    out.workerCodes = QVector<int>(codes.begin(), codes.end());
    out.failed = corrupt || readerCode == FileString::ReadTextOpen;
    out.messages = collector->messages;
    return out;
}

Outcome writeText(const QString &path, double **coef, double *rhs, double *solution, int n,
                  const Options &options)
{
    registerTypes();
    Outcome out;
    auto collector = std::make_shared<Collector>();
    bool failed = false;
    FileString::setErrorFlag(&failed);
    const int converters = converterCount(n, options.processors);
    RowSlots rows(n);
    int writerCode = 0;
    std::vector<int> codes(size_t(converters), 0);

    // The writer object first: constructing it resets the shared state the
    // converters look at.
    auto *writer = new FileString(path, rows.data(), n, solution, converters, &writerCode);
    connectErrors(writer, options, collector);
    std::vector<Job> converterJobs;
    for (int k = 0; k < converters; ++k) {
        auto *converter = new FileString(rows.data(), coef, rhs, n, k, converters, &codes[size_t(k)]);
        connectErrors(converter, options, collector);
        converterJobs.push_back(startJob(converter, SLOT(DoubleToStr()),
                                         QStringLiteral("Tarvix::STF ") + QString::number(k)));
    }
    Job writerJob = startJob(writer, SLOT(SaveText()), QStringLiteral("Tarvix::STF Writer"));
    finishJob(writerJob, options, 10);
    for (Job &job : converterJobs)
        finishJob(job, options, 10);
    FileString::setErrorFlag(nullptr);

    if (failed) {
        qDebug() << "*** Save Text File Error ***";
        qDebug() << "Writer error = " << writerCode;
        for (int k = 0; k < converters; ++k)
            qDebug() << "Converter " << k + 1 << " error " << codes[size_t(k)];
    }
    out.corrupt = failed;
    out.code = writerCode;
    out.workerCodes = QVector<int>(codes.begin(), codes.end());
    out.failed = failed || writerCode != 0;
    out.messages = collector->messages;
    return out;
}

Outcome readBinary(const QString &path, double **coef, double *rhs, double *solution, int n,
                   const Options &options)
{
    return binaryJob(false, path, coef, rhs, solution, n, options);
}

Outcome writeBinary(const QString &path, double **coef, double *rhs, double *solution, int n,
                    const Options &options)
{
    return binaryJob(true, path, coef, rhs, solution, n, options);
}

Outcome open(const QString &path, EquationStore &store, const Options &options, Header *header)
{
    Outcome out;
    const Header h = readHeader(path);
    if (header)
        *header = h;
    if (!h.opened || h.corrupt) {
        out.failed = true;
        out.corrupt = h.opened;
        return out;
    }
    store.N = h.n;
    if (!store.reallocate()) {
        out.failed = true;
        return out;
    }
    if (isBinaryName(path))
        return readBinary(path, store.coef, store.rhs, store.fileSol, store.N, options);
    return readText(path, store.coef, store.rhs, store.fileSol, store.N, options);
}

Outcome save(const QString &path, EquationStore &store, double *solution, const Options &options)
{
    if (isBinaryName(path))
        return writeBinary(path, store.coef, store.rhs, solution, store.N, options);
    return writeText(path, store.coef, store.rhs, solution, store.N, options);
}

} // namespace EquationFile
