// Splits one line of a Metasequoia text document into tokens. Leading spaces and tabs are
// skipped. A token that starts with a double quote runs to the next double quote (the quotes are
// not part of it). Any other token runs to the next space, tab, CR, LF or the end of the line;
// inside it an opening parenthesis starts a group that is copied whole, spaces included, up to
// and including the closing parenthesis, so col(1.000 1.000 1.000 1.000) is one token.
#pragma once

#include <string>
#include <string_view>

namespace wz {

class MqoTokenizer {
 public:
  explicit MqoTokenizer(std::string_view line) : line_(line) {}

  // Reads the next token into `token`. True when the token ended at a space, a tab or a closing
  // quote, so that more tokens may follow; false when it ended at CR, LF or the end of the line,
  // after which the line has no further token. Called when the line has no further token, it
  // returns false and leaves `token` as it was.
  bool Next(std::string& token);

 private:
  std::string_view line_;
  size_t pos_ = 0;
  bool more_ = true;
};

}  // namespace wz
