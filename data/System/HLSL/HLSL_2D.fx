// HLSL_2D.fx: the full-screen 2D effects drawn over the finished scene.
//
// The library binds the scene texture to stage 0 and draws one pre-transformed quad over the
// window (x and y in window pixels, texture coordinates from 0 to 0.99). Parameters:
//   g_fTime  grows with every frame (0.001 each); the wave moves with it
//   op       x: strength of monochrome, sepia, reverse and shade (0 = the scene, 1 = full)
//            y: mosaic block size in window pixels
//            z: wave amplitude in window pixels

float g_fTime = 0.0;
float3 op = {1.0, 8.0, 4.0};

sampler SceneSampler : register(s0) = sampler_state {
  MinFilter = Linear;
  MagFilter = Linear;
  MipFilter = None;
  AddressU = Clamp;
  AddressV = Clamp;
};

common Shared {
  const vec3 kLuma = vec3(0.299, 0.587, 0.114);

  // The scene mixed with an effect's colour by the strength op.x.
  vec4 WithStrength(vec4 scene, vec3 effect) {
    return vec4(mix(scene.rgb, effect, clamp(op.x, 0.0, 1.0)), scene.a);
  }
}

vertex ScreenQuad {
  out vec2 v_uv;
  out vec4 v_color;
  void main() {
    // Window pixels to clip coordinates; the device moves pixel centres where Direct3D has them.
    vec2 ndc = vec2((a_position.x - wz_viewport.x) / wz_viewport.z * 2.0 - 1.0,
                    1.0 - (a_position.y - wz_viewport.y) / wz_viewport.w * 2.0);
    gl_Position = wz_ToGL(vec4(ndc, a_position.z, 1.0));
    v_uv = a_texcoord0.xy;
    v_color = a_color0;
  }
}

fragment Scene {
  in vec2 v_uv;
  in vec4 v_color;
  void main() { o_color = texture(SceneSampler, v_uv) * v_color; }
}

fragment Monochrome {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    vec4 c = texture(SceneSampler, v_uv);
    o_color = WithStrength(c, vec3(dot(c.rgb, kLuma))) * v_color;
  }
}

fragment Sepia {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    vec4 c = texture(SceneSampler, v_uv);
    // Brightness through a brown tone: red strongest, blue weakest.
    vec3 tone = clamp(dot(c.rgb, kLuma) * vec3(1.07, 0.74, 0.43), 0.0, 1.0);
    o_color = WithStrength(c, tone) * v_color;
  }
}

fragment Reverse {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    vec4 c = texture(SceneSampler, v_uv);
    o_color = WithStrength(c, vec3(1.0) - c.rgb) * v_color;
  }
}

fragment Shade {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    // Darkens towards the edges of the window: unchanged in the middle, a quarter at the corners.
    vec2 p = (gl_FragCoord.xy - wz_viewport.xy) / wz_viewport.zw * 2.0 - 1.0;
    float d = clamp(length(p) / sqrt(2.0), 0.0, 1.0);
    vec4 c = texture(SceneSampler, v_uv);
    o_color = WithStrength(c, c.rgb * (1.0 - 0.75 * smoothstep(0.25, 1.0, d))) * v_color;
  }
}

fragment Mosaic {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    // Every block of op.y x op.y window pixels takes the scene colour at its centre.
    float size = max(floor(op.y), 1.0);
    vec2 pixel = gl_FragCoord.xy - wz_viewport.xy;
    vec2 centre = (floor(pixel / size) + 0.5) * size;
    vec2 uv = v_uv + (centre - pixel) * vec2(dFdx(v_uv.x), dFdy(v_uv.y));
    o_color = texture(SceneSampler, uv) * v_color;
  }
}

fragment Wave {
  in vec2 v_uv;
  in vec4 v_color;
  void main() {
    // Rows sway sideways by up to op.z window pixels; eight waves over the height, about one
    // sway a second at 60 frames a second.
    float phase = v_uv.y * 6.2831853 * 8.0 + g_fTime * 100.0;
    float shift = sin(phase) * op.z * dFdx(v_uv.x);
    o_color = texture(SceneSampler, v_uv + vec2(shift, 0.0)) * v_color;
  }
}

technique RenderSceneTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Scene;
  }
}

technique RenderMonochromeTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Monochrome;
  }
}

technique RenderSepiaTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Sepia;
  }
}

technique RenderReverseTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Reverse;
  }
}

technique RenderShadeTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Shade;
  }
}

technique RenderMosaicTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Mosaic;
  }
}

technique RenderYuraYuraTechnique {
  pass P0 {
    ZEnable = false;
    AlphaBlendEnable = false;
    AlphaTestEnable = false;
    CullMode = None;
    VertexProgram = ScreenQuad;
    FragmentProgram = Wave;
  }
}
