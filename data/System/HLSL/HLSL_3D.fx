// HLSL_3D.fx: the shader-mode scene. Models are drawn with their own vertex formats (position,
// normal, diffuse colour, texture coordinates) and the group's texture on stage 0; the
// full-screen steps draw pre-transformed quads (x and y in pixels of the target).
//
//   ShadowMapTexZ_Technique    light-space depth into the R32F (or R16F) shadow map: the distance
//                              from the light over the light's far plane (1000), so that Margin
//                              is a distance (0.001: one unit) wherever the point lies
//   ShadowMapTechnique         the lit scene, darkened towards LightColor (by its alpha) where
//                              the shadow map says something lies between the point and the light
//   ReflectionModokiTechnique  an imitation reflection: reflective groups show the scene texture
//                              (Tex2) mirrored about their screen position, mixed by Reflectivity
//   DepthOfFieldTexTechnique   the blur amount (by distance from the eye) in alpha; the blend
//                              reads nothing else of this target, so its colour stays black
//   BloomPolyTechnique         glowing groups, brightened by bloom_power
//   BloomTexTechnique          a blurred copy of the glow texture (Tex1), added into its target
//   BlendTechnique             the final picture: the scene (Tex2) blurred by the amount in Tex1's
//                              alpha, plus the glow (Tex3) when bBloom is set

float4x4 World;
float4x4 WVProj;
float4x4 LightVProj;
float4 Ambient = {0.2, 0.2, 0.2, 1.0};
float4 LightColor = {0.5, 0.5, 0.5, 1.0};
float4 Diffuse = {1.0, 1.0, 1.0, 1.0};
float4 vLightDir = {-0.408248, 0.816497, -0.408248, 0.0};
float Margin = 0.001;
float Reflectivity = 0.5;
float bloom_power = 1.0;
float g_fTime = 0.0;
float uv_offset_u = 0.0;
float uv_offset_v = 0.0;
bool bTex = true;
bool bBloom = false;
texture ShadowTex;
texture Tex1;
texture Tex2;
texture Tex3;
texture g_txScene;

sampler ModelSampler : register(s0) = sampler_state {
  Texture = <g_txScene>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = Linear;
  AddressU = Wrap;
  AddressV = Wrap;
};
sampler ShadowSampler : register(s1) = sampler_state {
  Texture = <ShadowTex>;
  MinFilter = Point;
  MagFilter = Point;
  MipFilter = None;
  AddressU = Clamp;
  AddressV = Clamp;
};
sampler Tex1Sampler : register(s2) = sampler_state {
  Texture = <Tex1>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = None;
  AddressU = Clamp;
  AddressV = Clamp;
};
sampler Tex2Sampler : register(s3) = sampler_state {
  Texture = <Tex2>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = None;
  AddressU = Clamp;
  AddressV = Clamp;
};
sampler Tex3Sampler : register(s4) = sampler_state {
  Texture = <Tex3>;
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = None;
  AddressU = Clamp;
  AddressV = Clamp;
};

common Lighting {
  // The far plane of the light's projection: light depths are distances over it.
  const float kLightFar = 1000.0;
  // The group's colour: its texture (when bTex is set) times its vertex colour.
  vec4 BaseColour(vec2 uv, vec4 colour) {
    return bTex ? texture(ModelSampler, uv) * colour : colour;
  }
  // Ambient plus diffuse light from vLightDir (the direction towards the light).
  vec3 Light(vec3 normal) {
    float d = max(dot(normalize(normal), normalize(vLightDir.xyz)), 0.0);
    return clamp(Ambient.rgb + vec3(d), 0.0, 1.0);
  }
  // A 3 x 3 blur of a texture around uv, `radius` texels wide.
  vec4 Blur(sampler2D s, vec2 uv, float radius) {
    vec2 texel = radius / vec2(textureSize(s, 0));
    vec4 sum = vec4(0.0);
    for (int y = -1; y <= 1; ++y) {
      for (int x = -1; x <= 1; ++x) sum += texture(s, uv + vec2(x, y) * texel);
    }
    return sum / 9.0;
  }
}

vertex Model {
  out vec3 v_normal;
  out vec4 v_color;
  out vec2 v_uv;
  out vec4 v_light;
  out float v_distance;
  void main() {
    vec4 p = vec4(a_position.xyz, 1.0);
    vec4 clip = p * WVProj;
    gl_Position = wz_ToGL(clip);
    v_normal = (vec4(a_normal, 0.0) * World).xyz;
    v_color = a_color0;
    v_uv = a_texcoord0.xy + vec2(uv_offset_u, uv_offset_v);
    v_light = p * World * LightVProj;
    v_distance = clip.w;
  }
}

vertex LightDepth {
  out vec2 v_depth;
  void main() {
    vec4 clip = vec4(a_position.xyz, 1.0) * World * LightVProj;
    gl_Position = wz_ToGL(clip);
    v_depth = clip.zw;
  }
}

vertex Distance {
  out float v_distance;
  void main() {
    vec4 clip = vec4(a_position.xyz, 1.0) * WVProj;
    gl_Position = wz_ToGL(clip);
    v_distance = clip.w;
  }
}

vertex ScreenQuad {
  out vec2 v_uv;
  out vec4 v_color;
  void main() {
    vec2 ndc = vec2((a_position.x - wz_viewport.x) / wz_viewport.z * 2.0 - 1.0,
                    1.0 - (a_position.y - wz_viewport.y) / wz_viewport.w * 2.0);
    gl_Position = wz_ToGL(vec4(ndc, a_position.z, 1.0));
    v_uv = a_texcoord0.xy;
    v_color = a_color0;
  }
}

fragment Depth {
  in vec2 v_depth;
  void main() { o_color = vec4(v_depth.y / kLightFar, 0.0, 0.0, 1.0); }
}

fragment ShadowedScene {
  in vec3 v_normal;
  in vec4 v_color;
  in vec2 v_uv;
  in vec4 v_light;
  in float v_distance;
  void main() {
    vec4 base = BaseColour(v_uv, v_color);
    vec3 colour = base.rgb * Light(v_normal);
    // Light-space position to shadow-map coordinates (row 0 at the top, as every texture).
    vec3 light = v_light.xyz / v_light.w;
    vec2 uv = vec2(light.x * 0.5 + 0.5, 0.5 - light.y * 0.5);
    bool inside = all(greaterThanEqual(uv, vec2(0.0))) && all(lessThanEqual(uv, vec2(1.0))) &&
                  v_light.w > 0.0;
    // Surfaces turned away from the light are dark already; those it grazes need more margin,
    // since one texel of the shadow map spans more depth there.
    float facing = dot(normalize(v_normal), normalize(vLightDir.xyz));
    float margin = Margin * (1.0 + 3.0 * min(sqrt(max(1.0 - facing * facing, 0.0)) /
                                                max(facing, 0.05), 8.0));
    if (inside && facing > 0.0 && v_light.w / kLightFar - margin > texture(ShadowSampler, uv).r) {
      colour = mix(colour, colour * LightColor.rgb, LightColor.a);
    }
    o_color = vec4(colour, base.a);
  }
}

fragment Reflection {
  in vec3 v_normal;
  in vec4 v_color;
  in vec2 v_uv;
  in vec4 v_light;
  in float v_distance;
  void main() {
    vec4 base = BaseColour(v_uv, v_color);
    vec3 lit = base.rgb * Light(v_normal);
    // The scene above this point, mirrored about it and bent a little by the normal.
    vec2 screen = (gl_FragCoord.xy - wz_viewport.xy) / wz_viewport.zw;
    vec2 mirrored = vec2(screen.x, 1.0 - screen.y) + normalize(v_normal).xz * 0.02;
    vec3 reflected = texture(Tex2Sampler, mirrored).rgb;
    o_color = vec4(mix(lit, reflected, clamp(Reflectivity, 0.0, 1.0)), base.a) * Diffuse;
  }
}

fragment DepthOfField {
  in float v_distance;
  void main() {
    // Sharp up to 150 units from the eye, fully blurred from 600 on.
    o_color = vec4(0.0, 0.0, 0.0, smoothstep(150.0, 600.0, v_distance));
  }
}

fragment BloomPoly {
  in vec3 v_normal;
  in vec4 v_color;
  in vec2 v_uv;
  in vec4 v_light;
  in float v_distance;
  void main() {
    vec4 base = BaseColour(v_uv, v_color);
    o_color = vec4(clamp(base.rgb * bloom_power, 0.0, 1.0), 1.0);
  }
}

fragment BloomTex {
  in vec2 v_uv;
  in vec4 v_color;
  void main() { o_color = vec4(Blur(Tex1Sampler, v_uv, 2.0).rgb, 1.0) * v_color; }
}

fragment Blend {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    vec4 sharp = texture(Tex2Sampler, v_uv);
    float blur = texture(Tex1Sampler, v_uv).a;
    // The nine-texel blur only where there is something to blur.
    vec3 colour = blur > 0.004 ? mix(sharp.rgb, Blur(Tex2Sampler, v_uv, 3.0).rgb, blur) : sharp.rgb;
    if (bBloom) colour += texture(Tex3Sampler, v_uv).rgb;
    o_color = vec4(clamp(colour, 0.0, 1.0), 1.0) * v_color;
  }
}

technique ShadowMapTexZ_Technique {
  pass P0 {
    ZEnable = true;
    ZWriteEnable = true;
    AlphaBlendEnable = false;
    CullMode = None;
    VertexProgram = LightDepth;
    FragmentProgram = Depth;
  }
}

technique ShadowMapTechnique {
  pass P0 {
    ZEnable = true;
    ZWriteEnable = true;
    VertexProgram = Model;
    FragmentProgram = ShadowedScene;
  }
}

technique ReflectionModokiTechnique {
  pass P0 {
    ZEnable = true;
    ZWriteEnable = true;
    VertexProgram = Model;
    FragmentProgram = Reflection;
  }
}

technique DepthOfFieldTexTechnique {
  pass P0 {
    ZEnable = true;
    ZWriteEnable = true;
    AlphaBlendEnable = false;
    VertexProgram = Distance;
    FragmentProgram = DepthOfField;
  }
}

technique BloomPolyTechnique {
  pass P0 {
    ZEnable = true;
    ZWriteEnable = true;
    AlphaBlendEnable = false;
    VertexProgram = Model;
    FragmentProgram = BloomPoly;
  }
}

technique BloomTexTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = true;
    BlendOp = Add;
    SrcBlend = One;
    DestBlend = One;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = BloomTex;
  }
}

technique BlendTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Blend;
  }
}
