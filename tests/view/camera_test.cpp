#include "view/camera.h"
#include "view/mousestate.h"

#include <gtest/gtest.h>

TEST(Camera, TextRoundTripAndFallbacks)
{
    Camera a;
    a.orbit(33, 12);
    a.pan(40, -25, 600);
    a.zoomToward(QVector3D(10, 5, -3), 0.6f);
    a.fovy = 45;
    Camera b;
    b.fromText(a.toText());
    for (int i = 0; i < 16; i++)
        EXPECT_FLOAT_EQ(b.eye.constData()[i], a.eye.constData()[i]) << i;
    EXPECT_EQ(b.center, a.center);
    EXPECT_FLOAT_EQ(b.fovy, 45);
    EXPECT_EQ(b.viewMatrix(), a.viewMatrix()) << "loaded pose is not glided to";

    Camera reset;
    for (const char *text : {"not json at all", "[1, 2, 3]", "", "{\"fovy\": 0}", "{\"fovy\": 60, \"eye0\": 1, \"eye5\": 1, \"eye10\": 1, \"eye15\": 1, \"center0\": 1e999}"}) {
        Camera c;
        c.orbit(50, 10);
        c.fromText(text);
        EXPECT_EQ(c.eye, reset.eye) << text;
        EXPECT_FLOAT_EQ(c.fovy, 60) << text;
    }
}

TEST(Camera, ResetLooksAtTheBedFromAboveAndInFront)
{
    Camera c;
    QVector3D pos = c.position();
    EXPECT_GT(pos.y(), 50);
    EXPECT_GT(pos.z(), 200); // the front of the bed is +Z
    EXPECT_NEAR(pos.length(), 270.0f, 5.0f);
    // The bed's centre is on screen, right of centre stays right.
    QMatrix4x4 pv = c.setupProjection(800, 600, 1000) * c.viewMatrix();
    QVector3D o = pv.map(QVector3D(0, 0, 0));
    EXPECT_LT(std::abs(o.x()), 0.2f);
    EXPECT_LT(std::abs(o.y()), 1.0f);
    EXPECT_GT(pv.map(QVector3D(50, 0, 0)).x(), o.x());
    EXPECT_LT(pv.map(QVector3D(0, 50, 0)).y(), o.y()) << "up in the world is up on screen (clip y grows downward)";
}

TEST(MouseState, DragDistanceAndPressRules)
{
    MouseState m;
    m.update(Qt::NoButton, Qt::NoModifier, 100, 100, 0);
    m.update(Qt::LeftButton, Qt::NoModifier, 100, 100, 0);
    EXPECT_TRUE(m.justPressed);
    EXPECT_EQ(m.dominantButton, 1);
    m.update(Qt::NoButton, Qt::NoModifier, 100, 100, 0);
    EXPECT_TRUE(m.justReleased);
    EXPECT_EQ(m.dragDistance, 0) << "a click";

    m.update(Qt::LeftButton, Qt::NoModifier, 100, 100, 0);
    m.update(Qt::LeftButton, Qt::NoModifier, 105, 100, 0);
    EXPECT_EQ(m.dx, 5);
    m.update(Qt::LeftButton, Qt::NoModifier, 100, 100, 0);
    EXPECT_EQ(m.dragDistance, 5);
    // Right button added while left is held: no new press.
    m.update(Qt::LeftButton | Qt::RightButton, Qt::NoModifier, 100, 100, 0);
    EXPECT_FALSE(m.justPressed);
    EXPECT_EQ(m.dragDistance, 5);
    m.update(Qt::RightButton, Qt::NoModifier, 100, 100, 0);
    EXPECT_EQ(m.dominantButton, 2);

    m.update(Qt::NoButton, Qt::NoModifier, 100, 100, 120);
    m.update(Qt::NoButton, Qt::NoModifier, 100, 100, -240);
    EXPECT_EQ(m.wheel, -120);
    EXPECT_EQ(m.wheelDelta, -240);
}
