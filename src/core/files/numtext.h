#ifndef NUMTEXT_H
#define NUMTEXT_H

// Locale-free number text for the equation files. Doubles are written the way
// printf's "%.15g" writes them in the C locale and read with the grammar of
// the C library's strtod in the C locale over a whole token: an optional
// sign, decimal or hexadecimal digits with an optional exponent, "inf",
// "infinity" and "nan" (any case). Anything left over makes the token bad.
namespace NumText {

// Longest text formatDouble writes ("-1.23456789012345e-308" and similar).
constexpr int kMaxDoubleChars = 24;

// Writes value as "%.15g" at out (no terminating NUL); returns the end.
// out must have room for kMaxDoubleChars characters.
char *formatDouble(char *out, double value);

// Parses [first, last) as one whole number; false when the token is empty
// or not entirely a number (value is then left unchanged).
bool parseDouble(const char *first, const char *last, double *value);

// Base-10 integer with an optional sign over the whole token; false on
// anything else or when the value does not fit.
bool parseInt(const char *first, const char *last, long long *value);

// Whitespace as the files use it: space, tab, CR, LF, vertical tab, form feed.
inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace NumText

#endif
