uniform vec4 u_color;
varying vec3 v_p;
void main()
{
    if (v_p.y >= -0.001 && v_p.y <= 1.0 && abs(v_p.x) <= 0.5 && abs(v_p.z) <= 0.5)
        discard;
    gl_FragColor = u_color;
}
