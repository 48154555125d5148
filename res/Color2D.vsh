attribute vec3 a_vertex;
attribute vec4 a_color;
varying vec4 v_color;
void main()
{
    v_color = a_color;
    gl_Position = vec4(a_vertex, 1.0);
}
