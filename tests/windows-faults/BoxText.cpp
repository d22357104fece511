// A small Windows program for the fault tests: waits for a message box with
// a given title, prints its text and answers it with OK, so that a test can
// check what the program under test said.
//
//   box_text TITLE SECONDS   waits up to SECONDS for a top-level window
//                            titled exactly TITLE
//
// Exit status 0 when the box was found (its text on standard output), 1 when
// none appeared in time.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

/// The control of a message box that holds its text.
constexpr int kMessageBoxTextId = 0xFFFF;

std::string TextOf(HWND box) {
  char text[4096] = {};
  GetDlgItemTextA(box, kMessageBoxTextId, text, static_cast<int>(sizeof text));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: box_text TITLE SECONDS\n");
    return 2;
  }
  const int tenths = std::atoi(argv[2]) * 10;
  for (int i = 0; i < tenths; ++i) {
    HWND box = FindWindowA(/*lpClassName=*/nullptr, argv[1]);
    if (box != nullptr) {
      // The box may exist before its text is set; wait for the text.
      std::string text = TextOf(box);
      for (int j = 0; j < 50 && text.empty(); ++j) {
        Sleep(100);
        text = TextOf(box);
      }
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
      PostMessageA(box, WM_COMMAND, IDOK, /*lParam=*/0);
      return 0;
    }
    Sleep(100);
  }
  std::fprintf(stderr, "box_text: no window titled \"%s\" within %s s\n", argv[1], argv[2]);
  return 1;
}
