#include "equationfile.h"

#include "atomicfile.h"
#include "contentprint.h"
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

#include <algorithm>
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

// Starts an idle thread for every job first, so that a pipeline either
// runs wholly on its threads or, when the system refuses a thread, wholly on
// the calling thread: half a pipeline would wait forever for the other half.
bool startThreads(std::vector<Job *> &jobs, const QStringList &names)
{
    for (size_t k = 0; k < jobs.size(); ++k) {
        Job &job = *jobs[k];
        job.done = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> done = job.done;
        // Connected before the thread starts, so that the thread sees the
        // connection whole.
        QThread *thread = MyThreads::startIdle(names.at(int(k)), [&job, done](QThread *t) {
            job.finished = QObject::connect(t, &QThread::finished, t,
                                            [done] { done->store(true); }, Qt::DirectConnection);
        });
        if (!thread) {
            for (size_t j = 0; j <= k; ++j) {
                QObject::disconnect(jobs[j]->finished);
                if (j < k)
                    MyThreads::thrOpt(jobs[j]->thread, names.at(int(j)));
                jobs[j]->thread = nullptr;
            }
            return false;
        }
        job.thread = thread;
    }
    return true;
}

void runJob(Job &job, const char *slot)
{
    MyThreads::run(job.thread, job.worker, slot);
}

// Waits for the job in steps of sleepMs, calling poll about every 100 ms,
// then deletes the worker. Returns the worker's error text.
QString finishJob(Job &job, const EquationFile::Options &options, unsigned long sleepMs)
{
    QElapsedTimer sincePoll;
    sincePoll.start();
    while (job.thread && !job.done->load()) {
        job.thread->wait(sleepMs);
        if (options.poll && sincePoll.elapsed() >= 100) {
            options.poll();
            sincePoll.restart();
        }
    }
    QObject::disconnect(job.finished);
    const QString error = job.worker ? job.worker->errorText() : QString();
    delete job.worker;
    job.worker = nullptr;
    return error;
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

void printRows(double **coef, int n, quint64 *prints, int from, int to)
{
    for (int i = from; i < to; ++i)
        prints[i] = ContentPrint::values(coef[i], n);
}

// Takes the digests of the rows the binary reader has converted while it
// goes on, until it ends; returns the number of rows taken.
int printBehind(Job &job, const FileString &reader, double **coef, int n, const EquationFile::Options &options)
{
    QElapsedTimer sincePoll;
    sincePoll.start();
    int done = 0;
    while (!job.done->load()) {
        const int ready = reader.rowsRead();
        if (ready > done) {
            printRows(coef, n, options.rowPrints, done, ready);
            done = ready;
        } else {
            job.thread->wait(1);
        }
        if (options.poll && sincePoll.elapsed() >= 100) {
            options.poll();
            sincePoll.restart();
        }
    }
    return done;
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
    if (!save)
        worker->setDevice(options.device);
    else
        worker->setRowPrints(options.rowPrints);
    worker->setDurable(save && options.durable);
    connectErrors(worker, options, collector);
    Job job;
    job.worker = worker;
    std::vector<Job *> jobs{&job};
    int printed = 0;
    if (startThreads(jobs, {save ? QStringLiteral("Tarvix::SB") : QStringLiteral("Tarvix::RB")})) {
        runJob(job, save ? SLOT(SaveBinary()) : SLOT(ReadBinary()));
        // The reader converts; this thread, otherwise idle, takes each
        // row's digest right behind it.
        if (!save && options.rowPrints)
            printed = printBehind(job, *worker, coef, n, options);
    } else if (save) {
        worker->writeBinary();
    } else {
        worker->readBinary();
    }
    if (!save && options.rowPrints)
        printRows(coef, n, options.rowPrints, printed, worker->rowsRead());
    const QString error = finishJob(job, options, 100);
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
    out.error = error;
    return out;
}

} // namespace

namespace EquationFile {

bool isBinaryName(const QString &path)
{
    return QFileInfo(path).fileName().contains(QLatin1String(".btrx"));
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
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        Header h;
        h.errorString = QStringLiteral("not a regular file (a folder, pipe or device)");
        return h;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Header h;
        h.errorString = file.errorString();
        return h;
    }
    return readHeader(&file, isBinaryName(path));
}

Header readHeader(QIODevice *device, bool binary)
{
    Header h;
    if (device->isSequential()) {
        h.errorString = QStringLiteral("not a regular file (a pipe or device)");
        return h;
    }
    h.opened = true;
    const qint64 size = device->size();
    bool nOk = false;
    if (binary) {
        QString field;
        int status = FileString::readString(device, &field);
        h.text = field.simplified();
        if (status == 0)
            status = FileString::readString(device, &field);
        if (status == 0)
            h.n = field.simplified().toInt(&nOk, 10);
        if (status == 0)
            status = FileString::readString(device, &field);
        h.bytesPerNumber = field.simplified();
        bool sizeOk = false;
        const int bytes = h.bytesPerNumber.toInt(&sizeOk, 10);
        if (status != 0) {
            // Not even the header strings are complete.
            h.tooSmall = true;
        } else if (sizeOk && bytes == 8 && h.n > 1) {
            // Another number size gets its own explanation from the reader.
            h.tooSmall = !sizeCanHold(size, h.n, true, device->pos());
        }
    } else {
        const QByteArray first = device->readLine(kMaxHeaderLine);
        const QByteArray second = device->readLine(kMaxHeaderLine);
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

    // The reader parses one row in every parsers + 1 itself.
    const int step = parsers + 1;
    int readerParse = 0;
    auto *reader = new FileString(path, rows.data(), n, solution, step, &readerCode);
    reader->setDevice(options.device);
    reader->setRowPrints(options.rowPrints);
    connectErrors(reader, options, collector);
    Job readerJob;
    readerJob.worker = reader;
    std::vector<Job> parserJobs(static_cast<size_t>(parsers));
    std::vector<Job *> jobs{&readerJob};
    QStringList names{QStringLiteral("Tarvix::RTF_Reader")};
    for (int k = 0; k < parsers; ++k) {
        auto *parser = new FileString(rows.data(), coef, rhs, n, k, step, &codes[size_t(k)]);
        parser->setRowPrints(options.rowPrints);
        connectErrors(parser, options, collector);
        parserJobs[size_t(k)].worker = parser;
        jobs.push_back(&parserJobs[size_t(k)]);
        names << QStringLiteral("Tarvix::RTF ") + QString::number(k);
    }
    if (startThreads(jobs, names)) {
        reader->setReaderShare(coef, rhs, &readerParse);
        runJob(readerJob, SLOT(ReadText()));
        for (Job &job : parserJobs)
            runJob(job, SLOT(StrToDouble()));
    } else {
        reader->setInlineRows(coef, rhs, &codes[0]);
        reader->readText();
    }
    out.error = finishJob(readerJob, options, 10);
    for (Job &job : parserJobs)
        finishJob(job, options, 10);
    FileString::setErrorFlag(nullptr);
    // A row the reader parsed counts as the first parser's.
    if (readerParse != 0 && std::all_of(codes.begin(), codes.end(), [](int c) { return c == 0; }))
        codes[0] = readerParse;

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
    writer->setRowPrints(options.rowPrints);
    writer->setDurable(options.durable);
    connectErrors(writer, options, collector);
    Job writerJob;
    writerJob.worker = writer;
    std::vector<Job> converterJobs(static_cast<size_t>(converters));
    std::vector<Job *> jobs;
    QStringList names;
    for (int k = 0; k < converters; ++k) {
        auto *converter = new FileString(rows.data(), coef, rhs, n, k, converters, &codes[size_t(k)]);
        converter->setRowPrints(options.rowPrints);
        connectErrors(converter, options, collector);
        converterJobs[size_t(k)].worker = converter;
        jobs.push_back(&converterJobs[size_t(k)]);
        names << QStringLiteral("Tarvix::STF ") + QString::number(k);
    }
    jobs.push_back(&writerJob);
    names << QStringLiteral("Tarvix::STF Writer");
    if (startThreads(jobs, names)) {
        for (Job &job : converterJobs)
            runJob(job, SLOT(DoubleToStr()));
        runJob(writerJob, SLOT(SaveText()));
    } else {
        writer->setInlineRows(coef, rhs, nullptr);
        writer->writeText();
    }
    out.error = finishJob(writerJob, options, 10);
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
    Header h;
    if (options.device) {
        options.device->seek(0);
        h = readHeader(options.device, isBinaryName(path));
    } else {
        h = readHeader(path);
    }
    if (!h.opened)
        out.error = h.errorString;
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
    Outcome out;
    Options durable = options;
    durable.durable = true;
    const AtomicFile::Result replaced =
        AtomicFile::replace(path, [&](const QString &temp, QString *error) {
            out = isBinaryName(path) ? writeBinary(temp, store.coef, store.rhs, solution, store.N, durable)
                                     : writeText(temp, store.coef, store.rhs, solution, store.N, durable);
            if (out.failed && !out.error.isEmpty())
                *error = QStringLiteral("Could not write %1: %2").arg(path, out.error);
            return !out.failed;
        });
    if (!replaced.ok) {
        out.failed = true;
        out.error = replaced.error;
    }
    return out;
}

} // namespace EquationFile
