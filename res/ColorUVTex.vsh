attribute vec3 a_vertex;
attribute vec2 a_texture1;
uniform mat4 mvp_matrix;
varying vec2 v_texCoord;
void main()
{
    v_texCoord = a_texture1;
    gl_Position = mvp_matrix * vec4(a_vertex, 1.0);
}
