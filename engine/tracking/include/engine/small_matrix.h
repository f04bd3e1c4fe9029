#pragma once
// A small dense matrix held by value (at most 16 elements, row by row), for
// the pose solver: no allocation, sizes checked.
#include <stdexcept>

class CSmallMatrix {
public:
    static constexpr int kMaxElements = 16;

    CSmallMatrix() = default;
    CSmallMatrix(int rows, int columns);
    CSmallMatrix(int rows, int columns, const double* values);
    static CSmallMatrix Vector3(double a, double b, double c);

    int Rows() const { return rows_; }
    int Columns() const { return columns_; }
    int Count() const { return count_; }
    double& operator()(int r, int c) { return v_[r * columns_ + c]; }
    double operator()(int r, int c) const { return v_[r * columns_ + c]; }
    double& operator[](int i) { return v_[i]; }
    double operator[](int i) const { return v_[i]; }

    CSmallMatrix Column(int c) const;
    void SetColumn(int c, const CSmallMatrix& column);
    double Norm() const;
    CSmallMatrix& DivideBy(double value);
    CSmallMatrix& Normalise() { return DivideBy(Norm()); }
    CSmallMatrix& Transpose();
    CSmallMatrix Transposed() const;
    double Dot(const CSmallMatrix& other) const;
    CSmallMatrix Cross(const CSmallMatrix& other) const;

    friend CSmallMatrix operator+(const CSmallMatrix& a, const CSmallMatrix& b);
    friend CSmallMatrix operator-(const CSmallMatrix& a, const CSmallMatrix& b);
    friend CSmallMatrix operator*(const CSmallMatrix& a, const CSmallMatrix& b);
    friend CSmallMatrix operator*(double s, const CSmallMatrix& a);

private:
    int rows_ = 0;
    int columns_ = 0;
    int count_ = 0;
    double v_[kMaxElements] = {};
};

class CSmallMatrixSizeError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};
