#include "worksizes.h"

#include <cstdlib>
#include <string>

WorkSizes workSizes(bool fp64, uint64_t globalMem, uint64_t maxAlloc, uint64_t W, uint64_t P,
                    uint64_t C, uint64_t N, uint64_t n, bool noOvershoot)
{
    WorkSizes ws;
    if (W == 0 || N == 0)
        return ws;
    if (W * C > N)
        return smallWorkSizes(W, P, C, N);
    const double e = fp64 ? 8.0 : 4.0;
    uint64_t g = W * C;
    for (;;) {
        // An unknown memory size (0) limits nothing.
        if ((globalMem && double(g + W + n) * e >= 0.9 * double(globalMem))
            || (maxAlloc && double(g + W) * e >= 0.9 * double(maxAlloc)))
            break;
        if (g + W > N) {
            // One more group would overshoot: allowed only by less than N.
            if (!noOvershoot && (g + W - N) / N == 0)
                g += W;
            break;
        }
        g += W;
    }
    ws.global = g;
    ws.local = W;
    return ws;
}

WorkSizes smallWorkSizes(uint64_t W, uint64_t P, uint64_t C, uint64_t N)
{
    WorkSizes ws;
    if (N == 0)
        return ws;
    uint64_t c = 1;
    uint64_t L = 0;
    uint64_t G = 0;
    // Raises c towards limit while one more group of L still fits in N.
    // Returns false when the next group would overshoot (G is then set).
    auto grow = [&](uint64_t limit) {
        while (c < limit) {
            if ((c + 1) * L > N) {
                G = L * c;
                return false;
            }
            ++c;
        }
        return true;
    };
    if (P > N || P == 0) {
        L = 2;
        for (;;) {
            if (!grow(C))
                break;
            L *= 2;
            if (L * c > N) {
                L /= 2;
                G = L * c;
                break;
            }
            if (N - L * c <= 1) {
                G = L * c;
                break;
            }
        }
    } else {
        L = P;
        for (;;) {
            if (!grow(C))
                break;
            if (L >= W) {
                while ((c + 1) * L <= N && c + 1 <= 2 * C)
                    ++c;
                G = L * c;
                break;
            }
            L *= 2;
            if (L * c > N) {
                L /= 2;
                G = L * c;
                break;
            }
        }
    }
    if (G > N) {
        G = N;
        L = N;
    }
    if (c != C) {
        c *= 2;
        while (c <= C && L % 2 == 0) {
            c *= 2;
            L /= 2;
        }
    }
    ws.global = G;
    ws.local = L;
    return ws;
}

bool openCLVersionAccepted(const char *version)
{
    if (!version)
        return false;
    const char *p = version;
    while (*p && *p != 'O' && *p != 'o')
        ++p;
    if (!*p)
        return false;
    ++p;
    std::string digits;
    for (; *p; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits += *p;
        } else if (*p == '.') {
            if (!digits.empty())
                break;
        } else {
            digits.clear();
        }
    }
    if (digits.empty() || *p != '.')
        return false;
    const int major = std::atoi(digits.c_str());
    const char minor = p[1];
    return major >= 2 || (major == 1 && minor >= '1' && minor <= '9');
}
