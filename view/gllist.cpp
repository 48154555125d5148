#include "gllist.h"

#include "shaders.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

namespace {
const char *const attributeName[5] = {"a_vertex", "a_color", "a_normal", "a_texture1", nullptr};

void setLightingUniforms(QOpenGLShaderProgram &p, const QVector4D &color)
{
    const RenderSwitches &rs = renderSwitches();
    p.setUniformValue("m_matrix", topMatrix('m'));
    p.setUniformValue("mv_matrix", mvMatrix());
    p.setUniformValue("mvp_matrix", mvpMatrix());
    p.setUniformValue("normal_model_matrix", normalModelMatrix());
    p.setUniformValue("normal_view_matrix", normalViewMatrix());
    p.setUniformValue("ec_light_pos", rs.lightPos);
    p.setUniformValue("wc_cam_pos", rs.camPos);
    p.setUniformValue("u_color", color);
}

void setTexturedUniforms(QOpenGLShaderProgram &p, const QVector4D &color, const QString &tex, int slot)
{
    p.setUniformValue("mv_matrix", mvMatrix());
    p.setUniformValue("mvp_matrix", mvpMatrix());
    p.setUniformValue("normal_matrix", normalMvMatrix());
    p.setUniformValue("ec_light_pos", renderSwitches().lightPos);
    p.setUniformValue("u_color", color);
    p.setUniformValue("tex_matrix", topMatrix('t'));
    Texture::get(tex).bind(slot, true, false);
    p.setUniformValue("texture", slot);
}
} // namespace

int GLList::streamIndex(char stream)
{
    switch (stream) {
    case 'v': return 0;
    case 'c': return 1;
    case 'n': return 2;
    case 't': return 3;
    case 'i': return 4;
    }
    return -1;
}

void GLList::setBuffer(char stream, const GLArray &array)
{
    int idx = streamIndex(stream);
    if (idx < 0)
        throw QString("GLList::setBuffer() invalid buffer parameter: ") + QChar(stream);
    if (array.count < 0 || array.components < 1 || array.components > 4)
        throw QString("GLList::setBuffer() invalid array shape: %1 x %2").arg(array.count).arg(array.components);
    if (stream != 'i' && m_vertexCount && m_vertexCount != array.count)
        throw QString("GLList::setBuffer() Inconsistent buffer sizes: %1 != %2").arg(m_vertexCount).arg(array.count);

    Stream &s = m_streams[idx];
    // A fresh buffer: copies of this list keep drawing the old one.
    auto buf = std::shared_ptr<QOpenGLBuffer>(new QOpenGLBuffer(stream == 'i' ? QOpenGLBuffer::IndexBuffer
                                                                             : QOpenGLBuffer::VertexBuffer),
                                              [](QOpenGLBuffer *b) {
                                                  b->destroy();
                                                  delete b;
                                              });
    buf->setUsagePattern(QOpenGLBuffer::StaticDraw);
    if (!buf->create())
        throw QString("GLList::setBuffer() cannot create buffer");
    buf->bind();
    buf->allocate(array.data, array.count * array.components * int(sizeof(float)));
    buf->release();
    s.buffer = buf;
    s.components = array.components;
    if (stream == 'i')
        m_indexCount = array.count;
    else
        m_vertexCount = array.count;
}

void GLList::setBuffer(char stream, const QVector<float> &data, int components)
{
    if (components < 1)
        throw QString("GLList::setBuffer() invalid array shape: %1 x %2").arg(data.size()).arg(components);
    setBuffer(stream, GLArray{data.size() / components, components, data.constData()});
}

void GLList::clear()
{
    for (Stream &s : m_streams)
        s = Stream();
    m_vertexCount = 0;
    m_indexCount = 0;
}

void GLList::draw()
{
    drawPass();
}

void GLList::drawPass()
{
    if (m_indexCount != 0)
        throw "Fatal Error: GLList::drawPass() index buffer not yet implemented.";
    if (!primitiveMode || !m_vertexCount)
        return;
    if (!program)
        throw "Fatal error: GLList::drawPass() without shader program";
    program->bind();
    int bound[4];
    int nBound = 0;
    for (int i = 0; i < 4; i++) {
        Stream &s = m_streams[i];
        if (!s.buffer)
            continue;
        int loc = program->attributeLocation(attributeName[i]);
        if (loc < 0)
            continue; // the shader does not use this stream
        s.buffer->bind();
        program->setAttributeBuffer(loc, GL_FLOAT, 0, s.components, 0);
        program->enableAttributeArray(loc);
        bound[nBound++] = loc;
        s.buffer->release();
    }
    QOpenGLContext::currentContext()->functions()->glDrawArrays(primitiveMode, 0, m_vertexCount);
    for (int i = 0; i < nBound; i++)
        program->disableAttributeArray(bound[i]);
    program->release();
}

void GLList::drawVertexStream(QOpenGLShaderProgram &p, int location)
{
    Stream &s = m_streams[0];
    if (!primitiveMode || !m_vertexCount || !s.buffer)
        return;
    s.buffer->bind();
    p.setAttributeBuffer(location, GL_FLOAT, 0, s.components, 0);
    s.buffer->release();
    QOpenGLContext::currentContext()->functions()->glDrawArrays(primitiveMode, 0, m_vertexCount);
}

void GLList_Phong::draw()
{
    const RenderSwitches &rs = renderSwitches();
    if (rs.outsidePass) {
        program = &getShaderProgram(rs.outsidePass == 2 ? "OutsideCircular" : "Outside");
        program->bind();
        program->setUniformValue("m_matrix", topMatrix('m'));
        program->setUniformValue("mvp_matrix", mvpMatrix());
        program->setUniformValue("u_color", color);
        program->setUniformValue("invWorkAreaSize", rs.invWorkAreaSize);
        drawPass();
        return;
    }
    if (rs.pickPass) {
        program = &getShaderProgram("Pick");
        program->bind();
        program->setUniformValue("mvp_matrix", mvpMatrix());
        program->setUniformValue("u_color", color);
        drawPass();
        return;
    }
    program = &getShaderProgram(rs.depthPass ? "Phong_depth" : rs.envReflection ? "PhongEnv" : "Phong");
    program->bind();
    setLightingUniforms(*program, color);
    program->setUniformValue("steepNormalY", steepNormalY(rs.steepAngle));
    program->setUniformValue("twoSided", rs.twoSided ? 1.0f : 0.0f);
    if (rs.envReflection && !rs.depthPass) {
        Texture::get(rs.envTexture).bind(0, true, false);
        program->setUniformValue("texture", 0);
    }
    drawPass();
}

void GLList_PhongTex::draw()
{
    program = &getShaderProgram("PhongTex");
    program->bind();
    setTexturedUniforms(*program, color, texture, textureSlot);
    drawPass();
}

void GLList_Ground::draw()
{
    program = &getShaderProgram("Ground");
    program->bind();
    setTexturedUniforms(*program, color, texture, textureSlot);
    drawPass();
}

void GLList_ColorUVTex::draw()
{
    program = &getShaderProgram("ColorUVTex");
    program->bind();
    program->setUniformValue("mv_matrix", mvMatrix());
    program->setUniformValue("mvp_matrix", mvpMatrix());
    program->setUniformValue("u_color", color);
    Texture::get(texture).bind(textureSlot, false, true);
    program->setUniformValue("texture", textureSlot);
    drawPass();
}

void GLList_Color2D::draw()
{
    program = &getShaderProgram("Color2D");
    drawPass();
}

namespace {
QOpenGLShaderProgram &bindGCodeProgram(const QVector4D &color)
{
    const RenderSwitches &rs = renderSwitches();
    QOpenGLShaderProgram &p = getShaderProgram(rs.depthPass ? "GCode_depth" : rs.envReflection ? "GCodeEnv" : "GCode");
    p.bind();
    setLightingUniforms(p, color);
    if (rs.envReflection && !rs.depthPass) {
        Texture::get(rs.envTexture).bind(0, true, false);
        p.setUniformValue("texture", 0);
    }
    return p;
}
} // namespace

void GLList_GCode::draw()
{
    program = &bindGCodeProgram(color);
    program->setUniformValue("layerZ", layerZ);
    drawPass();
}

GCodeDrawBatch::GCodeDrawBatch() : m_program(&bindGCodeProgram(QVector4D(1, 1, 1, 1)))
{
    m_color = m_program->uniformLocation("u_color");
    m_layerZ = m_program->uniformLocation("layerZ");
    m_vertex = m_program->attributeLocation("a_vertex");
    if (m_vertex >= 0)
        m_program->enableAttributeArray(m_vertex);
}

GCodeDrawBatch::~GCodeDrawBatch()
{
    if (m_vertex >= 0)
        m_program->disableAttributeArray(m_vertex);
    m_program->release();
}

void GCodeDrawBatch::draw(GLList_GCode &list)
{
    if (m_vertex < 0)
        return;
    m_program->setUniformValue(m_color, list.color);
    m_program->setUniformValue(m_layerZ, list.layerZ);
    list.drawVertexStream(*m_program, m_vertex);
}

void GLList_DepthFill::draw()
{
    program = &getShaderProgram("DepthFill");
    program->bind();
    program->setUniformValue("texture", 0);
    program->setUniformValue("texCoord", renderSwitches().depthTexCoord);
    drawPass();
}
