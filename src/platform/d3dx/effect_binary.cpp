// The .fxo container: an effect description, parsed and checked, in a binary form that loads
// without the text parser. Little-endian, no padding:
//
//   header   "WZFX", u16 version (1), u16 0, u32 payload size, u32 CRC-32 of the payload
//   payload  string source
//            u32 count, then per parameter: string name, u8 type, u32 array size, u32 line,
//                                           u32 value count, f32 values
//            u32 count, then per sampler:   string name, u32 stage, i32 texture parameter,
//                                           u32 line, u32 count, (u32 state, u32 value) pairs
//            u32 count, then per block:     u8 kind, string name, u32 line, string text
//            u32 count, then per technique: string name, u32 line, u32 count, then per pass:
//                                           string name, u32 line, i32 vertex block,
//                                           i32 fragment block, u32 count, (u32, u32) pairs
//   a string is a u32 byte count and the bytes.
//
// The reader checks the header, the size and the checksum first, then reads through a bounded
// cursor (every count is checked against the bytes left before anything is reserved), refuses
// trailing bytes and validates the result as a parsed text would be.
#include <zlib.h>

#include <cstring>

#include "platform/d3dx/effect_desc.h"

namespace wz::d3dx {
namespace {

constexpr size_t kHeaderBytes = 16;

class Writer {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes_.push_back(uint8_t(v >> (8 * i)));
  }
  void I32(int32_t v) { U32(uint32_t(v)); }
  void F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(v);
  }
  void Str(const std::string& s) {
    U32(uint32_t(s.size()));
    bytes_.insert(bytes_.end(), s.begin(), s.end());
  }
  void States(const std::vector<FxState>& states) {
    U32(uint32_t(states.size()));
    for (const FxState& s : states) {
      U32(s.id);
      U32(s.value);
    }
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : data_(bytes) {}
  size_t Remaining() const { return data_.size() - pos_; }
  bool Ok() const { return ok_; }

  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= uint32_t(uint8_t(data_[pos_ + size_t(i)])) << (8 * i);
    pos_ += 4;
    return v;
  }
  uint8_t U8() {
    if (!Need(1)) return 0;
    return uint8_t(data_[pos_++]);
  }
  int32_t I32() { return int32_t(U32()); }
  float F32() {
    const uint32_t v = U32();
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
  std::string Str() {
    const uint32_t n = U32();
    if (!Need(n)) return {};
    std::string s(data_.substr(pos_, n));
    pos_ += n;
    return s;
  }
  // A count of records of at least `minBytes` each; 0 (and failure) when the rest cannot hold
  // them.
  uint32_t Count(size_t minBytes) {
    const uint32_t n = U32();
    if (ok_ && n > Remaining() / minBytes) ok_ = false;
    return ok_ ? n : 0;
  }
  std::vector<FxState> States() {
    std::vector<FxState> states(Count(8));
    for (FxState& s : states) {
      s.id = U32();
      s.value = U32();
    }
    return states;
  }

 private:
  bool Need(size_t n) {
    if (!ok_ || n > Remaining()) {
      ok_ = false;
      return false;
    }
    return true;
  }
  std::string_view data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

uint32_t Crc(std::string_view bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most 4 GB per call; payloads are far smaller (checked by the caller).
  crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size()));
  return uint32_t(crc);
}

}  // namespace

bool LooksLikeFxo(std::string_view bytes) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), kFxoMagic, 4) == 0;
}

std::vector<uint8_t> WriteFxo(const EffectDesc& d) {
  Writer w;
  w.Str(d.source);
  w.U32(uint32_t(d.parameters.size()));
  for (const FxParameter& p : d.parameters) {
    w.Str(p.name);
    w.U8(uint8_t(p.type));
    w.U32(p.arraySize);
    w.U32(p.line);
    w.U32(uint32_t(p.initial.size()));
    for (float f : p.initial)
      w.F32(f);
  }
  w.U32(uint32_t(d.samplers.size()));
  for (const FxSampler& s : d.samplers) {
    w.Str(s.name);
    w.U32(s.stage);
    w.I32(s.texture);
    w.U32(s.line);
    w.States(s.states);
  }
  w.U32(uint32_t(d.blocks.size()));
  for (const FxBlock& b : d.blocks) {
    w.U8(uint8_t(b.kind));
    w.Str(b.name);
    w.U32(b.line);
    w.Str(b.text);
  }
  w.U32(uint32_t(d.techniques.size()));
  for (const FxTechnique& t : d.techniques) {
    w.Str(t.name);
    w.U32(t.line);
    w.U32(uint32_t(t.passes.size()));
    for (const FxPass& p : t.passes) {
      w.Str(p.name);
      w.U32(p.line);
      w.I32(p.vertex);
      w.I32(p.fragment);
      w.States(p.states);
    }
  }
  const std::vector<uint8_t>& payload = w.Bytes();
  Writer out;
  for (char c : kFxoMagic)
    out.U8(uint8_t(c));
  out.U32(kFxoVersion);  // u16 version and u16 0
  out.U32(uint32_t(payload.size()));
  out.U32(Crc({reinterpret_cast<const char*>(payload.data()), payload.size()}));
  out.Bytes().insert(out.Bytes().end(), payload.begin(), payload.end());
  return std::move(out.Bytes());
}

bool ReadFxo(std::string_view bytes, EffectDesc& out, FxError& error) {
  out = EffectDesc{};
  auto fail = [&error](std::string message) {
    error = {0, std::move(message)};
    return false;
  };
  if (!LooksLikeFxo(bytes)) return fail("not a compiled effect (no WZFX header)");
  if (bytes.size() < kHeaderBytes) return fail("compiled effect cut short in its header");
  Reader header(bytes.substr(4, kHeaderBytes - 4));
  const uint32_t version = header.U32();
  const uint32_t size = header.U32();
  const uint32_t crc = header.U32();
  if ((version & 0xFFFF) != kFxoVersion || (version >> 16) != 0) {
    return fail("compiled effect of format version " + std::to_string(version & 0xFFFF) +
                ", expected " + std::to_string(kFxoVersion));
  }
  const std::string_view payload = bytes.substr(kHeaderBytes);
  if (payload.size() < size) return fail("compiled effect cut short");
  if (payload.size() > size) return fail("bytes after the end of the compiled effect");
  if (Crc(payload) != crc) return fail("compiled effect damaged (checksum mismatch)");

  Reader r(payload);
  out.source = r.Str();
  out.parameters.resize(r.Count(4 + 1 + 12));
  for (FxParameter& p : out.parameters) {
    p.name = r.Str();
    p.type = FxType(r.U8());
    p.arraySize = r.U32();
    p.line = r.U32();
    p.initial.resize(r.Count(4));
    for (float& f : p.initial)
      f = r.F32();
  }
  out.samplers.resize(r.Count(4 + 16));
  for (FxSampler& s : out.samplers) {
    s.name = r.Str();
    s.stage = r.U32();
    s.texture = r.I32();
    s.line = r.U32();
    s.states = r.States();
  }
  out.blocks.resize(r.Count(1 + 4 + 4 + 4));
  for (FxBlock& b : out.blocks) {
    b.kind = FxBlockKind(r.U8());
    b.name = r.Str();
    b.line = r.U32();
    b.text = r.Str();
  }
  out.techniques.resize(r.Count(4 + 8));
  for (FxTechnique& t : out.techniques) {
    t.name = r.Str();
    t.line = r.U32();
    t.passes.resize(r.Count(4 + 16));
    for (FxPass& p : t.passes) {
      p.name = r.Str();
      p.line = r.U32();
      p.vertex = r.I32();
      p.fragment = r.I32();
      p.states = r.States();
    }
  }
  if (!r.Ok()) return fail("compiled effect cut short inside a record");
  if (r.Remaining() != 0) return fail("bytes after the last technique of the compiled effect");
  if (!ValidateEffect(out, error)) {
    error.message = "compiled effect: " + error.message;
    return false;
  }
  return true;
}

}  // namespace wz::d3dx
