// Tokens of a Metasequoia document line.
#include "formats/mqo_tokenizer.h"

namespace wz {
namespace {

bool EndsLine(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

bool MqoTokenizer::Next(std::string& token) {
  if (!more_) return false;
  while (pos_ < line_.size() && (line_[pos_] == ' ' || line_[pos_] == '\t'))
    ++pos_;
  if (pos_ == line_.size()) {
    more_ = false;
    return false;
  }
  token.clear();
  if (line_[pos_] == '"') {
    for (++pos_; pos_ < line_.size() && !EndsLine(line_[pos_]); ++pos_) {
      if (line_[pos_] == '"') {
        ++pos_;
        return true;
      }
      token.push_back(line_[pos_]);
    }
    more_ = false;
    return false;
  }
  while (pos_ < line_.size()) {
    const char c = line_[pos_];
    if (c == ' ' || c == '\t') return true;
    if (EndsLine(c)) break;
    token.push_back(c);
    ++pos_;
    if (c == '(') {
      while (pos_ < line_.size() && !EndsLine(line_[pos_])) {
        token.push_back(line_[pos_]);
        if (line_[pos_++] == ')') break;
      }
    }
  }
  more_ = false;
  return false;
}

}  // namespace wz
