#ifndef MYOPENCL_H
#define MYOPENCL_H

#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl.h>

#include "blockedinterface.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class QFile;
class QThread;

// The OpenCL engine of the plugin: enumerates platforms and devices, builds
// the kernels for the chosen devices and runs the forward elimination in the
// host's arrays, each column's work split over the devices in proportion to
// their capacity and small remainders done here on the CPU.
//
// Every slot runs on the plugin's worker thread and ends by moving the
// engine back to its home thread and ending that worker's event loop.
class MyOpenCL : public QObject
{
    Q_OBJECT
public:
    explicit MyOpenCL(QThread *home);
    ~MyOpenCL() override;

    // Whether an OpenCL version text ("OpenCL 1.2 ...") is 1.1 or later.
    static bool versionAccepted(const char *version);

public slots:
    void getDeviceInfo(QList<QStringList *> *lists);
    void setCustomDevices(QList<int> *list, QFile *clFile, bool *result);
    void initialise(double **c, double *r, double **ur, double **dr, int n, QList<int> *swap,
                    QThread *t);
    void calcURatios(bool *result);
    // The blocked engine: the whole solve on the chosen devices.
    void solveBlocked(BlockedSolve *request);

signals:
    void throwErr(QString *errTitle, QString *errTxt, QString errorType);

private:
    // One chosen (or listed) device with everything the engine keeps for it.
    struct Device
    {
        int platform = 0;
        cl_device_id id = nullptr;
        bool fp64 = false;
        cl_program program = nullptr;
        cl_kernel kernels[2] = {nullptr, nullptr};
        cl_command_queue queue = nullptr;
        cl_ulong globalMem = 0;
        cl_ulong maxAlloc = 0;
        cl_uint compUnits = 0;
        // Per kernel: work-group size, preferred multiple and share.
        size_t wgSize[2] = {0, 0};
        size_t multiple[2] = {0, 0};
        double share[2] = {0.0, 0.0};
        // The blocked engine's program and kernels (built on first use):
        // luRowPanel, luGemm, luForward, luBackward, luGemmVec; the tile
        // edge and work items per edge of luGemm.
        cl_program blockedProgram = nullptr;
        cl_kernel blocked[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
        int tile = 0;
        int tileItems = 0;
        bool vectorUpdate = false;
        size_t solveItems = 0;
    };
    // A device's part of one step, alive from dispatch to collection.
    struct Chunk
    {
        int device = -1;
        cl_mem a = nullptr;
        cl_mem b = nullptr;
        cl_mem m = nullptr;
        long long first = 0;   // first row (iURatio) or first block element
        long long count = 0;   // rows or elements that belong to the host
        size_t global = 0;
        std::vector<double> hostD;
        std::vector<float> hostF;
    };

    void goHome();
    bool genPlatforms();
    bool genDevices();
    bool genContexts();
    bool genPrograms(QFile *clFile);
    bool genKernels();
    bool genQueues();
    void getDeviceMemory();
    void getDeviceCompUnits();
    void getKernelDeviceData(int kernel);
    void releaseDevices();
    bool buildBlocked(Device &d, QString *why);
    void runBlocked(BlockedSolve *request);

    bool checkDiagonal(int k);
    void swapRows(int k, int r);
    void iURatio(int k, bool *result);
    void reduceURatio2(int k, bool *result);
    void cpuRatios(int k, int from, int to);
    void cpuUpdate(int k, long long from, long long to);
    bool dispatch(Chunk &ch, const void *args[], const size_t sizes[], int argCount,
                  size_t local, int kernel, bool *result, const char *failRecord);
    void releaseChunk(Chunk &ch);

    // Time spent moving data between the host's rows and the buffers (the
    // staging copies, buffer creation and the reads) in the running solve.
    double m_copySeconds = 0.0;

    // The kernel source the programs were built from.
    QByteArray m_source;

    int m_currentKernel = 2;
    QThread *m_home;
    QThread *m_creator; // home again once a solve is over

    cl_int m_err = CL_SUCCESS;
    QString m_step;
    std::vector<cl_platform_id> m_platforms;
    std::vector<cl_context> m_contexts;
    std::vector<Device> m_devices;

    double **m_c = nullptr;
    double *m_r = nullptr;
    double **m_ur = nullptr;
    double **m_dr = nullptr;
    int m_n = 0;
    QList<int> *m_swap = nullptr;
};

#endif
