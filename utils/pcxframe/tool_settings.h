// What sets the three converters apart inside the shared frame; each tool
// holds its own.
#pragma once

#include <string_view>

namespace pcxframe {

struct ToolSettings {
  std::string_view banner;          // banner line text, before the edition notice
  std::string_view shown_name;      // the name the closing screen thanks
  std::string_view no_argument;     // error without an argument; empty: not checked
  std::string_view create_failure;  // printed when a PCX file cannot be created
  bool star_to_tilde;               // '*' in output names becomes '~'
  std::string_view name;            // the program's name, for --version
  std::string_view help;            // what --help prints
};

}  // namespace pcxframe
