#include "myopencl.h"

#include "worksizes.h"

#include <QFile>
#include <QMessageLogger>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

const char kFile[] = "myopencl";

bool isZero(double x)
{
    return x >= -1e-15 && x <= 1e-15;
}

QString clString(cl_device_id id, cl_device_info what, bool *ok)
{
    size_t size = 0;
    *ok = clGetDeviceInfo(id, what, 0, nullptr, &size) == CL_SUCCESS;
    if (!*ok)
        return QString();
    QByteArray text(int(size), '\0');
    *ok = clGetDeviceInfo(id, what, size, text.data(), nullptr) == CL_SUCCESS;
    return QString::fromLatin1(text.constData()); // stops at the terminating zero
}

template<typename T>
bool clValue(cl_device_id id, cl_device_info what, T *value)
{
    return clGetDeviceInfo(id, what, sizeof(T), value, nullptr) == CL_SUCCESS;
}

bool fp64Support(cl_device_id id)
{
#ifdef TRXOPENCL_FORCE_FLOAT
    // Test build: every device computes in float.
    Q_UNUSED(id);
    return false;
#else
    bool ok = false;
    const QString ext = clString(id, CL_DEVICE_EXTENSIONS, &ok);
    return ok && (ext.contains(QLatin1String("cl_khr_fp64")) || ext.contains(QLatin1String("cl_amd_fp64")));
#endif
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

QString code(int step)
{
    return QStringLiteral(" %1\t").arg(step);
}

} // namespace

MyOpenCL::MyOpenCL(QThread *home) : m_home(home), m_creator(home)
{
}

MyOpenCL::~MyOpenCL()
{
    releaseDevices();
}

void MyOpenCL::releaseDevices()
{
    for (Device &d : m_devices) {
        if (d.queue)
            clReleaseCommandQueue(d.queue);
        for (cl_kernel &k : d.kernels) {
            if (k)
                clReleaseKernel(k);
            k = nullptr;
        }
        if (d.program)
            clReleaseProgram(d.program);
        for (cl_kernel &k : d.blocked) {
            if (k)
                clReleaseKernel(k);
            k = nullptr;
        }
        if (d.blockedProgram)
            clReleaseProgram(d.blockedProgram);
        d.blockedProgram = nullptr;
        d.queue = nullptr;
        d.program = nullptr;
    }
    for (cl_context c : m_contexts) {
        if (c)
            clReleaseContext(c);
    }
    m_contexts.clear();
}

void MyOpenCL::goHome()
{
    QThread *current = QThread::currentThread();
    moveToThread(m_home);
    current->quit();
}

bool MyOpenCL::versionAccepted(const char *version)
{
    return openCLVersionAccepted(version);
}

bool MyOpenCL::genPlatforms()
{
    m_platforms.clear();
    cl_uint count = 0;
    m_err = clGetPlatformIDs(0, nullptr, &count);
    if (m_err != CL_SUCCESS || count == 0) {
        QMessageLogger(kFile, 621, "bool MyOpenCL::genPlatforms()").critical("error no: MO1 - %d", m_err);
        return false;
    }
    std::vector<cl_platform_id> all(count);
    m_err = clGetPlatformIDs(count, all.data(), nullptr);
    if (m_err != CL_SUCCESS) {
        QMessageLogger(kFile, 632, "bool MyOpenCL::genPlatforms()").critical("error no: MO2 - %d", m_err);
        return false;
    }
    for (cl_platform_id p : all) {
        char version[256] = {0};
        if (clGetPlatformInfo(p, CL_PLATFORM_VERSION, sizeof(version) - 1, version, nullptr) == CL_SUCCESS
            && versionAccepted(version))
            m_platforms.push_back(p);
    }
    return true;
}

bool MyOpenCL::genDevices()
{
    releaseDevices();
    m_devices.clear();
    for (size_t p = 0; p < m_platforms.size(); ++p) {
        cl_uint count = 0;
        m_err = clGetDeviceIDs(m_platforms[p], CL_DEVICE_TYPE_ALL, 0, nullptr, &count);
        if (m_err != CL_SUCCESS || count == 0) {
            QMessageLogger(kFile, 723, "bool MyOpenCL::genDevices()").critical("error no: MO3 - %d", m_err);
            m_devices.clear();
            return false;
        }
        std::vector<cl_device_id> ids(count);
        m_err = clGetDeviceIDs(m_platforms[p], CL_DEVICE_TYPE_ALL, count, ids.data(), nullptr);
        if (m_err != CL_SUCCESS) {
            QMessageLogger(kFile, 746, "bool MyOpenCL::genDevices()").critical("error no: MO4 - %d", m_err);
            m_devices.clear();
            return false;
        }
        for (cl_device_id id : ids) {
            Device d;
            d.platform = int(p);
            d.id = id;
            d.fp64 = fp64Support(id);
            m_devices.push_back(d);
        }
    }
    return !m_devices.empty();
}

void MyOpenCL::getDeviceInfo(QList<QStringList *> *lists)
{
    const bool found = genPlatforms() && genDevices();
    if (lists) {
        qDeleteAll(*lists);
        lists->clear();
    }
    if (found && lists) {
        for (const Device &d : m_devices) {
            auto *l = new QStringList;
            bool ok = false;
            QString s = clString(d.id, CL_DEVICE_NAME, &ok).simplified();
            *l << (ok ? s : QStringLiteral("Unknown"));
            s = clString(d.id, CL_DEVICE_VENDOR, &ok).simplified();
            *l << (ok ? s : QStringLiteral("Unkown"));
            cl_device_type type = 0;
            if (!clValue(d.id, CL_DEVICE_TYPE, &type))
                *l << QStringLiteral("Unknown");
            else if (type & CL_DEVICE_TYPE_CPU)
                *l << QStringLiteral("CPU");
            else if (type & CL_DEVICE_TYPE_GPU)
                *l << QStringLiteral("GPU");
            else if (type & CL_DEVICE_TYPE_ACCELERATOR)
                *l << QStringLiteral("Accelerator");
            else
                *l << QStringLiteral("Unkown");
            cl_uint u = 0;
            *l << (clValue(d.id, CL_DEVICE_MAX_CLOCK_FREQUENCY, &u) ? QString::number(u)
                                                                    : QStringLiteral("Unknown"));
            cl_ulong mem = 0;
            *l << (clValue(d.id, CL_DEVICE_GLOBAL_MEM_SIZE, &mem) ? QString::number(mem / 1000000)
                                                                  : QStringLiteral("Unkown"));
            *l << (clValue(d.id, CL_DEVICE_MAX_COMPUTE_UNITS, &u) ? QString::number(u)
                                                                  : QStringLiteral("Unknown"));
            *l << (d.fp64 ? QStringLiteral("Good") : QStringLiteral("Bad"));
            lists->append(l);
        }
    }
    goHome();
}

void MyOpenCL::setCustomDevices(QList<int> *list, QFile *clFile, bool *result)
{
    std::vector<Device> kept;
    for (int i = 0; i < int(m_devices.size()); ++i) {
        if (list && list->contains(i))
            kept.push_back(m_devices[size_t(i)]);
    }
    // Platforms left without devices are dropped; devices renumber theirs.
    std::vector<cl_platform_id> platforms;
    for (size_t p = 0; p < m_platforms.size(); ++p) {
        bool used = false;
        for (Device &d : kept) {
            if (d.platform == int(p)) {
                d.platform = int(platforms.size());
                used = true;
            }
        }
        if (used)
            platforms.push_back(m_platforms[p]);
    }
    releaseDevices();
    m_platforms = platforms;
    m_devices = kept;
    const bool ok = !m_devices.empty() && genContexts() && genPrograms(clFile) && genKernels()
                    && genQueues();
    if (!ok) {
        if (result)
            *result = false;
        QMessageLogger(kFile, 465, "void MyOpenCL::setCustomDevices(QList<int>*, QFile*, bool*)")
            .warning("error no: MO10");
    }
    goHome();
}

bool MyOpenCL::genContexts()
{
    for (size_t p = 0; p < m_platforms.size(); ++p) {
        std::vector<cl_device_id> ids;
        for (const Device &d : m_devices) {
            if (d.platform == int(p))
                ids.push_back(d.id);
        }
        const cl_context_properties props[] = {CL_CONTEXT_PLATFORM,
                                               cl_context_properties(m_platforms[p]), 0};
        cl_context ctx = clCreateContext(props, cl_uint(ids.size()), ids.data(), nullptr, nullptr, &m_err);
        if (m_err != CL_SUCCESS || !ctx) {
            releaseDevices();
            QMessageLogger(kFile, 783, "bool MyOpenCL::genContexts()").critical("error no: MO5 - %d", m_err);
            return false;
        }
        m_contexts.push_back(ctx);
    }
    return true;
}

bool MyOpenCL::genPrograms(QFile *clFile)
{
    const char *fn = "bool MyOpenCL::genPrograms(bool**, QFile*)";
    if (m_platforms.empty() || m_devices.empty() || !clFile || !clFile->exists())
        return false;
    if (!clFile->isOpen() && !clFile->open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageLogger(kFile, 818, fn).critical("error no: MO6 - %s", qPrintable(clFile->errorString()));
        return false;
    }
    clFile->seek(0);
    QString source;
    QTextStream in(clFile);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty())
            source += line + QLatin1Char('\n');
    }
    clFile->close();
    if (source.isEmpty())
        return false;
    const QByteArray text = source.toLatin1();
    m_source = text;
    const char *src = text.constData();
    const size_t length = size_t(text.size());
    QString buildLog;
    bool ok = true;
    for (Device &d : m_devices) {
        d.program = clCreateProgramWithSource(m_contexts[size_t(d.platform)], 1, &src, &length, &m_err);
        if (m_err != CL_SUCCESS || !d.program) {
            d.program = nullptr;
            QMessageLogger(kFile, 864, fn).warning("error no: MO7 - %d", m_err);
            releaseDevices();
            return false;
        }
    }
    cl_int buildErr = CL_SUCCESS;
    for (Device &d : m_devices) {
        const char *options = d.fp64 ? "-cl-denorms-are-zero -D FP_64" : "-cl-denorms-are-zero ";
        m_err = clBuildProgram(d.program, 1, &d.id, options, nullptr, nullptr);
        if (m_err != CL_SUCCESS) {
            ok = false;
            buildErr = m_err;
            size_t size = 0;
            clGetProgramBuildInfo(d.program, d.id, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
            QByteArray log(int(size), '\0');
            if (size)
                clGetProgramBuildInfo(d.program, d.id, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
            buildLog += QString::fromLatin1(log.constData());
        }
    }
    if (!ok) {
        releaseDevices();
        QMessageLogger(kFile, 921, fn).critical("error no: MO8 - %d\n%s", buildErr, qPrintable(buildLog));
    }
    return ok;
}

bool MyOpenCL::genKernels()
{
    for (Device &d : m_devices) {
        d.kernels[0] = clCreateKernel(d.program, "calcURatios", &m_err);
        if (m_err == CL_SUCCESS)
            d.kernels[1] = clCreateKernel(d.program, "reduceURatios", &m_err);
        if (m_err != CL_SUCCESS) {
            QMessageLogger(kFile, 982, "bool MyOpenCL::genKernels()").warning("error no: MO9 - %d", m_err);
            releaseDevices();
            return false;
        }
    }
    return true;
}

bool MyOpenCL::genQueues()
{
    for (Device &d : m_devices) {
        d.queue = clCreateCommandQueue(m_contexts[size_t(d.platform)], d.id, 0, &m_err);
        if (m_err != CL_SUCCESS || !d.queue) {
            d.queue = nullptr;
            releaseDevices();
            return false;
        }
    }
    return true;
}

void MyOpenCL::initialise(double **c, double *r, double **ur, double **dr, int n,
                          QList<int> *swap, QThread *t)
{
    m_c = c;
    m_r = r;
    m_ur = ur;
    m_dr = dr;
    m_n = n;
    m_swap = swap;
    if (t)
        m_home = t;
    getDeviceMemory();
    getDeviceCompUnits();
    goHome();
}

void MyOpenCL::getDeviceMemory()
{
    for (Device &d : m_devices) {
        if (!clValue(d.id, CL_DEVICE_GLOBAL_MEM_SIZE, &d.globalMem)) {
            d.globalMem = 0;
            QMessageLogger(kFile, 1110, "void MyOpenCL::getDeviceMemory()").critical("error no: MO13");
        }
        if (!clValue(d.id, CL_DEVICE_MAX_MEM_ALLOC_SIZE, &d.maxAlloc)) {
            d.maxAlloc = 0;
            QMessageLogger(kFile, 1110, "void MyOpenCL::getDeviceMemory()").critical("error no: MO13");
        }
    }
}

void MyOpenCL::getDeviceCompUnits()
{
    for (Device &d : m_devices) {
        if (!clValue(d.id, CL_DEVICE_MAX_COMPUTE_UNITS, &d.compUnits)) {
            d.compUnits = 0;
            QMessageLogger(kFile, 1134, "void MyOpenCL::getDeviceCompUnits()").critical("error no: MO14");
        }
    }
}

void MyOpenCL::getKernelDeviceData(int kernel)
{
    double total = 0.0;
    for (Device &d : m_devices) {
        size_t w = 0;
        size_t p = 0;
        if (clGetKernelWorkGroupInfo(d.kernels[kernel], d.id, CL_KERNEL_WORK_GROUP_SIZE, sizeof(w), &w, nullptr) != CL_SUCCESS
            || clGetKernelWorkGroupInfo(d.kernels[kernel], d.id, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE,
                                        sizeof(p), &p, nullptr) != CL_SUCCESS) {
            w = 0;
            p = 0;
            QMessageLogger(kFile, 1218, "void MyOpenCL::getKernelDeviceData(int)").critical("error no: MO12");
        }
        d.wgSize[kernel] = w;
        d.multiple[kernel] = p;
        total += double(d.compUnits) * double(w);
    }
    for (Device &d : m_devices)
        d.share[kernel] = total > 0 ? double(d.compUnits) * double(d.wgSize[kernel]) / total : 0.0;
}

void MyOpenCL::calcURatios(bool *result)
{
    const auto t0 = std::chrono::steady_clock::now();
    m_copySeconds = 0.0;
    if (m_devices.empty() || !m_c || !m_r) {
        *result = false;
    } else if (m_n >= 2) {
        getKernelDeviceData(1);
        getKernelDeviceData(0);
        for (int k = 0; k < m_n - 1; ++k) {
            m_currentKernel = 0;
            *result = checkDiagonal(k);
            if (!*result)
                break;
            iURatio(k, result);
            if (!*result)
                break;
            m_currentKernel = 1;
            reduceURatio2(k, result);
            if (!*result)
                break;
        }
        QMessageLogger(kFile, 1300, "void MyOpenCL::calcURatios(bool*)")
            .debug("OpenCL forward elimination: %.6f s, %.6f s of it moving buffers", secondsSince(t0),
                   m_copySeconds);
    }
    m_currentKernel = 2;
    // The solve is over: back to the thread that made the engine, which can
    // hand it on to the next solve.
    m_home = m_creator;
    m_c = nullptr;
    m_r = nullptr;
    m_ur = m_dr = nullptr;
    m_swap = nullptr;
    goHome();
}

void MyOpenCL::swapRows(int k, int r)
{
    m_swap->append(k);
    m_swap->append(r);
    double *a = m_c[k];
    double *b = m_c[r];
    for (int j = 0; j < m_n; ++j)
        std::swap(a[j], b[j]);
    std::swap(m_r[k], m_r[r]);
}

bool MyOpenCL::checkDiagonal(int k)
{
    double **c = m_c;
    const int n = m_n;
    if (!isZero(c[k][k]))
        return true;
    const char *fn = "bool MyOpenCL::checkDiagonal(int)";
    const QString title = QStringLiteral("ERROR: Could not solve the equations!");
    const QString noRow = QStringLiteral("Could not find any equation with non-zero value for diagonal "
                                         "element of following equation after reduction: ")
                          + QString::number(k + 1);
    int col = -1;
    for (int j = k + 1; j < n && col < 0; ++j) {
        if (!isZero(c[k][j]))
            col = j;
    }
    if (col < 0) {
        QMessageLogger(kFile, 1512, fn).critical("Error no: MO19");
        emit throwErr(new QString(title),
                      new QString(QStringLiteral("Following Equation is faulty! All its co-efficients "
                                                 "become zero while Solving: ") + QString::number(k + 1)),
                      QStringLiteral("WARNING"));
        return false;
    }
    if (!isZero(c[col][k])) {
        swapRows(k, col);
        return true;
    }
    bool rowHasValue = false;
    for (int j = k + 1; j < n && !rowHasValue; ++j)
        rowHasValue = !isZero(c[col][j]);
    if (!rowHasValue) {
        QMessageLogger(kFile, 1488, fn).critical("Error no: MO18");
        emit throwErr(new QString(title), new QString(noRow), QStringLiteral("WARNING"));
        return false;
    }
    for (int r = col + 1; r < n; ++r) {
        if (!isZero(c[r][k])) {
            swapRows(k, r);
            return true;
        }
    }
    for (int r = k + 1; r < n; ++r) {
        if (!isZero(c[r][k])) {
            swapRows(k, r);
            return true;
        }
    }
    QMessageLogger(kFile, 1467, fn).critical("Error no: MO17");
    emit throwErr(new QString(title), new QString(noRow), QStringLiteral("WARNING"));
    return false;
}

void MyOpenCL::cpuRatios(int k, int from, int to)
{
    const double pivot = m_c[k][k];
    const double rk = m_r[k];
    double *ur = m_ur[k];
    for (int i = from; i < to; ++i) {
        const double ratio = m_c[i][k] / pivot;
        ur[i - k - 1] = ratio;
        m_r[i] = m_r[i] - ratio * rk;
    }
}

void MyOpenCL::cpuUpdate(int k, long long from, long long to)
{
    // Elements from..to-1 of the block below row k, columns k..n-1, row-major.
    const long long width = m_n - k;
    const double *pivotRow = m_c[k];
    const double *ur = m_ur[k];
    long long e = from;
    while (e < to) {
        const long long rowIndex = e / width;
        const int i = int(k + 1 + rowIndex);
        const int j0 = int(k + e % width);
        const int j1 = int(std::min<long long>(m_n, j0 + (to - e)));
        const double ratio = ur[i - k - 1];
        double *row = m_c[i];
        for (int j = j0; j < j1; ++j)
            row[j] = row[j] - pivotRow[j] * ratio;
        e += j1 - j0;
    }
}

void MyOpenCL::releaseChunk(Chunk &ch)
{
    if (ch.a)
        clReleaseMemObject(ch.a);
    if (ch.b)
        clReleaseMemObject(ch.b);
    if (ch.m)
        clReleaseMemObject(ch.m);
    ch.a = ch.b = ch.m = nullptr;
}

// Sets the kernel's arguments, enqueues it on the chunk's device and flushes.
// args/sizes: argument pointers and sizes (buffers first). The first failure
// is logged with its step code and ends the step.
bool MyOpenCL::dispatch(Chunk &ch, const void *args[], const size_t sizes[], int argCount,
                        size_t local, int kernel, bool *result, const char *failRecord)
{
    Device &d = m_devices[size_t(ch.device)];
    cl_kernel kern = d.kernels[kernel];
    // Step codes of each argument, per kernel.
    static const int argCodes[2][6] = {{2, 5, 8, 9, 0, 0}, {7, 8, 9, 19, 20, 21}};
    for (int a = 0; a < argCount; ++a) {
        m_err = clSetKernelArg(kern, cl_uint(a), sizes[a], args[a]);
        if (m_err != CL_SUCCESS) {
            m_step = code(argCodes[kernel][a]);
            break;
        }
    }
    if (m_err == CL_SUCCESS && kernel == 1) {
        m_err = clFinish(d.queue);
        if (m_err != CL_SUCCESS)
            m_step = code(10);
    }
    if (m_err == CL_SUCCESS) {
        const size_t global = ch.global;
        // A local size that does not divide the global one (or exceeds the
        // kernel's limit) is left to the runtime.
        const bool useLocal = local > 0 && global % local == 0 && local <= d.wgSize[kernel];
        m_err = clEnqueueNDRangeKernel(d.queue, kern, 1, nullptr, &global, useLocal ? &local : nullptr,
                                       0, nullptr, nullptr);
        if (m_err != CL_SUCCESS)
            m_step = code(11);
    }
    if (m_err == CL_SUCCESS) {
        m_err = clFlush(d.queue);
        if (m_err != CL_SUCCESS)
            m_step = code(12);
    }
    if (m_err != CL_SUCCESS) {
        *result = false;
        QMessageLogger(kFile, kernel == 0 ? 1741 : 2519,
                       kernel == 0 ? "void MyOpenCL::iURatio(int)" : "void MyOpenCL::reduceURatio2(int)")
            .critical("%s%s%d", failRecord, qPrintable(m_step), m_err);
        return false;
    }
    return true;
}

void MyOpenCL::iURatio(int k, bool *result)
{
    const int n = m_n;
    if (n - 1 - k <= 32) {
        cpuRatios(k, k + 1, n);
        return;
    }
    const double pivot = m_c[k][k];
    const double rk = m_r[k];
    long long rowStart = k;
    long long covered = 0;
    while (rowStart < n - 1 && *result) {
        std::vector<Chunk> chunks;
        const long long before = rowStart;
        for (size_t di = 0; di < m_devices.size() && rowStart < n - 1; ++di) {
            const Device &d = m_devices[di];
            const long long rem = n - 1 - rowStart;
            const bool last = di + 1 == m_devices.size();
            long long count = (uint64_t(d.compUnits) * d.wgSize[0] >= uint64_t(rem))
                                  ? rem
                                  : (long long)(double(rem) * d.share[0]);
            if (last)
                count = rem;
            if (count <= 0)
                continue; // this device's share is empty for this step
            const WorkSizes ws = workSizes(d.fp64, d.globalMem, d.maxAlloc, d.wgSize[0], d.multiple[0],
                                           d.compUnits, uint64_t(count), uint64_t(n), last);
            if (ws.global == 0)
                continue;
            Chunk ch;
            ch.device = int(di);
            ch.first = rowStart + 1;
            ch.global = size_t(ws.global);
            // Rows beyond the last one are padding the host never reads back.
            ch.count = std::min<long long>((long long)ws.global, rem);
            cl_context ctx = m_contexts[size_t(d.platform)];
            const cl_mem_flags flags = CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR;
            const auto tCopy = std::chrono::steady_clock::now();
            if (d.fp64) {
                ch.hostD.assign(2 * ch.global, 0.0);
                for (long long m = 0; m < ch.count; ++m) {
                    ch.hostD[size_t(m)] = m_c[ch.first + m][k];
                    ch.hostD[ch.global + size_t(m)] = m_r[ch.first + m];
                }
                ch.a = clCreateBuffer(ctx, flags, ch.global * 8, ch.hostD.data(), &m_err);
                if (m_err != CL_SUCCESS)
                    m_step = code(1);
                else {
                    ch.b = clCreateBuffer(ctx, flags, ch.global * 8, ch.hostD.data() + ch.global, &m_err);
                    if (m_err != CL_SUCCESS)
                        m_step = code(4);
                }
            } else {
                ch.hostF.assign(2 * ch.global, 0.0f);
                for (long long m = 0; m < ch.count; ++m) {
                    ch.hostF[size_t(m)] = float(m_c[ch.first + m][k]);
                    ch.hostF[ch.global + size_t(m)] = float(m_r[ch.first + m]);
                }
                ch.a = clCreateBuffer(ctx, flags, ch.global * 4, ch.hostF.data(), &m_err);
                if (m_err != CL_SUCCESS)
                    m_step = code(1);
                else {
                    ch.b = clCreateBuffer(ctx, flags, ch.global * 4, ch.hostF.data() + ch.global, &m_err);
                    if (m_err != CL_SUCCESS)
                        m_step = code(4);
                }
            }
            m_copySeconds += secondsSince(tCopy);
            bool ok = m_err == CL_SUCCESS;
            if (!ok) {
                *result = false;
                QMessageLogger(kFile, 1741, "void MyOpenCL::iURatio(int)")
                    .critical("error no: MO15 %s%d", qPrintable(m_step), m_err);
            } else {
                const float pf = float(pivot);
                const float rf = float(rk);
                const void *args[4] = {&ch.a, &ch.b, d.fp64 ? static_cast<const void *>(&pivot) : &pf,
                                       d.fp64 ? static_cast<const void *>(&rk) : &rf};
                const size_t sizes[4] = {sizeof(cl_mem), sizeof(cl_mem), d.fp64 ? 8u : 4u, d.fp64 ? 8u : 4u};
                ok = dispatch(ch, args, sizes, 4, size_t(ws.local), 0, result, "error no: MO15 ");
            }
            chunks.push_back(std::move(ch));
            if (!ok)
                break;
            rowStart += chunks.back().count;
            if (rowStart < n - 1 && n - 1 - rowStart <= 32) {
                cpuRatios(k, int(rowStart + 1), n);
                covered += n - 1 - rowStart;
                rowStart = n - 1;
                break;
            }
        }
        if (*result && rowStart == before) {
            // No device took a row (no usable work-group size): the CPU does them.
            cpuRatios(k, int(rowStart + 1), n);
            covered += n - 1 - rowStart;
            rowStart = n - 1;
        }
        // Collect: every queue finished, then the blocking reads.
        for (Chunk &ch : chunks) {
            const Device &d = m_devices[size_t(ch.device)];
            if (*result) {
                m_err = clFinish(d.queue);
                if (m_err != CL_SUCCESS)
                    m_step = code(13);
                const size_t e = d.fp64 ? 8 : 4;
                void *host = d.fp64 ? static_cast<void *>(ch.hostD.data()) : ch.hostF.data();
                const auto tCopy = std::chrono::steady_clock::now();
                if (m_err == CL_SUCCESS) {
                    m_err = clEnqueueReadBuffer(d.queue, ch.a, CL_TRUE, 0, ch.global * e, host, 0, nullptr, nullptr);
                    if (m_err != CL_SUCCESS)
                        m_step = code(d.fp64 ? 14 : 16);
                }
                if (m_err == CL_SUCCESS) {
                    m_err = clEnqueueReadBuffer(d.queue, ch.b, CL_TRUE, 0, ch.global * e,
                                                static_cast<char *>(host) + ch.global * e, 0, nullptr, nullptr);
                    if (m_err != CL_SUCCESS)
                        m_step = code(d.fp64 ? 15 : 17);
                }
                if (m_err == CL_SUCCESS) {
                    m_err = clFinish(d.queue);
                    if (m_err != CL_SUCCESS)
                        m_step = code(18);
                }
                if (m_err == CL_SUCCESS) {
                    double *ur = m_ur[k];
                    for (long long m = 0; m < ch.count; ++m) {
                        const size_t sm = size_t(m);
                        ur[ch.first - k - 1 + m] = d.fp64 ? ch.hostD[sm] : double(ch.hostF[sm]);
                        m_r[ch.first + m] = d.fp64 ? ch.hostD[ch.global + sm] : double(ch.hostF[ch.global + sm]);
                    }
                    covered += ch.count;
                    m_copySeconds += secondsSince(tCopy);
                } else {
                    *result = false;
                    QMessageLogger(kFile, 1875, "void MyOpenCL::iURatio(int)")
                        .critical("error no: MO16 %s%d", qPrintable(m_step), m_err);
                }
            }
            releaseChunk(ch);
        }
    }
    if (*result && covered != n - 1 - k)
        QMessageLogger(kFile, 1882, "void MyOpenCL::iURatio(int)")
            .critical("error no: MO19 %lld\t%d", covered, n);
}

void MyOpenCL::reduceURatio2(int k, bool *result)
{
    const int n = m_n;
    const long long width = n - k;
    const long long Q = width * (width - 1);
    if (Q <= 100) {
        cpuUpdate(k, 0, Q);
        return;
    }
    long long remaining = Q;
    long long pos = 0; // next block element (row-major) not yet handed out
    std::vector<Chunk> chunks;
    for (size_t di = 0; di < m_devices.size() && remaining > 0; ++di) {
        const Device &d = m_devices[di];
        const bool last = di + 1 == m_devices.size();
        long long count = last ? remaining : (long long)(double(Q) * d.share[1]);
        count = std::min(count, remaining);
        if (count <= 0)
            continue; // this device's share is empty for this step
        const WorkSizes ws = workSizes(d.fp64, d.globalMem, d.maxAlloc, d.wgSize[1], d.multiple[1],
                                       d.compUnits, uint64_t(count), uint64_t(n), last);
        if (ws.global == 0)
            continue;
        Chunk ch;
        ch.device = int(di);
        ch.first = pos;
        ch.global = size_t(ws.global);
        // Elements beyond the block are padding the host never reads back.
        ch.count = std::min<long long>((long long)ws.global, remaining);
        const long long firstRow = k + 1 + pos / width;
        const long long offset = pos % width;
        const long long s = k + offset;
        // Rows the chunk touches, padding included.
        const long long rowsTouched = (offset + (long long)ch.global - 1) / width + 1;
        const size_t nA = ch.global;
        const size_t nR = size_t(width);
        const size_t nM = size_t(rowsTouched);
        const double *pivotRow = m_c[k];
        const double *ur = m_ur[k];
        // Layout of the staging area: A, then R, then M.
        auto fill = [&](auto &host) {
            using T = typename std::decay_t<decltype(host)>::value_type;
            host.assign(nA + nR + nM, T(0));
            long long e = pos;
            size_t idx = 0;
            while (e < pos + ch.count) {
                const long long i = k + 1 + e / width;
                const long long j0 = k + e % width;
                const long long j1 = std::min<long long>(n, j0 + (pos + ch.count - e));
                const double *row = m_c[i];
                for (long long j = j0; j < j1; ++j)
                    host[idx++] = T(row[j]);
                e += j1 - j0;
            }
            size_t r = nA;
            for (long long j = s; j < n; ++j)
                host[r++] = T(pivotRow[j]);
            for (long long j = k; j < s; ++j)
                host[r++] = T(pivotRow[j]);
            for (long long m = 0; m < rowsTouched && firstRow + m <= n - 1; ++m)
                host[nA + nR + size_t(m)] = T(ur[firstRow + m - k - 1]);
        };
        const size_t e = d.fp64 ? 8 : 4;
        const auto tCopy = std::chrono::steady_clock::now();
        char *host;
        if (d.fp64) {
            fill(ch.hostD);
            host = reinterpret_cast<char *>(ch.hostD.data());
        } else {
            fill(ch.hostF);
            host = reinterpret_cast<char *>(ch.hostF.data());
        }
        cl_context ctx = m_contexts[size_t(d.platform)];
        const cl_mem_flags flags = CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR;
        ch.a = clCreateBuffer(ctx, flags, nA * e, host, &m_err);
        if (m_err != CL_SUCCESS) {
            m_step = code(d.fp64 ? 1 : 4);
        } else {
            ch.b = clCreateBuffer(ctx, flags, nR * e, host + nA * e, &m_err);
            if (m_err != CL_SUCCESS) {
                m_step = code(d.fp64 ? 2 : 5);
            } else {
                ch.m = clCreateBuffer(ctx, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, nM * e,
                                      host + (nA + nR) * e, &m_err);
                if (m_err != CL_SUCCESS)
                    m_step = code(d.fp64 ? 3 : 6);
            }
        }
        m_copySeconds += secondsSince(tCopy);
        bool ok = m_err == CL_SUCCESS;
        if (!ok) {
            *result = false;
            QMessageLogger(kFile, 2519, "void MyOpenCL::reduceURatio2(int)")
                .critical("error no: MO22 -> %s%d", qPrintable(m_step), m_err);
        } else {
            const cl_int nvar = n;
            const cl_int off = cl_int(offset);
            const cl_int piv = k;
            const void *args[6] = {&ch.a, &ch.b, &ch.m, &nvar, &off, &piv};
            const size_t sizes[6] = {sizeof(cl_mem), sizeof(cl_mem), sizeof(cl_mem),
                                     sizeof(cl_int), sizeof(cl_int), sizeof(cl_int)};
            ok = dispatch(ch, args, sizes, 6, size_t(ws.local), 1, result, "error no: MO22 -> ");
        }
        remaining -= ch.count;
        pos += ch.count;
        chunks.push_back(std::move(ch));
        if (!ok)
            break;
    }
    for (Chunk &ch : chunks) {
        const Device &d = m_devices[size_t(ch.device)];
        if (*result) {
            m_err = clFinish(d.queue);
            if (m_err != CL_SUCCESS)
                m_step = code(13);
            void *host = d.fp64 ? static_cast<void *>(ch.hostD.data()) : ch.hostF.data();
            const auto tCopy = std::chrono::steady_clock::now();
            if (m_err == CL_SUCCESS) {
                m_err = clEnqueueReadBuffer(d.queue, ch.a, CL_TRUE, 0, ch.global * (d.fp64 ? 8 : 4), host,
                                            0, nullptr, nullptr);
                if (m_err != CL_SUCCESS)
                    m_step = code(d.fp64 ? 14 : 15);
            }
            if (m_err == CL_SUCCESS) {
                long long e = ch.first;
                size_t idx = 0;
                const long long end = ch.first + ch.count;
                while (e < end) {
                    const long long i = k + 1 + e / width;
                    const long long j0 = k + e % width;
                    const long long j1 = std::min<long long>(n, j0 + (end - e));
                    double *row = m_c[i];
                    if (d.fp64) {
                        std::memcpy(row + j0, ch.hostD.data() + idx, size_t(j1 - j0) * sizeof(double));
                        idx += size_t(j1 - j0);
                    } else {
                        for (long long j = j0; j < j1; ++j)
                            row[j] = double(ch.hostF[idx++]);
                    }
                    e += j1 - j0;
                }
                m_copySeconds += secondsSince(tCopy);
            } else {
                *result = false;
                QMessageLogger(kFile, 2652, "void MyOpenCL::reduceURatio2(int)")
                    .critical("error no: MO23 -> %s%d", qPrintable(m_step), m_err);
            }
        }
        releaseChunk(ch);
    }
    if (*result && remaining > 0)
        cpuUpdate(k, pos, Q);
}
