#include "common/utils.h"
#include "scene/project.h"
#include "view/gllist.h"
#include "view/glrenderer.h"
#include "view/glviewer.h"
#include "view/shaders.h"

#include <QFile>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>
#include <gtest/gtest.h>

namespace {

// A screen-space rectangle in clip coordinates at clip depth z, one colour.
void drawRect(float x0, float y0, float x1, float y1, float z, QVector4D c)
{
    const float v[] = {x0, y0, z, x1, y0, z, x1, y1, z, x0, y0, z, x1, y1, z, x0, y1, z};
    QVector<float> col;
    for (int i = 0; i < 6; i++)
        col << c.x() << c.y() << c.z() << c.w();
    GLList_Color2D list(GL_TRIANGLES);
    list.setBuffer('v', GLArray{6, 3, v});
    list.setBuffer('c', col, 4);
    list.draw();
}

void clearAll()
{
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    f->glClearColor(0, 0, 0, 0);
    f->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    f->glEnable(GL_DEPTH_TEST);
    f->glDisable(GL_CULL_FACE);
}

// Removes a file placed beside the executable, also when a check fails.
struct FileBesideExe {
    QString path;
    FileBesideExe(const QString &name, const QByteArray &bytes) : path(appDir() + name) { writeFile(path, bytes); }
    ~FileBesideExe() { QFile::remove(path); }
};

} // namespace

TEST(GLRenderer, PickColourDepthAndRowOrderDecodeToWhatWasDrawn)
{
    GLRenderer r;
    r.pointer = QPoint(10, 5); // top-left quarter
    QImage img = r.render(
        QSize(64, 48),
        [] {
            clearAll();
            drawRect(-1, -1, 1, 1, 0, QVector4D(3, 2, 1, 255) / 255.0f);
        },
        [] {
            clearAll();
            // Clip y −1..0 is the top half of the picture; clip z 0.2 is window depth 0.6.
            drawRect(-1, -1, 0, 0, 0.2f, QVector4D(0.0f, 1.0f, 1.0f, 1.0f));
        });
    ASSERT_TRUE(r.lastError.isEmpty()) << r.lastError.toStdString();
    EXPECT_EQ(r.pickColor[0], 3);
    EXPECT_EQ(r.pickColor[1], 2);
    EXPECT_EQ(r.pickColor[2], 1);
    ASSERT_TRUE(r.hasDepthTexture());
    EXPECT_NEAR(r.pointerDepth, 0.6f, 1e-5f);
    EXPECT_FLOAT_EQ(r.depthAt(50, 40), 1.0f); // nothing drawn there
    // Shader output is blue first: (0, 1, 1) written shows as yellow, top-left.
    EXPECT_EQ(img.pixel(10, 5) & 0xffffff, 0xffff00u);
    EXPECT_EQ(img.pixel(10, 40) & 0xffffff, 0x000000u);
    EXPECT_EQ(img.pixel(50, 5) & 0xffffff, 0x000000u);
}

TEST(GLRenderer, ThrowingDrawGivesTheErrorImageAndTheNextFrameWorks)
{
    GLRenderer r;
    struct Case {
        std::function<void()> draw;
        QString text;
    } cases[] = {
        {[] { throw QString("boom %1").arg(7); }, "EXCEPTION:\r\nboom 7"},
        {[] { throw "plain text"; }, "EXCEPTION:\r\nplain text"},
        {[] { throw 42; }, "UNKNOWN EXCEPTION"},
    };
    for (const Case &c : cases) {
        QImage img = r.render(QSize(200, 100), {}, c.draw);
        EXPECT_EQ(r.lastError, c.text);
        EXPECT_EQ(img.size(), QSize(200, 100));
        EXPECT_EQ(img.pixel(0, 0) & 0xffffff, 0u);
        int white = 0;
        for (int y = 0; y < img.height(); y++)
            for (int x = 0; x < img.width(); x++)
                white += (img.pixel(x, y) & 0xffffff) == 0xffffff;
        EXPECT_GT(white, 10) << "message text drawn";
    }
    r.render(QSize(200, 100), {}, [] { clearAll(); });
    EXPECT_TRUE(r.lastError.isEmpty());
}

TEST(GLRenderer, MainBufferFollowsTheSizeDepthBufferIsMadeOnce)
{
    GLRenderer r;
    auto draw = [] { clearAll(); };
    r.render(QSize(40, 30), draw, draw);
    r.render(QSize(40, 30), draw, draw);
    EXPECT_EQ(r.mainFboCreations(), 1);
    r.render(QSize(80, 30), draw, draw);
    EXPECT_EQ(r.mainFboCreations(), 2);
    EXPECT_EQ(r.depthFboCreations(), 1);
}

TEST(Shaders, EveryFamilyCompilesOnDesktopAndOnES)
{
    const char *names[] = {"Phong", "PhongEnv", "Phong_depth", "PhongTex", "Ground", "ColorUVTex", "Color2D", "GCode",
                           "GCodeEnv", "GCode_depth", "Outside", "OutsideCircular", "DepthFill", "Pick"};
    const QSurfaceFormat saved = QSurfaceFormat::defaultFormat();
    for (bool es : {false, true}) {
        QSurfaceFormat f = saved;
        f.setRenderableType(es ? QSurfaceFormat::OpenGLES : QSurfaceFormat::OpenGL);
        QSurfaceFormat::setDefaultFormat(f);
        GLRenderer r;
        r.makeCurrent();
        EXPECT_EQ(r.context()->isOpenGLES(), es);
        for (const char *n : names)
            EXPECT_NO_THROW(getShaderProgram(n)) << n << (es ? " on ES" : " on desktop GL");
        // The depth read-back works on both kinds of context.
        r.pointer = QPoint(1, 1);
        r.render(QSize(8, 8), {}, [] {
            clearAll();
            drawRect(-1, -1, 1, 1, -0.5f, QVector4D(1, 1, 1, 1));
        });
        EXPECT_TRUE(r.lastError.isEmpty()) << r.lastError.toStdString();
        EXPECT_NEAR(r.pointerDepth, 0.25f, 1e-5f);
    }
    QSurfaceFormat::setDefaultFormat(saved);
}

TEST(Shaders, FileBesideTheExecutableOverridesTheBuiltInOne)
{
    {
        FileBesideExe fsh("Color2D.fsh", "varying vec4 v_color;\nvoid main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n");
        GLRenderer r; // fresh context: fresh program cache
        QImage img = r.render(QSize(16, 16), {}, [] {
            clearAll();
            drawRect(-1, -1, 1, 1, 0, QVector4D(1, 1, 1, 1));
        });
        ASSERT_TRUE(r.lastError.isEmpty()) << r.lastError.toStdString();
        EXPECT_EQ(img.pixel(8, 8) & 0xffffff, 0xff0000u) << "override drawn (blue-first output shows red)";
    }
    {
        FileBesideExe fsh("Color2D.fsh", "void main() { this is not GLSL }\n");
        GLRenderer r;
        r.render(QSize(16, 16), {}, [] { drawRect(-1, -1, 1, 1, 0, QVector4D(1, 1, 1, 1)); });
        EXPECT_TRUE(r.lastError.startsWith("EXCEPTION:\r\ngetShaderProgram() shader error. ")) << r.lastError.toStdString();
    }
    GLRenderer r; // built-in again once the file is gone
    QImage img = r.render(QSize(16, 16), {}, [] {
        clearAll();
        drawRect(-1, -1, 1, 1, 0, QVector4D(1, 1, 1, 1));
    });
    EXPECT_EQ(img.pixel(8, 8) & 0xffffff, 0xffffffu);
}

TEST(GLList, RefusesMismatchedStreamsAndDrawsNothingWhenEmpty)
{
    GLRenderer r;
    r.makeCurrent();
    GLList_Color2D list(GL_TRIANGLES);
    const float v[9] = {};
    list.setBuffer('v', GLArray{3, 3, v});
    try {
        list.setBuffer('c', GLArray{2, 4, v});
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "GLList::setBuffer() Inconsistent buffer sizes: 3 != 2");
    }
    try {
        list.setBuffer('x', GLArray{3, 3, v});
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "GLList::setBuffer() invalid buffer parameter: x");
    }
    GLList_Phong empty(GL_TRIANGLES);
    EXPECT_NO_THROW(empty.draw());
    EXPECT_THROW(pushMatrix('q'), const char *);
}

TEST(Texture, LoadsFromResourcesAndNamesWhatIsWrong)
{
    GLRenderer r;
    r.makeCurrent();
    EXPECT_NO_THROW(Texture::get("skydome.png").bind(7, true, false));
    EXPECT_NE(Texture::get("skydome.png").id(), 0u);
    try {
        Texture::get("skydome.png").bind(8, false, false);
        FAIL() << "no exception";
    } catch (const char *e) {
        EXPECT_STREQ(e, "Texture::bind() slot out of range");
    }
    try {
        Texture::get("no-such-image.png").bind(0, false, false);
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "Texture::bind() file not found :/res/no-such-image.png");
    }
    try {
        Texture::get("Phong.vsh").bind(0, false, false); // exists, but no image
        FAIL() << "no exception";
    } catch (const QString &e) {
        EXPECT_EQ(e, "Texture::bind() Error loading image :/res/Phong.vsh");
    }
}

namespace {
Faces cubeMesh()
{
    Faces cube;
    // 40 mm cube, counter-clockwise outward.
    const Vec3 c[8] = {{-20, 0, -20}, {20, 0, -20}, {20, 0, 20}, {-20, 0, 20},
                       {-20, 40, -20}, {20, 40, -20}, {20, 40, 20}, {-20, 40, 20}};
    const int q[6][4] = {{0, 1, 2, 3}, {4, 7, 6, 5}, {0, 4, 5, 1}, {1, 5, 6, 2}, {2, 6, 7, 3}, {3, 7, 4, 0}};
    for (auto &f : q) {
        cube.append(c[f[0]], c[f[1]], c[f[2]]);
        cube.append(c[f[0]], c[f[2]], c[f[3]]);
    }
    return cube;
}

int countColor(const QImage &img, QRgb c)
{
    int n = 0;
    for (int y = 0; y < img.height(); y++)
        for (int x = 0; x < img.width(); x++)
            n += (img.pixel(x, y) & 0xffffff) == (c & 0xffffff);
    return n;
}
} // namespace

TEST(GlViewer, PartsOutsideTheBuildVolumeAreMarked)
{
    Project prj;
    prj.addObject(cubeMesh(), "cube", false);
    GlViewer v;
    v.project = &prj;
    v.resize(320, 240);
    const QRgb red = qRgb(230, 40, 40);
    EXPECT_EQ(countColor(v.grab().toImage(), red), 0);
    v.volume.H = 20; // the cube is 40 mm tall
    int box = countColor(v.grab().toImage(), red);
    EXPECT_GT(box, 200);
    v.circularPlatform = true;
    v.volume.H = 200;
    v.volume.W = v.volume.D = 50; // the cube's corners reach out of a 50 mm round bed
    int round = countColor(v.grab().toImage(), red);
    EXPECT_GT(round, 50);
    EXPECT_TRUE(v.renderer.lastError.isEmpty()) << v.renderer.lastError.toStdString();
}

TEST(GlViewer, PointerOverAnObjectFindsItAndTheSurfacePoint)
{
    Project prj;
    Faces cube = cubeMesh();
    prj.addObject(cube, "cube", false);
    prj.addObject(cube, "cube", false)->transform.setTranslation(Vec3(70, 0, 0));

    GlViewer v;
    v.project = &prj;
    v.resize(320, 240);
    // A point on the top face of the second cube, as the camera sees it.
    const QVector3D target(75, 40, 5);
    QVector4D clip = v.cam.setupProjection(320, 240, 1000) * v.cam.viewMatrix() * QVector4D(target, 1);
    QVector3D ndc = clip.toVector3DAffine();
    v.mouse.x = int((ndc.x() + 1) / 2 * 320);
    v.mouse.y = int((ndc.y() + 1) / 2 * 240);
    QImage frame = v.grab().toImage();
    ASSERT_TRUE(v.renderer.lastError.isEmpty()) << v.renderer.lastError.toStdString();
    EXPECT_EQ(v.objectUnderPointer(), prj.objs[1].get());
    QVector3D hit;
    ASSERT_TRUE(v.pointUnderPointer(&hit));
    // On the top face, near the target (a pixel spans a few mm on a face this slanted)...
    EXPECT_NEAR(hit.y(), 40.0f, 0.05f);
    EXPECT_NEAR(hit.x(), target.x(), 3.0f);
    EXPECT_NEAR(hit.z(), target.z(), 5.0f);
    // ...and exactly on the ray through the pointer pixel's centre.
    QVector3D back = (v.cam.setupProjection(320, 240, 1000) * v.cam.viewMatrix()).map(hit);
    EXPECT_NEAR((back.x() + 1) / 2 * 320, v.mouse.x + 0.5f, 0.05f);
    EXPECT_NEAR((back.y() + 1) / 2 * 240, v.mouse.y + 0.5f, 0.05f);

    // Off the objects the pick finds nothing.
    v.mouse.x = 2;
    v.mouse.y = 2;
    v.grab();
    EXPECT_EQ(v.objectUnderPointer(), nullptr);
}

TEST(GLRenderer, MultisampledMainPassResolvesColourAndDepth)
{
    GLRenderer r;
    r.samples = 4;
    r.pointer = QPoint(10, 5);
    QImage img = r.render(QSize(64, 48), {}, [] {
        clearAll();
        drawRect(-1, -1, 0, 0, 0.2f, QVector4D(0.0f, 1.0f, 1.0f, 1.0f));
    });
    ASSERT_TRUE(r.lastError.isEmpty()) << r.lastError.toStdString();
    EXPECT_EQ(img.pixel(10, 5) & 0xffffff, 0xffff00u);
    EXPECT_EQ(img.pixel(50, 40) & 0xffffff, 0x000000u);
    // Inside the rectangle every sample is covered: the resolve gives the full colour.
    EXPECT_NEAR(r.pointerDepth, 0.6f, 1e-5f);
    // Back to single sampling on the next frame.
    r.samples = 0;
    r.render(QSize(64, 48), {}, [] { clearAll(); });
    EXPECT_TRUE(r.lastError.isEmpty());
    EXPECT_FLOAT_EQ(r.depthAt(10, 5), 1.0f);
}
