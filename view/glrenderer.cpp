#include "glrenderer.h"

#include "gllist.h"
#include "shaders.h"

#include <QElapsedTimer>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFunctions>
#include <QPainter>

namespace {
// 8 bits per channel: the depth digits and pick codes must survive exactly.
const GLenum kColorFormat = 0x8058; // GL_RGBA8
const GLenum kDepthComponent16 = 0x81A5;

QOpenGLFunctions *gl()
{
    return QOpenGLContext::currentContext()->functions();
}

void checkFbo(const char *what)
{
    if (gl()->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw QString("GLRenderer::prepareFBO() (%1) FAILED").arg(what);
}
} // namespace

void glChk(const char *label)
{
    GLenum e = gl()->glGetError();
    if (e != GL_NO_ERROR)
        throw QString("glChk() error:%1 at:%2").arg(e).arg(label);
}

GLRenderer::GLRenderer()
{
    initViewResources();
}

GLRenderer::~GLRenderer()
{
    if (m_context && m_surface && m_context->makeCurrent(m_surface.get())) {
        deleteMain();
        QOpenGLFunctions *f = gl();
        if (m_depthFbo)
            f->glDeleteFramebuffers(1, &m_depthFbo);
        if (m_depthColor)
            f->glDeleteRenderbuffers(1, &m_depthColor);
    }
    // Still current: the program and texture caches release their names as it goes.
    m_context.reset();
    m_surface.reset();
}

void GLRenderer::makeCurrent()
{
    if (!m_context) {
        m_surface.reset(new QOffscreenSurface);
        m_surface->setFormat(QSurfaceFormat::defaultFormat());
        m_surface->create();
        m_context.reset(new QOpenGLContext);
        m_context->setFormat(QSurfaceFormat::defaultFormat());
        if (!m_context->create()) {
            m_context.reset();
            throw QString("GLRenderer: cannot create an OpenGL context");
        }
    }
    if (!m_context->makeCurrent(m_surface.get()))
        throw QString("GLRenderer: cannot make the OpenGL context current");
}

void GLRenderer::deleteMain()
{
    QOpenGLFunctions *f = gl();
    if (m_mainFbo)
        f->glDeleteFramebuffers(1, &m_mainFbo);
    if (m_mainColor)
        f->glDeleteRenderbuffers(1, &m_mainColor);
    if (m_depthTex)
        f->glDeleteTextures(1, &m_depthTex);
    if (m_depthRb)
        f->glDeleteRenderbuffers(1, &m_depthRb);
    if (m_msFbo)
        f->glDeleteFramebuffers(1, &m_msFbo);
    if (m_msColor)
        f->glDeleteRenderbuffers(1, &m_msColor);
    if (m_msDepth)
        f->glDeleteRenderbuffers(1, &m_msDepth);
    m_msFbo = m_msColor = m_msDepth = 0;
    m_mainFbo = m_mainColor = m_depthTex = m_depthRb = 0;
}

void GLRenderer::prepareFBO(int width, int height)
{
    QOpenGLFunctions *f = gl();
    if (QSize(width, height) != m_size) {
        deleteMain();
        m_size = QSize(width, height);
    }
    f->glGetError(); // earlier errors are not ours

    if (!m_depthFbo) {
        f->glGenFramebuffers(1, &m_depthFbo); glChk("gfb depth");
        f->glBindFramebuffer(GL_FRAMEBUFFER, m_depthFbo); glChk("bfb depth");
        f->glGenRenderbuffers(1, &m_depthColor); glChk("grb dcolor");
        f->glBindRenderbuffer(GL_RENDERBUFFER, m_depthColor); glChk("brb dcolor");
        f->glRenderbufferStorage(GL_RENDERBUFFER, kColorFormat, 1, 1); glChk("rbs dcolor");
        f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_depthColor); glChk("fbrb dcolor");
        checkFbo("depth");
        m_depthCreations++;
    }

    if (!m_mainFbo) {
        f->glGenFramebuffers(1, &m_mainFbo); glChk("gfb main");
        f->glBindFramebuffer(GL_FRAMEBUFFER, m_mainFbo); glChk("bfb main");
        f->glGenRenderbuffers(1, &m_mainColor); glChk("grb color");
        f->glBindRenderbuffer(GL_RENDERBUFFER, m_mainColor); glChk("brb color");
        f->glRenderbufferStorage(GL_RENDERBUFFER, kColorFormat, width, height); glChk("rbs color");
        f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_mainColor); glChk("fbrb color");
        QOpenGLContext *ctx = QOpenGLContext::currentContext();
        // Desktop GL and ES 3 attach depth textures natively; ES 2 needs an extension.
        bool depthTexture = !ctx->isOpenGLES() || ctx->format().majorVersion() >= 3 ||
                            ctx->hasExtension("GL_ANGLE_depth_texture") ||
                            ctx->hasExtension("GL_OES_depth_texture");
        if (depthTexture) {
            f->glGenTextures(1, &m_depthTex); glChk("gt depth");
            f->glBindTexture(GL_TEXTURE_2D, m_depthTex); glChk("bt gepth");
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST); glChk("tp depth min");
            f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST); glChk("tp depth max");
            f->glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, width, height, 0, GL_DEPTH_COMPONENT,
                            GL_UNSIGNED_INT, nullptr); glChk("ti2d depth");
            f->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, m_depthTex, 0); glChk("fbt2d depth");
            f->glBindTexture(GL_TEXTURE_2D, 0);
        } else {
            f->glGenRenderbuffers(1, &m_depthRb);
            f->glBindRenderbuffer(GL_RENDERBUFFER, m_depthRb);
            f->glRenderbufferStorage(GL_RENDERBUFFER, kDepthComponent16, width, height); glChk("rbs depth");
            f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depthRb); glChk("fbrb depth");
        }
        checkFbo("main");
        m_mainCreations++;
    }
    if (m_msFbo && m_msSamples != samples) {
        deleteMain(); // the sample count changed: start over with this size
        m_size = QSize();
        prepareFBO(width, height);
        return;
    }
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    if (samples > 0 && !m_msFbo && m_msFailedFor != samples && ctx->format().majorVersion() >= 3) {
        QOpenGLExtraFunctions *x = ctx->extraFunctions();
        f->glGenFramebuffers(1, &m_msFbo);
        f->glBindFramebuffer(GL_FRAMEBUFFER, m_msFbo);
        f->glGenRenderbuffers(1, &m_msColor);
        f->glBindRenderbuffer(GL_RENDERBUFFER, m_msColor);
        x->glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, kColorFormat, width, height);
        f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_msColor);
        // The depth resolves into the main depth texture only when both
        // formats agree; the driver chose that one, so each size is tried.
        bool resolves = false;
        for (GLenum format : {GLenum(0x81A7), GLenum(0x81A6), GLenum(0x81A5)}) { // DEPTH_COMPONENT32, 24, 16
            if (m_msDepth)
                f->glDeleteRenderbuffers(1, &m_msDepth);
            f->glGenRenderbuffers(1, &m_msDepth);
            f->glBindRenderbuffer(GL_RENDERBUFFER, m_msDepth);
            x->glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, width, height);
            f->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_msDepth);
            if (f->glGetError() != GL_NO_ERROR || f->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
                continue;
            x->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_msFbo);
            x->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_mainFbo);
            x->glBlitFramebuffer(0, 0, 1, 1, 0, 0, 1, 1, GL_DEPTH_BUFFER_BIT, GL_NEAREST);
            resolves = f->glGetError() == GL_NO_ERROR;
            f->glBindFramebuffer(GL_FRAMEBUFFER, m_msFbo);
            if (resolves)
                break;
        }
        if (resolves && m_depthTex) {
            m_msSamples = samples;
        } else {
            // No usable pair: single-sampled frames rather than a wrong depth.
            f->glDeleteFramebuffers(1, &m_msFbo);
            f->glDeleteRenderbuffers(1, &m_msColor);
            if (m_msDepth)
                f->glDeleteRenderbuffers(1, &m_msDepth);
            m_msFbo = m_msColor = m_msDepth = 0;
            m_msFailedFor = samples;
        }
        f->glGetError();
    }
    f->glBindFramebuffer(GL_FRAMEBUFFER, m_mainFbo);
}

float GLRenderer::depthAt(int x, int y)
{
    if (!m_depthTex || x < 0 || y < 0 || x >= m_size.width() || y >= m_size.height())
        return 1;
    QOpenGLFunctions *f = gl();
    f->glBindFramebuffer(GL_FRAMEBUFFER, m_depthFbo);
    renderSwitches().depthTexCoord = QVector2D((x + 0.5f) / m_size.width(), (y + 0.5f) / m_size.height());
    f->glDisable(GL_DEPTH_TEST);
    f->glDisable(GL_CULL_FACE);
    f->glDisable(GL_BLEND);
    f->glDisable(GL_SCISSOR_TEST);
    f->glActiveTexture(GL_TEXTURE0);
    f->glBindTexture(GL_TEXTURE_2D, m_depthTex);
    f->glViewport(0, 0, 1, 1);

    static const float quad[] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, -1, 0, 1, 1, 0, -1, 1, 0};
    GLList_DepthFill fill(GL_TRIANGLES);
    fill.setBuffer('v', GLArray{6, 3, quad});
    fill.draw();

    unsigned char px[4] = {0, 0, 0, 0};
    f->glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    double value = ((px[2] * 256.0 + px[1]) * 256.0 + px[0]) * 5.960464832810452e-8;

    f->glBindTexture(GL_TEXTURE_2D, 0);
    f->glEnable(GL_DEPTH_TEST);
    f->glEnable(GL_CULL_FACE);
    f->glBindFramebuffer(GL_FRAMEBUFFER, m_mainFbo);
    f->glViewport(0, 0, m_size.width(), m_size.height());
    return float(1.0 - value);
}

QImage GLRenderer::renderFrame(QSize size, const DrawFn &pickDraw, const DrawFn &mainDraw)
{
    makeCurrent();
    prepareFBO(size.width(), size.height());
    QOpenGLFunctions *f = gl();
    QElapsedTimer clock;
    clock.start();

    f->glViewport(0, 0, 1, 1);
    f->glScissor(0, 0, 1, 1);
    f->glEnable(GL_SCISSOR_TEST);
    if (pickDraw)
        pickDraw();
    f->glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pickColor);

    f->glViewport(0, 0, size.width(), size.height());
    f->glDisable(GL_SCISSOR_TEST);
    if (m_msFbo)
        f->glBindFramebuffer(GL_FRAMEBUFFER, m_msFbo);
    if (mainDraw)
        mainDraw();
    if (m_msFbo) {
        // Resolved into the main buffer, depth included, for the read-backs.
        QOpenGLExtraFunctions *x = QOpenGLContext::currentContext()->extraFunctions();
        x->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_msFbo);
        x->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_mainFbo);
        // Colour and depth apart: some drivers refuse the pair in one blit.
        x->glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(), size.height(),
                             GL_COLOR_BUFFER_BIT, GL_NEAREST);
        x->glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(), size.height(),
                             GL_DEPTH_BUFFER_BIT, GL_NEAREST);

        f->glBindFramebuffer(GL_FRAMEBUFFER, m_mainFbo);
    }
    timeRenderUs = clock.nsecsElapsed() / 1000;

    clock.restart();
    pointerDepth = depthAt(pointer.x(), pointer.y());

    QImage img(size, QImage::Format_RGB32);
    f->glPixelStorei(GL_PACK_ALIGNMENT, 4);
    f->glReadPixels(0, 0, size.width(), size.height(), GL_RGBA, GL_UNSIGNED_BYTE, img.bits());
    timeReadUs = clock.nsecsElapsed() / 1000;
    return img;
}

void GLRenderer::pick(QSize size, QPoint at, const DrawFn &pickDraw, unsigned char colour[4], float *depth)
{
    size = size.expandedTo(QSize(1, 1));
    makeCurrent();
    prepareFBO(size.width(), size.height());
    QOpenGLFunctions *f = gl();
    const QPoint before = pointer;
    pointer = at;
    f->glViewport(0, 0, 1, 1);
    f->glScissor(0, 0, 1, 1);
    f->glEnable(GL_SCISSOR_TEST);
    try {
        if (pickDraw)
            pickDraw();
    } catch (...) {
        pointer = before;
        f->glDisable(GL_SCISSOR_TEST);
        throw;
    }
    pointer = before;
    f->glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, colour);
    f->glDisable(GL_SCISSOR_TEST);
    // The pick pass drew into pixel (0, 0) of the main buffer, depth included.
    *depth = depthAt(0, 0);
}

QImage GLRenderer::render(QSize size, const DrawFn &pickDraw, const DrawFn &mainDraw)
{
    size = size.expandedTo(QSize(1, 1));
    QString error;
    try {
        QImage img = renderFrame(size, pickDraw, mainDraw);
        lastError.clear();
        return img;
    } catch (const char *e) {
        error = QString("EXCEPTION:\r\n") + e;
    } catch (const QString &e) {
        error = "EXCEPTION:\r\n" + e;
    } catch (const std::exception &e) {
        error = QString("EXCEPTION:\r\n") + e.what();
    } catch (...) {
        error = "UNKNOWN EXCEPTION";
    }
    lastError = error;
    return errorImage(size, error);
}

QImage GLRenderer::errorImage(QSize size, const QString &text)
{
    QImage img(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setPen(Qt::white);
    p.drawText(img.rect(), Qt::AlignCenter, QString(text).replace("\r\n", "\n"));
    return img;
}
