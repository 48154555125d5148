#pragma once
// Shader programs, textures, matrix stacks and the render switches shared by
// every drawable list (GLList). GUI thread only, inside the current GL context.
// Programs and textures are cached per GL context and die with it.
#include <QMatrix3x3>
#include <QMatrix4x4>
#include <QString>
#include <QVector2D>
#include <QVector3D>
#include <QVector4D>

class QOpenGLShaderProgram;

// Registers the built-in ":/res/" resources (idempotent).
void initViewResources();

// The linked program `name` built from the resources name + ".vsh" / ".fsh"
// (a file beside the executable overrides the built-in one). Throws QString
// "getShaderProgram() shader error. " + log when compiling or linking fails.
QOpenGLShaderProgram &getShaderProgram(const QString &name);

// Source text as compiled on the current context: desktop GL gets the file as
// it is, OpenGL ES the precision prefix in front.
QByteArray shaderSource(const QString &fileName);

// A texture named by its resource file name; pixels load on the first bind.
class Texture {
public:
    // The texture `name` of the current context, created on first request.
    static Texture &get(const QString &name);

    // Binds to unit `slot` (0..7). Throws "Texture::bind() slot out of range",
    // QString "Texture::bind() file not found " + path, or
    // "Texture::bind() Error loading image " + path.
    void bind(int slot, bool mipmap, bool clampToEdge);
    unsigned id() const { return m_id; }

    explicit Texture(const QString &name) : m_name(name) {}

private:
    void load();
    QString m_name;
    unsigned m_id = 0;
    bool m_mipmapsMade = false;
};
// Binds texture 0 to unit `slot`. Throws "unBindTex() slot out of range".
void unBindTex(int slot);

// Four matrix stacks: 'm' model, 'v' view, 'p' projection, 't' texture. Each
// starts as one identity matrix. Other ids throw "pushMatrix() invalid mId"
// (from pushMatrix) or "<function>() invalid mId".
void pushMatrix(char id);
// Popping the last matrix of a stack throws "popMatrix() stack underflow".
void popMatrix(char id);
QMatrix4x4 &topMatrix(char id);
// Empties all stacks back to one identity each (start of a frame).
void resetMatrices();
// Derived uniforms: view × model, projection × view × model and the inverse
// transposed upper 3×3 of model (world normals) and of view (eye normals).
QMatrix4x4 mvMatrix();
QMatrix4x4 mvpMatrix();
QMatrix3x3 normalModelMatrix();
QMatrix3x3 normalViewMatrix();
// normal matrix of view × model (eye normals in one step)
QMatrix3x3 normalMvMatrix();

// Process-wide render switches, set by the view before each pass.
struct RenderSwitches {
    int outsidePass = 0;        // 0 off, 1 box volume "Outside", 2 round "OutsideCircular"
    bool depthPass = false;     // pack depth instead of colour
    bool pickPass = false;      // flat u_color (object codes) with "Pick"
    bool envReflection = false; // sky reflection variants
    bool twoSided = false;      // objects: back faces drawn, tinted, lit from behind
    float steepAngle = 0;       // degrees; 0 = no overhang marking
    QVector3D lightPos{0, 0, 0};        // eye coordinates
    QVector3D camPos{0, 0, 0};          // world coordinates
    QVector3D invWorkAreaSize{1, 1, 1}; // 1 / build volume (W, H, D), for the outside pass
    QVector2D depthTexCoord{0.5f, 0.5f}; // texel read by "DepthFill"
    QString envTexture = "skydome.png";
};
RenderSwitches &renderSwitches();
// cos(angle) − 1 for angles above 0, else −100 (nothing counts as steep).
float steepNormalY(float angleDeg);
