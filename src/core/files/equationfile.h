#ifndef EQUATIONFILE_H
#define EQUATIONFILE_H

#include <QList>
#include <QString>
#include <QVector>

#include <functional>

class EquationStore;
class QIODevice;
class QObject;

// Opening and saving equation files without any window: the steps the main
// window, the console program and the history share. The window shows its
// own progress box and hands in a poll callback that processes its events;
// the console program passes none.
//
// Only one file operation may run at a time in a process (the text workers
// share process-wide variables).
namespace EquationFile {

// The file kind is decided by the file's own name: one containing ".btrx"
// anywhere is binary, every other is text. Folder names do not count.
bool isBinaryName(const QString &path);

// One error triple a worker raised (title, text, "WARNING"...).
struct Message
{
    QString title;
    QString text;
    QString type;
};

// The first two entries of a file: the header line or string and N.
struct Header
{
    bool opened = false;      // false: could not be opened (errorString says why)
    QString errorString;
    QString text;             // the header, whitespace-simplified
    int n = 0;                // N as read; 0 when it is not a number
    bool corrupt = false;     // no "Tarvix" in the header, N < 2, or the file is too small
    bool tooSmall = false;    // the size check alone failed
    QString bytesPerNumber;   // binary: the third string, simplified
};

// Reads the header and N (text: lines 1 and 2; binary: the first string
// fields) and runs the size check. Allocates nothing beyond a few strings,
// so it is safe on any file: call it before the memory question. Only
// regular files are read: a pipe, device or folder is refused (opened false,
// errorString says so) without opening it, since its size is unknown and
// opening a pipe may wait for a writer.
Header readHeader(const QString &path);
// The same on an open device from its current position (sequential
// devices are refused the same way).
Header readHeader(QIODevice *device, bool binary);

// The least number of bytes a file holding n rows can have. Text: n row
// lines of n+2 fields, n*(2n+3) bytes (a loose lower bound). Binary: the
// exact size of the rows, the "Solution" marker and the solution after
// headerBytes bytes of header strings. Saturates instead of overflowing.
qint64 minimumSize(qint64 n, bool binary, qint64 headerBytes = 0);
// The size check: false when a file of fileSize bytes cannot hold n rows.
bool sizeCanHold(qint64 fileSize, qint64 n, bool binary, qint64 headerBytes = 0);

// Waiting: poll is called about every 100 ms while the workers run (on the
// calling thread). errorReceiver, when given, gets the workers' errMsg
// through its slot errMsg(QString*,QString*,QString) (queued: it must run an
// event loop or process events in poll); otherwise the triples are
// collected in Outcome::messages.
struct Options
{
    int processors = 1;                 // processorCount: sets the worker counts
    std::function<void()> poll;
    QObject *errorReceiver = nullptr;
    // Readers take the bytes from this open, random-access device instead
    // of the file (the path still decides the kind).
    QIODevice *device = nullptr;
    // When given (n entries), the readers and writers store each row's
    // ContentPrint::values there as they convert it, so nobody needs a
    // second pass over the rows for the digest of what the file holds.
    quint64 *rowPrints = nullptr;
    // Writers: the file is flushed to disk once complete (AtomicFile), so
    // its disk writes start while it is written.
    bool durable = false;
};

struct Outcome
{
    bool failed = false;       // could not open, could not write, or corrupt
    bool corrupt = false;      // the error flag of the pipeline
    int code = 0;              // reader or writer result code (0: fine)
    QVector<int> workerCodes;  // parser or converter codes, by worker
    QList<Message> messages;   // collected triples (no errorReceiver)
    QString error;             // the system's reason when the file could not be
                               // opened, read or written (save: names the file)
};

// Worker counts: parsers P = T-1 (at least 1) when n > 49, else 1;
// converters W = T when n >= 50, else 1.
int parserCount(int n, int processors);
int converterCount(int n, int processors);

// The pipelines on arrays already sized for n (rows coef[0..n-1] of n
// values, rhs and solution of n values). Reading fills coef, rhs and the
// solution section; a corrupt file leaves a partial load.
// Threads: "Tarvix::RTF_Reader" and "Tarvix::RTF <k>" (reading),
// "Tarvix::STF <k>" and "Tarvix::STF Writer" (writing), "Tarvix::RB" and
// "Tarvix::SB" (binary).
Outcome readText(const QString &path, double **coef, double *rhs, double *solution, int n,
                 const Options &options = Options());
Outcome writeText(const QString &path, double **coef, double *rhs, double *solution, int n,
                  const Options &options = Options());
Outcome readBinary(const QString &path, double **coef, double *rhs, double *solution, int n,
                   const Options &options = Options());
Outcome writeBinary(const QString &path, double **coef, double *rhs, double *solution, int n,
                    const Options &options = Options());

// A whole open into a store without views: header and size check, then
// the store is allocated for the file's N (store.N and allocated change
// only when the header is sound) and the content read, the solution
// section into fileSol. header, when given, receives what was read first.
Outcome open(const QString &path, EquationStore &store, const Options &options = Options(),
             Header *header = nullptr);
// Saves the store with the given solution vector (text or binary by name),
// replacing the file atomically: a failed or interrupted save leaves the
// previous file whole; Outcome::error names the file and the reason.
Outcome save(const QString &path, EquationStore &store, double *solution,
             const Options &options = Options());

} // namespace EquationFile

#endif
