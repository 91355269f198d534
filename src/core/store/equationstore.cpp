#include "equationstore.h"

#include "env/environment.h"
#include "prompt/prompter.h"

#include <QString>
#include <QtGlobal>

#include <new>
#include <utility>

namespace {
std::function<void()> &sessionSaver()
{
    static std::function<void()> saver;
    return saver;
}
} // namespace

EquationStore::~EquationStore()
{
    release();
}

bool EquationStore::allocateMemory()
{
    if (N <= 0)
        return true;
    const size_t n = size_t(N);
    try {
        rhs = new double[n];
        customSol = new double[n];
        fileSol = new double[n]();
        currentSol = new double[n];
        coef = new double *[n]();
        for (size_t i = 0; i < n; ++i)
            coef[i] = new double[n];
    } catch (const std::bad_alloc &) {
        qFatal("error no: TRX9 - %d\t0", N);
        return false;
    }
    return true;
}

void EquationStore::release()
{
    const int rows = allocated > 0 ? allocated : 0;
    delete[] rhs;
    delete[] customSol;
    delete[] fileSol;
    delete[] currentSol;
    if (coef) {
        for (int i = 0; i < rows; ++i)
            delete[] coef[i];
        delete[] coef;
    }
    rhs = customSol = fileSol = currentSol = nullptr;
    coef = nullptr;
}

bool EquationStore::reallocate()
{
    release();
    if (!allocateMemory())
        return false;
    allocated = N;
    return true;
}

void EquationStore::swap(EquationStore &other)
{
    std::swap(N, other.N);
    std::swap(allocated, other.allocated);
    std::swap(coef, other.coef);
    std::swap(rhs, other.rhs);
    std::swap(customSol, other.customSol);
    std::swap(fileSol, other.fileSol);
    std::swap(currentSol, other.currentSol);
}

void EquationStore::clear()
{
    if (!coef)
        return;
    const int n = N;
    for (int i = 0; i < n; ++i) {
        double *row = coef[i];
        for (int j = 0; j < n; ++j)
            row[j] = 0.0;
        rhs[i] = 0.0;
        customSol[i] = 0.0;
        fileSol[i] = 0.0;
        currentSol[i] = 0.0;
    }
}

int EquationStore::incorrectCount() const
{
    int bad = 0;
    for (int i = 0; i < N; ++i) {
        const double *row = coef[i];
        double sum = 0.0;
        for (int j = 0; j < N; ++j)
            sum += row[j] * customSol[j];
        if (!isZero(sum - rhs[i]))
            ++bad;
    }
    return bad;
}

long long EquationStore::megabytesFor(int count)
{
    const long long n = count;
    return (n * 16LL * (n + 4LL)) / 1048576LL;
}

bool EquationStore::memoryCheck(int count, int shownCount)
{
    if (count < 15001)
        return true;
    QString text;
    if (Environment::buildBits() == 32) {
        text = QStringLiteral("The current no. of variables is higher than the capacity of your hardware. Please consider using the 64 bit version of Tarvix.");
    } else {
        text = QStringLiteral("The current no. of variables requires <b>") + QString::number(megabytesFor(shownCount < 0 ? count : shownCount))
               + QStringLiteral("MB</b> free memory in RAM.\n")
               + QStringLiteral("Please check if you have sufficient memory otherwise if you proceed, it will result in slow down of your PC.");
    }
    text += QStringLiteral("<p>Would you still like to continue the operation? <b>This may result in a crash, so please save your session before proceeding!</b></p>");
    const int answer = Prompter::instance()->message(Prompter::Warning, QStringLiteral("Memory Limitation Warning!"),
                                                     text, Prompter::Yes | Prompter::No, Prompter::No);
    if (answer != Prompter::Yes)
        return false;
    if (sessionSaver())
        sessionSaver()();
    return true;
}

void EquationStore::setSessionSaver(std::function<void()> saver)
{
    sessionSaver() = std::move(saver);
}
