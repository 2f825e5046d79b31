#include "rain/Gev.h"

#include <cmath>

#include "rain/Error.h"

namespace quorvel {

namespace {

constexpr double kShape = -0.087;           // k
constexpr double kGammaOnePlusK = 1.058363;  // G = gamma(1 + k), to six decimals
constexpr double kOneMinusG = 1 - 1.058363;
// The published curve divides by ln(2.71828182845904), not by 1: kept so the
// quantiles agree with the regional tables to the last bit.
constexpr double kEulerTruncated = 2.71828182845904;

[[noreturn]] void Fail(const ErrorDetail& what)
{
    throw Error(ErrorKind::FloatingPoint, {}, what);
}

double Checked(double value, const ErrorDetail& what)
{
    if (!std::isfinite(value))
        Fail(what);
    return value;
}

}  // namespace

float GevQuantile(float cv, float a1, std::int16_t T)
{
    if (!std::isfinite(cv) || !std::isfinite(a1))
        Fail({"cv or a1 is not a finite number", "cv o a1 non è un numero finito"});

    const double k = kShape;
    const double A = (k * double(cv)) / ((1 - std::pow(2.0, -k)) * kGammaOnePlusK);
    const double E = 1 - (A * kOneMinusG) / k;

    const double periods = double(T);
    if (periods - 1 == 0)
        Fail({"return period of 1 year divides by zero", "il tempo di ritorno di 1 anno divide per zero"});
    const double ratio = periods / (periods - 1);
    if (!(ratio > 0))
        Fail({"logarithm of a non-positive number", "logaritmo di un numero non positivo"});
    const double y = Checked(std::log(ratio) / std::log(kEulerTruncated), {"reduced variate", "variabile ridotta"});
    if (!(y > 0))
        Fail({"power of a non-positive reduced variate", "potenza di una variabile ridotta non positiva"});
    const double K = Checked((A / k) * (1 - std::pow(y, k)) + E, {"growth factor", "fattore di crescita"});
    const double result = Checked(K * double(a1), {"quantile", "quantile"});

    const float narrowed = float(result);
    if (std::isinf(narrowed))
        throw Error(ErrorKind::Overflow, {}, {"quantile beyond single precision", "quantile oltre la precisione singola"});
    return narrowed;
}

}  // namespace quorvel
