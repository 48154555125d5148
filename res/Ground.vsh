attribute vec3 a_vertex;
attribute vec3 a_normal;
uniform mat4 mv_matrix;
uniform mat4 mvp_matrix;
uniform mat3 normal_matrix;
uniform mat4 tex_matrix;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec2 v_texCoord;
void main()
{
    vec4 p = vec4(a_vertex, 1.0);
    v_ecPos = (mv_matrix * p).xyz;
    v_ecNormal = normal_matrix * a_normal;
    v_texCoord = (tex_matrix * p).xy;
    gl_Position = mvp_matrix * p;
}
