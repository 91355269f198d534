#ifndef ANALYSEWORKER_H
#define ANALYSEWORKER_H

#include "threads/mythreads.h"

// Reduces one solution vector to the preferred accuracy on a pooled thread.
// It only reads its source and writes its own destination.
class AnalyseWorker : public TrxWorker
{
    Q_OBJECT
public:
    // mode and digits as accuracyMode and accuracyDigits, read by the caller
    // on the GUI thread.
    AnalyseWorker(const double *source, double *destination, int n, int mode, int digits);

public slots:
    void getMySolution();

private:
    const double *m_source;
    double *m_destination;
    int m_n;
    int m_mode;
    int m_digits;
};

#endif
