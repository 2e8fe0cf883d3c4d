// BumpMap.fx: normal-map lighting of a model group. The vertex declaration carries position,
// normal, tangent (the direction in which u grows), binormal (the direction in which v grows) and
// texture coordinates. Normal-map texels hold tangent-space normals as colour (x red along the
// tangent, y green towards the top of the image, z blue along the normal).
//
//   mWVP       world x view x projection
//   vLightDir  xyz the direction towards the light, in the model's space
//   vEyePos    xyz the eye, in the model's space
//   DecaleTex  the colour texture (stage 0)
//   NormalMap  the normal map (stage 1)

float4x4 mWVP;
float4 vLightDir = {0.0, 0.0, -1.0, 0.0};
float4 vEyePos = {0.0, 0.0, -15.0, 1.0};
texture DecaleTex;
texture NormalMap;

sampler DecaleSampler : register(s0) = sampler_state {
  Texture = <DecaleTex>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Linear;
  AddressU = Wrap;
  AddressV = Wrap;
};
sampler NormalSampler : register(s1) = sampler_state {
  Texture = <NormalMap>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Linear;
  AddressU = Wrap;
  AddressV = Wrap;
};

common BumpLighting {
  // Decal colour lit by a normal-map normal: ambient 0.2, diffuse 0.8 and a white highlight.
  vec4 BumpColour(vec2 uv, vec3 light, vec3 eye) {
    vec3 n = normalize(texture(NormalSampler, uv).rgb * 2.0 - 1.0);
    vec3 l = normalize(light);
    vec3 h = normalize(l + normalize(eye));
    float diffuse = max(dot(n, l), 0.0);
    float specular = diffuse > 0.0 ? pow(max(dot(n, h), 0.0), 32.0) * 0.3 : 0.0;
    vec4 decal = texture(DecaleSampler, uv);
    return vec4(clamp(decal.rgb * (0.2 + 0.8 * diffuse) + vec3(specular), 0.0, 1.0), decal.a);
  }
}

vertex Bump {
  out vec2 v_uv;
  out vec3 v_light;
  out vec3 v_eye;
  void main() {
    vec3 n = normalize(a_normal);
    vec3 t = normalize(a_tangent - n * dot(n, a_tangent));
    vec3 b = normalize(a_binormal);
    // Into tangent space: x along the tangent, y against the binormal (up the image), z along n.
    mat3 toTangent = transpose(mat3(t, -b, n));
    gl_Position = wz_ToGL(vec4(a_position.xyz, 1.0) * mWVP);
    v_uv = a_texcoord0.xy;
    v_light = toTangent * vLightDir.xyz;
    v_eye = toTangent * (vEyePos.xyz - a_position.xyz);
  }
}

fragment BumpLit {
  in vec2 v_uv;
  in vec3 v_light;
  in vec3 v_eye;
  void main() { o_color = BumpColour(v_uv, v_light, v_eye); }
}

technique BumpMapDraw {
  pass P0 {
    VertexProgram = Bump;
    FragmentProgram = BumpLit;
  }
}
