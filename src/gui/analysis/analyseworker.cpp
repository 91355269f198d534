#include "analyseworker.h"

#include "analysis/analysis.h"

AnalyseWorker::AnalyseWorker(const double *source, double *destination, int n, int mode, int digits)
    : m_source(source), m_destination(destination), m_n(n), m_mode(mode), m_digits(digits)
{
}

void AnalyseWorker::getMySolution()
{
    if (m_source && m_destination)
        Analysis::reduceVector(m_source, m_destination, m_n, m_mode, m_digits);
    MyThreads::threadFinished(QThread::currentThread(), QStringLiteral("AnalyseWorker::GMS"), this,
                              QStringLiteral("ANALYSEWORKER"));
}
