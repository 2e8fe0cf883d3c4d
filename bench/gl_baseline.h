// The bare OpenGL draw that device benchmarks are measured against: the same triangles from one
// static vertex buffer, with a minimal program (position and colour), into a colour and depth
// target of the same size, in the context that is current (the device's). Each Draw clears,
// draws and waits for the pixels (glFinish), as a device frame that is presented must.
#pragma once

#include <epoxy/gl.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace wz::bench {

class BareGlDraw {
 public:
  // `vertices` are 40-byte scene vertices (position, normal, diffuse, specular, u, v).
  BareGlDraw(std::span<const uint8_t> vertices, int width, int height)
      : count_(GLsizei(vertices.size() / 40)), width_(width), height_(height) {
    glGenFramebuffers(1, &fbo_);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glGenRenderbuffers(2, rb_);
    glBindRenderbuffer(GL_RENDERBUFFER, rb_[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, rb_[0]);
    glBindRenderbuffer(GL_RENDERBUFFER, rb_[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, rb_[1]);
    glGenVertexArrays(1, &vao_);
    glBindVertexArray(vao_);
    glGenBuffers(1, &vbo_);
    glBindBuffer(GL_ARRAY_BUFFER, vbo_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size()), vertices.data(), GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 40, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 40, reinterpret_cast<void*>(24));
    program_ = Link(
        "#version 330 core\nlayout(location=0) in vec3 p;\nlayout(location=1) in vec4 c;\n"
        "uniform mat4 m;\nout vec4 v;\nvoid main(){ v = c; gl_Position = m * vec4(p, 1.0); }\n",
        "#version 330 core\nin vec4 v;\nout vec4 o;\nvoid main(){ o = v; }\n");
    glBindVertexArray(0);
  }
  ~BareGlDraw() {
    glDeleteProgram(program_);
    glDeleteBuffers(1, &vbo_);
    glDeleteVertexArrays(1, &vao_);
    glDeleteRenderbuffers(2, rb_);
    glDeleteFramebuffers(1, &fbo_);
  }

  void Draw() {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glViewport(0, 0, width_, height_);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(program_);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    glUniformMatrix4fv(glGetUniformLocation(program_, "m"), 1, GL_FALSE, identity);
    glBindVertexArray(vao_);
    glDrawArrays(GL_TRIANGLES, 0, count_);
    glBindVertexArray(0);
    glFinish();
  }

 private:
  static GLuint Link(const char* vs, const char* fs) {
    GLuint p = glCreateProgram();
    for (auto [type, src] : {std::pair{GL_VERTEX_SHADER, vs}, std::pair{GL_FRAGMENT_SHADER, fs}}) {
      GLuint s = glCreateShader(type);
      glShaderSource(s, 1, &src, nullptr);
      glCompileShader(s);
      glAttachShader(p, s);
      glDeleteShader(s);
    }
    glLinkProgram(p);
    GLint ok = 0;
    glGetProgramiv(p, GL_LINK_STATUS, &ok);
    if (!ok) throw std::runtime_error("baseline program does not link");
    return p;
  }

  GLsizei count_;
  int width_, height_;
  GLuint fbo_ = 0, rb_[2] = {}, vao_ = 0, vbo_ = 0, program_ = 0;
};

}  // namespace wz::bench
