#pragma once
// A vertex list in GPU buffers plus the shader family that draws it. All
// streams are 32-bit floats; draws are non-indexed. Copies share the buffers;
// the last copy releases them. GUI thread only, with the owning context current.
#include <QOpenGLBuffer>
#include <QVector4D>
#include <QVector>
#include <memory>
#include <qopengl.h>

class QOpenGLShaderProgram;

// {item count, components per item, count × components floats}
struct GLArray {
    int count = 0;
    int components = 0;
    const float *data = nullptr;
};

class GLList {
public:
    explicit GLList(GLenum mode = GL_TRIANGLES) : primitiveMode(mode) {}
    virtual ~GLList() = default;

    // Uploads one stream: 'v' vertex, 'c' colour, 'n' normal, 't' texture
    // coordinate, 'i' index. Throws QString
    // "GLList::setBuffer() invalid buffer parameter: <code>" or
    // "GLList::setBuffer() Inconsistent buffer sizes: <old> != <new>".
    void setBuffer(char stream, const GLArray &array);
    void setBuffer(char stream, const QVector<float> &data, int components);
    // Forgets every stream (the next setBuffer starts a new vertex count).
    void clear();

    // Base: the draw pass with `program`. Subclasses pick their program and
    // set their uniforms first.
    virtual void draw();
    // Binds the named attribute arrays and draws. Nothing happens without a
    // primitive mode or vertices. Throws
    // "Fatal Error: GLList::drawPass() index buffer not yet implemented."
    void drawPass();
    // The vertex stream only, with `p` already bound and the array at
    // `location` enabled: for batches that share one program set-up.
    void drawVertexStream(QOpenGLShaderProgram &p, int location);

    int vertexCount() const { return m_vertexCount; }

    QOpenGLShaderProgram *program = nullptr; // owned by the program cache
    GLenum primitiveMode;
    QVector4D color{1, 1, 1, 1}; // u_color, already in the shaders' blue-first order

private:
    struct Stream {
        std::shared_ptr<QOpenGLBuffer> buffer;
        int components = 0;
    };
    static int streamIndex(char stream);
    Stream m_streams[5];
    int m_vertexCount = 0;
    int m_indexCount = 0;
};

// Scene objects: "Phong", "PhongEnv", "Phong_depth", the outside-of-volume
// marking "Outside"/"OutsideCircular", or the flat "Pick", by the render switches.
class GLList_Phong : public GLList {
public:
    using GLList::GLList;
    void draw() override;
};

class GLList_PhongTex : public GLList {
public:
    using GLList::GLList;
    void draw() override;
    QString texture;   // resource file name
    int textureSlot = 0;
};

// Bed with its grid texture.
class GLList_Ground : public GLList {
public:
    using GLList::GLList;
    void draw() override;
    QString texture = "ground.png";
    int textureSlot = 0;
};

// Textured quads (logo, legend).
class GLList_ColorUVTex : public GLList {
public:
    using GLList::GLList;
    void draw() override;
    QString texture;
    int textureSlot = 0;
};

// Screen-space geometry with per-vertex colours; positions in clip coordinates.
class GLList_Color2D : public GLList {
public:
    using GLList::GLList;
    void draw() override;
};

// G-code extrusions of one layer: vertices (x, y, code) drawn at layerZ.
class GLList_GCode : public GLList {
public:
    using GLList::GLList;
    void draw() override;
    float layerZ = 0;
};

// Draws many G-code lists with one program set-up (a preview frame has
// thousands): shared uniforms once, then each list's colour and height only.
class GCodeDrawBatch {
public:
    GCodeDrawBatch();
    ~GCodeDrawBatch();
    GCodeDrawBatch(const GCodeDrawBatch &) = delete;
    GCodeDrawBatch &operator=(const GCodeDrawBatch &) = delete;
    void draw(GLList_GCode &list);

private:
    QOpenGLShaderProgram *m_program;
    int m_color, m_layerZ, m_vertex;
};

// Off-screen depth read-back: reads the depth texture on unit 0 at the render
// switches' depthTexCoord.
class GLList_DepthFill : public GLList {
public:
    using GLList::GLList;
    void draw() override;
};
