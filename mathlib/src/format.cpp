// Number formatting with thousands commas, means and the probe increment.
#include "mathlib/numbra.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// Longest plain "%.0f" text the formatter groups, and the grouped limit.
constexpr std::size_t kPlainLimit = 23;
constexpr std::size_t kGroupedLimit = 31;

// The grouped text into out (at least kGroupedLimit + 1 bytes); its length.
std::size_t format(double value, char* out)
{
    // Enough for any double in fixed notation (309 digits and a sign).
    char plain[400];
    auto r = std::to_chars(plain, plain + sizeof plain, value, std::chars_format::fixed, 0);
    std::size_t len = r.ec == std::errc{} ? static_cast<std::size_t>(r.ptr - plain) : sizeof plain;
    if (len > kPlainLimit) {
        // Outside the formatter's range: a short form, not grouped.
        r = std::to_chars(out, out + kGroupedLimit, value, std::chars_format::general, 6);
        const std::size_t n = r.ec == std::errc{} ? static_cast<std::size_t>(r.ptr - out) : 0;
        out[n] = '\0';
        return n;
    }
    std::size_t first = 0;
    while (first < len && (plain[first] < '0' || plain[first] > '9')) ++first;
    std::size_t last = first;
    while (last < len && plain[last] >= '0' && plain[last] <= '9') ++last;
    std::size_t o = 0;
    for (std::size_t k = 0; k < len; ++k) {
        if (k > first && k < last && (last - k) % 3 == 0) out[o++] = ',';
        out[o++] = plain[k];
    }
    out[o] = '\0';
    return o;
}

} // namespace

extern "C" {

char* nbr_NumberToString(double value, char* buffer)
{
    if (buffer == nullptr) return nullptr;
    format(value, buffer);
    return buffer;
}

int nbr_NumberToStringN(double value, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return NBR_BAD_DATA;
    char text[kGroupedLimit + 1];
    const std::size_t n = format(value, text);
    if (n + 1 > static_cast<std::size_t>(size)) {
        buffer[0] = '\0';
        return NBR_BAD_DATA;
    }
    std::memcpy(buffer, text, n + 1);
    return NBR_OK;
}

double nbr_AverageD(const double* a, unsigned n)
{
    if (a == nullptr || n == 0) return 0.0;
    double sum = 0.0;
    for (unsigned k = 0; k < n; ++k) sum += a[k];
    return sum / n;
}

long double nbr_AverageLD(const double* a, unsigned n)
{
    if (a == nullptr || n == 0) return 0.0L;
    long double sum = 0.0L;
    for (unsigned k = 0; k < n; ++k) sum += a[k];
    return sum / n;
}

double nbr_Add42(double* p)
{
    if (p == nullptr) return NAN;
    *p += 42.0;
    return *p;
}

} // extern "C"
