#ifndef FILESTRING_H
#define FILESTRING_H

#include "threads/mythreads.h"

#include <QString>

#include <atomic>
#include <string>

class QDataStream;
class QFile;
class QIODevice;

// The worker that converts, writes and reads equation files: text (".trx")
// through a pipeline of converter/parser workers around one writer/reader,
// and binary (".btrx") in one worker. One object performs one slot once, on
// a pooled thread; the slot ends by handing the object back to the thread
// registry under the tag "FILESTRING".
//
// The text workers of one pipeline meet in an array of row slots and in a
// few process-wide variables, so only one text pipeline runs at a time in a
// process. A slot holds one row's line (heap string) or is empty; it is
// filled only by its producer while empty and emptied only by its consumer.
class FileString : public TrxWorker
{
    Q_OBJECT
public:
    using RowSlot = std::atomic<std::string *>;

    // Result codes stored through the result pointer (0 stays on success).
    enum Code {
        ParseFieldCount = 101, ParseRowNumber = 102, ParseCoefficient = 103, ParseRhs = 104,
        ReadBinOpen = 201, ReadBinStream = 202, ReadBinMarker = 203, ReadBinN = 204,
        ReadBinHeader = 205, ReadBinNumberSize = 206,
        ReadTextOpen = 301, ReadTextSolution = 302, ReadTextShort = 303, ReadTextStream = 304,
        SaveBinOpen = 401, SaveBinStream = 402,
        SaveTextOpen = 501, SaveTextStream = 502
    };

    // Text writer (SaveText) and reader (ReadText). step: the number of
    // converters or parsers working with it. Resets lastReadRow and
    // readerDone.
    FileString(const QString &path, RowSlot *rowStrings, int n, double *solution, int step,
               int *resultCode);
    // Converter (DoubleToStr) and parser (StrToDouble) for the rows start,
    // start+step, ...
    FileString(RowSlot *rowStrings, double **coef, double *rhs, int n, int start, int step,
               int *resultCode);
    // Binary writer and reader (SaveBinary, ReadBinary).
    FileString(const QString &path, double **coef, double *rhs, double *solution, int n,
               int *resultCode);

    // The caller's corrupt-or-failed flag; must be set before the workers of
    // a pipeline start. Workers only ever set it to true.
    static void setErrorFlag(bool *flag);
    static bool errorRaised();
    static int lastReadRow();
    static bool readerDone();

    // N after the slot (ReadBinary puts the N of the file here).
    int n() const { return m_n; }

    // Readers take their bytes from this open device (from its start)
    // instead of opening the path; the device is not closed.
    void setDevice(QIODevice *device) { m_device = device; }
    // The text reader parses, and the text writer formats, every row itself
    // instead of meeting converters or parsers in the row slots: the whole
    // pipeline on one thread. Parse failures go to *parseResult.
    void setInlineRows(double **coef, double *rhs, int *parseResult)
    {
        m_coef = coef;
        m_rhs = rhs;
        m_parseResult = parseResult;
        m_inline = true;
    }
    // The text reader parses every step-th row itself (rows step-1,
    // 2*step-1, ...) while the parsers, built with the same step, take the
    // others: the reader's thread has time to spare between its reads.
    void setReaderShare(double **coef, double *rhs, int *parseResult)
    {
        m_coef = coef;
        m_rhs = rhs;
        m_parseResult = parseResult;
        m_shareRows = true;
    }
    // Each row's ContentPrint::values goes to prints[row] as the row is
    // read or written (n entries; rows of a failed read are left as they
    // were). The binary reader leaves that to its caller (rowsRead).
    void setRowPrints(quint64 *prints) { m_prints = prints; }
    // The writers' file is flushed to disk once written (an atomic save):
    // they start the disk writes as they go, so the flush waits for little.
    void setDurable(bool durable) { m_durable = durable; }
    // The binary reader's progress: rows 0..rowsRead()-1 hold their values.
    int rowsRead() const { return m_rowsRead.load(std::memory_order_acquire); }
    // Why the file could not be opened, read or written (the system's
    // text), empty when it could.
    QString errorText() const { return m_errorText; }

    // The work of each slot without the hand-back to the registry, for
    // callers that run it on their own thread.
    void convertRows();
    void writeText();
    void readText();
    void parseRows();
    void writeBinary();
    void readBinary();

    // Encoding helpers of the binary format (QDataStream layout, big
    // endian). A string is a 32-bit byte count and UTF-16 text, null as
    // 0xFFFFFFFF; a number is one IEEE double.
    static bool writeString(QIODevice *device, const QString &text);
    // Status as QDataStream::Status: 0 ok, 1 read past end, 2 corrupt data.
    // A count beyond what the device still holds reads as past the end; a
    // count beyond kMaxStringBytes is corrupt (no string of the format comes
    // near it). Memory grows only with the bytes actually read.
    static constexpr quint32 kMaxStringBytes = 16u << 20;
    static int readString(QIODevice *device, QString *text);
    static bool writeDoubles(QIODevice *device, const double *values, qint64 count);
    static int readDoubles(QIODevice *device, double *values, qint64 count);

    // History companions. Header-only record: header string and N.
    static void writeHeaderRecord(QDataStream &out, int n);
    // True when the header contains "Tarvix" and N > 1 (N stored in *n).
    static bool readHeaderRecord(QDataStream &in, int *n);
    // Meta-data record: "Tarvix Meta-Data", file name, current and custom
    // solution (n values each; N itself is not stored).
    static void writeMetaData(QDataStream &out, const QString &fileName, const double *current,
                              const double *custom, int n);
    // False when the marker differs (nothing further is read) or the stream
    // is not OK afterwards.
    static bool readMetaData(QDataStream &in, int n, QString *fileName, double *current,
                             double *custom);

    // "Tarvix " and the application version.
    static QString headerText();

signals:
    void errMsg(QString *errTitle, QString *errTxt, QString errorType);

public slots:
    void DoubleToStr();
    void SaveText();
    void SaveBinary();
    void ReadText();
    void StrToDouble();
    void ReadBinary();

private:
    static void raiseError();
    void finish(const char *name);
    void openFailed(const QString &deviceError);
    void parserFailurePath(int row);
    std::string *formatRow(int i, size_t capacity) const;
    // Takes row i's digest when asked for (setRowPrints).
    void printRow(int i) const;
    size_t rowCapacity() const;
    QIODevice *openDevice(QFile &file, bool write);

    double **m_coef = nullptr;
    double *m_rhs = nullptr;
    double *m_solution = nullptr;
    int m_n = 0;
    int m_start = -1;
    int m_step = 1;
    int *m_result = nullptr;
    QString m_path;
    RowSlot *m_rows = nullptr;
    QIODevice *m_device = nullptr;
    int *m_parseResult = nullptr;
    quint64 *m_prints = nullptr;
    bool m_durable = false;
    std::atomic<int> m_rowsRead{0};
    bool m_inline = false;
    bool m_shareRows = false;
    QString m_errorText;
};

#endif
