uniform vec3 ec_light_pos;
uniform vec4 u_color;
uniform sampler2D texture;
varying vec3 v_ecPos;
varying vec3 v_ecNormal;
varying vec2 v_texCoord;
void main()
{
    vec3 n = normalize(v_ecNormal);
    float d = max(dot(normalize(ec_light_pos - v_ecPos), n), 0.0);
    vec3 c = (u_color.rgb * (d * 0.5 + 0.4) + vec3(d * d * 0.1)) * texture2D(texture, v_texCoord).zyx;
    gl_FragColor = vec4(c, clamp(1.0 - length(v_texCoord) * 0.06, 0.0, 1.0) * u_color.a);
}
