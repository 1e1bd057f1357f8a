#include "xkrf/cli.h"

#include <algorithm>
#include <string_view>

#include "about/ascii.h"
#include "xkrf/entry_path.h"

namespace xkrf {

namespace {

struct Switch {
  const char* word;
  void (*apply)(Settings*);
};

constexpr Switch kSwitches[] = {
    {"subs", [](Settings* s) { s->subdirs = true; }},
    {"add", [](Settings* s) { s->action = kAdd; }},
    {"del", [](Settings* s) { s->action = kDelete; }},
    {"list", [](Settings* s) { s->action = kList; }},
    {"ext", [](Settings* s) { s->action = kExtract; }},
    {"test", [](Settings* s) { s->action = kTest; }},
    {"rle", [](Settings* s) { s->compress = krf::kMethodRle; }},
    {"none", [](Settings* s) { s->compress = krf::kMethodNone; }},
};

constexpr char kUsage[] =
    "none\n\n"
    "Usage: xkrf KRF-file file-mask [-subs -add -del -ext (-list) (-none) -rle]\n\n";

}  // namespace

void ParseCommandLine(int argc, const char* const* argv, std::FILE* out, Settings* settings) {
  if (argc < 2) throw Fatal(kUsage);
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.empty() && arg[0] == '-') {
      const std::string_view word = arg.substr(1);
      const Switch* hit = std::find_if(std::begin(kSwitches), std::end(kSwitches),
                                       [&](const Switch& s) { return word == s.word; });
      if (hit == std::end(kSwitches)) {
        throw Fatal("Unknown switch: '" + std::string(word) + "'\n");
      }
      hit->apply(settings);
      std::fprintf(out, "%s, ", hit->word);
      continue;
    }
    if (positional == 2) throw Fatal("Already a KRF-File and File-Mask specified !\n");
    settings->name[positional++] = std::string(arg);
  }
  settings->name[0] = about::AsciiLower(settings->name[0]);
  // The mask is an archive-side name: its separator is the backslash,
  // whichever of the two the user typed.
  std::string mask = about::AsciiLower(settings->name[1]);
  std::replace(mask.begin(), mask.end(), '/', '\\');
  settings->name[1] = mask;

  if (settings->name[0].empty()) throw Fatal("No KRF-File specified !\n");
  settings->name[0] += ".krf";
  // Listing and testing without a mask take every entry.
  if (settings->name[1].empty() && settings->action != kList && settings->action != kTest) {
    throw Fatal("No File-Mask specified !\n");
  }
  settings->mask_path = PathFromName(settings->name[1]);
}

}  // namespace xkrf
