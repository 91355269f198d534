#include "analysis.h"

#include "files/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace Analysis {

double reduceAccuracy(double v, int mode, int digits)
{
    if (!std::isfinite(v) || v == 0.0)
        return v;
    if (mode == 1) {
        digits = std::clamp(digits, 0, 15);
        // Fixed notation of the largest double needs 309 digits plus decimals.
        char buf[400];
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits);
        double out = v;
        if (r.ec == std::errc())
            std::from_chars(buf, r.ptr, out);
        return out;
    }
    digits = std::clamp(digits, 1, 15);
    // The 15-digit scientific form "-d.dddddddddddddde-XXX"; its mantissa is
    // cut after digits significant digits, the exponent kept.
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    if (r.ec != std::errc())
        return v;
    const char *e = static_cast<const char *>(std::memchr(buf, 'e', size_t(r.ptr - buf)));
    if (!e)
        return v;
    char cut[40];
    char *o = cut;
    const char *p = buf;
    if (*p == '-')
        *o++ = *p++;
    int kept = 0;
    for (; p < e && kept < digits; ++p) {
        if (*p == '.') {
            *o++ = '.';
            continue;
        }
        *o++ = *p;
        ++kept;
    }
    const size_t expLen = size_t(r.ptr - e);
    std::memcpy(o, e, expLen);
    o += expLen;
    double out = v;
    std::from_chars(cut, o, out);
    return out;
}

void reduceVector(const double *src, double *dst, int n, int mode, int digits)
{
    for (int i = 0; i < n; ++i)
        dst[i] = reduceAccuracy(src[i], mode, digits);
}

void computeErrors(int n, const double *const *coef, const double *rhs, const double *s,
                   double *lhs, double *diff, double *pct, std::vector<int> *naRows)
{
    naRows->clear();
    for (int i = 0; i < n; ++i) {
        const double *row = coef[i];
        double sum = 0.0;
        for (int j = 0; j < n; ++j)
            sum += row[j] * s[j];
        lhs[i] = sum;
        const double d = sum - rhs[i];
        diff[i] = d;
        if (isNaValue(rhs[i])) {
            pct[i] = 0.0;
            naRows->push_back(i);
        } else {
            pct[i] = std::fabs(d / rhs[i] * 100.0);
        }
    }
}

void computeComparison(int n, const double *a, const double *b, double *diff, double *pct,
                       std::vector<int> *naRows)
{
    naRows->clear();
    for (int i = 0; i < n; ++i) {
        const double d = a[i] - b[i];
        diff[i] = d;
        if (isNaValue(b[i])) {
            pct[i] = 0.0;
            naRows->push_back(i);
        } else {
            pct[i] = std::fabs(d / b[i] * 100.0);
        }
    }
}

int rangeOf(double p)
{
    p = std::fabs(p);
    if (!(p <= 90.0))   // above 90, infinity and NaN
        return 9;
    if (p <= 10.0)
        return 0;
    // The quotient may round onto a boundary; the products 10·k are exact.
    int k = int(std::ceil(p / 10.0)) - 1;
    if (p > 10.0 * (k + 1))
        ++k;
    else if (k > 0 && p <= 10.0 * k)
        --k;
    return std::clamp(k, 0, 9);
}

std::array<int, 10> rangeCounts(const double *pct, int n)
{
    std::array<int, 10> counts{};
    for (int i = 0; i < n; ++i)
        ++counts[size_t(rangeOf(pct[i]))];
    return counts;
}

int unequalCount(const double *diff, int n, double tolerance)
{
    int equal = 0;
    for (int i = 0; i < n; ++i)
        if (std::fabs(diff[i]) <= tolerance)
            ++equal;
    return n - equal;
}

int Paging::last(int t, int n) const
{
    const long long end = (long long)t * rows + rows - 1;
    return int(std::min<long long>(end, n - 1));
}

Paging pageLayout(int n, int rows, int maxTables)
{
    Paging p;
    rows = std::max(rows, 1);
    maxTables = std::max(maxTables, 1);
    n = std::max(n, 0);
    long long r = rows;
    // Rows needed per table with every table in use; rows grows by tens.
    const long long need = (n + (long long)maxTables - 1) / maxTables;
    if (r < need)
        r += ((need - r) + 9) / 10 * 10;
    p.rows = int(std::min<long long>(r, 2147483647LL));
    p.tables = int(std::max<long long>(1, (n + r - 1) / r));
    return p;
}

QString clipboardText(const double *v, int n, const QString &delimiter)
{
    const QByteArray delim = delimiter.toUtf8();
    QByteArray out;
    out.reserve(n * (NumText::kMaxDoubleChars / 2 + delim.size()));
    char buf[NumText::kMaxDoubleChars];
    for (int i = 0; i < n; ++i) {
        out.append(buf, int(NumText::formatDouble(buf, v[i]) - buf));
        out.append(delim);
    }
    return QString::fromUtf8(out);
}

QString formatValue(double v)
{
    char buf[NumText::kMaxDoubleChars];
    return QString::fromLatin1(buf, int(NumText::formatDouble(buf, v) - buf));
}

bool parseValue(const QString &text, double *v)
{
    const QByteArray t = text.trimmed().toLatin1();
    return NumText::parseDouble(t.constData(), t.constData() + t.size(), v);
}

Tone percentTone(double p, bool na)
{
    if (na)
        return Gray;
    const double a = std::fabs(p);
    if (a <= 20.0)
        return Green;
    if (a >= 80.0 || std::isnan(a))
        return Red;
    return Yellow;
}

} // namespace Analysis
