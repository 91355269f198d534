#include "numtext.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <string>
#include <system_error>

#include <locale.h>

namespace {

// The C locale for the rare values the fast parser leaves to strtod
// (overflow and underflow): strtod itself follows the process locale.
double strtodC(const std::string &text, char **end)
{
#ifdef _WIN32
    static _locale_t c = _create_locale(LC_ALL, "C");
    return _strtod_l(text.c_str(), end, c);
#else
    static locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(text.c_str(), end, c);
#endif
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

namespace NumText {

char *formatDouble(char *out, double value)
{
    // to_chars with a precision is specified to match printf with the same
    // conversion in the C locale.
    const std::to_chars_result r =
        std::to_chars(out, out + kMaxDoubleChars, value, std::chars_format::general, 15);
    return r.ptr;
}

bool parseDouble(const char *first, const char *last, double *value)
{
    if (first >= last)
        return false;
    const char *p = first;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        if (p == last || *p == '+' || *p == '-')
            return false;
    }
    double v = 0.0;
    std::from_chars_result r;
    if (last - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        const char *h = p + 2;
        // from_chars would take a sign here; strtod would not.
        if (h == last || !(isHexDigit(*h) || *h == '.'))
            return false;
        r = std::from_chars(h, last, v, std::chars_format::hex);
    } else {
        r = std::from_chars(p, last, v, std::chars_format::general);
    }
    if (r.ptr != last)
        return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow gives an infinity, underflow zero or a subnormal, as
        // strtod does; the token itself is a number.
        const std::string text(first, last);
        char *end = nullptr;
        v = strtodC(text, &end);
        if (end != text.c_str() + text.size())
            return false;
        *value = v;
        return true;
    }
    if (r.ec != std::errc())
        return false;
    *value = negative ? -v : v;
    return true;
}

bool parseInt(const char *first, const char *last, long long *value)
{
    if (first >= last)
        return false;
    const char *p = first;
    if (*p == '+') {
        ++p;
        if (p == last || *p == '-' || *p == '+')
            return false;
    }
    long long v = 0;
    const std::from_chars_result r = std::from_chars(p, last, v, 10);
    if (r.ec != std::errc() || r.ptr != last)
        return false;
    *value = v;
    return true;
}

} // namespace NumText
