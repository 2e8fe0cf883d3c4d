// BumpGround.fx: the bump-mapped ground (BumpGround\BumpGround.x with BumpGround.jpg and
// BumpGroundNormal.tga). The ground mesh lies in the plane y = 0 with its normal up, u growing
// with x and v growing as z falls, so its tangent frame is fixed and the mesh needs only
// position, normal and texture coordinates.
//
//   mWVP       world x view x projection
//   vLightDir  xyz the direction towards the light, in the ground's space
//   vEyePos    xyz the eye, in the ground's space
//   vDiffuse   the material colour
//   DecaleTex  the ground's colour texture (stage 0)
//   NormalMap  its normal map (stage 1)

float4x4 mWVP;
float4 vLightDir = {-0.408248, 0.816497, -0.408248, 0.0};
float4 vEyePos = {0.0, 10.0, -15.0, 1.0};
float4 vDiffuse = {1.0, 1.0, 1.0, 1.0};
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

vertex Ground {
  out vec2 v_uv;
  out vec3 v_light;
  out vec3 v_eye;
  void main() {
    // Tangent space of the ground: x along +x, y (up the image) along +z, z up.
    const mat3 toTangent = transpose(mat3(vec3(1.0, 0.0, 0.0), vec3(0.0, 0.0, 1.0),
                                          vec3(0.0, 1.0, 0.0)));
    gl_Position = wz_ToGL(vec4(a_position.xyz, 1.0) * mWVP);
    v_uv = a_texcoord0.xy;
    v_light = toTangent * vLightDir.xyz;
    v_eye = toTangent * (vEyePos.xyz - a_position.xyz);
  }
}

fragment GroundLit {
  in vec2 v_uv;
  in vec3 v_light;
  in vec3 v_eye;
  void main() {
    vec3 n = normalize(texture(NormalSampler, v_uv).rgb * 2.0 - 1.0);
    vec3 l = normalize(v_light);
    vec3 h = normalize(l + normalize(v_eye));
    float diffuse = max(dot(n, l), 0.0);
    float specular = diffuse > 0.0 ? pow(max(dot(n, h), 0.0), 24.0) * 0.25 : 0.0;
    vec4 decal = texture(DecaleSampler, v_uv) * vDiffuse;
    o_color = vec4(clamp(decal.rgb * (0.25 + 0.75 * diffuse) + vec3(specular), 0.0, 1.0),
                   decal.a);
  }
}

technique BumpGroundTechnique {
  pass P0 {
    VertexProgram = Ground;
    FragmentProgram = GroundLit;
  }
}
