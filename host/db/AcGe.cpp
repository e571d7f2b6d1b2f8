#include "host/db/AcGe.h"

AcGeMatrix3d AcGeMatrix3d::translation(const AcGeVector3d& v) {
    AcGeMatrix3d m;
    m.entry[0][3] = v.x;
    m.entry[1][3] = v.y;
    m.entry[2][3] = v.z;
    return m;
}

AcGeMatrix3d AcGeMatrix3d::rotation(double angle, const AcGeVector3d& axis, const AcGePoint3d& center) {
    double len = axis.length();
    AcGeVector3d u = len > 0 ? AcGeVector3d(axis.x / len, axis.y / len, axis.z / len) : AcGeVector3d::kZAxis;
    double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    AcGeMatrix3d r;
    r.entry[0][0] = t * u.x * u.x + c;
    r.entry[0][1] = t * u.x * u.y - s * u.z;
    r.entry[0][2] = t * u.x * u.z + s * u.y;
    r.entry[1][0] = t * u.x * u.y + s * u.z;
    r.entry[1][1] = t * u.y * u.y + c;
    r.entry[1][2] = t * u.y * u.z - s * u.x;
    r.entry[2][0] = t * u.x * u.z - s * u.y;
    r.entry[2][1] = t * u.y * u.z + s * u.x;
    r.entry[2][2] = t * u.z * u.z + c;
    return translation({center.x, center.y, center.z}) * r * translation({-center.x, -center.y, -center.z});
}

AcGeMatrix3d AcGeMatrix3d::scaling(const AcGeScale3d& s) {
    AcGeMatrix3d m;
    m.entry[0][0] = s.sx;
    m.entry[1][1] = s.sy;
    m.entry[2][2] = s.sz;
    return m;
}

AcGeMatrix3d AcGeMatrix3d::operator*(const AcGeMatrix3d& o) const {
    AcGeMatrix3d r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double v = 0;
            for (int k = 0; k < 4; ++k) v += entry[i][k] * o.entry[k][j];
            r.entry[i][j] = v;
        }
    return r;
}

AcGePoint3d AcGeMatrix3d::transformPoint(const AcGePoint3d& p) const {
    return {entry[0][0] * p.x + entry[0][1] * p.y + entry[0][2] * p.z + entry[0][3],
            entry[1][0] * p.x + entry[1][1] * p.y + entry[1][2] * p.z + entry[1][3],
            entry[2][0] * p.x + entry[2][1] * p.y + entry[2][2] * p.z + entry[2][3]};
}

AcGeVector3d AcGeMatrix3d::transformVector(const AcGeVector3d& v) const {
    return {entry[0][0] * v.x + entry[0][1] * v.y + entry[0][2] * v.z,
            entry[1][0] * v.x + entry[1][1] * v.y + entry[1][2] * v.z,
            entry[2][0] * v.x + entry[2][1] * v.y + entry[2][2] * v.z};
}

double AcGeMatrix3d::det() const {
    const auto& m = entry;
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}
