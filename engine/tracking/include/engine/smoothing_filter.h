#pragma once
// Smoothing filters of the tracking engine. Every smoothed channel is a bank
// that owns one filter of each kind and runs the one its index selects. The
// adaptive kinds smooth small changes strongly and let changes of the order
// of the amount pass almost unchanged.
#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

// Regularised incomplete beta function I_t(a, b) in single precision
// (Lanczos lnGamma, continued fraction by the modified Lentz method).
// 0 for t outside 0..1.
float IncompleteBeta(float a, float b, float t);

// The filters' t: change / amount limited to 1, defined for every input
// (0 for no change, 1 when there is a change and the amount is not positive).
double RelativeChange(double change, double amount);

class CSmoothingFilter {
public:
    explicit CSmoothingFilter(std::u16string_view name = u"None");
    virtual ~CSmoothingFilter() = default;
    CSmoothingFilter(const CSmoothingFilter&) = delete;
    CSmoothingFilter& operator=(const CSmoothingFilter&) = delete;

    // Reads the previous outputs through ox/oy and writes the new ones.
    virtual void Filter(double x, double y, double* ox, double* oy, double p1, double p2);
    virtual void Reset(double x, double y);

    std::u16string_view Name() const { return name_; }
    double shape = 2.0;
    double amount = 1.0;
    float a = 2.0f;
    float b = 0.5f;

private:
    std::u16string_view name_;
};

// Kind 0: weight (change / amount) ^ shape.
class CDefaultFilter final : public CSmoothingFilter {
public:
    CDefaultFilter() : CSmoothingFilter(u"Default") {}
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
};

// Kind 1: weight I_t(a, b) of the relative change, floored at 0.001.
class CDefaultBetaFilter final : public CSmoothingFilter {
public:
    CDefaultBetaFilter() : CSmoothingFilter(u"Default") {}
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
    double lastWeightX = 0.0;
    double lastWeightY = 0.0;
};

// Kind 2: plain exponential smoothing, output moves 1 / (1 + amount) of the way.
class COldFilter final : public CSmoothingFilter {
public:
    COldFilter() : CSmoothingFilter(u"Old") {}
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
};

// Kind 3: double exponential smoothing (level and trend), so a steady
// movement is followed without lag.
class CBZFilter final : public CSmoothingFilter {
public:
    CBZFilter() : CSmoothingFilter(u"BZ") {}
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
    void Reset(double x, double y) override;

private:
    std::array<double, 2> level_{};
    std::array<double, 2> trend_{};
    bool primed_ = false;
};

// Kind 5: mean of the last round(amount) samples (1..kMaxSamples).
class CRunningAverageFilter final : public CSmoothingFilter {
public:
    static constexpr std::size_t kMaxSamples = 32;
    CRunningAverageFilter() : CSmoothingFilter(u"Running Average") {}
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
    void Reset(double x, double y) override;

private:
    std::array<double, kMaxSamples> xs_{};
    std::array<double, kMaxSamples> ys_{};
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

// Kind 6: a 4-state Kalman filter whose process noise follows the relative
// change, so a still input is held and a large movement is followed.
class CKalmanFilter final : public CSmoothingFilter {
public:
    CKalmanFilter();
    ~CKalmanFilter() override;
    void Filter(double x, double y, double* ox, double* oy, double p1, double p2) override;
    void Reset(double x, double y) override;

private:
    void Restart(float x, float y);
    struct State;
    std::unique_ptr<State> state_; // made with the filter; a step allocates nothing
};

class CSmoothingFilterBank {
public:
    enum Kind : unsigned { kDefault = 0, kDefaultBeta = 1, kOld = 2, kBZ = 3, kNone = 4,
                           kRunningAverage = 5, kKalman = 6, kKindCount = 7 };

    explicit CSmoothingFilterBank(unsigned kind = kKalman);

    // A parameter of -1 takes the bank's default (60.0). A non-finite input
    // leaves the outputs as they were: one bad sample must not reach the filter state.
    void Filter(double x, double y, double p1 = -1.0, double p2 = -1.0);
    void Reset(double x, double y);
    void SetParameters(float amount, float a, float b);

    double OutputX() const { return outputX_; }
    double OutputY() const { return outputY_; }
    unsigned Kind() const { return kind_; }
    CSmoothingFilter& Selected() { return *filters_[kind_]; }
    const CSmoothingFilter& FilterOfKind(unsigned kind) const { return *filters_.at(kind); }

private:
    double outputX_ = 0.0;
    double outputY_ = 0.0;
    unsigned kind_;
    double defaultP1_ = 60.0;
    double defaultP2_ = 60.0;
    std::array<std::unique_ptr<CSmoothingFilter>, kKindCount> filters_;
};
