#include "xkrf/xkrf.h"

#include <new>
#include <string>

#include "about/about.h"
#include "host/console.h"
#include "host/process.h"
#include "xkrf/actions.h"
#include "xkrf/add.h"
#include "xkrf/archive.h"
#include "xkrf/cli.h"

namespace xkrf {

namespace {

constexpr char kBanner[] = "XKRF the ultimate KelResourceFile managing Utility ";

constexpr char kHelp[] =
    "Usage: xkrf KRF-file [file-mask] [-subs] [-add | -del | -ext | -list | -test] [-rle | -none]\n"
    "Packs files into the KRF archive KRF-file.krf and manages it; one action a run.\n"
    "  -add    store every file matching the mask, replacing entries of the same name (default)\n"
    "  -del    delete the matching entries, then compact the archive\n"
    "  -ext    write the matching entries out as files below the working folder\n"
    "  -list   list the matching entries (every entry without a mask)\n"
    "  -test   check the matching entries (every entry without a mask), changing nothing\n"
    "  -rle    store added files run-length encoded when that is shorter (default)\n"
    "  -none   store added files as they are\n"
    "  -subs   walk sub-folders when adding; select entries below the mask's folder otherwise\n"
    "Quote the mask ('*.pcx'): a '*' stands for the part before or after the dot.\n"
    "Exit status: 0 all done, 2 something asked for was skipped, 1 fatal error.\n"
    "See xkrf(1).\n";

void end_screen(std::FILE* out) {
  std::fputs(about::ClosingScreen("XKRF").c_str(), out);
  std::fflush(out);
}

void LetUsRock(RunState* st) {
  st->read_only = st->settings.action == kList || st->settings.action == kExtract ||
                  st->settings.action == kTest;
  OpenArchive(st);
  try {
    ReadHeader(st);
    std::fprintf(st->out, "Actual KRF contains %d entries.\n", st->header.DirEntries);
    read_dir(st);
    switch (st->settings.action) {
      case kAdd:
        add(st);
        break;
      case kList:
        list(st);
        break;
      case kDelete:
        del(st);
        break;
      case kExtract:
        ext(st);
        break;
      case kTest:
        verify(st);
        break;
    }
    finish_krf(st);
  } catch (...) {
    RollBack(st);
    throw;
  }
  std::fputs("finished...\n", st->out);
}

}  // namespace

int RunXkrf(int argc, const char* const* argv, std::FILE* out) {
  if (const auto answer = about::AnswerLongQuery(argc, argv, "xkrf", kHelp)) {
    std::fputs(answer->c_str(), out);
    return kExitOk;
  }
  std::fputs((kBanner + about::EditionNotice(host::SystemName()) + "\n\n").c_str(), out);
  std::fputs("Checking commandline arguments: ", out);
  RunState st;
  st.out = out;
  st.interactive = host::IsTerminal(fileno(out));
  try {
    ParseCommandLine(argc, argv, out, &st.settings);
    std::fprintf(out, "\nKRF-File: %s\nFile-Mask: %s (mask-path: '%s') \n",
                 st.settings.name[0].c_str(), st.settings.name[1].c_str(),
                 st.settings.mask_path.c_str());
    LetUsRock(&st);
    std::fprintf(out, "Uh, we progressed %d files...\n", st.progressed);
    if (st.damaged) {
      end_screen(out);
      return kExitFatal;
    }
  } catch (const Fatal& fatal) {
    std::fputs(fatal.what(), out);
    end_screen(out);
    return kExitFatal;
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory !\n", out);
    end_screen(out);
    return kExitFatal;
  } catch (const std::exception& e) {
    std::fprintf(out, "Internal error: %s !\n", e.what());
    end_screen(out);
    return kExitFatal;
  }
  end_screen(out);
  return st.skipped > 0 ? kExitSkipped : kExitOk;
}

}  // namespace xkrf
