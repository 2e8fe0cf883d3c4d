// Bone.fx: skinning. Each vertex is blended from two bone matrices, as Direct3D's indexed vertex
// blending with one weight does: bone indices[0] with the weight, indices[1] with one minus it.
// The vertex format is the skinned vertex (position, one weight, four byte indices, normal,
// diffuse colour, texture coordinates); the group's texture is on stage 0.
//
//   matWorld          the bone matrices (up to 128), each taking a bind-pose vertex to the world
//   mViewProj         world x view x projection of the drawing
//   vLightDir         xyz the direction towards the light, w the ambient level
//   bLight            lighting on (else the vertex colour as it is)
//   fTime             grows by 0.01 with every group drawn (not used for now)
//   uv_offset_u, _v   added to the texture coordinates (scrolling)
//   Tex1              the group's texture, when set, on stage 0
//   bTex              sample the texture on stage 0 (set it false for a group without one)

float4x4 matWorld[128];
float4x4 mViewProj;
float4 vLightDir = {0.0, 0.0, -1.0, 0.125};
bool bLight = true;
float fTime = 0.0;
float uv_offset_u = 0.0;
float uv_offset_v = 0.0;
bool bTex = true;
texture Tex1;

sampler Tex1Sampler : register(s0) = sampler_state {
  Texture = <Tex1>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Linear;
  AddressU = Wrap;
  AddressV = Wrap;
};

vertex Skin {
  out vec4 v_color;
  out vec2 v_uv;
  void main() {
    int first = min(int(a_blendindices.x + 0.5), 127);
    int second = min(int(a_blendindices.y + 0.5), 127);
    float w = a_blendweight.x;
    vec4 p = vec4(a_position.xyz, 1.0);
    vec4 world = (p * matWorld[first]) * w + (p * matWorld[second]) * (1.0 - w);
    vec3 normal = (vec4(a_normal, 0.0) * matWorld[first]).xyz * w +
                  (vec4(a_normal, 0.0) * matWorld[second]).xyz * (1.0 - w);
    gl_Position = wz_ToGL(world * mViewProj);
    float light = 1.0;
    if (bLight && dot(normal, normal) > 0.0) {
      light = clamp(max(dot(normalize(normal), vLightDir.xyz), 0.0) + vLightDir.w, 0.0, 1.0);
    }
    v_color = vec4(a_color0.rgb * light, a_color0.a);
    v_uv = a_texcoord0.xy + vec2(uv_offset_u, uv_offset_v);
  }
}

fragment Textured {
  in vec4 v_color;
  in vec2 v_uv;
  void main() { o_color = bTex ? texture(Tex1Sampler, v_uv) * v_color : v_color; }
}

technique BoneTechnique {
  pass P0 {
    VertexProgram = Skin;
    FragmentProgram = Textured;
  }
}
