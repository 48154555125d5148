uniform vec3 ec_light_pos;
uniform vec4 u_color;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    vec3 n = normalize(v_ecNormal);
    float d = max(dot(normalize(ec_light_pos - v_ecPos), n), 0.0);
    gl_FragColor = vec4(u_color.rgb * d + vec3(pow(d, 20.0) * 0.5), u_color.a);
}
