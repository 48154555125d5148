#pragma once
// Renders frames of the 3D view off screen: an own GL context on an offscreen
// surface, a main frame buffer of the view's size (colour + depth texture) and
// a 1×1 buffer for reading the depth under the pointer. Each frame runs a
// 1-pixel pick pass, the main pass, the depth read-back and the colour
// read-back into a QImage. GUI thread only.
#include <QImage>
#include <QPoint>
#include <QSize>
#include <functional>
#include <memory>

class QOffscreenSurface;
class QOpenGLContext;

class GLRenderer {
public:
    using DrawFn = std::function<void()>;

    GLRenderer();
    ~GLRenderer();
    GLRenderer(const GLRenderer &) = delete;
    GLRenderer &operator=(const GLRenderer &) = delete;

    // One frame of `size`. Image row 0 is GL row 0: the view's projection
    // puts the top of the picture there. Any exception inside gives a black
    // image with the white text "EXCEPTION:\r\n" + message instead.
    QImage render(QSize size, const DrawFn &pickDraw, const DrawFn &mainDraw);

    // Only the pick pass at `pointer` of a view of `size`: the pick colour and
    // the depth of the pick pass itself at that pixel (1 where nothing was
    // drawn). Far cheaper than a frame; the tools pick with it on press and
    // hover. Throws what the drawing or the buffer set-up throws.
    void pick(QSize size, QPoint pointer, const DrawFn &pickDraw, unsigned char colour[4], float *depth);

    // Makes the context current (created on first use). Throws QString on failure.
    void makeCurrent();
    // Both frame buffers exist for this size; throws the glChk texts or
    // "GLRenderer::prepareFBO() (main|depth) FAILED".
    void prepareFBO(int width, int height);
    // Depth-buffer value (0..1) of the last main pass at pixel (x, y), y
    // downward; 1 where nothing was drawn or without a depth texture.
    float depthAt(int x, int y);

    // Pointer pixel for the pick colour and the depth (set before render).
    QPoint pointer{-1, -1};

    // Multisampling of the main pass: samples per pixel, 0 = off. Needs a
    // context that can blit frame buffers (desktop GL 3 or ES 3); ignored
    // elsewhere. Picks and the depth under the pointer are unaffected.
    int samples = 0;

    // Results of the last frame.
    unsigned char pickColor[4] = {0, 0, 0, 0};
    float pointerDepth = 1;
    qint64 timeRenderUs = 0, timeReadUs = 0;
    QString lastError; // empty after a good frame

    bool hasDepthTexture() const { return m_depthTex != 0; }
    QOpenGLContext *context() const { return m_context.get(); }
    // Times the main frame buffer was made (size changes re-make it).
    int mainFboCreations() const { return m_mainCreations; }
    int depthFboCreations() const { return m_depthCreations; }

    static QImage errorImage(QSize size, const QString &text);

private:
    void deleteMain();
    QImage renderFrame(QSize size, const DrawFn &pickDraw, const DrawFn &mainDraw);

    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    QSize m_size;
    unsigned m_mainFbo = 0, m_mainColor = 0, m_depthTex = 0, m_depthRb = 0;
    unsigned m_depthFbo = 0, m_depthColor = 0;
    unsigned m_msFbo = 0, m_msColor = 0, m_msDepth = 0;
    int m_msSamples = 0;
    int m_msFailedFor = 0; // sample count this context cannot resolve
    int m_mainCreations = 0, m_depthCreations = 0;
};

// Throws QString "glChk() error:<n> at:<label>" when GL reports an error.
void glChk(const char *label);
