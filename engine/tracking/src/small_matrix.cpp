#include "engine/small_matrix.h"

#include "platform/linalg.h"

#include <cmath>

namespace {
void Require(bool ok, const char* what)
{
    if (!ok) throw CSmallMatrixSizeError(what);
}
} // namespace

CSmallMatrix::CSmallMatrix(int rows, int columns) : rows_(rows), columns_(columns), count_(rows * columns)
{
    Require(rows > 0 && columns > 0 && count_ <= kMaxElements, "matrix size");
}

CSmallMatrix::CSmallMatrix(int rows, int columns, const double* values) : CSmallMatrix(rows, columns)
{
    for (int i = 0; i < count_; ++i) v_[i] = values[i];
}

CSmallMatrix CSmallMatrix::Vector3(double a, double b, double c)
{
    const double v[3] = {a, b, c};
    return CSmallMatrix(3, 1, v);
}

CSmallMatrix CSmallMatrix::Column(int c) const
{
    Require(c >= 0 && c < columns_, "column index");
    CSmallMatrix m(rows_, 1);
    for (int r = 0; r < rows_; ++r) m.v_[r] = (*this)(r, c);
    return m;
}

void CSmallMatrix::SetColumn(int c, const CSmallMatrix& column)
{
    Require(c >= 0 && c < columns_ && column.rows_ == rows_ && column.columns_ == 1, "column size");
    for (int r = 0; r < rows_; ++r) (*this)(r, c) = column.v_[r];
}

double CSmallMatrix::Norm() const
{
    double s = 0.0;
    for (int i = 0; i < count_; ++i) s += v_[i] * v_[i];
    return std::sqrt(s);
}

CSmallMatrix& CSmallMatrix::DivideBy(double value)
{
    const double inverse = 1.0 / value;
    for (int i = 0; i < count_; ++i) v_[i] *= inverse;
    return *this;
}

CSmallMatrix& CSmallMatrix::Transpose()
{
    *this = Transposed();
    return *this;
}

CSmallMatrix CSmallMatrix::Transposed() const
{
    CSmallMatrix t(columns_, rows_);
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < columns_; ++c) t(c, r) = (*this)(r, c);
    return t;
}

double CSmallMatrix::Dot(const CSmallMatrix& other) const
{
    Require(count_ == other.count_ && (columns_ == 1 || rows_ == 1), "dot size");
    double s = 0.0;
    for (int i = 0; i < count_; ++i) s += v_[i] * other.v_[i];
    return s;
}

CSmallMatrix CSmallMatrix::Cross(const CSmallMatrix& o) const
{
    Require(rows_ == 3 && columns_ == 1 && o.rows_ == 3 && o.columns_ == 1, "cross size");
    using V = platform::linalg::Vector3<double>;
    const V c = platform::linalg::Cross(V{v_[0], v_[1], v_[2]}, V{o.v_[0], o.v_[1], o.v_[2]});
    return Vector3(c.x, c.y, c.z);
}

CSmallMatrix operator+(const CSmallMatrix& a, const CSmallMatrix& b)
{
    Require(a.rows_ == b.rows_ && a.columns_ == b.columns_, "sum size");
    CSmallMatrix m = a;
    for (int i = 0; i < m.count_; ++i) m.v_[i] += b.v_[i];
    return m;
}

CSmallMatrix operator-(const CSmallMatrix& a, const CSmallMatrix& b)
{
    Require(a.rows_ == b.rows_ && a.columns_ == b.columns_, "difference size");
    CSmallMatrix m = a;
    for (int i = 0; i < m.count_; ++i) m.v_[i] -= b.v_[i];
    return m;
}

CSmallMatrix operator*(const CSmallMatrix& a, const CSmallMatrix& b)
{
    Require(a.columns_ == b.rows_, "product size");
    CSmallMatrix m(a.rows_, b.columns_);
    platform::linalg::MultiplyInto(a.v_, b.v_, m.v_, a.rows_, a.columns_, b.columns_);
    return m;
}

CSmallMatrix operator*(double s, const CSmallMatrix& a)
{
    CSmallMatrix m = a;
    for (int i = 0; i < m.count_; ++i) m.v_[i] *= s;
    return m;
}
