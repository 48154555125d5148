uniform vec3 ec_light_pos;
uniform vec4 u_color;
uniform float twoSided;
uniform float steepNormalY;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    vec3 n = normalize(v_ecNormal);
    // Surfaces steeper than the support limit are tinted (colours blue first).
    float steep = clamp((steepNormalY - normalize(v_wcNormal).y) * 15.0, 0.0, 0.85);
    vec3 base = u_color.rgb * (1.0 - steep) + vec3(1.0, 0.45, 0.1) * steep;
    // Inside surfaces (holes, inverted faces) show in a dull red.
    if (twoSided > 0.5 && !gl_FrontFacing) {
        n = -n;
        base = vec3(0.22, 0.2, 0.62);
    }
    float d = max(dot(normalize(ec_light_pos - v_ecPos), n), 0.0);
    // An ambient share keeps faces turned from the light readable.
    gl_FragColor = vec4(base * (0.3 + 0.7 * d) + vec3(pow(d, 20.0) * 0.5), u_color.a);
}
