attribute vec3 a_vertex;
uniform mat4 m_matrix;
uniform mat4 mvp_matrix;
uniform vec3 invWorkAreaSize;
varying vec3 v_p;
void main()
{
    vec4 p = vec4(a_vertex, 1.0);
    v_p = (m_matrix * p).xyz * invWorkAreaSize;
    gl_Position = mvp_matrix * p;
}
