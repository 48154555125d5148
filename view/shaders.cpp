#include "shaders.h"

#include "common/utils.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QVector>
#include <cmath>
#include <memory>

static void initRes()
{
    Q_INIT_RESOURCE(res);
}

void initViewResources()
{
    static bool done = false;
    if (!done) {
        done = true;
        initRes();
    }
}

namespace {

// Programs and textures belong to one context; the cache entry goes away with it.
struct ContextCache {
    QHash<QString, std::shared_ptr<QOpenGLShaderProgram>> programs;
    QHash<QString, std::shared_ptr<Texture>> textures;
};

QHash<QOpenGLContext *, ContextCache> &caches()
{
    static QHash<QOpenGLContext *, ContextCache> c;
    return c;
}

ContextCache &currentCache()
{
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    if (!ctx)
        throw QString("Fatal error: no current OpenGL context");
    auto &all = caches();
    if (!all.contains(ctx)) {
        QObject::connect(ctx, &QOpenGLContext::aboutToBeDestroyed, [ctx]() {
            // Still current here, so GL names can be released.
            ContextCache c = caches().take(ctx);
            QOpenGLFunctions *f = ctx->functions();
            for (auto &t : c.textures)
                if (t->id()) {
                    GLuint id = t->id();
                    f->glDeleteTextures(1, &id);
                }
        });
    }
    return all[ctx];
}

struct MatrixStacks {
    QVector<QMatrix4x4> m{QMatrix4x4()}, v{QMatrix4x4()}, p{QMatrix4x4()}, t{QMatrix4x4()};
};
MatrixStacks &stacks()
{
    static MatrixStacks s;
    return s;
}

QVector<QMatrix4x4> *stackOf(char id)
{
    switch (id) {
    case 'm': return &stacks().m;
    case 'v': return &stacks().v;
    case 'p': return &stacks().p;
    case 't': return &stacks().t;
    }
    return nullptr;
}

QMatrix3x3 normalOf(const QMatrix4x4 &m)
{
    return m.normalMatrix();
}

} // namespace

QByteArray shaderSource(const QString &fileName)
{
    QByteArray src = readFile(resourcePath(fileName));
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    // Desktop GL rejects the precision statement (Qt defines the qualifiers away).
    if (ctx && ctx->isOpenGLES())
        src.prepend("precision highp float;\r\n");
    return src;
}

QOpenGLShaderProgram &getShaderProgram(const QString &name)
{
    ContextCache &cache = currentCache();
    auto it = cache.programs.find(name);
    if (it != cache.programs.end())
        return **it;
    auto prog = std::make_shared<QOpenGLShaderProgram>();
    bool ok = prog->addShaderFromSourceCode(QOpenGLShader::Vertex, shaderSource(name + ".vsh"));
    ok = prog->addShaderFromSourceCode(QOpenGLShader::Fragment, shaderSource(name + ".fsh")) && ok;
    ok = ok && prog->link();
    if (!ok) {
        QString log = prog->log();
        qDebug() << Q_FUNC_INFO << "shaders" << name << log;
        throw QString("getShaderProgram() shader error. ") + log;
    }
    // Entered only once it works, so a fixed file is picked up on the next try.
    cache.programs.insert(name, prog);
    return *prog;
}

Texture &Texture::get(const QString &name)
{
    ContextCache &cache = currentCache();
    auto it = cache.textures.find(name);
    if (it == cache.textures.end())
        it = cache.textures.insert(name, std::make_shared<Texture>(name));
    return **it;
}

void Texture::load()
{
    QString path = appDir() + m_name;
    if (!QFileInfo::exists(path))
        path = ":/res/" + m_name;
    if (!QFileInfo::exists(path))
        throw QString("Texture::bind() file not found ") + path;
    QImage img(path);
    if (img.isNull())
        throw QString("Texture::bind() Error loading image ") + path;
    // ARGB32 in memory is B,G,R,A; swapped it uploads as R,G,B,A bytes.
    img = img.convertToFormat(QImage::Format_ARGB32).rgbSwapped();
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    GLuint id = 0;
    f->glGenTextures(1, &id);
    m_id = id;
    f->glBindTexture(GL_TEXTURE_2D, m_id);
    f->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    f->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, img.width(), img.height(), 0, GL_RGBA,
                    GL_UNSIGNED_BYTE, img.constBits());
}

void Texture::bind(int slot, bool mipmap, bool clampToEdge)
{
    if (slot < 0 || slot > 7)
        throw "Texture::bind() slot out of range";
    QOpenGLContext *ctx = QOpenGLContext::currentContext();
    QOpenGLFunctions *f = ctx->functions();
    f->glActiveTexture(GL_TEXTURE0 + slot);
    if (!m_id)
        load();
    f->glBindTexture(GL_TEXTURE_2D, m_id);
    if (mipmap && !m_mipmapsMade) {
        f->glGenerateMipmap(GL_TEXTURE_2D);
        m_mipmapsMade = true;
    }
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmap ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GLint wrap = clampToEdge ? GL_CLAMP_TO_EDGE : GL_REPEAT;
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    f->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    if (mipmap && ctx->hasExtension("GL_EXT_texture_filter_anisotropic")) {
        const GLenum maxAniso = 0x84FF, aniso = 0x84FE;
        GLfloat m = 1;
        f->glGetFloatv(maxAniso, &m);
        f->glTexParameterf(GL_TEXTURE_2D, aniso, m);
    }
}

void unBindTex(int slot)
{
    if (slot < 0 || slot > 7)
        throw "unBindTex() slot out of range";
    QOpenGLFunctions *f = QOpenGLContext::currentContext()->functions();
    f->glActiveTexture(GL_TEXTURE0 + slot);
    f->glBindTexture(GL_TEXTURE_2D, 0);
}

void pushMatrix(char id)
{
    QVector<QMatrix4x4> *s = stackOf(id);
    if (!s)
        throw "pushMatrix() invalid mId";
    s->append(s->last());
}

void popMatrix(char id)
{
    QVector<QMatrix4x4> *s = stackOf(id);
    if (!s)
        throw "popMatrix() invalid mId";
    if (s->size() < 2)
        throw "popMatrix() stack underflow";
    s->removeLast();
}

QMatrix4x4 &topMatrix(char id)
{
    QVector<QMatrix4x4> *s = stackOf(id);
    if (!s)
        throw "topMatrix() invalid mId";
    return s->last();
}

void resetMatrices()
{
    stacks() = MatrixStacks();
}

QMatrix4x4 mvMatrix() { return stacks().v.last() * stacks().m.last(); }
QMatrix4x4 mvpMatrix() { return stacks().p.last() * stacks().v.last() * stacks().m.last(); }
QMatrix3x3 normalModelMatrix() { return normalOf(stacks().m.last()); }
QMatrix3x3 normalViewMatrix() { return normalOf(stacks().v.last()); }
QMatrix3x3 normalMvMatrix() { return normalOf(mvMatrix()); }

RenderSwitches &renderSwitches()
{
    static RenderSwitches r;
    return r;
}

float steepNormalY(float angleDeg)
{
    return angleDeg > 0 ? std::cos(angleDeg * 0.017453292f) - 1.0f : -100.0f;
}
