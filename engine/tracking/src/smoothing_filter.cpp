#include "engine/smoothing_filter.h"

#include <algorithm>
#include <cmath>

#include <opencv2/core.hpp>

namespace {

float LnGamma(float xx)
{
    static constexpr float kCoefficients[6] = {76.18009173f, -86.50532033f, 24.01409822f,
                                               -1.231739516f, 0.00120858003f, -5.36382e-06f};
    float x = xx - 1.0f;
    float tmp = x + 5.5f;
    tmp -= (x + 0.5f) * std::log(tmp);
    float series = 1.0f;
    for (float c : kCoefficients) {
        x += 1.0f;
        series += c / x;
    }
    return -tmp + std::log(2.50662827465f * series);
}

float BetaContinuedFraction(float a, float b, float x)
{
    constexpr int kMaxTerms = 100;
    constexpr float kEpsilon = 3e-7f;
    constexpr float kFloor = 1e-30f;
    const float qab = a + b;
    const float qap = a + 1.0f;
    const float qam = a - 1.0f;
    float c = 1.0f;
    float d = 1.0f - qab * x / qap;
    if (std::fabs(d) < kFloor) d = kFloor;
    d = 1.0f / d;
    float h = d;
    for (int m = 1; m <= kMaxTerms; ++m) {
        const float fm = static_cast<float>(m);
        const float m2 = 2.0f * fm;
        float aa = fm * (b - fm) * x / ((qam + m2) * (a + m2));
        d = 1.0f + aa * d;
        if (std::fabs(d) < kFloor) d = kFloor;
        c = 1.0f + aa / c;
        if (std::fabs(c) < kFloor) c = kFloor;
        d = 1.0f / d;
        h *= d * c;
        aa = -(a + fm) * (qab + fm) * x / ((a + m2) * (qap + m2));
        d = 1.0f + aa * d;
        if (std::fabs(d) < kFloor) d = kFloor;
        c = 1.0f + aa / c;
        if (std::fabs(c) < kFloor) c = kFloor;
        d = 1.0f / d;
        const float del = d * c;
        h *= del;
        if (std::fabs(del - 1.0f) < kEpsilon) break;
    }
    return h;
}

// Moves `previous` towards `input` by the weight w (0 < w <= 1).
double Blend(double previous, double input, double w)
{
    const double k = 1.0 / w - 1.0;
    return (previous * k + input) / (k + 1.0);
}

double AdaptiveWeight(const CSmoothingFilter& f, double t)
{
    const double w = IncompleteBeta(f.a, f.b, static_cast<float>(t));
    return w > 0.001 ? w : 0.001; // also catches a NaN from bad shape parameters
}

double FixedWeight(double amount)
{
    return amount > 0.0 && std::isfinite(amount) ? 1.0 / (1.0 + amount) : 1.0;
}

} // namespace

float IncompleteBeta(float a, float b, float t)
{
    if (!(t >= 0.0f && t <= 1.0f)) return 0.0f;
    float bt = 0.0f;
    if (t != 0.0f && t != 1.0f) {
        bt = std::exp(LnGamma(a + b) - LnGamma(a) - LnGamma(b) + a * std::log(t) +
                      b * std::log(1.0f - t));
    }
    if (t < (a + 1.0f) / (a + b + 2.0f)) return bt * BetaContinuedFraction(a, b, t) / a;
    return 1.0f - bt * BetaContinuedFraction(b, a, 1.0f - t) / b;
}

double RelativeChange(double change, double amount)
{
    // A zero amount (reachable through a hand-edited profile) would make 0/0 here.
    if (!(change > 0.0)) return 0.0;
    if (!(amount > 0.0)) return 1.0;
    const double t = change / amount;
    return t < 1.0 ? t : 1.0;
}

CSmoothingFilter::CSmoothingFilter(std::u16string_view name) : name_(name) {}

void CSmoothingFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    *ox = x;
    *oy = y;
}

void CSmoothingFilter::Reset(double, double) {}

void CDefaultFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    auto weight = [this](double change) {
        const double w = std::pow(RelativeChange(change, amount), shape);
        return w > 0.001 ? w : 0.001;
    };
    *ox = Blend(*ox, x, weight(std::fabs(*ox - x)));
    *oy = Blend(*oy, y, weight(std::fabs(*oy - y)));
}

void CDefaultBetaFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    const double change = std::fabs(*ox - x);
    lastWeightX = AdaptiveWeight(*this, RelativeChange(change, amount));
    // The y weight is taken from the x change; no caller reads the y output.
    lastWeightY = AdaptiveWeight(*this, RelativeChange(change, amount * 0.8));
    *ox = Blend(*ox, x, lastWeightX);
    *oy = Blend(*oy, y, lastWeightY);
}

void COldFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    const double w = FixedWeight(amount);
    *ox = Blend(*ox, x, w);
    *oy = Blend(*oy, y, w);
}

void CBZFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    if (!primed_) Reset(*ox, *oy);
    const double alpha = FixedWeight(amount);
    const double in[2] = {x, y};
    for (int i = 0; i < 2; ++i) {
        const double previous = level_[i];
        level_[i] = alpha * in[i] + (1.0 - alpha) * (level_[i] + trend_[i]);
        trend_[i] = alpha * (level_[i] - previous) + (1.0 - alpha) * trend_[i];
    }
    *ox = level_[0];
    *oy = level_[1];
}

void CBZFilter::Reset(double x, double y)
{
    level_ = {x, y};
    trend_ = {0.0, 0.0};
    primed_ = true;
}

void CRunningAverageFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    double n = std::isfinite(amount) ? std::round(amount) : 1.0;
    const std::size_t window = static_cast<std::size_t>(std::clamp(n, 1.0, double(kMaxSamples)));
    xs_[next_] = x;
    ys_[next_] = y;
    next_ = (next_ + 1) % kMaxSamples;
    count_ = std::min(count_ + 1, kMaxSamples);
    const std::size_t used = std::min(window, count_);
    double sx = 0.0, sy = 0.0;
    for (std::size_t i = 1; i <= used; ++i) {
        const std::size_t at = (next_ + kMaxSamples - i) % kMaxSamples;
        sx += xs_[at];
        sy += ys_[at];
    }
    *ox = sx / double(used);
    *oy = sy / double(used);
}

void CRunningAverageFilter::Reset(double x, double y)
{
    xs_[0] = x;
    ys_[0] = y;
    next_ = 1;
    count_ = 1;
}

// The Kalman filter's matrices, fixed-size: a step allocates nothing and runs
// on the stack. The step is OpenCV's KalmanFilter predict/correct written out
// on its small-matrix types (the general filter pays for matrix headers and
// expression temporaries on every call, several times the arithmetic).
struct CKalmanFilter::State {
    cv::Matx44f transition;
    cv::Matx44f measurementMatrix;
    cv::Matx44f processNoiseCov;
    cv::Matx44f measurementNoiseCov;
    cv::Matx44f errorCovPre;
    cv::Matx44f errorCovPost;
    cv::Vec4f statePre;
    cv::Vec4f statePost;

    const cv::Vec4f& Predict()
    {
        statePre = transition * statePost;
        errorCovPre = transition * errorCovPost * transition.t() + processNoiseCov;
        // A correction may not follow: the prediction is also the posterior.
        statePost = statePre;
        errorCovPost = errorCovPre;
        return statePre;
    }

    const cv::Vec4f& Correct(const cv::Vec4f& measurement)
    {
        const cv::Matx44f hp = measurementMatrix * errorCovPre;
        const cv::Matx44f innovationCov = hp * measurementMatrix.t() + measurementNoiseCov;
        // Gain^T = innovationCov^-1 * H * P'. With the measurement noise on its
        // diagonal the innovation covariance is never singular, so LU gives
        // what the general filter's SVD gives, within float rounding (input
        // beyond single precision is caught after the step).
        const cv::Matx44f gain = innovationCov.solve(hp, cv::DECOMP_LU).t();
        statePost = statePre + gain * (measurement - measurementMatrix * statePre);
        errorCovPost = errorCovPre - gain * hp;
        return statePost;
    }
};

CKalmanFilter::CKalmanFilter() : CSmoothingFilter(u"Kalman"), state_(std::make_unique<State>())
{
    Restart(0.0f, 0.0f);
}

CKalmanFilter::~CKalmanFilter() = default;

void CKalmanFilter::Restart(float x, float y)
{
    State& k = *state_;
    k.transition = cv::Matx44f::eye();
    k.measurementMatrix = cv::Matx44f::diag(cv::Vec4f(1.0f, 1.0f, 0.0f, 0.0f));
    k.processNoiseCov = cv::Matx44f::eye() * 1e-30f;
    k.measurementNoiseCov = cv::Matx44f::eye() * 0.1f;
    k.errorCovPost = cv::Matx44f::eye() * 0.1f;
    k.errorCovPre = cv::Matx44f::zeros();
    k.statePost = k.statePre = cv::Vec4f(x, y, 0.0f, 0.0f);
}

void CKalmanFilter::Filter(double x, double y, double* ox, double* oy, double, double)
{
    State& k = *state_;
    const double dx = std::fabs(*ox - x);
    const double dy = std::fabs(*oy - y);
    const cv::Vec4f predicted = k.Predict();
    const float px = predicted[0];
    const float py = predicted[1];

    auto noise = [this](double change) {
        float q = 0.01f * IncompleteBeta(a, b, static_cast<float>(RelativeChange(change, amount)));
        if (!std::isfinite(q)) q = 0.01f; // bad shape parameters: follow the input
        return q < 1e-10f ? 0.0f : q;
    };
    // Takes effect at the next prediction.
    k.processNoiseCov(0, 0) = noise(dx);
    k.processNoiseCov(1, 1) = noise(dy);

    const cv::Vec4f measurement(static_cast<float>(x), static_cast<float>(y), static_cast<float>(x - px),
                                static_cast<float>(y - py));
    const cv::Vec4f& corrected = k.Correct(measurement);
    const float cx = corrected[0];
    const float cy = corrected[1];
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(k.errorCovPost(0, 0)) ||
        !std::isfinite(k.errorCovPost(1, 1))) {
        // Input beyond single precision: start over from the input rather than
        // carry a state that no later sample could repair.
        const float fx = static_cast<float>(x), fy = static_cast<float>(y);
        if (std::isfinite(fx)) *ox = x;
        if (std::isfinite(fy)) *oy = y;
        Restart(static_cast<float>(*ox), static_cast<float>(*oy));
        return;
    }
    *ox = cx;
    *oy = cy;
}

void CKalmanFilter::Reset(double x, double y)
{
    State& k = *state_;
    k.statePre[0] = k.statePost[0] = static_cast<float>(x);
    k.statePre[1] = k.statePost[1] = static_cast<float>(y);
}

CSmoothingFilterBank::CSmoothingFilterBank(unsigned kind) : kind_(kind < kKindCount ? kind : kNone)
{
    filters_[kDefault] = std::make_unique<CDefaultFilter>();
    filters_[kDefaultBeta] = std::make_unique<CDefaultBetaFilter>();
    filters_[kOld] = std::make_unique<COldFilter>();
    filters_[kBZ] = std::make_unique<CBZFilter>();
    filters_[kNone] = std::make_unique<CSmoothingFilter>();
    filters_[kRunningAverage] = std::make_unique<CRunningAverageFilter>();
    filters_[kKalman] = std::make_unique<CKalmanFilter>();
}

void CSmoothingFilterBank::Filter(double x, double y, double p1, double p2)
{
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    if (p1 == -1.0) p1 = defaultP1_;
    if (p2 == -1.0) p2 = defaultP2_;
    double ox = outputX_, oy = outputY_;
    filters_[kind_]->Filter(x, y, &ox, &oy, p1, p2);
    // Belt and braces: whatever a filter makes of extreme input, the bank never
    // hands on a value that is not a number.
    if (std::isfinite(ox)) outputX_ = ox;
    if (std::isfinite(oy)) outputY_ = oy;
}

void CSmoothingFilterBank::Reset(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    filters_[kind_]->Reset(x, y);
    outputX_ = x;
    outputY_ = y;
}

void CSmoothingFilterBank::SetParameters(float amount, float a, float b)
{
    CSmoothingFilter& f = *filters_[kind_];
    f.amount = amount;
    f.a = a;
    f.b = b;
}
