uniform vec3 ec_light_pos;
uniform vec3 wc_cam_pos;
uniform vec4 u_color;
uniform sampler2D texture;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec3 v_wcPos;
varying vec3 v_wcNormal;
void main()
{
    vec3 n = normalize(v_ecNormal);
    vec3 nw = normalize(v_wcNormal);
    float d = max(dot(normalize(ec_light_pos - v_ecPos), n), 0.0);
    vec3 c = u_color.rgb * (d * 0.5 + 0.2) + vec3(d * d * d * 0.5);
    vec3 view = normalize(wc_cam_pos - vec3(v_wcPos.x, -v_wcPos.y, v_wcPos.z));
    vec3 r = reflect(-view, nw);
    vec2 tc = vec2(atan(r.x, r.z) / 6.2831852 + 0.5, clamp(asin(clamp(r.y, -1.0, 1.0)) / 3.1415926 + 0.5, 0.01, 0.99));
    gl_FragColor = vec4(0.7 * c + 0.5 * texture2D(texture, tc).zyx, u_color.a);
}
