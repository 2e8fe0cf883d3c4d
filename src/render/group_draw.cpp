// Drawing one group of a shown model. The model's shading mode chooses where the geometry comes
// from: 0 the CPU assembly (every frame), 1 the 44-byte skinned array, 2 the group's vertex
// buffer, 3 and 4 its vertex and index buffers, 5 the skinned buffers through the skinning
// effect "Bone", 6 the group through the bump effect, 7 the bump ground, 8 the CPU assembly of
// the second-map companion, 9 16-bit index tables. Inside a pass of the shader scene the group
// only hands its geometry to the scene's programs. Around the
// geometry: fill and shade mode, lighting, the pass selection, alpha test, the texture of the
// group (or of its track's current key), the toon stage and specular.
#include <algorithm>

#include "core/library.h"
#include "render/effects.h"
#include "render/model_drawing.h"
#include "render/motion.h"

namespace wz {

// The drawing code speaks the device's own names.
using namespace d3d;
namespace {

void SetFillByDisplayMode(d3d::Device& d, int32_t displayMode) {
  d.SetRenderState(D3DRS_FILLMODE, displayMode == 0   ? D3DFILL_POINT
                                   : displayMode == 1 ? D3DFILL_WIREFRAME
                                                      : D3DFILL_SOLID);
}

// The texture a group shows on stage 0 (null for none).
d3d::Texture* GroupTexture(const Model& m, const ModelRuntime& rt, int32_t g) {
  const Group& group = m.groups[size_t(g)];
  if (!group.switchA) return nullptr;
  int32_t slot = group.textureSlot;
  if (m.currentMotion >= 0 && size_t(m.currentMotion) < m.motions.size() && g < kMaxGroupTracks) {
    const GroupTrack& track = m.motions[size_t(m.currentMotion)].tracks[size_t(g)];
    const int32_t keys = std::min(track.keyCount, kMaxTrackKeys);
    if (keys > 0) slot = track.keys[size_t(std::clamp(track.currentKey, 0, keys - 1))].textureSlot;
  }
  if (slot <= 0 || size_t(slot) >= rt.textures.size()) return nullptr;
  return rt.textures[size_t(slot)].get();
}

}  // namespace

ModelDrawData& DrawDataFor(Model& m, ModelRuntime& rt, int32_t selectedBone, d3d::Device* device) {
  if (!rt.posed) PoseModel(m, rt);
  if (!rt.drawing || !(rt.drawing->stamp == StampOf(m, selectedBone))) {
    rt.drawing = BuildModelDrawData(m, selectedBone, device);
  }
  return *rt.drawing;
}

void SetBonePalette(d3d::Device& d, const ModelRuntime& rt, int32_t boneCount, int32_t highestBone,
                    const Mat4& world) {
  const int32_t bones = std::clamp<int32_t>(boneCount, 0, int32_t(rt.bones.size()));
  const int32_t last = std::clamp<int32_t>(std::max(highestBone, bones - 1), -1,
                                           int32_t(d3d::kWorldMatrixCount) - 1);
  for (int32_t i = 0; i <= last; ++i) {
    // Bones the model does not have follow the object unchanged.
    const Mat4 m = i < bones ? Multiply(SkinMatrix(rt.bones[size_t(i)]), world) : world;
    const d3d::D3DMATRIX dm = ToD3D(m);
    d.SetTransform(d3d::D3DTS_WORLDMATRIX(uint32_t(i)), &dm);
  }
}

void Library::GroupDraw(int32_t object, ModelId id, int32_t g) {
  Model* m = Model3_Get(id);
  ModelRuntime* rt = Model3_Runtime(id);
  if (!device_ || !m || !rt || !m->drawingByte || m->polygonCount <= 0) return;
  if (g < 0 || g >= m->groupCount || size_t(g) >= m->groups.size()) return;
  d3d::Device& d = *device_;
  RenderState& rs = rendering_;
  const Group& group = m->groups[size_t(g)];
  ModelDrawData& data = DrawDataFor(*m, *rt, rs.selectedBone, device_.get());
  if (size_t(g) >= data.groups.size()) return;
  GroupDrawData& gd = data.groups[size_t(g)];
  const ModelObject* o = ModelObject_Get(object);
  const Mat4 world = o ? o->world : MatrixIdentity();
  const d3d::D3DMATRIX worldMatrix = ToD3D(world);
  d.SetTransform(D3DTS_WORLD, &worldMatrix);

  SetFillByDisplayMode(d, m->displayMode);
  const bool toon = systemTextures_.toonLoaded && systemTextures_.toon;
  d.SetRenderState(D3DRS_LIGHTING,
                   !systemTextures_.toonLoaded && lighting_ == 1 && m->drawingSwitch == 1);
  const int32_t mode = m->shadingMode;
  if (mode == 1 || mode == 2 || mode == 3) d.SetFVF(kMeshFvf);
  // Inside a pass of the shader scene the group gives its geometry to the scene's programs; the
  // skinning and bump modes, which bring programs of their own, give the CPU assembly.
  d3dx::Effect* const scenePass = effects_.activePass;
  // While deform is on the model is drawn at its deformed positions; the static buffers hold
  // the bind pose, so those modes draw the group through the CPU assembly meanwhile.
  const int32_t geometry =
      (m->deformOn == 1 && (mode == 2 || mode == 3 || mode == 4 || mode == 9)) ||
              (scenePass && (mode == 5 || mode == 6 || mode == 7))
          ? 0
          : mode;

  const bool drawn =
      (rs.lists.normalPass && group.shading != 0) || (rs.lists.bloomPass && group.switchC);
  const bool alphaTest = group.trailingSwitch != 0;
  // The group's fill: its shading value, unless the model is shown as points or wireframe.
  auto groupFill = [&] {
    FillModeSet(group.shading);
    if (m->displayMode == 0 || m->displayMode == 1) SetFillByDisplayMode(d, m->displayMode);
  };
  bool secondStage = false;
  bool scrolled = false;
  if (drawn) {
    d.SetRenderState(D3DRS_ALPHATESTENABLE, alphaTest);
    if (alphaTest) d.SetRenderState(D3DRS_ALPHAREF, DWORD(uint16_t(group.trailingValue)));
    d3d::Texture* texture = GroupTexture(*m, *rt, g);
    d.SetTexture(0, texture);
    if (scenePass) {
      // The scene's programs read the texture only when there is one, and add the scroll
      // offsets only where the vertices do not hold them already.
      const bool offsets = group.uvScrollOn == 1 && geometry != 0 && geometry != 8;
      scenePass->SetBool("bTex", texture != nullptr);
      // The programs sample stage 0 through "g_txScene", which the pass binds on commit.
      if (texture) scenePass->SetTexture("g_txScene", texture);
      scenePass->SetFloat("uv_offset_u", offsets ? float(group.uvOffset[0]) : 0.0f);
      scenePass->SetFloat("uv_offset_v", offsets ? float(group.uvOffset[1]) : 0.0f);
      scenePass->CommitChanges();
    }
    if (toon) {
      d.SetTexture(1, systemTextures_.toon.get());
      d.SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
      d.SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
      d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
      secondStage = true;
    }
    d.SetRenderState(D3DRS_SPECULARENABLE, group.specularOn != 0);
    // The buffer modes hold unscrolled coordinates: a scrolling group moves them by the
    // texture transform (for 2D coordinates the offset sits in the third row).
    if (geometry != 0 && geometry != 8 && geometry != 5 && geometry != 6 && geometry != 7 &&
        group.uvScrollOn == 1) {
      d3d::D3DMATRIX shift;
      shift.m[2][0] = float(group.uvOffset[0]);
      shift.m[2][1] = float(group.uvOffset[1]);
      d.SetTransform(d3d::D3DTS_TEXTURE(0), &shift);
      d.SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
      scrolled = true;
    }
  }

  int32_t& triangles = rs.lists.drawnTriangles;
  if (drawn) {
    switch (geometry) {
      case 1: {
        if (gd.skinned.size() < 3) break;
        groupFill();
        d.SetSoftwareVertexProcessing(1);
        SetBonePalette(d, *rt, m->boneCount, gd.highestBone, world);
        d.SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 1);
        d.SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_1WEIGHTS);
        d.SetFVF(kSkinnedFvf);
        const UINT count = UINT(gd.skinned.size() / 3);
        d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, count, gd.skinned.data(), sizeof(SkinnedVertex));
        triangles += int32_t(count);
        d.SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 0);
        d.SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
        d.SetSoftwareVertexProcessing(0);
        break;
      }
      case 2:
        if (!gd.vertexBuffer || gd.indexCount < 3) break;
        groupFill();
        d.SetStreamSource(0, gd.vertexBuffer.get(), 0, sizeof(MeshVertex));
        d.DrawPrimitive(D3DPT_TRIANGLELIST, 0, UINT(gd.indexCount / 3));
        triangles += gd.indexCount / 3;
        break;
      case 3:
      case 4:
        if (!gd.vertexBuffer || !gd.indexBuffer || gd.triangleCount < 1) break;
        groupFill();
        d.SetFVF(kMeshFvf);
        d.SetStreamSource(0, gd.vertexBuffer.get(), 0, sizeof(MeshVertex));
        d.SetIndices(gd.indexBuffer.get());
        d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(gd.vertexCount), 0,
                               UINT(gd.triangleCount));
        triangles += gd.triangleCount;
        break;
      case 5: {
        // The skinning effect: each vertex blended from two of the bone matrices.
        if (!gd.vertexBuffer || !gd.indexBuffer || gd.indexCount < 1) break;
        d3dx::Effect* bone = EffectLoad("Bone");
        if (!bone) break;
        groupFill();
        d.SetSoftwareVertexProcessing(1);
        Vec3 toLight = rs.lightDirection * -1.0f;
        const float length = Length(toLight);
        if (length > 0.0f) toLight = toLight * (1.0f / length);
        const float lightDir[4] = {toLight.x, toLight.y, toLight.z, lightAmbient_[0]};
        bone->SetVector("vLightDir", lightDir);
        // Bone i's matrix takes a bind-pose vertex to the model's space; bones the vertices
        // name that the model does not have stay where they are.
        const int32_t bones = std::clamp<int32_t>(m->boneCount, 0, int32_t(rt->bones.size()));
        const int32_t count = std::clamp<int32_t>(std::max(gd.highestBone + 1, bones), 0, 128);
        std::vector<d3d::D3DMATRIX> palette(static_cast<size_t>(count));
        for (int32_t i = 0; i < std::min(bones, count); ++i)
          palette[size_t(i)] = ToD3D(SkinMatrix(rt->bones[size_t(i)]));
        if (count > 0) bone->SetMatrixArray("matWorld", palette.data(), UINT(count));
        d.SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 1);
        d.SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_1WEIGHTS);
        d.SetFVF(kSkinnedFvf);
        d.SetStreamSource(0, gd.vertexBuffer.get(), 0, sizeof(SkinnedVertex));
        bone->SetTechnique("BoneTechnique");
        // Lit by the same rule as the fixed pipeline: the light switch, and the model's own.
        bone->SetBool("bLight",
                      !systemTextures_.toonLoaded && lighting_ == 1 && m->drawingSwitch == 1);
        effects_.timeBone += 0.01f;
        bone->SetFloat("fTime", effects_.timeBone);
        d3d::D3DMATRIX view, projection, wvp;
        d.GetTransform(D3DTS_VIEW, &view);
        d.GetTransform(D3DTS_PROJECTION, &projection);
        wvp = ToD3D(Multiply(Multiply(world, FromD3D(view)), FromD3D(projection)));
        bone->SetMatrix("mViewProj", &wvp);
        // Stage 0 holds the group's texture; "bTex" says whether there is one.
        bone->SetBool("bTex", d.GetTexture(0) != nullptr);
        bone->SetFloat("uv_offset_u", float(group.uvOffset[0]));
        bone->SetFloat("uv_offset_v", float(group.uvOffset[1]));
        d.SetIndices(gd.indexBuffer.get());
        UINT passes = 0;
        if (Succeeded(bone->Begin(&passes, 0))) {
          for (UINT p = 0; p < passes; ++p) {
            bone->BeginPass(p);
            d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(gd.vertexCount), 0,
                                   UINT(gd.triangleCount));
            triangles += gd.indexCount / 3;
            bone->EndPass();
          }
          bone->End();
        }
        d.SetVertexShader(nullptr);
        d.SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, 0);
        d.SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
        d.SetSoftwareVertexProcessing(0);
        break;
      }
      case 6:
        BumpMapDraw(object, id, g);
        break;
      case 7:
        // The model stands for the bump ground: drawn once per object, with its first group.
        if (g == 0 && BUMP_GROUND()) BumpGroundDraw(object);
        break;
      case 9:
        groupFill();
        d.SetFVF(kMeshFvf);
        for (const IndexedChunk& chunk : gd.chunks) {
          const UINT count = UINT(chunk.indices.size() / 3);
          if (count == 0) continue;
          d.DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, UINT(chunk.vertices.size()), count,
                                   chunk.indices.data(), D3DFMT_INDEX16, chunk.vertices.data(),
                                   sizeof(MeshVertex));
          triangles += int32_t(count);
        }
        break;
      default: {
        // Mode 0, and inside the shader scene's passes modes 5 to 7: the CPU assembly.
        // Mode 8 assembles the second-map companion and multiplies its second map in.
        const Model* source = m;
        AssemblyOptions options;
        options.object = object;
        options.selectedBone = rs.selectedBone;
        options.renderMode = rs.renderMode;
        if (geometry == 8 && data.companion) {
          source = data.companion.get();
          options.animated = &m->animatedPositions;
          const int32_t second = source->groups[size_t(g)].textureSlot;
          if (!toon && second != group.textureSlot && second > 0 &&
              size_t(second) < rt->textures.size() && rt->textures[size_t(second)]) {
            d.SetTexture(1, rt->textures[size_t(second)].get());
            d.SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
            d.SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            d.SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
            d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
            secondStage = true;
          }
        }
        SceneVertices& scratch = rs.sceneVertices;
        scratch.clear();
        AssembleGroup(*source, g, gd.polygons, options, scratch);
        if (scratch.size() < 3) break;
        groupFill();
        d.SetFVF(kSceneFvf);
        const UINT count = UINT(scratch.size() / 3);
        d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, count, scratch.data(), sizeof(SceneVertex));
        triangles += int32_t(count);
        break;
      }
    }

    // Polygons of one or two corners: points and lines in the group colour.
    const AssemblyOptions shownOptions{object, rs.selectedBone, rs.renderMode, nullptr};
    const Pool<Vec3>& positions = ShownPositions(*m, shownOptions, false);
    for (int32_t index : gd.polygons) {
      const Polygon& p = m->polygons[size_t(index)];
      if (p.cornerCount != 1 && p.cornerCount != 2) continue;
      bool valid = true;
      for (int k = 0; k < p.cornerCount; ++k) {
        const int32_t at = p.corners[size_t(k)].position;
        valid = valid && at >= 0 && at < m->positionCount && size_t(at) < positions.size();
      }
      if (!valid) continue;
      for (int copy = 0; copy < (group.mirror == 1 ? 2 : 1); ++copy) {
        WorldVertex v[2];
        for (int k = 0; k < p.cornerCount; ++k) {
          const Vec3& at = positions[size_t(p.corners[size_t(k)].position)];
          v[k].x = copy ? -at.x : at.x;
          v[k].y = at.y;
          v[k].z = at.z;
          v[k].red = int32_t(group.colour.r);
          v[k].green = int32_t(group.colour.g);
          v[k].blue = int32_t(group.colour.b);
          v[k].alpha = int32_t(group.colour.a);
        }
        if (p.cornerCount == 1) {
          Point3D(v[0]);
        } else {
          Line3D(v[0], v[1]);
        }
        triangles += 1;
      }
    }
  }

  if (drawn && alphaTest) d.SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  d.SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  d.SetTexture(0, nullptr);
  if (secondStage) {
    d.SetTexture(1, nullptr);
    d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  }
  if (scrolled) d.SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

}  // namespace wz
