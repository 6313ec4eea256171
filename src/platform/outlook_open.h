// libpff's open of an Outlook data file by its UTF-8 name: each backend calls
// the open that takes any name there.
#pragma once

#include <libpff.h>

#include <string>

int open_outlook_file(libpff_file_t* file, const std::string& path, libpff_error_t** error);
