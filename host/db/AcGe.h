// Geometry values of the drawing database: points, vectors, scale factors and the
// 4x4 affine transform of a block reference.
#pragma once

#include <cmath>

struct AcGeVector3d {
    double x = 0, y = 0, z = 0;
    constexpr AcGeVector3d() = default;
    constexpr AcGeVector3d(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
    double length() const { return std::sqrt(x * x + y * y + z * z); }
    static const AcGeVector3d kXAxis, kYAxis, kZAxis;
};
inline constexpr AcGeVector3d AcGeVector3d::kXAxis{1, 0, 0};
inline constexpr AcGeVector3d AcGeVector3d::kYAxis{0, 1, 0};
inline constexpr AcGeVector3d AcGeVector3d::kZAxis{0, 0, 1};

struct AcGePoint3d {
    double x = 0, y = 0, z = 0;
    constexpr AcGePoint3d() = default;
    constexpr AcGePoint3d(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
    bool operator==(const AcGePoint3d&) const = default;
    AcGeVector3d operator-(const AcGePoint3d& o) const { return {x - o.x, y - o.y, z - o.z}; }
    double distanceTo(const AcGePoint3d& o) const { return (*this - o).length(); }
    static const AcGePoint3d kOrigin;
};
inline constexpr AcGePoint3d AcGePoint3d::kOrigin{0, 0, 0};

struct AcGeScale3d {
    double sx = 1, sy = 1, sz = 1;
    constexpr AcGeScale3d() = default;
    constexpr AcGeScale3d(double x, double y, double z) : sx(x), sy(y), sz(z) {}
    bool operator==(const AcGeScale3d&) const = default;
    double operator[](int i) const { return i == 0 ? sx : i == 1 ? sy : sz; }
};

// Row-major affine transform; the last row stays (0 0 0 1).
struct AcGeMatrix3d {
    double entry[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    static AcGeMatrix3d translation(const AcGeVector3d& v);
    static AcGeMatrix3d rotation(double angle, const AcGeVector3d& axis, const AcGePoint3d& center);
    static AcGeMatrix3d scaling(const AcGeScale3d& s);
    AcGeMatrix3d operator*(const AcGeMatrix3d& o) const;
    AcGePoint3d transformPoint(const AcGePoint3d& p) const;
    AcGeVector3d transformVector(const AcGeVector3d& v) const;
    double det() const;  // of the 3x3 part; negative for a mirroring transform
};
