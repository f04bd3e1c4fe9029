#pragma once
// The Kalman smoothing channel as it ran on OpenCV's general KalmanFilter
// (cv::Mat matrices, predict() and correct()), kept as the reference the
// fixed-size filter is checked against (smoothing_filter_test) and timed
// beside (bench/engine). It mirrors CSmoothingFilterBank with the Kalman kind
// selected: the same input gate, noise law and restart on overflow.
#include <cmath>

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include "engine/smoothing_filter.h"

class ReferenceKalmanBank {
public:
    ReferenceKalmanBank() { Restart(0.0f, 0.0f); }

    void SetParameters(float amount, float a, float b)
    {
        amount_ = amount;
        a_ = a;
        b_ = b;
    }

    void Reset(double x, double y)
    {
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        kalman_.statePre.at<float>(0) = kalman_.statePost.at<float>(0) = static_cast<float>(x);
        kalman_.statePre.at<float>(1) = kalman_.statePost.at<float>(1) = static_cast<float>(y);
        outputX_ = x;
        outputY_ = y;
    }

    void Filter(double x, double y)
    {
        if (!std::isfinite(x) || !std::isfinite(y)) return;
        double ox = outputX_, oy = outputY_;
        Step(x, y, &ox, &oy);
        if (std::isfinite(ox)) outputX_ = ox;
        if (std::isfinite(oy)) outputY_ = oy;
    }

    double OutputX() const { return outputX_; }
    double OutputY() const { return outputY_; }

private:
    void Restart(float x, float y)
    {
        cv::KalmanFilter& k = kalman_;
        cv::setIdentity(k.transitionMatrix);
        k.measurementMatrix = cv::Scalar(0);
        k.measurementMatrix.at<float>(0, 0) = 1.0f;
        k.measurementMatrix.at<float>(1, 1) = 1.0f;
        cv::setIdentity(k.processNoiseCov, cv::Scalar::all(1e-30));
        cv::setIdentity(k.measurementNoiseCov, cv::Scalar::all(0.1));
        cv::setIdentity(k.errorCovPost, cv::Scalar::all(0.1));
        k.statePost = cv::Scalar(0);
        k.statePre = cv::Scalar(0);
        k.statePost.at<float>(0) = k.statePre.at<float>(0) = x;
        k.statePost.at<float>(1) = k.statePre.at<float>(1) = y;
    }

    void Step(double x, double y, double* ox, double* oy)
    {
        cv::KalmanFilter& k = kalman_;
        const double dx = std::fabs(*ox - x);
        const double dy = std::fabs(*oy - y);
        const cv::Mat& predicted = k.predict();
        const float px = predicted.at<float>(0);
        const float py = predicted.at<float>(1);
        auto noise = [this](double change) {
            float q = 0.01f * IncompleteBeta(a_, b_, static_cast<float>(RelativeChange(change, amount_)));
            if (!std::isfinite(q)) q = 0.01f;
            return q < 1e-10f ? 0.0f : q;
        };
        k.processNoiseCov.at<float>(0, 0) = noise(dx);
        k.processNoiseCov.at<float>(1, 1) = noise(dy);
        measurement_.at<float>(0) = static_cast<float>(x);
        measurement_.at<float>(1) = static_cast<float>(y);
        measurement_.at<float>(2) = static_cast<float>(x - px);
        measurement_.at<float>(3) = static_cast<float>(y - py);
        const cv::Mat& corrected = k.correct(measurement_);
        const float cx = corrected.at<float>(0);
        const float cy = corrected.at<float>(1);
        if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(k.errorCovPost.at<float>(0, 0)) ||
            !std::isfinite(k.errorCovPost.at<float>(1, 1))) {
            const float fx = static_cast<float>(x), fy = static_cast<float>(y);
            if (std::isfinite(fx)) *ox = x;
            if (std::isfinite(fy)) *oy = y;
            Restart(static_cast<float>(*ox), static_cast<float>(*oy));
            return;
        }
        *ox = cx;
        *oy = cy;
    }

    cv::KalmanFilter kalman_{4, 4, 0, CV_32F};
    cv::Mat measurement_{4, 1, CV_32F, cv::Scalar(0)};
    double amount_ = 1.0;
    float a_ = 2.0f;
    float b_ = 0.5f;
    double outputX_ = 0.0;
    double outputY_ = 0.0;
};
