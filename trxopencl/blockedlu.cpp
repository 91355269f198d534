// The blocked engine of MyOpenCL: the system goes to the devices once, in
// column blocks dealt out to them in turn. For each block the host factors
// the panel (a tall, thin column block, read back and written again) with
// partial pivoting; every device then applies the panel's row exchanges and
// triangle to its trailing columns and updates them with a tiled matrix
// product. The triangular solves run on the devices too, and the factors
// and the answer come back once.
#include "myopencl.h"

#include <QMessageLogger>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

namespace {

const char kFile[] = "myopencl";
const char kFunction[] = "void MyOpenCL::solveBlocked(BlockedSolve*)";

// Columns per block: the panel width and the depth of each update.
constexpr int kBlock = 64;
// Depth of one step of the tiled product through the panel.
constexpr int kDepth = 16;

double since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

template<typename T>
T deviceValue(cl_device_id id, cl_device_info what)
{
    T value{};
    if (clGetDeviceInfo(id, what, sizeof(T), &value, nullptr) != CL_SUCCESS)
        return T{};
    return value;
}

// Partial pivoting on an m x w column-major panel (pitch m) whose first row
// is row k0 of the system. Each step exchanges whole rows of the panel, so
// its multipliers end in the order of the panel's last step, the order in
// which the trailing rows are updated.
void factorPanel(double *panel, int m, int w, int k0, int *pivots)
{
    for (int p = 0; p < w && p < m; ++p) {
        double *col = panel + size_t(p) * size_t(m);
        int best = p;
        double largest = std::fabs(col[p]);
        for (int i = p + 1; i < m; ++i) {
            const double v = std::fabs(col[i]);
            if (v > largest) {
                largest = v;
                best = i;
            }
        }
        pivots[k0 + p] = k0 + best;
        if (best != p) {
            for (int j = 0; j < w; ++j)
                std::swap(panel[size_t(j) * size_t(m) + size_t(p)],
                          panel[size_t(j) * size_t(m) + size_t(best)]);
        }
        const double pivot = col[p];
        if (pivot == 0.0)
            continue; // singular here: zero multipliers, the host check judges
        for (int i = p + 1; i < m; ++i)
            col[i] /= pivot;
        for (int j = p + 1; j < w; ++j) {
            double *cj = panel + size_t(j) * size_t(m);
            const double u = cj[p];
            if (u == 0.0)
                continue;
            for (int i = p + 1; i < m; ++i)
                cj[i] -= col[i] * u;
        }
    }
}

// Where the column blocks live: block b on device b % D, at local column
// (b / D) * kBlock of that device's buffer.
struct Layout
{
    int n = 0;
    int devices = 1;
    int blocks = 0;
    int owner(int b) const { return b % devices; }
    int localColumn(int b) const { return (b / devices) * kBlock; }
    int width(int b) const { return std::min(kBlock, n - b * kBlock); }
    // Columns a device holds, and the first local column of its blocks
    // after block b.
    int columns(int d) const
    {
        int c = 0;
        for (int b = d; b < blocks; b += devices)
            c += width(b);
        return c;
    }
    int firstAfter(int d, int b) const
    {
        const int held = b >= d ? (b - d) / devices + 1 : 0;
        return held * kBlock;
    }
};

QString megabytes(unsigned long long bytes)
{
    return QString::number((bytes + 999999ull) / 1000000ull);
}

} // namespace

bool MyOpenCL::buildBlocked(Device &d, QString *why)
{
    if (d.blockedProgram)
        return true;
    // The tile from the device's limits: 64 x 64 tiles of 16 x 16 work
    // items where work groups and local memory allow, 32 x 32 of 8 x 8
    // otherwise, 16 x 16 of 4 x 4 on the smallest.
    const size_t maxGroup = deviceValue<size_t>(d.id, CL_DEVICE_MAX_WORK_GROUP_SIZE);
    const cl_ulong local = deviceValue<cl_ulong>(d.id, CL_DEVICE_LOCAL_MEM_SIZE);
    const cl_device_type type = deviceValue<cl_device_type>(d.id, CL_DEVICE_TYPE);
    auto fits = [&](int ts, int rts) {
        const cl_ulong bytes = cl_ulong(kDepth * ts + ts * (kDepth + 1)) * 8u;
        return size_t(rts) * size_t(rts) <= maxGroup && bytes <= local;
    };
    if (!(type & CL_DEVICE_TYPE_CPU) && fits(64, 16)) {
        d.tile = 64;
        d.tileItems = 16;
    } else if (fits(32, 8)) {
        d.tile = 32;
        d.tileItems = 8;
    } else if (fits(16, 4)) {
        d.tile = 16;
        d.tileItems = 4;
    } else {
        *why = QStringLiteral("the device's work groups or local memory are too small");
        return false;
    }
    const QByteArray options = QByteArray("-D FP_64 -D TRX_BLOCKED -D TS=") + QByteArray::number(d.tile)
                               + " -D RTS=" + QByteArray::number(d.tileItems)
                               + " -D TK=" + QByteArray::number(kDepth);
    const char *src = m_source.constData();
    const size_t length = size_t(m_source.size());
    d.blockedProgram = clCreateProgramWithSource(m_contexts[size_t(d.platform)], 1, &src, &length, &m_err);
    if (m_err == CL_SUCCESS)
        m_err = clBuildProgram(d.blockedProgram, 1, &d.id, options.constData(), nullptr, nullptr);
    static const char *const names[5] = {"luRowPanel", "luGemm", "luForward", "luBackward", "luGemmVec"};
    for (int k = 0; k < 5 && m_err == CL_SUCCESS; ++k)
        d.blocked[k] = clCreateKernel(d.blockedProgram, names[k], &m_err);
    // On a processor the update keeps its block in vector registers
    // instead (local memory is plain memory there): several times faster.
    d.vectorUpdate = (type & CL_DEVICE_TYPE_CPU) != 0;
    if (m_err != CL_SUCCESS) {
        *why = QStringLiteral("its kernels could not be built (OpenCL error %1)").arg(m_err);
        // Nothing half-built stays for the next solve to take as ready.
        for (cl_kernel &k : d.blocked) {
            if (k)
                clReleaseKernel(k);
            k = nullptr;
        }
        if (d.blockedProgram)
            clReleaseProgram(d.blockedProgram);
        d.blockedProgram = nullptr;
        return false;
    }
    size_t solveGroup = 0;
    clGetKernelWorkGroupInfo(d.blocked[2], d.id, CL_KERNEL_WORK_GROUP_SIZE, sizeof(solveGroup),
                             &solveGroup, nullptr);
    d.solveItems = std::max<size_t>(1, std::min<size_t>(256, solveGroup));
    return true;
}

void MyOpenCL::solveBlocked(BlockedSolve *request)
{
    if (request)
        runBlocked(request);
    goHome();
}

void MyOpenCL::runBlocked(BlockedSolve *req)
{
    const int n = req->n;
    req->outcome = BlockedSolve::DeviceFailed;
    if (m_devices.empty() || n < 1 || !req->a || !req->b || !req->lu || !req->pivots || !req->x) {
        req->message = QStringLiteral("no OpenCL device is prepared");
        return;
    }
    QStringList names;
    for (const Device &d : m_devices) {
        bool ok = false;
        size_t size = 0;
        clGetDeviceInfo(d.id, CL_DEVICE_NAME, 0, nullptr, &size);
        QByteArray text(int(size), '\0');
        ok = size && clGetDeviceInfo(d.id, CL_DEVICE_NAME, size, text.data(), nullptr) == CL_SUCCESS;
        names << (ok ? QString::fromLatin1(text.constData()).simplified() : QStringLiteral("Unknown"));
        if (!d.fp64) {
            req->outcome = BlockedSolve::NoDoublePrecision;
            req->message = QStringLiteral("the OpenCL device %1 has no double precision").arg(names.last());
            return;
        }
    }
    req->devices = names.join(QStringLiteral(", "));

    Layout lay;
    lay.n = n;
    lay.devices = int(m_devices.size());
    lay.blocks = (n + kBlock - 1) / kBlock;
    // Nothing is allocated before every device is known to hold its part.
    for (size_t di = 0; di < m_devices.size(); ++di) {
        const Device &d = m_devices[di];
        cl_ulong global = deviceValue<cl_ulong>(d.id, CL_DEVICE_GLOBAL_MEM_SIZE);
        cl_ulong maxAlloc = deviceValue<cl_ulong>(d.id, CL_DEVICE_MAX_MEM_ALLOC_SIZE);
        if (req->memoryCap) {
            global = std::min<cl_ulong>(global, req->memoryCap);
            maxAlloc = std::min<cl_ulong>(maxAlloc, req->memoryCap);
        }
        const unsigned long long matrix = 8ull * (unsigned long long)n * (unsigned long long)lay.columns(int(di));
        const unsigned long long total = matrix + 8ull * ((unsigned long long)n * kBlock + kBlock * kBlock + n)
                                         + 4ull * (unsigned long long)n;
        if (matrix > maxAlloc || double(total) > 0.9 * double(global)) {
            req->outcome = BlockedSolve::TooLittleMemory;
            req->message = QStringLiteral("The system of %1 unknowns needs %2 MB on the OpenCL device %3, "
                                          "which offers %4 MB (%5 MB in one buffer)")
                               .arg(n)
                               .arg(megabytes(total))
                               .arg(names.at(int(di)))
                               .arg(megabytes((unsigned long long)(0.9 * double(global))))
                               .arg(megabytes(maxAlloc));
            return;
        }
    }
    QString why;
    const auto tBuild = std::chrono::steady_clock::now();
    for (size_t di = 0; di < m_devices.size(); ++di) {
        if (!buildBlocked(m_devices[di], &why)) {
            req->message = QStringLiteral("The OpenCL device %1 cannot run the blocked solver: %2")
                               .arg(names.at(int(di)), why);
            return;
        }
    }
    req->buildSeconds = since(tBuild);

    // Per device: its columns, the panel (L21), the panel's triangle, the
    // pivots and the answer.
    struct Buffers
    {
        cl_mem a = nullptr, panel = nullptr, l11 = nullptr, piv = nullptr, x = nullptr;
    };
    std::vector<Buffers> bufs(m_devices.size());
    auto releaseAll = [&] {
        for (Buffers &b : bufs) {
            for (cl_mem m : {b.a, b.panel, b.l11, b.piv, b.x}) {
                if (m)
                    clReleaseMemObject(m);
            }
            b = Buffers();
        }
    };
    QString failed;
    auto check = [&](const char *what) {
        if (m_err != CL_SUCCESS && failed.isEmpty())
            failed = QStringLiteral("%1 failed with OpenCL error %2").arg(QLatin1String(what)).arg(m_err);
        return failed.isEmpty();
    };
    const size_t un = size_t(n);
    const size_t ld = un;
    const cl_ulong ldArg = cl_ulong(ld);
    std::vector<double> staging(un * size_t(kBlock));

    // Copy in, block by block, into column-major order.
    auto t0 = std::chrono::steady_clock::now();
    for (size_t di = 0; di < m_devices.size() && failed.isEmpty(); ++di) {
        cl_context ctx = m_contexts[size_t(m_devices[di].platform)];
        const size_t cols = size_t(lay.columns(int(di)));
        Buffers &b = bufs[di];
        b.a = clCreateBuffer(ctx, CL_MEM_READ_WRITE, std::max<size_t>(1, cols) * ld * 8, nullptr, &m_err);
        if (check("allocating the matrix"))
            b.panel = clCreateBuffer(ctx, CL_MEM_READ_ONLY, ld * kBlock * 8, nullptr, &m_err);
        if (check("allocating the panel"))
            b.l11 = clCreateBuffer(ctx, CL_MEM_READ_ONLY, size_t(kBlock) * kBlock * 8, nullptr, &m_err);
        if (check("allocating the panel"))
            b.piv = clCreateBuffer(ctx, CL_MEM_READ_ONLY, un * 4, nullptr, &m_err);
        if (check("allocating the pivots"))
            b.x = clCreateBuffer(ctx, CL_MEM_READ_WRITE, un * 8, nullptr, &m_err);
        check("allocating the answer");
    }
    for (int blk = 0; blk < lay.blocks && failed.isEmpty(); ++blk) {
        const int c0 = blk * kBlock;
        const int w = lay.width(blk);
        for (int j = 0; j < w; ++j)
            for (int i = 0; i < n; ++i)
                staging[size_t(j) * un + size_t(i)] = req->a[i][c0 + j];
        const Device &d = m_devices[size_t(lay.owner(blk))];
        m_err = clEnqueueWriteBuffer(d.queue, bufs[size_t(lay.owner(blk))].a, CL_TRUE,
                                     size_t(lay.localColumn(blk)) * ld * 8, size_t(w) * un * 8,
                                     staging.data(), 0, nullptr, nullptr);
        check("copying the system in");
    }
    req->seconds[0] = since(t0);

    // The factorisation.
    t0 = std::chrono::steady_clock::now();
    std::vector<double> l11(size_t(kBlock) * kBlock);
    for (int kb = 0; kb < lay.blocks && failed.isEmpty(); ++kb) {
        const int k0 = kb * kBlock;
        const int w = lay.width(kb);
        const int k1 = k0 + w;
        const int m = n - k0;
        const size_t owner = size_t(lay.owner(kb));
        const Device &od = m_devices[owner];
        // The panel: rows k0.. of the block's columns.
        const size_t bufOrigin[3] = {size_t(k0) * 8, size_t(lay.localColumn(kb)), 0};
        const size_t hostOrigin[3] = {0, 0, 0};
        const size_t region[3] = {size_t(m) * 8, size_t(w), 1};
        m_err = clEnqueueReadBufferRect(od.queue, bufs[owner].a, CL_TRUE, bufOrigin, hostOrigin, region,
                                        ld * 8, 0, size_t(m) * 8, 0, staging.data(), 0, nullptr, nullptr);
        if (!check("reading a panel"))
            break;
        factorPanel(staging.data(), m, w, k0, req->pivots);
        m_err = clEnqueueWriteBufferRect(od.queue, bufs[owner].a, CL_TRUE, bufOrigin, hostOrigin, region,
                                         ld * 8, 0, size_t(m) * 8, 0, staging.data(), 0, nullptr, nullptr);
        if (!check("writing a panel") || k1 >= n)
            continue;
        for (int p = 0; p < w; ++p)
            for (int q = 0; q < w; ++q)
                l11[size_t(p) * size_t(w) + size_t(q)] = q < p ? staging[size_t(q) * size_t(m) + size_t(p)] : 0.0;
        const int below = n - k1;
        for (size_t di = 0; di < m_devices.size() && failed.isEmpty(); ++di) {
            const Device &d = m_devices[di];
            const int first = lay.firstAfter(int(di), kb);
            const int cols = lay.columns(int(di)) - first;
            if (cols <= 0)
                continue;
            Buffers &b = bufs[di];
            // L21 below the triangle, pitch `below`.
            const size_t pOrigin[3] = {0, 0, 0};
            const size_t hOrigin[3] = {size_t(w) * 8, 0, 0};
            const size_t pRegion[3] = {size_t(below) * 8, size_t(w), 1};
            m_err = clEnqueueWriteBufferRect(d.queue, b.panel, CL_TRUE, pOrigin, hOrigin, pRegion,
                                             size_t(below) * 8, 0, size_t(m) * 8, 0, staging.data(), 0,
                                             nullptr, nullptr);
            if (check("writing a panel"))
                m_err = clEnqueueWriteBuffer(d.queue, b.l11, CL_TRUE, 0, size_t(w) * size_t(w) * 8,
                                             l11.data(), 0, nullptr, nullptr);
            if (check("writing a panel"))
                m_err = clEnqueueWriteBuffer(d.queue, b.piv, CL_TRUE, size_t(k0) * 4, size_t(w) * 4,
                                             req->pivots + k0, 0, nullptr, nullptr);
            if (!check("writing the pivots"))
                break;
            const cl_int argK0 = k0, argW = w, argCol0 = first, argCols = cols, argRow0 = k1,
                         argRows = below, argDepth = w;
            const cl_ulong pld = cl_ulong(below);
            cl_kernel rp = d.blocked[0];
            clSetKernelArg(rp, 0, sizeof(cl_mem), &b.a);
            clSetKernelArg(rp, 1, sizeof(cl_ulong), &ldArg);
            clSetKernelArg(rp, 2, sizeof(cl_mem), &b.piv);
            clSetKernelArg(rp, 3, sizeof(cl_mem), &b.l11);
            clSetKernelArg(rp, 4, sizeof(cl_int), &argK0);
            clSetKernelArg(rp, 5, sizeof(cl_int), &argW);
            clSetKernelArg(rp, 6, sizeof(cl_int), &argCol0);
            m_err = clSetKernelArg(rp, 7, sizeof(cl_int), &argCols);
            const size_t rpGlobal = size_t(cols);
            if (check("setting the panel kernel"))
                m_err = clEnqueueNDRangeKernel(d.queue, rp, 1, nullptr, &rpGlobal, nullptr, 0, nullptr, nullptr);
            if (!check("running the panel kernel"))
                break;
            const bool vector = d.vectorUpdate && !req->tiledUpdate;
            cl_kernel mm = d.blocked[vector ? 4 : 1];
            clSetKernelArg(mm, 0, sizeof(cl_mem), &b.a);
            clSetKernelArg(mm, 1, sizeof(cl_ulong), &ldArg);
            clSetKernelArg(mm, 2, sizeof(cl_int), &argRow0);
            clSetKernelArg(mm, 3, sizeof(cl_int), &argRows);
            clSetKernelArg(mm, 4, sizeof(cl_int), &argCol0);
            clSetKernelArg(mm, 5, sizeof(cl_int), &argCols);
            clSetKernelArg(mm, 6, sizeof(cl_mem), &b.panel);
            clSetKernelArg(mm, 7, sizeof(cl_ulong), &pld);
            clSetKernelArg(mm, 8, sizeof(cl_int), &argK0);
            m_err = clSetKernelArg(mm, 9, sizeof(cl_int), &argDepth);
            if (vector) {
                const size_t vGlobal[2] = {(size_t(below) + 15) / 16, (size_t(cols) + 5) / 6};
                if (check("setting the update kernel"))
                    m_err = clEnqueueNDRangeKernel(d.queue, mm, 2, nullptr, vGlobal, nullptr, 0, nullptr,
                                                   nullptr);
                if (check("running the update kernel"))
                    m_err = clFlush(d.queue);
                check("running the update kernel");
                continue;
            }
            const size_t ts = size_t(d.tile);
            const size_t mmGlobal[2] = {(size_t(below) + ts - 1) / ts * size_t(d.tileItems),
                                        (size_t(cols) + ts - 1) / ts * size_t(d.tileItems)};
            const size_t mmLocal[2] = {size_t(d.tileItems), size_t(d.tileItems)};
            if (check("setting the update kernel"))
                m_err = clEnqueueNDRangeKernel(d.queue, mm, 2, nullptr, mmGlobal, mmLocal, 0, nullptr, nullptr);
            if (check("running the update kernel"))
                m_err = clFlush(d.queue);
            check("running the update kernel");
        }
    }
    req->seconds[1] = since(t0);

    // The triangular solves: the answer moves to whichever device holds
    // the next block.
    t0 = std::chrono::steady_clock::now();
    std::vector<double> x(req->b, req->b + n);
    int at = -1;
    auto moveTo = [&](int d) {
        if (d == at || !failed.isEmpty())
            return;
        if (at >= 0) {
            m_err = clEnqueueReadBuffer(m_devices[size_t(at)].queue, bufs[size_t(at)].x, CL_TRUE, 0, un * 8,
                                        x.data(), 0, nullptr, nullptr);
            if (!check("reading the answer"))
                return;
        }
        m_err = clEnqueueWriteBuffer(m_devices[size_t(d)].queue, bufs[size_t(d)].x, CL_TRUE, 0, un * 8,
                                     x.data(), 0, nullptr, nullptr);
        if (check("writing the right-hand side"))
            at = d;
    };
    for (size_t di = 0; di < m_devices.size() && failed.isEmpty(); ++di) {
        m_err = clEnqueueWriteBuffer(m_devices[di].queue, bufs[di].piv, CL_TRUE, 0, un * 4, req->pivots, 0,
                                     nullptr, nullptr);
        check("writing the pivots");
    }
    auto solveBlock = [&](int kernel, int blk) {
        const int d = lay.owner(blk);
        moveTo(d);
        if (!failed.isEmpty())
            return;
        const Device &dev = m_devices[size_t(d)];
        Buffers &b = bufs[size_t(d)];
        const cl_int argN = n, gcol0 = blk * kBlock, lcol0 = lay.localColumn(blk), count = lay.width(blk);
        cl_kernel k = dev.blocked[kernel];
        int a = 0;
        clSetKernelArg(k, cl_uint(a++), sizeof(cl_mem), &b.a);
        clSetKernelArg(k, cl_uint(a++), sizeof(cl_ulong), &ldArg);
        if (kernel == 2)
            clSetKernelArg(k, cl_uint(a++), sizeof(cl_mem), &b.piv);
        clSetKernelArg(k, cl_uint(a++), sizeof(cl_mem), &b.x);
        if (kernel == 2)
            clSetKernelArg(k, cl_uint(a++), sizeof(cl_int), &argN);
        clSetKernelArg(k, cl_uint(a++), sizeof(cl_int), &gcol0);
        clSetKernelArg(k, cl_uint(a++), sizeof(cl_int), &lcol0);
        m_err = clSetKernelArg(k, cl_uint(a++), sizeof(cl_int), &count);
        const size_t items = dev.solveItems;
        if (check("setting a solve kernel"))
            m_err = clEnqueueNDRangeKernel(dev.queue, k, 1, nullptr, &items, &items, 0, nullptr, nullptr);
        check("running a solve kernel");
    };
    for (int blk = 0; blk < lay.blocks; ++blk)
        solveBlock(2, blk);
    for (int blk = lay.blocks - 1; blk >= 0; --blk)
        solveBlock(3, blk);
    if (failed.isEmpty() && at >= 0) {
        m_err = clEnqueueReadBuffer(m_devices[size_t(at)].queue, bufs[size_t(at)].x, CL_TRUE, 0, un * 8,
                                    req->x, 0, nullptr, nullptr);
        check("reading the answer");
    }
    req->seconds[2] = since(t0);

    // The factors, for the host's refinement and check.
    t0 = std::chrono::steady_clock::now();
    for (int blk = 0; blk < lay.blocks && failed.isEmpty(); ++blk) {
        const int c0 = blk * kBlock;
        const int w = lay.width(blk);
        const size_t owner = size_t(lay.owner(blk));
        m_err = clEnqueueReadBuffer(m_devices[owner].queue, bufs[owner].a, CL_TRUE,
                                    size_t(lay.localColumn(blk)) * ld * 8, size_t(w) * un * 8,
                                    staging.data(), 0, nullptr, nullptr);
        if (!check("reading the factors"))
            break;
        // Within the block each step's multipliers go back to the order of
        // that step: the later exchanges undone, last first.
        for (int s = c0 + w - 1; s > c0; --s) {
            const int r = req->pivots[s];
            if (r == s)
                continue;
            for (int c = 0; c < s - c0; ++c)
                std::swap(staging[size_t(c) * un + size_t(s)], staging[size_t(c) * un + size_t(r)]);
        }
        for (int i = 0; i < n; ++i) {
            double *row = req->lu[i] + c0;
            for (int j = 0; j < w; ++j)
                row[j] = staging[size_t(j) * un + size_t(i)];
        }
    }
    req->seconds[3] = since(t0);
    for (const Device &d : m_devices)
        clFinish(d.queue);
    releaseAll();
    if (!failed.isEmpty()) {
        req->message = QStringLiteral("The blocked OpenCL solve stopped: %1").arg(failed);
        QMessageLogger(kFile, 2700, kFunction).critical("error no: MO24 - %s", qPrintable(failed));
        return;
    }
    req->outcome = BlockedSolve::Solved;
}
