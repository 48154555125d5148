#pragma once
// The view's camera. `eye` maps world to camera coordinates: the camera looks
// along its +Z, +Y is up on screen, +X to the screen's left (so the world
// keeps its handedness on screen). World: mm, Y up, bed = X–Z plane, the
// front of the bed toward +Z.
#include <QByteArray>
#include <QMatrix4x4>
#include <QVector3D>

class Camera {
public:
    Camera() { reset(false); }

    QMatrix4x4 eye;
    QVector3D center; // orbit and zoom target
    float fovy = 60;  // degrees

    // Front view from 30° above, 270 mm out; with `animate` the view glides
    // there from the current pose.
    void reset(bool animate);
    // JSON object "eye0".."eye15" (storage order), "center0".."center2", "fovy".
    QByteArray toText() const;
    // Resets, then takes the pose from a JSON object (missing values are 0);
    // anything else leaves the reset pose. No glide either way.
    void fromText(const QByteArray &text);

    // Projection for a width × height view (far plane 1000 for drawing). With
    // subWindow only the pixel rectangle (x0, y0)–(x1, y1), y downward, is
    // mapped onto the viewport (picking). Clip y grows downward on screen:
    // GL row 0 holds the top of the picture, as the renderer reads it back.
    QMatrix4x4 setupProjection(int width, int height, float farPlane, bool subWindow = false,
                               float x0 = 0, float y0 = 0, float x1 = 0, float y1 = 0) const;
    // The view matrix handed to GL (eye with the axis fix for GL's −Z forward).
    QMatrix4x4 viewMatrix() const;
    QVector3D position() const;

    // Mouse navigation; dx, dy in pixels.
    void orbit(float dxDeg, float dyDeg);
    void pan(float dx, float dy, int viewHeight);
    void lookAround(float dxDeg, float dyDeg);
    // factor < 1 moves toward `target` (which becomes the centre).
    void zoomToward(const QVector3D &target, float factor);

    // Advances the glide; true while still moving.
    bool animate(float dt);

    // World point at pixel (x, y) of a width × height view with depth-buffer
    // value `depth` (0..1) under the projection with far plane `farPlane`.
    QVector3D unproject(float x, float y, float depth, int width, int height, float farPlane) const;

private:
    QMatrix4x4 m_animStart;
    float m_animT = 1; // 0..1, 1 = arrived
};
