attribute vec3 a_vertex;
uniform mat4 m_matrix;
uniform mat4 mv_matrix;
uniform mat4 mvp_matrix;
uniform mat3 normal_model_matrix;
uniform mat3 normal_view_matrix;
uniform float layerZ;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    // z carries either a height offset x10000 (top/bottom faces) or the side
    // normal's angle in radians.
    float code = a_vertex.z;
    float vy = 0.0;
    vec3 n;
    if (abs(code) > 4.0) {
        vy = code * 0.0001;
        n = vec3(0.0, sign(code), 0.0);
    } else {
        n = vec3(sin(code), 0.0, cos(code));
    }
    vec4 p = vec4(a_vertex.x, layerZ + vy, a_vertex.y, 1.0);
    v_ecPos = (mv_matrix * p).xyz;
    v_wcPos = (m_matrix * p).xyz;
    v_wcNormal = normal_model_matrix * n;
    v_ecNormal = normal_view_matrix * v_wcNormal;
    gl_Position = mvp_matrix * p;
}
