#include "camera.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQuaternion>
#include <cmath>

namespace {
// Camera +Z forward, +X screen-left → GL eye space (−Z forward, +X right).
QMatrix4x4 glFix()
{
    QMatrix4x4 m;
    m.scale(-1, 1, -1);
    return m;
}
} // namespace

void Camera::reset(bool animate)
{
    QMatrix4x4 start = eye;
    QMatrix4x4 e;
    e.rotate(180.0f, 0, 1, 0);
    e(0, 3) += 0;
    e(1, 3) += 30;
    e(2, 3) += 270;
    // Tilt so that the bed is seen from above and in front.
    e.rotate(30.0f, 1, 0, 0);
    eye = e;
    fovy = 60;
    center = QVector3D(0, 0, 0);
    if (animate) {
        m_animStart = start;
        m_animT = 0;
    } else {
        m_animStart = eye;
        m_animT = 1;
    }
}

QByteArray Camera::toText() const
{
    QJsonObject o;
    const float *d = eye.constData();
    for (int i = 0; i < 16; i++)
        o.insert(QString("eye%1").arg(i), double(d[i]));
    for (int i = 0; i < 3; i++)
        o.insert(QString("center%1").arg(i), double(center[i]));
    o.insert("fovy", double(fovy));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

void Camera::fromText(const QByteArray &text)
{
    reset(true);
    QJsonDocument doc = QJsonDocument::fromJson(text);
    if (doc.isObject()) {
        QJsonObject o = doc.object();
        float d[16];
        for (int i = 0; i < 16; i++)
            d[i] = float(o.value(QString("eye%1").arg(i)).toDouble(0));
        eye = QMatrix4x4(d).transposed(); // the constructor takes rows
        for (int i = 0; i < 3; i++)
            center[i] = float(o.value(QString("center%1").arg(i)).toDouble(0));
        fovy = float(o.value("fovy").toDouble(0));
    }
    // A stored pose that cannot draw anything (fovy 0, singular eye) is no pose.
    bool centerOk = std::isfinite(center.x()) && std::isfinite(center.y()) && std::isfinite(center.z());
    if (!(fovy > 0.5f && fovy < 179.0f) || std::abs(eye.determinant()) < 1e-6f || !std::isfinite(eye.determinant()) ||
        !centerOk)
        reset(false);
    m_animStart = eye;
    m_animT = 1;
}

QMatrix4x4 Camera::setupProjection(int width, int height, float farPlane, bool subWindow, float x0, float y0,
                                   float x1, float y1) const
{
    float t = std::tan(fovy * float(M_PI) / 360.0f);
    float a = float(width) / float(std::max(height, 1));
    float left = -a * t, right = a * t, bottom = -t, top = t;
    if (subWindow) {
        if (x0 > x1)
            std::swap(x0, x1);
        if (y0 > y1)
            std::swap(y0, y1);
        float w = float(std::max(width, 1)), h = float(std::max(height, 1));
        left = -a * t + 2 * a * t * x0 / w;
        right = -a * t + 2 * a * t * x1 / w;
        top = t - 2 * t * y0 / h;
        bottom = t - 2 * t * y1 / h;
    }
    QMatrix4x4 p;
    // Screen-down is clip +y, so GL row 0 (read back first) is the top row.
    p.scale(1, -1, 1);
    p.frustum(left, right, bottom, top, 0.8f, farPlane);
    return p;
}

QMatrix4x4 Camera::viewMatrix() const
{
    if (m_animT >= 1)
        return glFix() * eye;
    // Glide: interpolate rotation and camera position.
    float s = m_animT * m_animT * (3 - 2 * m_animT);
    auto split = [](const QMatrix4x4 &m, QQuaternion &q, QVector3D &pos) {
        QMatrix3x3 r = m.toGenericMatrix<3, 3>();
        q = QQuaternion::fromRotationMatrix(r);
        pos = m.inverted().column(3).toVector3D();
    };
    QQuaternion q0, q1;
    QVector3D p0, p1;
    split(m_animStart, q0, p0);
    split(eye, q1, p1);
    QQuaternion q = QQuaternion::slerp(q0, q1, s);
    QVector3D pos = p0 + (p1 - p0) * s;
    QMatrix4x4 m;
    m.rotate(q);
    m.translate(-pos);
    return glFix() * m;
}

QVector3D Camera::position() const
{
    return eye.inverted().column(3).toVector3D();
}

void Camera::orbit(float dxDeg, float dyDeg)
{
    // Yaw about the world's vertical through the centre.
    QMatrix4x4 yaw;
    yaw.translate(center);
    yaw.rotate(dxDeg, 0, 1, 0);
    yaw.translate(-center);
    QMatrix4x4 e = eye * yaw;
    // Pitch about the camera's horizontal axis through the centre; keep the
    // camera from flipping over the top or under the bed.
    QVector3D c = e.map(center);
    QMatrix4x4 pitch;
    pitch.translate(c);
    pitch.rotate(dyDeg, 1, 0, 0);
    pitch.translate(-c);
    QMatrix4x4 e2 = pitch * e;
    QVector3D up = e2.inverted().mapVector(QVector3D(0, 1, 0));
    if (up.y() > 0.02f)
        e = e2;
    eye = e;
}

void Camera::pan(float dx, float dy, int viewHeight)
{
    float dist = std::max(eye.map(center).z(), 1.0f);
    float mmPerPx = 2 * dist * std::tan(fovy * float(M_PI) / 360.0f) / float(std::max(viewHeight, 1));
    // Camera +X is screen-left, +Y screen-up, dy grows downward: the scene
    // follows the pointer.
    QVector3D moveCam(-dx * mmPerPx, -dy * mmPerPx, 0);
    QMatrix4x4 t;
    t.translate(moveCam);
    QVector3D worldShift = eye.inverted().mapVector(-moveCam);
    eye = t * eye;
    center += worldShift;
}

void Camera::lookAround(float dxDeg, float dyDeg)
{
    float dist = eye.map(center).z();
    QMatrix4x4 r;
    r.rotate(dyDeg, 1, 0, 0);
    r.rotate(-dxDeg, 0, 1, 0);
    eye = r * eye;
    if (dist > 0)
        center = eye.inverted().map(QVector3D(0, 0, dist));
}

void Camera::zoomToward(const QVector3D &target, float factor)
{
    QVector3D pos = position();
    QVector3D newPos = target + (pos - target) * factor;
    QMatrix4x4 t;
    t.translate(eye.mapVector(pos - newPos));
    eye = t * eye;
    center = target;
}

bool Camera::animate(float dt)
{
    if (m_animT >= 1)
        return false;
    m_animT = std::min(1.0f, m_animT + dt / 0.6f);
    return true;
}

QVector3D Camera::unproject(float x, float y, float depth, int width, int height, float farPlane) const
{
    QMatrix4x4 pv = setupProjection(width, height, farPlane) * viewMatrix();
    QVector4D ndc(2 * (x + 0.5f) / float(std::max(width, 1)) - 1, 2 * (y + 0.5f) / float(std::max(height, 1)) - 1,
                  2 * depth - 1, 1);
    QVector4D w = pv.inverted() * ndc;
    return w.w() != 0 ? w.toVector3DAffine() : QVector3D();
}
