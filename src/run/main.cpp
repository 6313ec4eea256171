// The operating system's entry: wide arguments on Windows, bytes on POSIX.
#include <string>
#include <vector>

#include "run/eml_base.h"

#ifdef _WIN32
#include "platform/wide.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) {
    std::wstring_view w(argv[i]);
    args.push_back(
        utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size())));
  }
  program_main(std::move(args));
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  program_main(std::move(args));
}
#endif
