uniform highp sampler2D texture;
uniform vec2 texCoord;
// c in [0,1) as three base-256 digits, lowest first; each channel holds its
// digit exactly (digit / 255) so an 8-bit buffer keeps it.
vec4 packDepth(float c)
{
    c = clamp(c, 0.0, 0.99999994);
    float a2 = floor(c * 256.0);
    float r = c * 256.0 - a2;
    float a1 = floor(r * 256.0);
    r = r * 256.0 - a1;
    float a0 = floor(r * 256.0);
    return vec4(a0, a1, a2, 0.0) / 255.0;
}
void main()
{
    gl_FragColor = packDepth(1.0 - texture2D(texture, texCoord).x);
}
