attribute vec3 a_vertex;
attribute vec3 a_normal;
uniform mat4 m_matrix;
uniform mat4 mv_matrix;
uniform mat4 mvp_matrix;
uniform mat3 normal_model_matrix;
uniform mat3 normal_view_matrix;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    vec4 p = vec4(a_vertex, 1.0);
    v_ecPos = (mv_matrix * p).xyz;
    v_wcPos = (m_matrix * p).xyz;
    v_wcNormal = normal_model_matrix * a_normal;
    v_ecNormal = normal_view_matrix * v_wcNormal;
    gl_Position = mvp_matrix * p;
}
