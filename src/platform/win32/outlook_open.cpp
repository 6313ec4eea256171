// libpff's narrow open takes the system code page on Windows; the wide one takes
// any name.
#include "platform/outlook_open.h"

#include "platform/wide.h"

int open_outlook_file(libpff_file_t* file, const std::string& path, libpff_error_t** error) {
  std::u16string wide = utf8_to_utf16(path);
  return libpff_file_open_wide(file, reinterpret_cast<const wchar_t*>(wide.c_str()),
                               LIBPFF_OPEN_READ, error);
}
