// File names are bytes here: libpff's narrow open takes them as they are.
#include "platform/outlook_open.h"

int open_outlook_file(libpff_file_t* file, const std::string& path, libpff_error_t** error) {
  return libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, error);
}
