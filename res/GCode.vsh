attribute vec3 a_vertex;
uniform mat4 mv_matrix;
uniform mat4 mvp_matrix;
uniform mat3 normal_model_matrix;
uniform mat3 normal_view_matrix;
uniform float layerZ;
uniform vec3 ec_light_pos;
uniform vec4 u_color;
varying vec4 v_color;
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
    // Lit per vertex: a bead's faces are flat and small, and a preview frame
    // shades millions of fragments, so the fragment stage only interpolates.
    vec3 ecPos = (mv_matrix * p).xyz;
    vec3 ecNormal = normalize(normal_view_matrix * (normal_model_matrix * n));
    float d = max(dot(normalize(ec_light_pos - ecPos), ecNormal), 0.0);
    v_color = vec4(u_color.rgb * (d * 0.5 + 0.2) + vec3(d * d * d * 0.5), u_color.a);
    gl_Position = mvp_matrix * p;
}
