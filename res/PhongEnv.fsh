uniform vec3 ec_light_pos;
uniform vec4 u_color;
uniform float steepNormalY;
uniform vec3 wc_cam_pos;
uniform sampler2D texture;
uniform float twoSided;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    vec3 n = normalize(v_ecNormal);
    vec3 nw = normalize(v_wcNormal);
    float steep = clamp((steepNormalY - nw.y) * 15.0, 0.0, 0.85);
    vec4 base = u_color * (1.0 - steep) + vec4(0.0, 1.0, 2.0, 0.0) * steep;
    if (twoSided > 0.5 && !gl_FrontFacing) {
        n = -n;
        nw = -nw;
        base = vec4(0.22, 0.2, 0.62, u_color.a);
    }
    float d = max(dot(normalize(ec_light_pos - v_ecPos), n), 0.0);
    vec3 c = base.rgb * (0.3 + 0.7 * d) + vec3(pow(d, 20.0) * 0.5);
    // The sky is mirrored below the horizon, hence the negated vertex height.
    vec3 view = normalize(wc_cam_pos - vec3(v_wcPos.x, -v_wcPos.y, v_wcPos.z));
    vec3 r = reflect(-view, nw);
    vec2 tc = vec2(atan(r.x, r.z) / 6.2831852 + 0.5, clamp(asin(clamp(r.y, -1.0, 1.0)) / 3.1415926 + 0.5, 0.01, 0.99));
    vec4 env = texture2D(texture, tc).zyxw;
    gl_FragColor = vec4(0.8 * c + 0.25 * env.rgb, u_color.a);
}
