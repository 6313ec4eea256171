// Source-list mode: list the files named in a text file.
#pragma once

// Reads g_source_list_file line by line and hands each named file to select_file.
void process_source_list();
